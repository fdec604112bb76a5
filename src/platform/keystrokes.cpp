#include "platform/keystrokes.h"

#include <array>

#include "automation/failure.h"

namespace platform::keystrokes {

namespace {
[[noreturn]] void malformed(const char* what) {
  automation::fail(std::string("Invalid keystroke text: ") + what, automation::errors::InvalidCall);
}

// Decodes one UTF-8 sequence at s[i], advancing i; rejects overlong and surrogate forms.
char32_t decode(std::string_view s, size_t& i) {
  auto b = static_cast<unsigned char>(s[i++]);
  if (b < 0x80) return b;
  int extra = 0;
  char32_t c = 0;
  if ((b & 0xE0) == 0xC0) extra = 1, c = b & 0x1F;
  else if ((b & 0xF0) == 0xE0) extra = 2, c = b & 0x0F;
  else if ((b & 0xF8) == 0xF0) extra = 3, c = b & 0x07;
  else malformed("invalid UTF-8");
  if (i + extra > s.size()) malformed("invalid UTF-8");
  for (int k = 0; k < extra; ++k) {
    auto n = static_cast<unsigned char>(s[i++]);
    if ((n & 0xC0) != 0x80) malformed("invalid UTF-8");
    c = (c << 6) | (n & 0x3F);
  }
  static constexpr char32_t minimum[] = {0, 0x80, 0x800, 0x10000};
  if (c < minimum[extra] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) malformed("invalid UTF-8");
  return c;
}
}  // namespace

namespace {
// One table look-up per character: a report escapes tens of thousands of characters.
constexpr auto SpecialTable = [] {
  std::array<bool, 256> t{};
  for (unsigned char c : {'~', '{', '}', '\r', '\n'}) t[c] = true;
  return t;
}();
inline bool special(char ch) { return SpecialTable[static_cast<unsigned char>(ch)]; }
}  // namespace

// Copies the runs between special characters whole: names, descriptions and paths rarely hold
// one, and a report escapes thousands of them.
void appendEscaped(std::string& out, std::string_view text) {
  size_t first = 0;
  while (first < text.size() && !special(text[first])) ++first;
  if (first == text.size()) {
    out.append(text);
    return;
  }
  size_t from = 0;
  for (size_t at = first; at < text.size(); ++at) {
    if (!special(text[at])) continue;
    out.append(text, from, at - from);
    if (text[at] == '\r' || text[at] == '\n') {
      // A line break inside a value cannot be typed into one line: as a key it would run the
      // partial line in the Immediate window. It arrives as a space.
      out += ' ';
    } else {
      const char braced[] = {'{', text[at], '}'};
      out.append(braced, 3);
    }
    from = at + 1;
  }
  out.append(text, from);
}

std::string escape(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 6);
  appendEscaped(out, text);
  return out;
}

std::vector<Key> parse(std::string_view s) {
  std::vector<Key> keys;
  keys.reserve(s.size());
  size_t i = 0;
  while (i < s.size()) {
    char ch = s[i];
    if (ch == '~') {
      keys.push_back({true, 0});
      ++i;
    } else if (ch == '{') {
      if (i + 2 < s.size() && s[i + 2] == '}' && (s[i + 1] == '~' || s[i + 1] == '{' || s[i + 1] == '}')) {
        keys.push_back({false, static_cast<char32_t>(s[i + 1])});
        i += 3;
      } else {
        malformed("unknown brace sequence");
      }
    } else if (ch == '}') {
      malformed("unmatched '}'");
    } else if (ch == '\r' || ch == '\n') {
      // Only "~" may press Enter; a raw line break would do it unannounced.
      malformed("raw line break (write ~)");
    } else {
      keys.push_back({false, decode(s, i)});
    }
  }
  return keys;
}

std::string toUtf8(char32_t c) {
  std::string out;
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
  return out;
}

}  // namespace platform::keystrokes
