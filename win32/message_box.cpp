#include "services.h"
#include "text.h"

namespace win32 {

namespace {
// Modal to the editor's window when there is one; the add-in has no title of its own.
int showBox(const std::string& text, UINT type) {
  HWND owner = GetActiveWindow();
  return MessageBoxW(owner, widen(text).c_str(), nullptr, type | (owner ? 0 : MB_TASKMODAL));
}
}  // namespace

void DialogMessageBox::show(const std::string& text) { showBox(text, MB_OK); }

platform::MessageBoxes::Answer DialogMessageBox::ask(const std::string& text) {
  switch (showBox(text, MB_YESNOCANCEL)) {
    case IDYES: return Answer::Yes;
    case IDNO: return Answer::No;
    default: return Answer::Cancel;
  }
}

}  // namespace win32
