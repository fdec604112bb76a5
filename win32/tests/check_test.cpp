// vbatessary-check.exe in the test prefix, as a user runs it from a normal window (the limited
// half of Wine's administrator token): with Office's keys made here and the DLL registered by
// regsvr32 every check passes; each broken registration fails its own check and exits 1;
// --repair mends a moved file and changes only the desktop user's registry; installed for all
// users, the windowless program writes this user's records only; both programs carry their
// manifest and version resource.
// usage: check_test [<the other bitness's vbatessary.dll>]
#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "check.h"

namespace {

const bool Is64 = sizeof(void*) == 8;
const wchar_t* const Bits = Is64 ? L"x64" : L"x86";
const wchar_t* const List = Is64 ? L"Software\\Microsoft\\VBA\\VBE\\6.0\\Addins64\\VBATessary.Connect"
                                 : L"Software\\Microsoft\\VBA\\VBE\\6.0\\Addins\\VBATessary.Connect";
const wchar_t* const OtherList = Is64 ? L"Software\\Microsoft\\VBA\\VBE\\6.0\\Addins\\VBATessary.Connect"
                                      : L"Software\\Microsoft\\VBA\\VBE\\6.0\\Addins64\\VBATessary.Connect";
const wchar_t* const Server = L"Software\\Classes\\CLSID\\{BF58B135-96A1-4809-BA5C-8B9637E56DAB}\\InprocServer32";
const wchar_t* const ProgIdKey = L"Software\\Classes\\VBATessary.Connect";
const wchar_t* const ClassKey = L"Software\\Classes\\CLSID\\{BF58B135-96A1-4809-BA5C-8B9637E56DAB}";
const wchar_t* const Removal =
    L"SOFTWARE\\Microsoft\\Active Setup\\Installed Components\\{9C3E5A71-2B84-4D6F-A1E9-5F7B3C2D8E41}";
const wchar_t* const C2R = L"SOFTWARE\\Microsoft\\Office\\ClickToRun\\Configuration";
const wchar_t* const Vba = L"SOFTWARE\\Microsoft\\VBA";
// A user whose name is not ASCII, as the folder the release was unpacked to.
const std::wstring Root = L"C:\\tessary-check\\J\u00fcrgen \u00d8ster";
const std::wstring Folder = Root + L"\\" + Bits;
// A folder whose DLL's path is longer than MAX_PATH.
const std::wstring Deep = Root + L"\\" + std::wstring(120, L'd') + L"\\" + std::wstring(120, L'e');

void setText(HKEY root, const wchar_t* key, const wchar_t* name, const std::wstring& text) {
  RegSetKeyValueW(root, key, name, REG_SZ, text.c_str(), static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}
void setDword(HKEY root, const wchar_t* key, const wchar_t* name, DWORD v) {
  RegSetKeyValueW(root, key, name, REG_DWORD, &v, sizeof v);
}

// The registry views of the machine's classes: both on 64-bit Windows.
std::vector<REGSAM> views() {
  BOOL wow = FALSE;
  if (Is64 || (IsWow64Process(GetCurrentProcess(), &wow) && wow)) return {KEY_WOW64_64KEY, KEY_WOW64_32KEY};
  return {0};
}

void setMachineText(REGSAM view, const std::wstring& key, const wchar_t* name, const std::wstring& text) {
  HKEY k = nullptr;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE | view, nullptr, &k, nullptr)) return;
  RegSetValueExW(k, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()), static_cast<DWORD>((text.size() + 1) * 2));
  RegCloseKey(k);
}

bool keyIn(HKEY root, REGSAM view, const wchar_t* key) {
  HKEY k = nullptr;
  if (RegOpenKeyExW(root, key, 0, KEY_READ | view, &k) != ERROR_SUCCESS) return false;
  RegCloseKey(k);
  return true;
}

// The PE header's subsystem: 2 a window program, 3 a console program.
int subsystem(const std::wstring& path) {
  unsigned char buf[1024] = {};
  DWORD n = 0;
  HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  ReadFile(h, buf, sizeof buf, &n, nullptr);
  CloseHandle(h);
  DWORD pe = buf[0x3C] | buf[0x3D] << 8;
  return pe + 0x5E < n ? buf[pe + 0x5C] | buf[pe + 0x5D] << 8 : -1;
}

