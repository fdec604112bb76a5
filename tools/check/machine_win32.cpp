#include "machine_win32.h"

#include <msi.h>
#include <sddl.h>
#include <tlhelp32.h>

#include <cwctype>

#include "addin/identity.h"
#include "text.h"

namespace check {
namespace {

using win32::modulePath;
using win32::narrow;
using win32::widen;

bool isWow64() {
  BOOL wow = FALSE;
  return IsWow64Process(GetCurrentProcess(), &wow) && wow;
}

// A path the file functions take whatever its length.
std::wstring fileName(const std::string& path) {
  std::wstring w = widen(path);
  if (w.size() >= MAX_PATH && w.size() > 2 && w[1] == L':' && w[2] == L'\\') return L"\\\\?\\" + w;
  return w;
}

std::wstring lowerW(std::wstring s) {
  for (wchar_t& c : s) c = static_cast<wchar_t>(std::towlower(c));
  return s;
}

}  // namespace

std::wstring folderOf(const std::wstring& path) { return path.substr(0, path.find_last_of(L"\\/") + 1); }

Bits WindowsMachine::own() const { return sizeof(void*) == 8 ? Bits::x64 : Bits::x86; }

bool WindowsMachine::windows64() const { return own() == Bits::x64 || isWow64(); }

REGSAM WindowsMachine::viewFlag(Bits view) const {
  if (!windows64()) return 0;
  return view == Bits::x64 ? KEY_WOW64_64KEY : KEY_WOW64_32KEY;
}

HKEY WindowsMachine::open(Hive hive, Bits view, const std::string& key) const {
  REGSAM sam = KEY_READ | viewFlag(view);
  HKEY k = nullptr;
  if (RegOpenKeyExW(hive == Hive::User ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE, widen(key).c_str(), 0, sam, &k) !=
      ERROR_SUCCESS)
    return nullptr;
  return k;
}

RegValue WindowsMachine::value(Hive hive, Bits view, const std::string& key, const std::string& name) {
  RegValue v;
  HKEY k = open(hive, view, key);
  if (!k) return v;
  std::wstring valueName = widen(name);
  std::vector<BYTE> data(256);
  DWORD type = 0;
  LSTATUS rc;
  for (;;) {
    DWORD size = static_cast<DWORD>(data.size());
    rc = RegQueryValueExW(k, valueName.empty() ? nullptr : valueName.c_str(), nullptr, &type, data.data(), &size);
    if (rc == ERROR_MORE_DATA) {
      data.resize(size + 2);
      continue;
    }
    data.resize(rc == ERROR_SUCCESS ? size : 0);
    break;
  }
  RegCloseKey(k);
  if (rc != ERROR_SUCCESS) return v;
  v.type = type;
  if (type == REG_SZ || type == REG_EXPAND_SZ) {
    v.kind = type == REG_SZ ? RegValue::Kind::String : RegValue::Kind::ExpandString;
    std::wstring text(reinterpret_cast<const wchar_t*>(data.data()), data.size() / sizeof(wchar_t));
    while (!text.empty() && text.back() == L'\0') text.pop_back();
    v.text = narrow(text);
  } else if (type == REG_DWORD && data.size() == 4) {
    v.kind = RegValue::Kind::Dword;
    v.dword = static_cast<std::uint32_t>(data[0] | data[1] << 8 | data[2] << 16 | static_cast<std::uint32_t>(data[3]) << 24);
  } else {
    v.kind = RegValue::Kind::Other;
  }
  return v;
}

bool WindowsMachine::keyExists(Hive hive, Bits view, const std::string& key) {
  HKEY k = open(hive, view, key);
  if (k) RegCloseKey(k);
  return k != nullptr;
}

bool WindowsMachine::setValue(Hive hive, Bits view, const std::string& key, const std::string& name, const RegValue& v) {
  HKEY k = nullptr;
  if (RegCreateKeyExW(hive == Hive::User ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE, widen(key).c_str(), 0, nullptr, 0,
                      KEY_SET_VALUE | viewFlag(view), nullptr, &k, nullptr) != ERROR_SUCCESS)
    return false;
  std::wstring valueName = widen(name);
  const wchar_t* n = valueName.empty() ? nullptr : valueName.c_str();
  LSTATUS rc = ERROR_INVALID_PARAMETER;
  if (v.kind == RegValue::Kind::Dword) {
    DWORD d = v.dword;
    rc = RegSetValueExW(k, n, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&d), sizeof d);
  } else if (v.isText()) {
    std::wstring text = widen(v.text);
    rc = RegSetValueExW(k, n, 0, v.kind == RegValue::Kind::String ? REG_SZ : REG_EXPAND_SZ,
                        reinterpret_cast<const BYTE*>(text.c_str()), static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
  }
  RegCloseKey(k);
  return rc == ERROR_SUCCESS;
}

bool WindowsMachine::deleteKey(Hive hive, Bits view, const std::string& key) {
  HKEY root = hive == Hive::User ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
  std::wstring name = widen(key);
  HKEY k = nullptr;
  LSTATUS rc = RegOpenKeyExW(root, name.c_str(), 0, DELETE | KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE | KEY_SET_VALUE | viewFlag(view), &k);
  if (rc == ERROR_FILE_NOT_FOUND) return true;
  if (rc != ERROR_SUCCESS) return false;
  rc = RegDeleteTreeW(k, nullptr);  // its subkeys and values; the key itself below, in the same view
  RegCloseKey(k);
  if (rc == ERROR_SUCCESS) rc = RegDeleteKeyExW(root, name.c_str(), viewFlag(view), 0);
  return rc == ERROR_SUCCESS || rc == ERROR_FILE_NOT_FOUND;
}

std::string WindowsMachine::expand(const std::string& text) {
  std::wstring in = widen(text);
  std::wstring out(in.size() + 64, L'\0');
  for (;;) {
    DWORD n = ExpandEnvironmentStringsW(in.c_str(), out.data(), static_cast<DWORD>(out.size()));
    if (n == 0) return text;
    if (n <= out.size()) {
      out.resize(n - 1);
      return narrow(out);
    }
    out.resize(n);
  }
}

bool WindowsMachine::fileExists(const std::string& path) {
  DWORD a = GetFileAttributesW(fileName(path).c_str());
  return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

std::optional<std::string> WindowsMachine::zoneIdentifier(const std::string& path) {
  HANDLE h = CreateFileW((fileName(path) + L":Zone.Identifier").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                         OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return std::nullopt;
  char buf[1024];
  DWORD n = 0;
  BOOL read = ReadFile(h, buf, sizeof buf, &n, nullptr);
  CloseHandle(h);
  if (!read) return std::nullopt;
  return std::string(buf, n);
}

std::optional<std::uint16_t> WindowsMachine::peMachine(const std::string& path) {
  HANDLE h = CreateFileW(fileName(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return std::nullopt;
  unsigned char buf[4096];
  DWORD n = 0;
  BOOL read = ReadFile(h, buf, sizeof buf, &n, nullptr);
  CloseHandle(h);
  if (!read || n < 0x40 || buf[0] != 'M' || buf[1] != 'Z') return std::nullopt;
  DWORD pe = buf[0x3C] | buf[0x3D] << 8 | buf[0x3E] << 16 | static_cast<DWORD>(buf[0x3F]) << 24;
  if (pe > n - 6 || buf[pe] != 'P' || buf[pe + 1] != 'E' || buf[pe + 2] || buf[pe + 3]) return std::nullopt;
  return static_cast<std::uint16_t>(buf[pe + 4] | buf[pe + 5] << 8);
}

// The class is created in a child process: a DLL that crashes or hangs takes the child, not the
// check. A process of the other bitness is the other copy of this program beside this one's folder.
Creation WindowsMachine::create(Bits bits, const std::string& path) {
  Creation c;
  std::wstring self = modulePath(nullptr);
  std::wstring program = self;
  if (bits != own()) {
    if (bits == Bits::x64 && !windows64()) {
      c.how = "this Windows is 32-bit";
      return c;
    }
    // The copy beside that DLL (an installation for all users keeps each bitness in its own
    // Program Files folder), else the one in the zip's sibling x86/x64 folder.
    std::wstring beside = folderOf(widen(path)) + L"vbatessary-check.exe";
    std::wstring folder = folderOf(self);
    std::wstring parent = folderOf(folder.substr(0, folder.size() - 1));
    program = parent + widen(name(bits)) + L"\\vbatessary-check.exe";
    if (peMachine(narrow(beside)) == (bits == Bits::x86 ? 0x14c : 0x8664)) program = beside;
    if (GetFileAttributesW(fileName(narrow(program)).c_str()) == INVALID_FILE_ATTRIBUTES) {
      c.how = "no " + narrow(program) + " beside this program";
      return c;
    }
  }
  c.how = narrow(program);
  std::wstring line = L"\"" + program + L"\" --create \"" + widen(path) + L"\"";
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  if (!CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr, &si,
                      &pi)) {
    c.outcome = Creation::Outcome::Failed;
    c.hresult = HRESULT_FROM_WIN32(GetLastError());
    return c;
  }
  DWORD code = 1;
  if (WaitForSingleObject(pi.hProcess, 30000) == WAIT_TIMEOUT) {
    TerminateProcess(pi.hProcess, 1);
    code = static_cast<DWORD>(HRESULT_FROM_WIN32(WAIT_TIMEOUT));
  } else {
    GetExitCodeProcess(pi.hProcess, &code);
  }
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  c.outcome = code == 0 ? Creation::Outcome::Created : Creation::Outcome::Failed;
  c.hresult = static_cast<long>(code);
  return c;
}

std::vector<Process> WindowsMachine::offices() {
  std::vector<Process> found;
  HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snap == INVALID_HANDLE_VALUE) return found;
  PROCESSENTRY32W e{};
  e.dwSize = sizeof e;
  for (BOOL more = Process32FirstW(snap, &e); more; more = Process32NextW(snap, &e)) {
    std::wstring exe = lowerW(e.szExeFile);
    if (exe != L"excel.exe" && exe != L"winword.exe" && exe != L"msaccess.exe" && exe != L"powerpnt.exe") continue;
    Process p;
    p.name = narrow(e.szExeFile);
    p.pid = e.th32ProcessID;
    if (HANDLE h = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, e.th32ProcessID)) {
      BOOL wow = FALSE;
      if (IsWow64Process(h, &wow)) p.bits = windows64() && !wow ? Bits::x64 : Bits::x86;
      HANDLE token = nullptr;
      if (OpenProcessToken(h, TOKEN_QUERY, &token)) {
        TOKEN_ELEVATION te{};
        DWORD n = 0;
        if (GetTokenInformation(token, TokenElevation, &te, sizeof te, &n)) p.elevated = te.TokenIsElevated != 0;
        CloseHandle(token);
      }
      CloseHandle(h);
    }
    found.push_back(std::move(p));
  }
  CloseHandle(snap);
  return found;
}

std::optional<bool> WindowsMachine::elevated() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return std::nullopt;
  TOKEN_ELEVATION te{};
  DWORD n = 0;
  BOOL ok = GetTokenInformation(token, TokenElevation, &te, sizeof te, &n);
  CloseHandle(token);
  if (!ok) return std::nullopt;
  return te.TokenIsElevated != 0;
}

namespace {

template <typename Fn>
Fn* entry(HMODULE module, const char* name) {
  return reinterpret_cast<Fn*>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

// Loads the DLL as COM would (its own folder first for what it needs) in an apartment, runs `use`
// on it and frees it again; a load failure is its own HRESULT.
template <typename Use>
HRESULT withModule(const std::wstring& dll, Use use) {
  HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  if (FAILED(hr)) return hr;
  HMODULE module = LoadLibraryExW(dll.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  if (!module) {
    hr = HRESULT_FROM_WIN32(GetLastError());
  } else {
    hr = use(module);
    FreeLibrary(module);
  }
  CoUninitialize();
  return hr;
}

HRESULT missing() { return HRESULT_FROM_WIN32(GetLastError()); }

}  // namespace

HRESULT createFrom(const std::wstring& dll) {
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
  return withModule(dll, [](HMODULE module) {
    auto get = entry<HRESULT STDAPICALLTYPE(REFCLSID, REFIID, void**)>(module, "DllGetClassObject");
    if (!get) return missing();
    CLSID clsid{};
    HRESULT hr = CLSIDFromString(widen(addin::identity::ConnectClsid).c_str(), &clsid);
    IClassFactory* factory = nullptr;
    if (SUCCEEDED(hr)) hr = get(clsid, IID_IClassFactory, reinterpret_cast<void**>(&factory));
    if (FAILED(hr)) return hr;
    IUnknown* object = nullptr;
    hr = factory->CreateInstance(nullptr, IID_IUnknown, reinterpret_cast<void**>(&object));
    if (SUCCEEDED(hr)) object->Release();
    factory->Release();
    // A module that still holds objects after their release has leaked one.
    auto canUnload = entry<HRESULT STDAPICALLTYPE()>(module, "DllCanUnloadNow");
    if (SUCCEEDED(hr) && canUnload && canUnload() != S_OK) hr = E_UNEXPECTED;
    return hr;
  });
}

HRESULT registerBeside(const std::wstring& dll) {
  return withModule(dll, [](HMODULE module) {
    auto reg = entry<HRESULT STDAPICALLTYPE()>(module, "DllRegisterServer");
    return reg ? reg() : missing();
  });
}

namespace {

std::optional<Account> tokenAccount(HANDLE process) {
  HANDLE token = nullptr;
  if (!OpenProcessToken(process, TOKEN_QUERY, &token)) return std::nullopt;
  std::vector<unsigned long long> buf(64);  // aligned for the TOKEN_USER it holds
  DWORD n = 0;
  BOOL ok = GetTokenInformation(token, TokenUser, buf.data(), static_cast<DWORD>(buf.size() * 8), &n);
  if (!ok && GetLastError() == ERROR_INSUFFICIENT_BUFFER) {
    buf.resize(n / 8 + 1);
    ok = GetTokenInformation(token, TokenUser, buf.data(), static_cast<DWORD>(buf.size() * 8), &n);
  }
  CloseHandle(token);
  if (!ok) return std::nullopt;
  PSID sid = reinterpret_cast<TOKEN_USER*>(buf.data())->User.Sid;
  Account a;
  wchar_t* text = nullptr;
  if (ConvertSidToStringSidW(sid, &text)) {
    a.sid = narrow(text);
    LocalFree(text);
  }
  wchar_t user[256], domain[256];
  DWORD userSize = 256, domainSize = 256;
  SID_NAME_USE use;
  if (LookupAccountSidW(nullptr, sid, user, &userSize, domain, &domainSize, &use))
    a.name = narrow(domainSize ? std::wstring(domain) + L"\\" + user : std::wstring(user));
  return a;
}

}  // namespace

std::optional<Account> processAccount() { return tokenAccount(GetCurrentProcess()); }

std::optional<Account> desktopAccount() {
  DWORD pid = 0;
  HWND shell = GetShellWindow();
  if (!shell || !GetWindowThreadProcessId(shell, &pid)) return std::nullopt;
  HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
  if (!process) return std::nullopt;
  std::optional<Account> a = tokenAccount(process);
  CloseHandle(process);
  return a;
}

unsigned repairMsi(std::string& product) {
  wchar_t code[39] = L"";
  UINT rc = MsiEnumRelatedProductsW(widen(addin::identity::PerUserUpgradeCode).c_str(), 0, 0, code);
  if (rc != ERROR_SUCCESS) return rc == ERROR_NO_MORE_ITEMS ? ERROR_UNKNOWN_PRODUCT : rc;
  product = narrow(code);
  MsiSetInternalUI(INSTALLUILEVEL_NONE, nullptr);
  // msiexec /f's own default, "omus": a missing file needs the MSI it came from, the rows only its cached copy.
  return MsiReinstallProductW(code, REINSTALLMODE_FILEOLDERVERSION | REINSTALLMODE_MACHINEDATA |
                                        REINSTALLMODE_USERDATA | REINSTALLMODE_SHORTCUT);
}

}  // namespace check
