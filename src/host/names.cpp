#include "addin/connect.h"
#include "editor/vbe.h"
#include "platform/text.h"

namespace addin {

namespace {
constexpr int16_t HostNameControlId = 106;
constexpr int16_t SaveControlId = 3;
constexpr size_t SavePrefixLength = 6;  // "&Save " before the file name
}  // namespace

std::string Connect::getappname() {
  return editor::VBE(VBInstance_).CommandBars().FindControl(HostNameControlId).Caption();
}

Value Connect::getwbname() {
  try {
    auto caption =
        editor::VBE(VBInstance_).CommandBars().Item("File").FindControl(SaveControlId).Caption();
    return Value(text::dropFirst(caption, SavePrefixLength));
  } catch (const automation::Failure&) {
    return Value(std::string());
  }
}

}  // namespace addin
