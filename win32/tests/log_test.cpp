// The log of the real DLL: what a session with Log = "1" leaves in the file, nothing at all without
// it, the obstacles a user's machine may put in its way (none changes what the add-in does, and the
// next connection logs again once it is gone), and the rotation past 1 MiB.
#include <windows.h>

#include <cstdio>
#include <string>

#include "check.h"
#include "services.h"
#include "testbed.h"
#include "text.h"
#include "toolbar/buttons.h"

namespace {

const char* const Bar = "Tessary Ver. 1.01";
const wchar_t* const SettingsKey = L"Software\\VB and VBA Program Settings\\vbatessary\\Settings";

std::wstring folder() {
  return win32::FileLog::defaultFolder();
}
std::wstring logPath() {
  return folder() + L"\\vbatessary.log";
}

void turnLog(bool on) {
  if (on)
    RegSetKeyValueW(HKEY_CURRENT_USER, SettingsKey, L"Log", REG_SZ, L"1", 2 * sizeof(wchar_t));
  else
    RegDeleteKeyValueW(HKEY_CURRENT_USER, SettingsKey, L"Log");
}

bool exists(const std::wstring& path) {
  return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string read(const std::wstring& path) {
  std::string text;
  HANDLE h = CreateFileW(path.c_str(), GENERIC_READ,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return text;
  char buf[65536];
  DWORD got = 0;
  while (ReadFile(h, buf, sizeof buf, &got, nullptr) && got) text.append(buf, got);
  CloseHandle(h);
  return text;
}

void write(const std::wstring& path, const std::string& text) {
  HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  DWORD done = 0;
  CHECK(h != INVALID_HANDLE_VALUE &&
        WriteFile(h, text.data(), static_cast<DWORD>(text.size()), &done, nullptr));
  if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
}

unsigned long long sizeOf(const std::wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA a{};
  if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &a)) return 0;
  return (static_cast<unsigned long long>(a.nFileSizeHigh) << 32) | a.nFileSizeLow;
}

// The log's folder as it was before the add-in ever ran: gone, whatever stood there.
void removeLog() {
  for (const std::wstring& f : {logPath(), logPath() + L".1", folder()}) {
    SetFileAttributesW(f.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileW(f.c_str());
  }
  RemoveDirectoryW(folder().c_str());
}

// One session as a user has it: connection, a click on each button, the References takeover, one
// click that meets a failure in the middle of its command, the last button, disconnection and
// release. Every command must work as ever and no box may appear, whatever the log's fate.
void session(testbed::Addin& addin) {
  model::Editor editor =
      model::EditorBuilder()
          .host("Microsoft Excel")
          .project("Budget", "Budget.xlsm")
          .component("ThisWorkbook", 100)
          .component("Module1", 1)
          .reference("VBA", "Visual Basic For Applications", "C:\\VBE7.DLL", true)
          .active("Budget")
          .build();
  model::Host host = model::HostBuilder(editor, model::HostKind::Excel).file("Budget.xlsm").build();
  {
    testbed::RunningObject running(host.progId(), host.application());
    testbed::KeystrokeTarget keys(editor);
    testbed::MessageBoxes boxes;
    CHECK(running.ready());
    CHECK_HR(addin.connect(editor.vbe(), 0), S_OK);
    for (int position = 1; position <= 5; ++position)
      CHECK(editor.click(Bar, position).failures.empty());
    CHECK(editor.component("Budget", "Module1")->codeWindow->visible ==
          false);  // 4 closed it again
    for (auto& b : editor.world().bars)
      for (auto& c : b->controls)
        if (c->id == 942) CHECK(editor.click(c).cancelled);
    keys.collect();
    CHECK(editor.immediate()->text.find("Visual Basic For Applications") != std::string::npos);
    editor.faults().failMember("VBComponent.CodeModule", "Injected failure");
    CHECK(editor.click(Bar, 1).failures.empty());  // a guarded stretch: the command recovers
    editor.faults().clear();
    CHECK(editor.click(Bar, 6).failures.empty());
    CHECK_HR(addin.disconnect(1), S_OK);
    addin.release();
    CHECK(boxes.seen().empty());
  }
  CHECK(!host.isOpen("Budget.xlsm"));
  CHECK_EQ(editor.liveReferences(), 0);
}

// The file holds each event of a session, one line each, stamped with time, process and level.
void checkLogOfASession(const std::string& log) {
  const std::string bits = std::to_string(sizeof(void*) * 8) + "-bit";
  const std::string route =
      sizeof(void*) == 8 ? "Office button events" : "editor events (VBE.Events)";
  std::string wanted[] = {
      "INFO  connect: vba Tessary ",
      "(" + bits + "), mode 0, clicks through " + route + ", editor ",
      "INFO  click: References...: ran reflist (the References takeover), ended in ",
      "WARN  call failed: VBComponent.CodeModule: 0x800A01B8 Injected failure",
      "INFO  disconnect: mode 1, DisplayOnConnect \"1\" written, bar deleted, released ",
  };
  for (const auto& w : wanted)
    if (!CHECK(log.find(w) != std::string::npos)) std::printf("    missing: %s\n", w.c_str());
  for (int position = 1; position <= 6; ++position) {
    std::string line = "click: button " + std::to_string(position) + " \"" +
                       toolbar::Buttons[position - 1].caption + "\": ran ";
    if (!CHECK(log.find(line) != std::string::npos)) std::printf("    missing: %s\n", line.c_str());
  }
  // "2026-12-10 15:21:05.123 <pid> LEVEL event\r\n", this process's id in each.
  const std::string pid = " " + std::to_string(GetCurrentProcessId()) + " ";
  size_t lines = 0;
  for (size_t at = 0; at < log.size();) {
    size_t end = log.find("\r\n", at);
    if (!CHECK(end != std::string::npos)) break;
    std::string line = log.substr(at, end - at);
    const bool stamped = line.size() > 24 && line[4] == '-' && line[10] == ' ' && line[13] == ':' &&
                         line[19] == '.' && line.compare(23, pid.size(), pid) == 0;
    if (!CHECK(stamped)) std::printf("    %s\n", line.c_str());
    CHECK(line.find('\n') == std::string::npos);
    ++lines;
    at = end + 2;
  }
  CHECK(lines >= 15);
}

void withLogOn(testbed::Addin& addin) {
  std::printf("  Log = \"1\"\n");
  removeLog();
  turnLog(true);
  session(addin);
  const std::string log = read(logPath());
  checkLogOfASession(log);
  std::printf("%s", log.c_str());
}

void withoutSetting(testbed::Addin& addin) {
  std::printf("  no setting\n");
  removeLog();
  turnLog(false);
  session(addin);
  CHECK(!exists(folder()));
}

void obstacles(testbed::Addin& addin) {
  const char* const names[] = {"the folder is a file", "the log is read-only",
                               "the log is held without sharing"};
  for (int which = 0; which < 3; ++which) {
    std::printf("  %s\n", names[which]);
    removeLog();
    turnLog(true);
    HANDLE held = INVALID_HANDLE_VALUE;
    if (which == 0) {
      write(folder(), "not a folder");
    } else {
      CreateDirectoryW(folder().c_str(), nullptr);
      write(logPath(), "before\r\n");
      if (which == 1) SetFileAttributesW(logPath().c_str(), FILE_ATTRIBUTE_READONLY);
      if (which == 2)
        held = CreateFileW(logPath().c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                           OPEN_EXISTING, 0, nullptr);
      CHECK(which != 2 || held != INVALID_HANDLE_VALUE);
    }
    session(addin);
    if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
    if (which == 0)
      CHECK(read(folder()) == "not a folder");
    else
      CHECK(read(logPath()) == "before\r\n");
    // Gone again: the next connection logs.
    SetFileAttributesW(logPath().c_str(), FILE_ATTRIBUTE_NORMAL);
    if (which == 0) DeleteFileW(folder().c_str());
    session(addin);
    CHECK(read(logPath()).find("INFO  connect: vba Tessary ") != std::string::npos);
  }
}

// Past 1 MiB the log becomes .1, replacing the older .1, and a new file starts: neither is more
// than a line over 1 MiB.
void rotation(testbed::Addin& addin) {
  std::printf("  rotation\n");
  removeLog();
  turnLog(true);
  CreateDirectoryW(folder().c_str(), nullptr);
  write(logPath() + L".1", "the oldest\r\n");
  // Almost full: the session's first lines fill it, the rest go to a new file.
  const std::string filler(120, 'x');
  std::string old;
  while (old.size() + filler.size() + 2 < win32::FileLog::RotateAt - 600) old += filler + "\r\n";
  write(logPath(), old);
  session(addin);
  const std::string previous = read(logPath() + L".1"), current = read(logPath());
  CHECK(previous.starts_with(old));
  CHECK(previous.find("the oldest") == std::string::npos);
  CHECK(previous.find("connect: vba Tessary ") != std::string::npos);
  CHECK(sizeOf(logPath() + L".1") > win32::FileLog::RotateAt);
  CHECK(sizeOf(logPath() + L".1") < win32::FileLog::RotateAt + 512);
  CHECK(current.find("disconnect: ") != std::string::npos);
  CHECK(sizeOf(logPath()) < win32::FileLog::RotateAt);
  CHECK(!exists(logPath() + L".2"));
}

}  // namespace

int main() {
  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 1;
  {
    testbed::Addin addin;
    if (!CHECK(addin.ready())) std::printf("    %s\n", addin.problem().c_str());
    CHECK(!folder().empty());
    if (addin.ready() && !folder().empty()) {
      withLogOn(addin);
      withoutSetting(addin);
      obstacles(addin);
      rotation(addin);
    }
    removeLog();
    testbed::clearSettings();
  }
  CoUninitialize();
  return check::finish("log_test");
}
