#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace win32 {

// The core speaks UTF-8, COM speaks UTF-16.
// Member names and most editor texts are ASCII: every byte is then its own UTF-16 unit, and the
// conversion needs no call into the system.
bool ascii(std::string_view utf8) noexcept;
std::wstring widen(std::string_view utf8);
std::string narrow(const wchar_t* text, size_t length);
std::string narrow(const wchar_t* text);
inline std::string narrow(const std::wstring& text) { return narrow(text.data(), text.size()); }
std::string narrowBstr(BSTR text);

// An owned BSTR.
class Bstr {
 public:
  Bstr() = default;
  explicit Bstr(std::string_view utf8);
  explicit Bstr(const wchar_t* text) : b_(SysAllocString(text)) {}
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;
  ~Bstr() { SysFreeString(b_); }
  BSTR get() const noexcept { return b_; }
  BSTR detach() noexcept {
    BSTR b = b_;
    b_ = nullptr;
    return b;
  }
  BSTR* put() noexcept {
    SysFreeString(b_);
    b_ = nullptr;
    return &b_;
  }

 private:
  BSTR b_ = nullptr;
};

// The full path of a loaded module (nullptr: the program's own file), whatever its length.
std::wstring modulePath(HMODULE module);

// "{XXXXXXXX-...}" of a GUID.
std::wstring guidText(const GUID& g);

}  // namespace win32
