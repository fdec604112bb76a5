#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace platform::keystrokes {

// Keystroke notation: "~" is the Enter key, "{~}", "{{}" and "{}}" are the literal characters,
// every other character is typed as itself; a raw CR or LF is refused.
struct Key {
  bool enter = false;
  char32_t ch = 0;  // the character when not Enter
  friend bool operator==(const Key&, const Key&) = default;
};

// Makes any text arrive literally: what comes from the editor must never turn into Enter keys.
// A line break inside the text becomes a space.
std::string escape(std::string_view text);
// The same, appended to `out`: a line built from several values needs no temporaries.
void appendEscaped(std::string& out, std::string_view text);

// Parses notation into keys; malformed notation (an unmatched brace, invalid UTF-8) is a Failure
// and nothing of it is typed.
std::vector<Key> parse(std::string_view notation);

// UTF-8 helpers shared by the keyboards.
std::string toUtf8(char32_t c);

}  // namespace platform::keystrokes
