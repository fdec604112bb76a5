// The log of the real DLL: what a session with Log = "1" leaves in the file, nothing at all without
// it, the obstacles a user's machine may put in its way (none changes what the add-in does, and the
// next connection logs again once it is gone), and the rotation past 1 MiB. Then FileLog itself:
// two processes passing 1 MiB at once, and a file held for a moment.
// usage: log_test | log_test --writer <id> <tag> (one of those two processes)
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "check.h"
#include "locations.h"
#include "services.h"
#include "testbed.h"
#include "text.h"
#include "toolbar/buttons.h"

namespace {

const char* const Bar = "Tessary Ver. 1.01";
const wchar_t* const SettingsKey = L"Software\\VB and VBA Program Settings\\vbatessary\\Settings";

std::wstring folder() {
  return win32::logLocation().folder;
}
std::wstring logPath() {
  return win32::logLocation().file;
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

// Two processes write the log at once: each round, the parent fills the log to 1 MiB, both
// connect, and then both write `Lines` lines at the same moment, so both find it full. The moment
// two renames would collide is narrow: many short rounds.
const int Rounds = 30, Lines = 30;

std::string signalName(const std::string& tag, const char* what, int id = 0) {
  return "log_test." + tag + "." + what + std::to_string(id);
}

int writer(int id, const std::string& tag) {
  HANDLE connect = OpenEventA(SYNCHRONIZE, FALSE, signalName(tag, "connect", id).c_str());
  HANDLE go = OpenEventA(SYNCHRONIZE, FALSE, signalName(tag, "go").c_str());
  HANDLE done = OpenSemaphoreA(SEMAPHORE_MODIFY_STATE, FALSE, signalName(tag, "done").c_str());
  if (!connect || !go || !done) return 3;
  win32::FileLog log;
  int status = 0;
  for (int round = 0; round < Rounds; ++round) {
    if (WaitForSingleObject(connect, 30000) != WAIT_OBJECT_0) return 5;
    log.start(true);
    ReleaseSemaphore(done, 1, nullptr);
    if (WaitForSingleObject(go, 30000) != WAIT_OBJECT_0) return 5;
    for (int n = 0; n < Lines; ++n)
      log.write(platform::Log::Level::Info, "writer " + std::to_string(id) + " round " +
                                                std::to_string(round) + " line " +
                                                std::to_string(n));
    if (!log.on()) status = 4;
    ReleaseSemaphore(done, 1, nullptr);
  }
  return status;
}

// How often each writer's line n of `round` is in `text`.
void countLines(const std::string& text, int round, std::vector<int> (&seen)[2]) {
  for (size_t at = text.find("writer "); at != std::string::npos;
       at = text.find("writer ", at + 1)) {
    int id = 0, r = 0, n = 0;
    if (std::sscanf(text.c_str() + at, "writer %d round %d line %d", &id, &r, &n) == 3 &&
        r == round && id >= 0 && id < 2 && n >= 0 && n < Lines)
      ++seen[id][n];
  }
}

// Both find the log full: one renames it, the other writes to the fresh file. Every line is in
// the log or its .1 once, and the full file is the .1 (a second rename would put the fresh file
// over it).
void twoWriters() {
  std::printf("  two processes pass 1 MiB at once\n");
  const std::string tag = std::to_string(GetCurrentProcessId());
  HANDLE connect[2] = {CreateEventA(nullptr, FALSE, FALSE, signalName(tag, "connect", 0).c_str()),
                       CreateEventA(nullptr, FALSE, FALSE, signalName(tag, "connect", 1).c_str())};
  HANDLE go = CreateEventA(nullptr, TRUE, FALSE, signalName(tag, "go").c_str());
  HANDLE done = CreateSemaphoreA(nullptr, 0, 2, signalName(tag, "done").c_str());
  PROCESS_INFORMATION children[2] = {};
  for (int id = 0; id < 2; ++id) {
    std::wstring line = L"\"" + win32::modulePath(nullptr) + L"\" --writer " +
                        win32::widen(std::to_string(id) + " " + tag);
    STARTUPINFOW si{};
    si.cb = sizeof si;
    CHECK(CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                         &children[id]));
  }
  std::string full;
  for (int i = 0; full.size() < win32::FileLog::RotateAt; ++i)
    full += "old " + std::to_string(i) + " " + std::string(100, 'x') + "\r\n";
  int failedRounds = 0;
  for (int round = 0; round < Rounds && children[0].hProcess && children[1].hProcess; ++round) {
    removeLog();
    CreateDirectoryW(folder().c_str(), nullptr);
    write(logPath(), full);
    const auto both = [&] {
      return CHECK(WaitForSingleObject(done, 30000) == WAIT_OBJECT_0 &&
                   WaitForSingleObject(done, 30000) == WAIT_OBJECT_0);
    };
    SetEvent(connect[0]);
    SetEvent(connect[1]);
    if (!both()) break;
    SetEvent(go);
    const bool wrote = both();
    ResetEvent(go);
    if (!wrote) break;
    const std::string previous = read(logPath() + L".1"), current = read(logPath());
    std::vector<int> seen[2] = {std::vector<int>(Lines), std::vector<int>(Lines)};
    countLines(previous, round, seen);
    countLines(current, round, seen);
    int wrong = 0;
    for (int id = 0; id < 2; ++id)
      for (int n = 0; n < Lines; ++n)
        if (seen[id][n] != 1 && ++wrong <= 4)
          std::printf("    round %d: writer %d line %d there %d times\n", round, id, n,
                      seen[id][n]);
    if (!previous.starts_with(full))
      std::printf("    round %d: the full file is not the .1\n", round);
    failedRounds += wrong > 0 || !previous.starts_with(full);
  }
  CHECK_EQ(failedRounds, 0);
  for (auto& child : children) {
    DWORD code = 1;
    if (!child.hProcess) continue;
    WaitForSingleObject(child.hProcess, 30000);
    GetExitCodeProcess(child.hProcess, &code);
    CHECK_EQ(code, 0ul);
    CloseHandle(child.hProcess);
    CloseHandle(child.hThread);
  }
  for (HANDLE h : {connect[0], connect[1], go, done}) CloseHandle(h);
}

// A reader that holds the file without sharing costs the lines written meanwhile, no more; only
// a run of FailuresToStop lost lines turns the log off, until the next start.
void heldForAMoment() {
  std::printf("  the log held without sharing for a moment\n");
  removeLog();
  win32::FileLog log;
  log.start(true);
  const auto line = [&](const std::string& event) { log.write(platform::Log::Level::Info, event); };
  const auto hold = [] {
    return CreateFileW(logPath().c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                       0, nullptr);
  };
  line("before");
  HANDLE held = hold();
  CHECK(held != INVALID_HANDLE_VALUE);
  for (int i = 1; i < win32::FileLog::FailuresToStop; ++i) line("meanwhile " + std::to_string(i));
  CloseHandle(held);
  CHECK(log.on());
  line("after");
  held = hold();
  for (int i = 0; i < win32::FileLog::FailuresToStop; ++i) line("a run " + std::to_string(i));
  CloseHandle(held);
  CHECK(!log.on());
  line("once stopped");
  log.start(true);
  line("next connection");
  const std::string text = read(logPath());
  for (const char* wanted : {"INFO  before\r\n", "INFO  after\r\n", "INFO  next connection\r\n"})
    if (!CHECK(text.find(wanted) != std::string::npos)) std::printf("    missing: %s", wanted);
  for (const char* lost : {"meanwhile", "a run", "once stopped"})
    if (!CHECK(text.find(lost) == std::string::npos)) std::printf("    there: %s\n", lost);
}

// Without a usable LOCALAPPDATA there is no log: nothing at the root of the drive or beside the
// host's current folder. vbatessary-check tells why from the same lookup (check_test).
void noUsableLocalAppData() {
  std::printf("  LOCALAPPDATA unset, empty, relative, too long\n");
  wchar_t saved[MAX_PATH] = L"";
  GetEnvironmentVariableW(L"LOCALAPPDATA", saved, MAX_PATH);
  const std::wstring tooLong = L"C:\\" + std::wstring(240, L'l');
  for (const wchar_t* value :
       {static_cast<const wchar_t*>(nullptr), L"", L"AppData", tooLong.c_str()}) {
    SetEnvironmentVariableW(L"LOCALAPPDATA", value);
    win32::FileLog log;
    log.start(true);
    log.write(platform::Log::Level::Info, "nowhere");
    CHECK(!log.on());
    CHECK(!win32::logLocation().why.empty());
    for (const wchar_t* stray : {L"\\vbaTessary", L"AppData\\vbaTessary"}) CHECK(!exists(stray));
  }
  SetEnvironmentVariableW(L"LOCALAPPDATA", saved);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::string(argv[1]) == "--writer") return writer(std::atoi(argv[2]), argv[3]);
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
      twoWriters();
      heldForAMoment();
      noUsableLocalAppData();
    }
    removeLog();
    testbed::clearSettings();
  }
  CoUninitialize();
  return check::finish("log_test");
}
