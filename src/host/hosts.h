#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace host {

// The hosts the add-in can drive, tried in this order; a row matches on the exact display name.
struct Row {
  const char* displayName;
  const char* progId;
  int16_t openNumber;  // dialog number (Excel, Word) or Open control Id (Access, PowerPoint)
  const char* laterName = nullptr;  // the name later versions give themselves, matched as exactly
};

enum class Kind { Excel = 0, Word = 1, Access = 2, PowerPoint = 3, None = 4 };

inline constexpr std::array<Row, 4> Table = {{
    {"Microsoft Excel", "Excel.Application", 1},
    {"Microsoft Word", "Word.Application", 80},
    {"Microsoft Office Access", "Access.Application", 2937, "Microsoft Access"},  // 2007; 2010 on
    {"Microsoft PowerPoint", "PowerPoint.Application", 23},
}};

inline Kind find(const std::string& displayName) {
  for (size_t i = 0; i < Table.size(); ++i)
    if (displayName == Table[i].displayName || (Table[i].laterName && displayName == Table[i].laterName))
      return static_cast<Kind>(i);
  return Kind::None;
}

inline const Row& row(Kind k) { return Table[static_cast<size_t>(k)]; }

}  // namespace host
