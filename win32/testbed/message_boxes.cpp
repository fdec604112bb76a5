#include <algorithm>

#include "testbed.h"

namespace testbed {

namespace {

// A shown message box of this process that has not been answered yet.
struct Search {
  HWND found = nullptr;
};

BOOL CALLBACK findBox(HWND w, LPARAM out) {
  wchar_t cls[16] = {};
  DWORD pid = 0;
  GetWindowThreadProcessId(w, &pid);
  if (pid != GetCurrentProcessId() || !IsWindowVisible(w)) return TRUE;
  GetClassNameW(w, cls, 16);
  if (wcscmp(cls, L"#32770") != 0) return TRUE;
  reinterpret_cast<Search*>(out)->found = w;
  return FALSE;
}

// The message is the longest static text (its control id differs between implementations); the
// buttons are the visible ones.
BOOL CALLBACK readChild(HWND child, LPARAM out) {
  auto* box = reinterpret_cast<SeenBox*>(out);
  wchar_t cls[16] = {};
  GetClassNameW(child, cls, 16);
  if (_wcsicmp(cls, L"Static") == 0) {
    int n = GetWindowTextLengthW(child);
    std::wstring text(static_cast<size_t>(n) + 1, L'\0');
    text.resize(static_cast<size_t>(GetWindowTextW(child, text.data(), n + 1)));
    if (text.size() > box->text.size()) box->text = text;
  } else if (_wcsicmp(cls, L"Button") == 0 && IsWindowVisible(child)) {
    box->buttons.push_back(GetDlgCtrlID(child));
  }
  return TRUE;
}

}  // namespace

MessageBoxes::MessageBoxes(std::deque<int> answers) : answers_(std::move(answers)) {
  InitializeCriticalSection(&lock_);
  // (The mingw runtime here has no std::thread.)
  thread_ = CreateThread(nullptr, 0, &MessageBoxes::start, this, 0, nullptr);
}

MessageBoxes::~MessageBoxes() {
  InterlockedExchange(&stop_, 1);
  if (thread_) {
    WaitForSingleObject(thread_, INFINITE);
    CloseHandle(thread_);
  }
  DeleteCriticalSection(&lock_);
}

DWORD WINAPI MessageBoxes::start(void* self) {
  static_cast<MessageBoxes*>(self)->run();
  return 0;
}

int MessageBoxes::nextAnswer(const std::vector<int>& buttons) {
  if (buttons.size() == 1) return buttons.front();  // a notice: nothing to decide
  EnterCriticalSection(&lock_);
  int answer = 0;
  if (!answers_.empty()) {
    answer = answers_.front();
    answers_.pop_front();
  }
  LeaveCriticalSection(&lock_);
  if (answer) return answer;
  return std::find(buttons.begin(), buttons.end(), IDOK) != buttons.end() ? IDOK : IDCANCEL;
}

void MessageBoxes::run() {
  while (!stop_) {
    Search search;
    EnumWindows(&findBox, reinterpret_cast<LPARAM>(&search));
    if (!search.found) {
      Sleep(2);
      continue;
    }
    HWND box = search.found;
    SeenBox seen;
    // Visible means initialised, but give a slow text a moment (bounded in time: an emulated
    // machine is many times slower).
    const DWORD found = GetTickCount();
    while (GetTickCount() - found < 10000) {
      seen = SeenBox{};
      EnumChildWindows(box, &readChild, reinterpret_cast<LPARAM>(&seen));
      if (!seen.text.empty() && !seen.buttons.empty()) break;
      Sleep(2);
    }
    int n = GetWindowTextLengthW(box);
    seen.title.assign(static_cast<size_t>(n) + 1, L'\0');
    seen.title.resize(static_cast<size_t>(GetWindowTextW(box, seen.title.data(), n + 1)));
    seen.answer = nextAnswer(seen.buttons);
    EnterCriticalSection(&lock_);
    seen_.push_back(seen);
    LeaveCriticalSection(&lock_);
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(seen.answer, BN_CLICKED), 0);
    // One answer per box: wait until it is gone.
    const DWORD answered = GetTickCount();
    while (IsWindow(box) && IsWindowVisible(box) && GetTickCount() - answered < 30000) Sleep(1);
  }
}

std::vector<SeenBox> MessageBoxes::seen() const {
  EnterCriticalSection(&lock_);
  std::vector<SeenBox> copy = seen_;
  LeaveCriticalSection(&lock_);
  return copy;
}

std::vector<std::wstring> MessageBoxes::texts() const {
  std::vector<std::wstring> out;
  for (const auto& b : seen()) out.push_back(b.text);
  return out;
}

}  // namespace testbed
