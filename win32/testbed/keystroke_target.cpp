#include "testbed.h"
#include "text.h"

namespace testbed {

namespace {

const wchar_t* windowClass() {
  static const ATOM atom = [] {
    WNDCLASSW c{};
    c.lpfnWndProc = DefWindowProcW;
    c.hInstance = GetModuleHandleW(nullptr);
    c.lpszClassName = L"TessaryTestBedWindow";
    return RegisterClassW(&c);
  }();
  return atom ? L"TessaryTestBedWindow" : nullptr;
}

}  // namespace

KeystrokeTarget::KeystrokeTarget(const model::Editor& editor) : world_(editor.shared()) {
  const wchar_t* cls = windowClass();
  if (!cls) return;
  window_ = CreateWindowExW(0, cls, L"Immediate", WS_OVERLAPPEDWINDOW, 0, 0, 640, 480, nullptr, nullptr,
                            GetModuleHandleW(nullptr), nullptr);
  if (!window_) return;
  edit_ = CreateWindowExW(0, L"EDIT", L"",
                          WS_CHILD | WS_VISIBLE | ES_MULTILINE | ES_WANTRETURN | ES_AUTOVSCROLL | ES_AUTOHSCROLL,
                          0, 0, 620, 440, window_, nullptr, GetModuleHandleW(nullptr), nullptr);
  if (!edit_) return;
  SendMessageW(edit_, EM_SETLIMITTEXT, 0, 0);  // no 32K cap on a long report
  editor.world().onFocus = [this](model::WindowNode& node) { focus(node); };
}

KeystrokeTarget::~KeystrokeTarget() {
  if (auto world = world_.lock()) world->onFocus = nullptr;
  if (window_) DestroyWindow(window_);
  pumpMessages();
}

void KeystrokeTarget::focus(model::WindowNode& node) {
  // Keys typed for the previous window belong to it.
  if (target_ && target_ != &node) collect();
  target_ = &node;
  ++focusCount_;
  ShowWindow(window_, SW_SHOW);
  SetForegroundWindow(window_);
  SetFocus(edit_);
}

std::string KeystrokeTarget::collect() {
  if (!edit_) return {};
  pumpMessages();
  int n = GetWindowTextLengthW(edit_);
  std::wstring text(static_cast<size_t>(n) + 1, L'\0');
  text.resize(static_cast<size_t>(GetWindowTextW(edit_, text.data(), n + 1)));
  std::wstring lines;
  lines.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == L'\r' && i + 1 < text.size() && text[i + 1] == L'\n') continue;
    lines += text[i];
  }
  SetWindowTextW(edit_, L"");
  std::string moved = win32::narrow(lines);
  auto world = world_.lock();
  if (world && target_) target_->text += moved;
  return moved;
}

}  // namespace testbed