std::string utf8(const std::wstring& w) {
  std::string s(WideCharToMultiByte(CP_UTF8, 0, w.c_str(), -1, nullptr, 0, nullptr, nullptr), '\0');
  WideCharToMultiByte(CP_UTF8, 0, w.c_str(), -1, s.data(), static_cast<int>(s.size()), nullptr, nullptr);
  s.pop_back();
  return s;
}

struct Run {
  DWORD code = 0;
  std::string out;
  bool has(const std::string& s) const { return out.find(s) != std::string::npos; }
  // The status of one check of this bitness in --json output.
  bool is(const char* id, const char* status) const {
    return has(std::string("{\"bitness\": \"") + utf8(Bits) + "\", \"id\": \"" + id + "\", \"status\": \"" + status + "\"");
  }
};

// Runs a command line, its output to a file; `limited`: with the limited token of this one's
// administrator, as a program started from a normal window runs.
Run run(std::wstring line, bool limited = true) {
  Run r;
  HANDLE token = nullptr, primary = nullptr;
  if (limited) {
    TOKEN_LINKED_TOKEN linked{};
    DWORD n = 0;
    if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token) &&
        GetTokenInformation(token, TokenLinkedToken, &linked, sizeof linked, &n)) {
      DuplicateTokenEx(linked.LinkedToken, MAXIMUM_ALLOWED, nullptr, SecurityImpersonation, TokenPrimary, &primary);
      CloseHandle(linked.LinkedToken);
    }
    if (token) CloseHandle(token);
    CHECK(primary != nullptr);
  }
  // A file a run: a process that has just ended may still hold the last one.
  static int runs = 0;
  std::wstring outFile = Root + L"\\out" + std::to_wstring(++runs) + L".txt";
  SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
  HANDLE out = CreateFileW(outFile.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &sa,
                           CREATE_ALWAYS, 0, nullptr);
  STARTUPINFOW si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdOutput = si.hStdError = out;
  PROCESS_INFORMATION pi{};
  BOOL started = primary ? CreateProcessAsUserW(primary, nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi)
                         : CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi);
  CloseHandle(out);
  if (primary) CloseHandle(primary);
  if (!CHECK(started)) return r;
  WaitForSingleObject(pi.hProcess, 60000);
  GetExitCodeProcess(pi.hProcess, &r.code);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  // The program's own child may still hold its inherited handle for a moment after it ended.
  HANDLE in = CreateFileW(outFile.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                          OPEN_EXISTING, 0, nullptr);
  char buf[8192];
  DWORD n = 0;
  while (ReadFile(in, buf, sizeof buf, &n, nullptr) && n)
    for (DWORD i = 0; i < n; ++i)
      if (buf[i] != '\r') r.out += buf[i];  // a console program's lines end in CR LF
  CloseHandle(in);
  DeleteFileW(outFile.c_str());
  return r;
}

Run checker(const wchar_t* args, bool limited = true) {
  return run(L"\"" + Folder + L"\\vbatessary-check.exe\" " + args, limited);
}

std::wstring regsvr32() {
  wchar_t dir[MAX_PATH];
  GetSystemDirectoryW(dir, MAX_PATH);
  return std::wstring(L"\"") + dir + L"\\regsvr32.exe\" /s ";
}

bool copy(const std::wstring& from, const std::wstring& to) { return CopyFileW(from.c_str(), to.c_str(), FALSE) != 0; }

// A file that is a DLL of the other bitness as far as its PE header goes.
void writeOtherMachineHeader(const std::wstring& path) {
  unsigned char image[512] = {'M', 'Z'};
  image[0x3C] = 0x80;
  image[0x80] = 'P', image[0x81] = 'E';
  image[0x84] = Is64 ? 0x4C : 0x64, image[0x85] = Is64 ? 0x01 : 0x86;
  HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  DWORD n = 0;
  WriteFile(h, image, sizeof image, &n, nullptr);
  CloseHandle(h);
}

