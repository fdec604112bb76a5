#include "text.h"

#include <new>

namespace win32 {

std::wstring widen(std::string_view utf8) {
  if (utf8.empty()) return {};
  int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring out(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), n);
  return out;
}

std::string narrow(const wchar_t* text, size_t length) {
  if (!text || length == 0) return {};
  int n = WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), nullptr, 0, nullptr,
                              nullptr);
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), out.data(), n, nullptr, nullptr);
  return out;
}

std::string narrow(const wchar_t* text) { return text ? narrow(text, wcslen(text)) : std::string(); }

std::string narrowBstr(BSTR text) { return narrow(text, SysStringLen(text)); }

Bstr::Bstr(std::string_view utf8) {
  std::wstring w = widen(utf8);
  b_ = SysAllocStringLen(w.data(), static_cast<UINT>(w.size()));
  if (!b_) throw std::bad_alloc();
}

std::wstring guidText(const GUID& g) {
  wchar_t buf[40];
  StringFromGUID2(g, buf, 40);
  return buf;
}

}  // namespace win32
