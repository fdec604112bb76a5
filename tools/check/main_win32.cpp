// vbatessary-check.exe: tells why vba Tessary does or does not load in the VBA editor, from
// outside Office. Changes nothing unless asked (--repair).
#include <windows.h>
// after windows.h
#include <conio.h>
#include <shellapi.h>

#include <cstdio>
#include <string>
#include <vector>

#include "checker.h"
#include "machine_win32.h"
#include "text.h"
#include "version.h"

namespace {

const char* const Usage = "usage: vbatessary-check [--json] [--repair] [--pause]\n";

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

bool msiInstalled() {
  HKEY k = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\vba Tessary", 0, KEY_READ, &k) != ERROR_SUCCESS) return false;
  bool marked = RegQueryValueExW(k, L"InstallFolder", nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
  RegCloseKey(k);
  return marked;
}

int run(const std::vector<std::wstring>& args) {
  bool json = false, repair = false, pause = false;
  for (size_t i = 1; i < args.size(); ++i) {
    const std::wstring& a = args[i];
    if (a == L"--create" && i + 1 < args.size() && args.size() == 3) return static_cast<int>(check::createFrom(args[i + 1]));
    if (a == L"--json") {
      json = true;
    } else if (a == L"--repair") {
      repair = true;
    } else if (a == L"--pause") {
      pause = true;
    } else if (a == L"--help" || a == L"-h" || a == L"/?") {
      write(stdout, Usage);
      return 0;
    } else {
      write(stderr, "vbatessary-check: unknown argument \"" + win32::narrow(a) + "\"\n" + Usage);
      return 2;
    }
  }
  check::WindowsMachine machine;
  std::string out;
  if (repair) {
    std::wstring dll = check::folderOf(check::modulePath(nullptr)) + L"vbatessary.dll";
    bool beside = GetFileAttributesW(dll.c_str()) != INVALID_FILE_ATTRIBUTES;
    if (auto refusal = check::repairRefusal(msiInstalled(), machine.elevated(), beside)) {
      write(stderr, "vbatessary-check --repair: refused: " + *refusal + "\n");
      return 1;
    }
    HRESULT hr = check::registerBeside(dll);
    char code[16];
    std::snprintf(code, sizeof code, "0x%08lX", static_cast<unsigned long>(hr));
    std::string line = "repair: " + std::string(SUCCEEDED(hr) ? "registered " : "could not register ") +
                       win32::narrow(dll) + " for " + check::office(machine.own()) +
                       (SUCCEEDED(hr) ? "" : std::string(" (") + code + ": " + check::meaning(hr) + ")") + "\n";
    if (json)
      write(stderr, line);
    else
      out += line;
    if (FAILED(hr)) {
      write(stdout, out);
      return 1;
    }
  }
  check::Result result = check::run(machine);
  out += json ? check::json(result, TESSARY_VERSION_TEXT) : check::text(result, TESSARY_VERSION_TEXT);
  write(stdout, out);
  if (pause) {
    write(stdout, "Press a key to close this window.\n");
    _getwch();
  }
  return result.ok() ? 0 : 1;
}

}  // namespace

int main() {
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
