#include "text.h"

#include <new>

namespace win32 {

bool ascii(std::string_view s) noexcept {
  for (char c : s)
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  return true;
}

namespace {

bool ascii(const wchar_t* s, size_t n) {
  for (size_t i = 0; i < n; ++i)
    if (s[i] >= 0x80) return false;
  return true;
}

}  // namespace

std::wstring widen(std::string_view utf8) {
  if (utf8.empty()) return {};
  if (ascii(utf8)) return std::wstring(utf8.begin(), utf8.end());
  int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring out(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), n);
  return out;
}

std::string narrow(const wchar_t* text, size_t length) {
  if (!text || length == 0) return {};
  if (ascii(text, length)) return std::string(text, text + length);
  int n = WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), nullptr, 0, nullptr,
                              nullptr);
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), out.data(), n, nullptr, nullptr);
  return out;
}

std::string narrow(const wchar_t* text) { return text ? narrow(text, wcslen(text)) : std::string(); }

std::string narrowBstr(BSTR text) { return narrow(text, SysStringLen(text)); }

Bstr::Bstr(std::string_view utf8) {
  if (ascii(utf8)) {
    b_ = SysAllocStringLen(nullptr, static_cast<UINT>(utf8.size()));
    if (!b_) throw std::bad_alloc();
    for (size_t i = 0; i < utf8.size(); ++i) b_[i] = static_cast<unsigned char>(utf8[i]);
    return;
  }
  std::wstring w = widen(utf8);
  b_ = SysAllocStringLen(w.data(), static_cast<UINT>(w.size()));
  if (!b_) throw std::bad_alloc();
}

std::wstring guidText(const GUID& g) {
  wchar_t buf[40];
  StringFromGUID2(g, buf, 40);
  return buf;
}

std::wstring modulePath(HMODULE module) {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    DWORD n = GetModuleFileNameW(module, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) return {};
    if (n < path.size()) {
      path.resize(n);
      return path;
    }
    path.resize(path.size() * 2);
  }
}

}  // namespace win32
