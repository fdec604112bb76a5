// vbatessary-check.exe: tells why vba Tessary does or does not load in the VBA editor, from
// outside Office. Changes nothing unless asked (--repair, --enable-user, --machine-uninstalled).
// Built twice: the console program, and vbatessary-checkw.exe without a console, which Active
// Setup starts at logon.
#include <windows.h>
// after windows.h
#include <conio.h>
#include <shellapi.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "automation/failure.h"
#include "checker.h"
#include "locations.h"
#include "machine_win32.h"
#include "text.h"
#include "version.h"

namespace {

const char* const Usage =
    "usage: vbatessary-check [--json] [--repair] [--pause] | --enable-user [--pause] | --log on|off\n"
    "       | --machine-uninstalled <version>\n";
// The add-in's own key, as the DLL spells it.
const std::wstring SettingsKey = win32::settingsKey();

// UTF-8 to a pipe or file; a console takes the text as UTF-16 whatever its code page.
void write(FILE* f, const std::string& s) {
  HANDLE h = GetStdHandle(f == stderr ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
  DWORD mode = 0;
  if (h != INVALID_HANDLE_VALUE && GetConsoleMode(h, &mode)) {
    std::wstring w = win32::widen(s);
    DWORD n = 0;
    WriteConsoleW(h, w.data(), static_cast<DWORD>(w.size()), &n, nullptr);
    return;
  }
  std::fwrite(s.data(), 1, s.size(), f);
  std::fflush(f);
}

// --repair and --log change HKCU: only when it is the desktop user's, not an administrator's whose
// password was typed at a UAC prompt.
bool mayChangeUser(check::Machine& machine, const std::string& what) {
  check::AccountDecision d =
      check::accountDecision(what, check::processAccount(), check::desktopAccount(), machine.elevated());
  if (!d.proceed)
    write(stderr, "vbatessary-check " + what + ": refused: " + d.why + "\n");
  else if (!d.why.empty())
    write(stderr, "vbatessary-check " + what + ": " + d.why + "\n");
  return d.proceed;
}

// What Windows Installer's answer to a repair means for the user.
std::string msiRepairError(unsigned rc) {
  switch (rc) {
    case ERROR_UNKNOWN_PRODUCT: return "no per-user MSI of vba Tessary is installed for this user";
    case ERROR_INSTALL_SOURCE_ABSENT:
      return "the MSI it was installed from is no longer where it was: install that MSI again";
    case ERROR_INSTALL_ALREADY_RUNNING: return "another installation is running: try again when it has ended";
    default: return "Windows Installer error " + std::to_string(rc);
  }
}

// The add-in's log: its setting, and the last lines of its file (read from its end: it may be
// a megabyte, and the add-in may be writing it).
check::Log readLog() {
  check::Log log;
  wchar_t value[8] = L"";
  DWORD size = sizeof value;
  log.on = RegGetValueW(HKEY_CURRENT_USER, SettingsKey.c_str(), L"Log", RRF_RT_REG_SZ, nullptr, value, &size) ==
               ERROR_SUCCESS &&
           std::wstring(value) == L"1";
  // Where the add-in itself would write: none when it would write none.
  const win32::LogLocation at = win32::logLocation();
  log.path = win32::narrow(at.file);
  log.why = at.why;
  if (at.file.empty()) return log;
  HANDLE h = CreateFileW(at.file.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return log;
  log.found = true;
  LARGE_INTEGER length{};
  GetFileSizeEx(h, &length);
  LARGE_INTEGER from{};
  from.QuadPart = length.QuadPart > 65536 ? length.QuadPart - 65536 : 0;
  SetFilePointerEx(h, from, nullptr, FILE_BEGIN);
  std::string text(65536, '\0');
  DWORD n = 0;
  if (!ReadFile(h, text.data(), static_cast<DWORD>(text.size()), &n, nullptr)) n = 0;
  text.resize(n);
  CloseHandle(h);
  // A read that starts inside the file begins with part of a line.
  if (from.QuadPart > 0) text.erase(0, text.find('\n') + 1);
  log.tail = check::lastLines(text, 20);
  return log;
}

int setLog(const std::wstring& state) {
  const wchar_t* v = state == L"on" ? L"1" : L"0";
  LSTATUS rc = RegSetKeyValueW(HKEY_CURRENT_USER, SettingsKey.c_str(), L"Log", REG_SZ, v, 4);
  if (rc != ERROR_SUCCESS) {
    write(stderr, "vbatessary-check --log: the setting could not be written (error " + std::to_string(rc) + ")\n");
    return 1;
  }
  const win32::LogLocation at = win32::logLocation();
  if (state != L"on")
    write(stdout, "log: off from the next time the editor loads the add-in\n");
  else if (at.file.empty())
    write(stdout, "log: on, but the add-in writes none: " + at.why + "\n");
  else
    write(stdout, "log: on; the add-in writes " + win32::narrow(at.file) + " from the next time the editor loads it\n");
  return 0;
}

// --pause: the window a shortcut opened stays until a key is pressed.
void waitIf(bool pause) {
#ifdef TESSARY_CHECK_WINDOWLESS
  pause = false;  // no console to wait in
#endif
  if (!pause) return;
  write(stdout, "Press a key to close this window.\n");
  _getwch();
}

// This user's add-in records for an installation for all users: a line a bitness to `out`,
// `prefix` before each; why nothing was written to `err`.
int enableUser(check::Machine& machine, const std::string& prefix, std::string& out, std::string& err) {
  std::vector<check::Enabled> done = check::enableUser(machine);
  for (const check::Enabled& e : done) out += prefix + check::line(e) + "\n";
  bool none = std::all_of(done.begin(), done.end(),
                          [](const check::Enabled& e) { return e.state == check::Enabled::State::NoMachineClass; });
  if (none) err += "vbatessary-check: no installation of vba Tessary for all users was found; nothing written\n";
  return check::exitStatus(done);
}

// Run as SYSTEM by the MSI's removal: each user's records go at that user's next logon.
int machineUninstalled(const std::wstring& version) {
  if (!check::validVersion(win32::narrow(version))) {
    write(stderr, "vbatessary-check --machine-uninstalled: \"" + win32::narrow(version) +
                      "\" is no version (one to four comma-separated numbers, as 1,0,57)\n");
    return 1;
  }
  wchar_t system[MAX_PATH];
  UINT n = GetSystemDirectoryW(system, MAX_PATH);
  check::WindowsMachine machine;
  if (n == 0 || n >= MAX_PATH || !check::markRemoved(machine, win32::narrow(version), win32::narrow(std::wstring(system, n)))) {
    write(stderr, "vbatessary-check --machine-uninstalled: HKLM\\" + std::string(check::ActiveSetupRemoval) +
                      " could not be written\n");
    return 1;
  }
  write(stdout, "written HKLM\\" + std::string(check::ActiveSetupRemoval) + "\n");
  return 0;
}

int run(const std::vector<std::wstring>& args) {
  if (args.size() == 3 && args[1] == L"--log" && (args[2] == L"on" || args[2] == L"off")) {
    check::WindowsMachine user;
    if (!mayChangeUser(user, "--log " + win32::narrow(args[2]))) return 1;
    return setLog(args[2]);
  }
  if (args.size() == 3 && args[1] == L"--machine-uninstalled") return machineUninstalled(args[2]);
  bool json = false, repair = false, pause = false, enable = false;
  for (size_t i = 1; i < args.size(); ++i) {
    const std::wstring& a = args[i];
    if (a == L"--create" && i + 1 < args.size() && args.size() == 3) return static_cast<int>(check::createFrom(args[i + 1]));
    if (a == L"--json") {
      json = true;
    } else if (a == L"--repair") {
      repair = true;
    } else if (a == L"--pause") {
      pause = true;
    } else if (a == L"--enable-user") {
      enable = true;
    } else if (a == L"--help" || a == L"-h" || a == L"/?") {
      write(stdout, Usage);
      return 0;
    } else {
      write(stderr, "vbatessary-check: unknown argument \"" + win32::narrow(a) + "\"\n" + Usage);
      return 2;
    }
  }
  if (enable && (json || repair)) {
    write(stderr, std::string("vbatessary-check: --enable-user takes only --pause\n") + Usage);
    return 2;
  }
  check::WindowsMachine machine;
  std::string out;
  if (enable) {
    std::string err;
    int status = enableUser(machine, "", out, err);
    write(stdout, out);
    if (!err.empty()) write(stderr, err);
    waitIf(pause);
    return status;
  }
  if (repair) {
    std::wstring dll = check::folderOf(win32::modulePath(nullptr)) + L"vbatessary.dll";
    bool beside = GetFileAttributesW(dll.c_str()) != INVALID_FILE_ATTRIBUTES;
    bool forAll = check::machineInstall(machine, win32::narrow(dll));
    check::RepairPlan plan = check::repairPlan(check::msiInstall(machine), beside, forAll);
    if (!plan.route) {
      write(stderr, "vbatessary-check --repair: refused: " + plan.refusal + "\n");
      return 1;
    }
    if (!mayChangeUser(machine, "--repair")) return 1;
    if (plan.route == check::Repair::Msi) {
      std::string product;
      unsigned rc = check::repairMsi(product);
      bool done = rc == ERROR_SUCCESS || rc == ERROR_SUCCESS_REBOOT_REQUIRED;
      std::string line = "repair: " + std::string(done ? "Windows Installer repaired " : "Windows Installer could not repair ") +
                         (product.empty() ? "the per-user MSI" : "the per-user MSI's product " + product) +
                         (done ? "" : " (" + msiRepairError(rc) + ")") + "\n";
      if (json)
        write(stderr, line);
      else
        out += line;
      if (!done) {
        write(stdout, out);
        return 1;
      }
    } else if (forAll) {
      // Installed for all users: the classes are the machine's; only this user's records are written.
      std::string lines, err;
      int status = enableUser(machine, "repair: ", lines, err);
      if (json)
        write(stderr, lines + err);
      else
        out += lines + err;
      if (status != 0) {
        write(stdout, out);
        return 1;
      }
    } else {
      HRESULT hr = check::registerBeside(dll);
      const std::string code = automation::hresultText(static_cast<uint32_t>(hr));
      std::string line = "repair: " + std::string(SUCCEEDED(hr) ? "registered " : "could not register ") +
                         win32::narrow(dll) + " for " + check::office(machine.own()) +
                         (SUCCEEDED(hr) ? "" : " (" + code + ": " + check::meaning(hr) + ")") + "\n";
      if (json)
        write(stderr, line);
      else
        out += line;
      if (FAILED(hr)) {
        write(stdout, out);
        return 1;
      }
    }
  }
  check::Result result = check::run(machine);
  result.log = readLog();
  out += json ? check::json(result, TESSARY_VERSION_TEXT) : check::text(result, TESSARY_VERSION_TEXT);
  write(stdout, out);
  waitIf(pause);
  return result.ok() ? 0 : 1;
}

int entry() {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  std::vector<std::wstring> args(argv, argv + argc);
  LocalFree(argv);
  try {
    return run(args);
  } catch (const std::exception& e) {
    write(stderr, std::string("vbatessary-check: ") + e.what() + "\n");
    return 1;
  }
}

}  // namespace

#ifdef TESSARY_CHECK_WINDOWLESS
int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) { return entry(); }
#else
int main() { return entry(); }
#endif
