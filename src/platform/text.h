#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Character counting on UTF-8 text, where the editor counts characters, not bytes.
namespace text {

inline bool continuation(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

inline size_t length(std::string_view s) {
  size_t n = 0;
  for (char c : s) n += !continuation(c);
  return n;
}

// Bytes taken by the first n characters (all of s when it is shorter).
inline size_t bytesOf(std::string_view s, size_t n) {
  size_t i = 0;
  while (i < s.size() && n > 0) {
    ++i;
    while (i < s.size() && continuation(s[i])) ++i;
    --n;
  }
  return i;
}

// The text from character n+1 to the end (VB's Mid(s, n + 1)); empty when s is shorter.
inline std::string dropFirst(std::string_view s, size_t n) { return std::string(s.substr(bytesOf(s, n))); }

// The first `keep` characters.
inline std::string takeFirst(std::string_view s, size_t keep) {
  return std::string(s.substr(0, bytesOf(s, keep)));
}

}  // namespace text
