#pragma once

#include <array>

namespace toolbar {

struct Button {
  const char* caption;
  const char* tooltip;
};

// The bar's buttons in position order; position n fires action n.
inline constexpr std::array<Button, 6> Buttons = {{
    {"Open Active Project's All Modules", "Opens all the modules\r\nexcept Document Modules"},
    {"Close Active Project's All Modules", "Close all the modules from the selected project"},
    {"Open All Modules", "Opens all the modules from all the projects\r\nexcept Document Modules"},
    {"Close All Modules", "Close all the modules from all the projects"},
    {"Open Projects", "Load selected projects"},
    {"Close Active Project", "Close selected project file"},
}};

inline constexpr int CaptionOnlyStyle = 2;  // msoButtonCaption
inline constexpr int DockedTop = 1;         // msoBarTop
inline constexpr short ReferencesControlId = 942;

}  // namespace toolbar
