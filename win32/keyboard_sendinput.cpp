#include "services.h"

namespace win32 {

namespace {
void addKey(std::vector<INPUT>& out, WORD vk, WORD scan, DWORD flags) {
  INPUT in{};
  in.type = INPUT_KEYBOARD;
  in.ki.wVk = vk;
  in.ki.wScan = scan;
  in.ki.dwFlags = flags;
  out.push_back(in);
  in.ki.dwFlags = flags | KEYEVENTF_KEYUP;
  out.push_back(in);
}
}  // namespace

std::vector<INPUT> inputsFor(const std::vector<platform::keystrokes::Key>& keys) {
  std::vector<INPUT> out;
  out.reserve(keys.size() * 2);
  for (const auto& key : keys) {
    if (key.enter) {
      // A real Enter key: a VK_PACKET carriage return gives no WM_KEYDOWN VK_RETURN. Some
      // windows read the scan code of the key message, so it travels too.
      addKey(out, VK_RETURN, static_cast<WORD>(MapVirtualKeyW(VK_RETURN, MAPVK_VK_TO_VSC)), 0);
    } else if (key.ch >= 0x10000) {
      char32_t c = key.ch - 0x10000;
      addKey(out, 0, static_cast<WORD>(0xD800 + (c >> 10)), KEYEVENTF_UNICODE);
      addKey(out, 0, static_cast<WORD>(0xDC00 + (c & 0x3FF)), KEYEVENTF_UNICODE);
    } else {
      addKey(out, 0, static_cast<WORD>(key.ch), KEYEVENTF_UNICODE);
    }
  }
  return out;
}

// One SendInput for the whole text: nothing interleaves with it, and NumLock is left alone.
void SendInputKeyboard::type(const std::string& notation) {
  std::vector<INPUT> inputs = inputsFor(platform::keystrokes::parse(notation));
  if (inputs.empty()) return;
  UINT sent = SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
  if (sent != inputs.size()) automation::fail("Permission denied", 70);
}

}  // namespace win32
