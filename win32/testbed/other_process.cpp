#include <windows.h>

#include <cstdio>

#include "testbed.h"
#include "text.h"

namespace testbed {

namespace {

std::wstring uniqueName(const wchar_t* what) {
  static LONG counter = 0;
  wchar_t buf[96];
  std::swprintf(buf, 96, L"Tessary.HostProcess.%lu.%ld.%ls", GetCurrentProcessId(),
                InterlockedIncrement(&counter), what);
  return buf;
}

}  // namespace

HostInAnotherProcess::HostInAnotherProcess(model::HostKind kind, const std::string& file) {
  const std::wstring ready = uniqueName(L"ready"), quit = uniqueName(L"quit");
  readyEvent_ = CreateEventW(nullptr, TRUE, FALSE, ready.c_str());
  quitEvent_ = CreateEventW(nullptr, TRUE, FALSE, quit.c_str());
  wchar_t dir[MAX_PATH];
  if (!readyEvent_ || !quitEvent_ || !GetTempPathW(MAX_PATH, dir)) return;
  reportPath_ = std::wstring(dir) + uniqueName(L"report.txt");
  std::wstring command = L"\"" + besideProgram(L"tessary_host_process.exe") + L"\" " +
                         std::to_wstring(static_cast<int>(kind)) + L" \"" + win32::widen(file) +
                         L"\" " + ready + L" " + quit + L" \"" + reportPath_ + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &process_))
    return;
  // Until it is ready, or it has ended without becoming so.
  HANDLE either[] = {readyEvent_, process_.hProcess};
  ready_ = WaitForMultipleObjects(2, either, FALSE, 60000) == WAIT_OBJECT_0;
}

int HostInAnotherProcess::finish() {
  if (!process_.hProcess) return exitCode_;
  SetEvent(quitEvent_);
  // Its apartment may still call back into this one (releases): keep serving while waiting.
  const DWORD begin = GetTickCount();
  while (MsgWaitForMultipleObjects(1, &process_.hProcess, FALSE, 100, QS_ALLINPUT) != WAIT_OBJECT_0 &&
         GetTickCount() - begin < 60000)
    pumpMessages();
  DWORD code = 0;
  if (WaitForSingleObject(process_.hProcess, 0) != WAIT_OBJECT_0) TerminateProcess(process_.hProcess, 4);
  GetExitCodeProcess(process_.hProcess, &code);
  exitCode_ = static_cast<int>(code);
  CloseHandle(process_.hProcess);
  CloseHandle(process_.hThread);
  process_ = {};
  if (FILE* in = _wfopen(reportPath_.c_str(), L"rb")) {
    char buf[512];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, in)) > 0) report_.append(buf, n);
    std::fclose(in);
    DeleteFileW(reportPath_.c_str());
  }
  return exitCode_;
}

HostInAnotherProcess::~HostInAnotherProcess() {
  finish();
  if (readyEvent_) CloseHandle(readyEvent_);
  if (quitEvent_) CloseHandle(quitEvent_);
}

}  // namespace testbed