// The resource `id` of `type` in a program, as bytes.
std::string resource(const std::wstring& program, const wchar_t* type) {
  HMODULE m = LoadLibraryExW(program.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  if (!m) return {};
  HRSRC r = FindResourceW(m, MAKEINTRESOURCEW(1), type);
  std::string bytes;
  if (HGLOBAL g = r ? LoadResource(m, r) : nullptr)
    bytes.assign(static_cast<const char*>(LockResource(g)), SizeofResource(m, r));
  FreeLibrary(m);
  return bytes;
}
bool hasUtf16(const std::string& bytes, const wchar_t* text) {
  std::wstring w(text);
  return bytes.find(std::string(reinterpret_cast<const char*>(w.data()), w.size() * sizeof(wchar_t))) != std::string::npos;
}

// A window this process makes the desktop's shell, as Explorer's; Wine starts none here.
extern "C" __declspec(dllimport) BOOL WINAPI SetShellWindow(HWND);
HWND shellWindow() {
  HWND w = CreateWindowExW(0, L"STATIC", L"shell", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
  if (w && !SetShellWindow(w)) {
    DestroyWindow(w);
    w = nullptr;
  }
  return w;
}

void tidy() {
  run(regsvr32() + L"/u \"" + Folder + L"\\vbatessary.dll\"", false);
  for (const wchar_t* key : {List, OtherList}) {
    RegDeleteTreeW(HKEY_CURRENT_USER, key);
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, key);
  }
  RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Office\\ClickToRun");
  RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, Vba, L"Vbe71DllPath");
  RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\vba Tessary");
  for (REGSAM view : views()) {
    RegDeleteKeyExW(HKEY_CURRENT_USER, Removal, view, 0);
    for (const wchar_t* key : {ProgIdKey, ClassKey, Removal}) {
      HKEY k = nullptr;
      if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key, 0, KEY_ALL_ACCESS | view, &k)) continue;
      RegDeleteTreeW(k, nullptr);
      RegCloseKey(k);
      RegDeleteKeyExW(HKEY_LOCAL_MACHINE, key, view, 0);
    }
  }
  for (const wchar_t* f : {L"\\vbatessary.dll", L"\\vbatessary-check.exe", L"\\vbatessary-checkw.exe", L"\\other.dll"})
    DeleteFileW((Folder + f).c_str());
  DeleteFileW((Root + L"\\VBE7.DLL").c_str());
  DeleteFileW((L"\\\\?\\" + Deep + L"\\vbatessary.dll").c_str());
  RemoveDirectoryW((L"\\\\?\\" + Deep).c_str());
  RemoveDirectoryW((L"\\\\?\\" + Deep.substr(0, Deep.find_last_of(L'\\'))).c_str());
  RemoveDirectoryW(Folder.c_str());
  RemoveDirectoryW(Root.c_str());
  RemoveDirectoryW(L"C:\\tessary-check");
}

}  // namespace

