#include "addin/connect.h"
#include "editor/vbe.h"
#include "platform/text.h"

namespace addin {

namespace {
constexpr int16_t HostNameControlId = 106;
constexpr int16_t SaveControlId = 3;
constexpr std::string_view EnglishSavePrefix = "&Save ";  // before the file name
constexpr size_t SavePrefixLength = EnglishSavePrefix.size();
}  // namespace

std::string Connect::getappname() {
  return editor::VBE(VBInstance_).CommandBars().FindControl(HostNameControlId).Caption();
}

// The Save control of the File bar names the file: "&Save Book1.xlsm" in English. Another
// language words it otherwise ("&Speichern Mappe1.xlsx"), so there the file's own name is read
// from the project, or, for a file never saved, taken from the caption's last word.
Value Connect::getwbname() {
  const editor::VBE vbe(VBInstance_);
  std::string caption;
  try {
    caption = vbe.CommandBars().Item("File").FindControl(SaveControlId).Caption();
  } catch (const automation::Failure&) {
    return Value(std::string());
  }
  std::string byPrefix = text::dropFirst(caption, SavePrefixLength);
  if (caption.starts_with(EnglishSavePrefix)) return Value(byPrefix);
  try {
    std::string path = vbe.ActiveVBProject().FileName();
    std::string name = path.substr(path.find_last_of("\\/") + 1);
    if (!name.empty()) return Value(name);
  } catch (const automation::Failure&) {
  }
  const size_t blank = caption.rfind(' ');
  if (blank != std::string::npos && blank + 1 < caption.size()) return Value(caption.substr(blank + 1));
  return Value(byPrefix);
}

}  // namespace addin
