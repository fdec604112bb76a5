#pragma once

// Finds the next message box ("#32770") on another thread, remembers its text and answers it.
#include <windows.h>

#include <atomic>
#include <string>

class MessageBoxWatch {
 public:
  explicit MessageBoxWatch(int answer = IDOK)
      : answer_(answer), thread_(CreateThread(nullptr, 0, &MessageBoxWatch::start, this, 0, nullptr)) {}
  ~MessageBoxWatch() { join(); }
  // Waits for the watcher; the text of the box it closed, or "" when none appeared.
  std::wstring text() {
    join();
    return text_;
  }
  bool seen() const { return seen_; }

 private:
  // (The mingw runtime here has no std::thread.)
  static DWORD WINAPI start(void* self) {
    static_cast<MessageBoxWatch*>(self)->run();
    return 0;
  }
  // The message is the longest static text of the box (its id differs between implementations).
  static BOOL CALLBACK readStatic(HWND child, LPARAM out) {
    wchar_t cls[16] = {}, buf[2048] = {};
    GetClassNameW(child, cls, 16);
    if (_wcsicmp(cls, L"Static") == 0) {
      GetWindowTextW(child, buf, 2048);
      auto* text = reinterpret_cast<std::wstring*>(out);
      if (wcslen(buf) > text->size()) *text = buf;
    }
    return TRUE;
  }
  void join() {
    stop_ = true;
    if (thread_) {
      WaitForSingleObject(thread_, INFINITE);
      CloseHandle(thread_);
      thread_ = nullptr;
    }
  }
  // Bounds in time, not in rounds: an emulated machine is many times slower.
  void run() {
    const DWORD begin = GetTickCount();
    for (int i = 0; GetTickCount() - begin < 30000 && !seen_; ++i) {
      if (HWND box = FindWindowW(L"#32770", nullptr)) {
        // Found while it is still being built: wait for its text.
        const DWORD found = GetTickCount();
        while (text_.empty() && GetTickCount() - found < 10000) {
          EnumChildWindows(box, &MessageBoxWatch::readStatic, reinterpret_cast<LPARAM>(&text_));
          if (text_.empty()) Sleep(5);
        }
        seen_ = true;
        PostMessageW(box, WM_COMMAND, answer_, 0);
        return;
      }
      if (stop_ && i > 0) return;
      Sleep(5);
    }
  }

  int answer_;
  std::atomic<bool> stop_{false}, seen_{false};
  std::wstring text_;
  HANDLE thread_;
};