int main(int argc, char** argv) {
  // --as-user "<command line>": the command as the desktop's user runs it from a normal window
  // (a shell window here, the limited token), for the scripts' tests; its output and status.
  if (argc == 3 && std::strcmp(argv[1], "--as-user") == 0) {
    CreateDirectoryW(L"C:\\tessary-check", nullptr);
    CreateDirectoryW(Root.c_str(), nullptr);
    HWND shell = shellWindow();
    std::wstring line(MultiByteToWideChar(CP_UTF8, 0, argv[2], -1, nullptr, 0), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, argv[2], -1, line.data(), static_cast<int>(line.size()));
    line.resize(line.size() ? line.size() - 1 : 0);
    Run r = run(line);
    std::fputs(r.out.c_str(), stdout);
    if (shell) {
      SetShellWindow(nullptr);
      DestroyWindow(shell);
    }
    RemoveDirectoryW(Root.c_str());
    RemoveDirectoryW(L"C:\\tessary-check");
    return static_cast<int>(r.code);
  }
  tidy();
  CreateDirectoryW(L"C:\\tessary-check", nullptr);
  CreateDirectoryW(Root.c_str(), nullptr);
  CreateDirectoryW(Folder.c_str(), nullptr);
  const std::wstring dll = Folder + L"\\vbatessary.dll";
  CHECK(copy(check::besideProgram(L"vbatessary.dll"), dll));
  CHECK(copy(check::besideProgram(L"vbatessary-check.exe"), Folder + L"\\vbatessary-check.exe"));
  // Office as Click-to-Run registers it, and its VBA runtime.
  setText(HKEY_LOCAL_MACHINE, C2R, L"Platform", Bits);
  setText(HKEY_LOCAL_MACHINE, C2R, L"VersionToReport", L"16.0.17928.20114");
  copy(check::besideProgram(L"vbatessary.dll"), Root + L"\\VBE7.DLL");
  setText(HKEY_LOCAL_MACHINE, Vba, L"Vbe71DllPath", Root + L"\\VBE7.DLL");

  CHECK_EQ(run(regsvr32() + L"\"" + dll + L"\"", false).code, 0u);
  Run healthy = checker(L"--json");
  CHECK_EQ(healthy.code, 0u);
  for (const char* id : {"office", "record", "loadbehavior", "class", "file", "machine", "load", "vba", "running", "elevated"})
    if (!CHECK(healthy.is(id, "ok"))) std::printf("    %s is not ok\n", id);
  CHECK(healthy.has("\"verdict\": \"ok\""));
  if (check::failures()) std::printf("%s\n", healthy.out.c_str());
  Run textual = checker(L"");
  CHECK_EQ(textual.code, 0u);
  CHECK(textual.has(utf8(Bits) + " ok   file         " + utf8(dll)) && textual.has(utf8(Bits) + " ok   load") &&
        textual.has("vba Tessary can load in " + std::string(Is64 ? "64" : "32") + "-bit Office."));

  // Each broken registration, the check that must fail, and the way back.
  std::wstring other = argc > 1 ? std::wstring(argv[1], argv[1] + std::strlen(argv[1])) : L"";
  if (other.empty() || GetFileAttributesW(other.c_str()) == INVALID_FILE_ATTRIBUTES) other = Folder + L"\\other.dll";
  if (other == Folder + L"\\other.dll") writeOtherMachineHeader(other);
  struct Case {
    const char* what;
    const char* id;
    void (*breakIt)(const std::wstring& other);
  };
  const Case cases[] = {
      {"nothing registered", "record", [](const std::wstring&) { RegDeleteTreeW(HKEY_CURRENT_USER, List); }},
      {"the record only under the other bitness's key", "record",
       [](const std::wstring&) {
         RegDeleteTreeW(HKEY_CURRENT_USER, List);
         setText(HKEY_CURRENT_USER, OtherList, L"FriendlyName", L"vba Tessary Ver. 1.01");
       }},
      {"the record only in HKLM", "record",
       [](const std::wstring&) {
         RegDeleteTreeW(HKEY_CURRENT_USER, List);
         setText(HKEY_LOCAL_MACHINE, List, L"FriendlyName", L"vba Tessary Ver. 1.01");
         setDword(HKEY_LOCAL_MACHINE, List, L"LoadBehavior", 3);
       }},
      {"LoadBehavior 0", "loadbehavior", [](const std::wstring&) { setDword(HKEY_CURRENT_USER, List, L"LoadBehavior", 0); }},
      {"InprocServer32 to a missing file", "file",
       [](const std::wstring&) { setText(HKEY_CURRENT_USER, Server, nullptr, Root + L"\\moved\\vbatessary.dll"); }},
      {"InprocServer32 to the other bitness's DLL", "machine",
       [](const std::wstring& o) { setText(HKEY_CURRENT_USER, Server, nullptr, o); }},
  };
  for (const Case& c : cases) {
    c.breakIt(other);
    Run broken = checker(L"--json");
    if (!CHECK(broken.code == 1 && broken.is(c.id, "fail") && broken.has("\"verdict\": \"fail\"")))
      std::printf("    %s: exit %lu\n%s\n", c.what, broken.code, broken.out.c_str());
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, List);
    RegDeleteTreeW(HKEY_CURRENT_USER, OtherList);
    CHECK_EQ(run(regsvr32() + L"\"" + dll + L"\"", false).code, 0u);
  }

  // Data of the wrong type and a path past MAX_PATH are read and reported.
  RegSetKeyValueW(HKEY_CURRENT_USER, List, L"LoadBehavior", REG_SZ, L"3", 4);
  Run typed = checker(L"--json");
  CHECK(typed.code == 0 && typed.is("loadbehavior", "warn"));
  setDword(HKEY_CURRENT_USER, List, L"LoadBehavior", 3);
  const std::wstring deep = Deep + L"\\vbatessary.dll";
  CreateDirectoryW((L"\\\\?\\" + Deep.substr(0, Deep.find_last_of(L'\\'))).c_str(), nullptr);
  CreateDirectoryW((L"\\\\?\\" + Deep).c_str(), nullptr);
  CHECK(deep.size() > MAX_PATH && copy(dll, L"\\\\?\\" + deep));
  setText(HKEY_CURRENT_USER, Server, nullptr, deep);
  Run longPath = checker(L"--json");
  if (!CHECK(longPath.is("file", "ok") && longPath.is("machine", "ok")))
    std::printf("%s\n", longPath.out.c_str());

  // The log: the setting turned on, the file's last 20 lines after the checks.
  wchar_t appData[MAX_PATH] = L"";
  GetEnvironmentVariableW(L"LOCALAPPDATA", appData, MAX_PATH);
  const std::wstring logDir = std::wstring(appData) + L"\\vbaTessary", logFile = logDir + L"\\vbatessary.log";
  const bool hadLogDir = GetFileAttributesW(logDir.c_str()) != INVALID_FILE_ATTRIBUTES;
  CreateDirectoryW(logDir.c_str(), nullptr);
  HANDLE h = CreateFileW(logFile.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
  CHECK(h != INVALID_HANDLE_VALUE);
  for (int i = 1; i <= 25; ++i) {
    std::string line = "12:00:00.0" + std::to_string(10 + i) + " 7 info line " + std::to_string(i) + "\r\n";
    DWORD n = 0;
    WriteFile(h, line.data(), static_cast<DWORD>(line.size()), &n, nullptr);
  }
  CloseHandle(h);
  CHECK_EQ(checker(L"--log on").code, 0u);
  Run logged = checker(L"");
  CHECK(logged.has("its last 20 lines:\n  12:00:00.016 7 info line 6\n"));
  CHECK(logged.has("info line 25\n"));
  CHECK(!logged.has("info line 5\n"));
  DWORD size = 8;
  wchar_t on[4] = L"";
  CHECK(RegGetValueW(HKEY_CURRENT_USER, L"Software\\VB and VBA Program Settings\\vbatessary\\Settings", L"Log",
                     RRF_RT_REG_SZ, nullptr, on, &size) == ERROR_SUCCESS && std::wstring(on) == L"1");
  CHECK_EQ(checker(L"--log off").code, 0u);
  DeleteFileW(logFile.c_str());
  if (!hadLogDir) RemoveDirectoryW(logDir.c_str());
  RegDeleteKeyValueW(HKEY_CURRENT_USER, L"Software\\VB and VBA Program Settings\\vbatessary\\Settings", L"Log");
  // Where the add-in would write no log, the check names none and says why.
  const std::wstring tooLong = L"C:\\" + std::wstring(240, L'l');
  const struct {
    const wchar_t* value;
    const char* why;
  } unusable[] = {{nullptr, "LOCALAPPDATA is not set"},
                  {L"", "LOCALAPPDATA is empty"},
                  {L"AppData", "LOCALAPPDATA is not a full path"},
                  {tooLong.c_str(), "LOCALAPPDATA is too long"}};
  for (const auto& u : unusable) {
    SetEnvironmentVariableW(L"LOCALAPPDATA", u.value);
    Run none = checker(L"");
    if (!CHECK(none.has(std::string("\nlog: off, and even on the add-in writes none: ") + u.why)))
      std::printf("%s\n", none.out.c_str());
  }
  SetEnvironmentVariableW(L"LOCALAPPDATA", appData);

  // --repair: the file moved, registered again from beside the program.
  setText(HKEY_CURRENT_USER, Server, nullptr, Root + L"\\moved\\vbatessary.dll");
  setText(HKEY_CURRENT_USER, L"Software\\vba Tessary", L"InstallFolder", Root);
  // The marker without an installed product: Windows Installer's answer, nothing registered.
  Run noProduct = checker(L"--repair");
  CHECK(noProduct.code == 1 && noProduct.has("no per-user MSI of vba Tessary is installed"));
  RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\vba Tessary");
  // Elevated with no desktop shell to say whose desktop it is: nothing changed.
  Run elevated = checker(L"--repair", false);
  CHECK(elevated.code == 1 && elevated.has("refused") && elevated.has("whose desktop this is") && elevated.has("elevated"));
  Run repaired = checker(L"--repair --json");
  CHECK_EQ(repaired.code, 0u);
  CHECK(repaired.is("file", "ok") && repaired.has(utf8(dll)));
  if (check::failures()) std::printf("%s\n%s\n%s\n", noProduct.out.c_str(), elevated.out.c_str(), repaired.out.c_str());
  // The desktop's shell runs as this account: elevated by the desktop's own user, --repair and --log go ahead.
  if (HWND shell = shellWindow()) {
    setText(HKEY_CURRENT_USER, Server, nullptr, Root + L"\\moved\\vbatessary.dll");
    Run own = checker(L"--repair --json", false);
    if (!CHECK(own.code == 0 && own.is("file", "ok") && !own.has("refused"))) std::printf("%s\n", own.out.c_str());
    CHECK_EQ(checker(L"--log off", false).code, 0u);
    SetShellWindow(nullptr);
    DestroyWindow(shell);
  } else {
    std::printf("note: no shell window could be set here; the desktop's own user elevated is not shown\n");
  }

  // Installed for all users: the classes only in HKLM; the windowless program, as Active Setup
  // starts it at logon, writes this user's records and no class; the editor then loads the machine's.
  run(regsvr32() + L"/u \"" + dll + L"\"", false);
  RegDeleteTreeW(HKEY_CURRENT_USER, List);
  for (REGSAM view : views()) {
    setMachineText(view, ProgIdKey + std::wstring(L"\\CLSID"), nullptr, L"{BF58B135-96A1-4809-BA5C-8B9637E56DAB}");
    setMachineText(view, ClassKey + std::wstring(L"\\InprocServer32"), nullptr, view == KEY_WOW64_32KEY ? other : dll);
    setMachineText(view, ClassKey + std::wstring(L"\\InprocServer32"), L"ThreadingModel", L"Apartment");
  }
  CHECK(copy(check::besideProgram(L"vbatessary-checkw.exe"), Folder + L"\\vbatessary-checkw.exe"));
  CHECK_EQ(subsystem(Folder + L"\\vbatessary-checkw.exe"), 2);
  CHECK_EQ(subsystem(Folder + L"\\vbatessary-check.exe"), 3);
  setText(HKEY_CURRENT_USER, Removal, L"Version", L"1,0,50");  // a former removal's marker, which must go
  CHECK_EQ(run(L"\"" + Folder + L"\\vbatessary-checkw.exe\" --enable-user").code, 0u);
  CHECK(!keyIn(HKEY_CURRENT_USER, views()[0], Removal));
  for (const wchar_t* key : views().size() == 2 ? std::vector<const wchar_t*>{List, OtherList} : std::vector<const wchar_t*>{List}) {
    DWORD behavior = 0, n = sizeof behavior;
    CHECK(RegGetValueW(HKEY_CURRENT_USER, key, L"LoadBehavior", RRF_RT_REG_DWORD, nullptr, &behavior, &n) == ERROR_SUCCESS &&
          behavior == 3);
  }
  for (REGSAM view : views()) CHECK(!keyIn(HKEY_CURRENT_USER, view, ProgIdKey) && !keyIn(HKEY_CURRENT_USER, view, ClassKey));
  Run again = checker(L"--enable-user");
  CHECK(again.code == 0 && again.has(utf8(Bits) + ": already there HKCU\\Software\\Microsoft\\VBA"));
  Run forAll = checker(L"--json");
  if (!CHECK(forAll.code == 0 && forAll.is("class", "ok") && forAll.has("for all users (the machine)") && forAll.is("load", "ok")))
    std::printf("%s\n%s\n", again.out.c_str(), forAll.out.c_str());
  // The removal's entry, its command run as the user would at the next logon: both records go.
  CHECK_EQ(checker(L"--machine-uninstalled 1,0,57", false).code, 0u);
  CHECK_EQ(checker(L"--machine-uninstalled 1.0", false).code, 1u);
  wchar_t stub[1024] = L"";
  DWORD stubSize = sizeof stub;
  CHECK(RegGetValueW(HKEY_LOCAL_MACHINE, Removal, L"StubPath", RRF_RT_REG_SZ | (views()[0] == KEY_WOW64_64KEY ? RRF_SUBKEY_WOW6464KEY : 0), nullptr,
                     stub, &stubSize) == ERROR_SUCCESS);
  run(stub);
  CHECK(!keyIn(HKEY_CURRENT_USER, 0, List) && !keyIn(HKEY_CURRENT_USER, 0, OtherList));

  // Never elevated by installer detection, nor virtualized; each names itself.
  for (const wchar_t* program : {L"vbatessary-check.exe", L"vbatessary-checkw.exe"}) {
    std::string manifest = resource(check::besideProgram(program), MAKEINTRESOURCEW(24));
    std::string version = resource(check::besideProgram(program), MAKEINTRESOURCEW(16));
    if (!CHECK(manifest.find("level=\"asInvoker\"") != std::string::npos &&
               manifest.find("{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}") != std::string::npos &&
               hasUtf16(version, L"vba Tessary check") && hasUtf16(version, program)))
      std::printf("    %ls: manifest %zu bytes, version resource %zu bytes\n", program, manifest.size(), version.size());
  }

  CHECK_EQ(checker(L"--no-such-flag").code, 2u);
  tidy();
  return check::finish("check_test");
}
