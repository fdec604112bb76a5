#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <string_view>

namespace sim {

struct TextPosition {
  size_t line = 1;    // 1-based
  size_t column = 1;  // 1-based, in bytes
};

// A member name as a JSON pointer token ("~" as "~0", "/" as "~1").
std::string pointerToken(std::string_view key);

// Line and column of a byte offset.
TextPosition positionOf(std::string_view text, size_t offset);

// Where each value of a well-formed JSON text starts, by JSON pointer ("" for the root,
// "/projects/0/name"), and where each member's key starts ("/projects/0/name#key"). nlohmann's values carry no positions, so the text is walked once more.
std::map<std::string, size_t> valueOffsets(std::string_view text);

}  // namespace sim
