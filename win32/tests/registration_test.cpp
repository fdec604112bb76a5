// DllRegisterServer / DllUnregisterServer write and remove exactly the per-user keys of the add-in,
// and leave the keys shared with the other bitness while that one is registered.
#include <windows.h>
#include <oleauto.h>

#include <cstring>
#include <string>

#include "dll.h"
#include "iids.h"
#include "text.h"

namespace {

const std::wstring Clsid = L"{BF58B135-96A1-4809-BA5C-8B9637E56DAB}";
const std::wstring LibId = L"{C6A25868-C2E3-4C90-8A26-254259120AEE}";
const std::wstring ClassKey = L"Software\\Classes\\CLSID\\" + Clsid;
const std::wstring ProgIdKey = L"Software\\Classes\\VBATessary.Connect";
const std::wstring Vbe = L"Software\\Microsoft\\VBA\\VBE\\6.0\\";
const std::wstring OwnList = Vbe + (sizeof(void*) == 8 ? L"Addins64" : L"Addins");
const std::wstring OtherList = Vbe + (sizeof(void*) == 8 ? L"Addins" : L"Addins64");
const std::wstring AddinKey = OwnList + L"\\VBATessary.Connect";
const std::wstring OtherAddinKey = OtherList + L"\\VBATessary.Connect";
// The other bitness's view of the per-user class keys, and the type library entries (under the
// classes root) of both bitnesses.
const REGSAM OtherView = sizeof(void*) == 8 ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;
const std::wstring LibraryKey = L"TypeLib\\" + LibId;
const std::wstring OwnLibraryEntry = LibraryKey + L"\\1.0\\0\\" + (sizeof(void*) == 8 ? L"win64" : L"win32");
const std::wstring OtherLibraryEntry = LibraryKey + L"\\1.0\\0\\" + (sizeof(void*) == 8 ? L"win32" : L"win64");
const std::wstring InterfaceKey = L"Interface\\{F3ADD325-79DF-4B43-985E-A38B4E1257C8}";
const std::wstring OtherDll = L"C:\\Other\\vbatessary.dll";

bool keyExists(const std::wstring& path, HKEY root = HKEY_CURRENT_USER, REGSAM view = 0) {
  HKEY k = nullptr;
  if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ | view, &k) != ERROR_SUCCESS) return false;
  RegCloseKey(k);
  return true;
}

// Value text, or "<absent>"; `type` receives the registry type.
std::wstring value(const std::wstring& path, const wchar_t* name, DWORD* type = nullptr,
                   HKEY root = HKEY_CURRENT_USER, REGSAM view = 0) {
  wchar_t data[1024];
  DWORD size = sizeof data, t = 0;
  HKEY k = nullptr;
  if (RegOpenKeyExW(root, path.c_str(), 0, KEY_QUERY_VALUE | view, &k) != ERROR_SUCCESS) return L"<absent>";
  LSTATUS s = RegQueryValueExW(k, name, nullptr, &t, reinterpret_cast<BYTE*>(data), &size);
  RegCloseKey(k);
  if (s != ERROR_SUCCESS) return L"<absent>";
  if (type) *type = t;
  if (t == REG_DWORD) {
    DWORD number = 0;
    std::memcpy(&number, data, sizeof number);
    return std::to_wstring(number);
  }
  size_t n = size / sizeof(wchar_t);
  if (n > 0 && data[n - 1] == L'\0') --n;
  return std::wstring(data, n);
}

bool typeLibraryRegistered(std::wstring* path = nullptr) {
  BSTR p = nullptr;
  HRESULT hr = QueryPathOfRegTypeLib(win32::iids::Library, 1, 0, 0, &p);
  if (SUCCEEDED(hr) && path) *path = p;
  SysFreeString(p);
  return SUCCEEDED(hr);
}

bool nothingRegistered() {
  return !keyExists(ClassKey) && !keyExists(ClassKey, HKEY_CURRENT_USER, OtherView) && !keyExists(ProgIdKey) &&
         !keyExists(AddinKey) && !typeLibraryRegistered() && !keyExists(LibraryKey, HKEY_CLASSES_ROOT) &&
         !keyExists(InterfaceKey, HKEY_CLASSES_ROOT);
}

bool samePath(const std::wstring& a, const std::wstring& b) { return _wcsicmp(a.c_str(), b.c_str()) == 0; }

void registersAndUnregisters(dll::Module& m) {
  // Another add-in's record shares the list and must survive us.
  HKEY other = nullptr;
  RegCreateKeyExW(HKEY_CURRENT_USER, (OwnList + L"\\Other.Connect").c_str(), 0, nullptr, 0, KEY_WRITE, nullptr,
                  &other, nullptr);
  RegCloseKey(other);

  CHECK_HR(m.registerServer(), S_OK);
  CHECK(value(ClassKey, nullptr) == L"VBATessary.Connect");
  CHECK(samePath(value(ClassKey + L"\\InprocServer32", nullptr), dll::path()));
  CHECK(value(ClassKey + L"\\InprocServer32", L"ThreadingModel") == L"Apartment");
  CHECK(value(ClassKey + L"\\ProgID", nullptr) == L"VBATessary.Connect");
  CHECK(value(ClassKey + L"\\TypeLib", nullptr) == LibId);
  CHECK(value(ProgIdKey + L"\\CLSID", nullptr) == Clsid);

  DWORD type = 0;
  CHECK(value(AddinKey, L"FriendlyName", &type) == L"vba Tessary Ver. 1.01");
  CHECK_EQ(type, static_cast<DWORD>(REG_SZ));
  CHECK(value(AddinKey, L"Description", &type) ==
        L"for advance vba functionality - adds buttons for open\\close of modules\\projects.\r\n"
        L"by Brenwick \r\nvba Tessary project");
  CHECK_EQ(type, static_cast<DWORD>(REG_SZ));
  CHECK(value(AddinKey, L"LoadBehavior", &type) == L"3");
  CHECK_EQ(type, static_cast<DWORD>(REG_DWORD));
  CHECK(!keyExists(OtherList + L"\\VBATessary.Connect"));

  std::wstring libPath;
  CHECK(typeLibraryRegistered(&libPath));
  CHECK(samePath(libPath, dll::path()));

  // Registering twice is harmless.
  CHECK_HR(m.registerServer(), S_OK);

  CHECK_HR(m.unregisterServer(), S_OK);
  CHECK(nothingRegistered());
  CHECK(keyExists(OwnList + L"\\Other.Connect"));
  CHECK(keyExists(L"Software\\Classes\\CLSID"));
  CHECK_HR(m.unregisterServer(), S_OK);
  RegDeleteTreeW(HKEY_CURRENT_USER, (OwnList + L"\\Other.Connect").c_str());
}

// A list key that takes no lasting subkeys makes the last step fail: everything written before
// it must be taken back.
void failedRegistrationLeavesNothing(dll::Module& m) {
  RegDeleteTreeW(HKEY_CURRENT_USER, OwnList.c_str());
  HKEY list = nullptr;
  LSTATUS s = RegCreateKeyExW(HKEY_CURRENT_USER, OwnList.c_str(), 0, nullptr, REG_OPTION_VOLATILE, KEY_WRITE,
                              nullptr, &list, nullptr);
  CHECK_EQ(s, ERROR_SUCCESS);
  RegCloseKey(list);
  HRESULT hr = m.registerServer();
  CHECK(FAILED(hr));
  CHECK(nothingRegistered());
  CHECK(keyExists(OwnList));
  RegDeleteTreeW(HKEY_CURRENT_USER, OwnList.c_str());
}

void setString(const std::wstring& path, const wchar_t* name, const std::wstring& text, HKEY root = HKEY_CURRENT_USER,
               REGSAM view = 0) {
  HKEY k = nullptr;
  LSTATUS s = RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_SET_VALUE | view, nullptr, &k, nullptr);
  CHECK_EQ(s, ERROR_SUCCESS);
  if (s != ERROR_SUCCESS) return;
  RegSetValueExW(k, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                 static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
  RegCloseKey(k);
}

// The view is chosen when a path is opened: the parent is opened in it, the leaf removed from there.
void removeTree(const std::wstring& path, HKEY root = HKEY_CURRENT_USER, REGSAM view = 0) {
  const size_t cut = path.find_last_of(L'\\');
  HKEY parent = nullptr;
  if (RegOpenKeyExW(root, path.substr(0, cut).c_str(), 0, KEY_ALL_ACCESS | view, &parent) != ERROR_SUCCESS) return;
  RegDeleteTreeW(parent, path.substr(cut + 1).c_str());
  RegCloseKey(parent);
}

// Whether the system has a 64-bit view besides the 32-bit one (32-bit Windows has just the one).
bool windows64() {
  BOOL wow64 = FALSE;
  return sizeof(void*) == 8 || (IsWow64Process(GetCurrentProcess(), &wow64) && wow64);
}

// Whether a class key written into the other bitness's view stays out of ours.
bool viewsApart() {
  const std::wstring probe = L"Software\\Classes\\CLSID\\{6E0C37A2-5B1D-4F7E-9C3A-2D8B41F0A915}";
  setString(probe, nullptr, L"probe", HKEY_CURRENT_USER, OtherView);
  bool apart = !keyExists(probe);
  removeTree(probe, HKEY_CURRENT_USER, OtherView);
  removeTree(probe);
  return apart;
}

// Keys as the other bitness's DllRegisterServer writes them: its class key in its own view, the
// shared ProgID key, its record in its list.
void registerOther() {
  setString(ClassKey, nullptr, L"VBATessary.Connect", HKEY_CURRENT_USER, OtherView);
  setString(ClassKey + L"\\InprocServer32", nullptr, OtherDll, HKEY_CURRENT_USER, OtherView);
  setString(ClassKey + L"\\InprocServer32", L"ThreadingModel", L"Apartment", HKEY_CURRENT_USER, OtherView);
  setString(ClassKey + L"\\ProgID", nullptr, L"VBATessary.Connect", HKEY_CURRENT_USER, OtherView);
  setString(ClassKey + L"\\TypeLib", nullptr, LibId, HKEY_CURRENT_USER, OtherView);
  setString(ProgIdKey, nullptr, L"VBATessary.Connect");
  setString(ProgIdKey + L"\\CLSID", nullptr, Clsid);
  setString(OtherAddinKey, L"FriendlyName", L"vba Tessary Ver. 1.01");
}

// Its type library entry goes next to ours, wherever this system keeps per-user type libraries.
void registerOtherLibrary() { setString(OtherLibraryEntry, nullptr, OtherDll, HKEY_CLASSES_ROOT); }

bool otherIntact() {
  return value(ClassKey, nullptr, nullptr, HKEY_CURRENT_USER, OtherView) == L"VBATessary.Connect" &&
         value(ClassKey + L"\\InprocServer32", nullptr, nullptr, HKEY_CURRENT_USER, OtherView) == OtherDll &&
         value(ClassKey + L"\\InprocServer32", L"ThreadingModel", nullptr, HKEY_CURRENT_USER, OtherView) ==
             L"Apartment" &&
         value(ClassKey + L"\\ProgID", nullptr, nullptr, HKEY_CURRENT_USER, OtherView) == L"VBATessary.Connect" &&
         value(ClassKey + L"\\TypeLib", nullptr, nullptr, HKEY_CURRENT_USER, OtherView) == LibId &&
         value(OtherAddinKey, L"FriendlyName") == L"vba Tessary Ver. 1.01";
}

// What the other bitness's editor needs from the shared keys.
bool sharedIntact() {
  return value(ProgIdKey + L"\\CLSID", nullptr) == Clsid &&
         value(OtherLibraryEntry, nullptr, nullptr, HKEY_CLASSES_ROOT) == OtherDll &&
         value(InterfaceKey + L"\\TypeLib", nullptr, nullptr, HKEY_CLASSES_ROOT) == LibId;
}

void removeOther() {
  removeTree(ClassKey, HKEY_CURRENT_USER, OtherView);
  removeTree(OtherAddinKey);
  removeTree(OtherLibraryEntry, HKEY_CLASSES_ROOT);
}

// Both bitnesses registered: unregistering (or failing to register) ours takes only what is ours.
void sideBySide(dll::Module& m) {
  registerOther();
  CHECK_HR(m.registerServer(), S_OK);
  CHECK(samePath(value(ClassKey + L"\\InprocServer32", nullptr), dll::path()));
  CHECK(keyExists(OwnLibraryEntry, HKEY_CLASSES_ROOT));
  CHECK(otherIntact());
  registerOtherLibrary();

  CHECK_HR(m.unregisterServer(), S_OK);
  CHECK(!keyExists(ClassKey));
  CHECK(!keyExists(AddinKey));
  CHECK(!keyExists(OwnLibraryEntry, HKEY_CLASSES_ROOT));
  CHECK(otherIntact());
  CHECK(sharedIntact());

  // A list key that takes no lasting subkeys fails our registration after the type library.
  RegDeleteTreeW(HKEY_CURRENT_USER, OwnList.c_str());
  HKEY list = nullptr;
  CHECK_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, OwnList.c_str(), 0, nullptr, REG_OPTION_VOLATILE, KEY_WRITE, nullptr,
                           &list, nullptr),
           ERROR_SUCCESS);
  RegCloseKey(list);
  CHECK(FAILED(m.registerServer()));
  CHECK(!keyExists(ClassKey));
  CHECK(!keyExists(OwnLibraryEntry, HKEY_CLASSES_ROOT));
  CHECK(otherIntact());
  CHECK(sharedIntact());
  RegDeleteTreeW(HKEY_CURRENT_USER, OwnList.c_str());

  // The other one gone, ours takes the shared keys with it.
  removeOther();
  CHECK_HR(m.registerServer(), S_OK);
  CHECK_HR(m.unregisterServer(), S_OK);
  CHECK(nothingRegistered());
}

// Where the two views are one (32-bit Windows), the class key the other bitness would write is
// ours: unregistering takes everything.
void oneView(dll::Module& m) {
  registerOther();
  CHECK_HR(m.registerServer(), S_OK);
  CHECK_HR(m.unregisterServer(), S_OK);
  CHECK(nothingRegistered());
  removeOther();
}

DWORD run(const std::wstring& commandLine) {
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  std::wstring line = commandLine;
  if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return 0xFFFFFFFF;
  WaitForSingleObject(pi.hProcess, 30000);
  DWORD code = 0xFFFFFFFF;
  GetExitCodeProcess(pi.hProcess, &code);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return code;
}

void regsvr32() {
  CHECK_EQ(run(L"regsvr32.exe /s \"" + dll::path() + L"\""), 0u);
  CHECK(keyExists(AddinKey));
  CHECK(keyExists(ClassKey + L"\\InprocServer32"));
  CHECK(typeLibraryRegistered());
  CHECK_EQ(run(L"regsvr32.exe /u /s \"" + dll::path() + L"\""), 0u);
  CHECK(nothingRegistered());
}

}  // namespace

int main() {
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  {
    dll::Module m;
    CHECK(m.loaded());
    if (m.loaded()) {
      m.unregisterServer();
      registersAndUnregisters(m);
      failedRegistrationLeavesNothing(m);
    }
  }
  regsvr32();
  {
    // Wine keeps one view of HKCU's classes for both bitnesses until a Wow6432Node key exists
    // under them; it then sends the 32-bit view there, as Windows does with CLSID.
    const std::wstring node = L"Software\\Classes\\Wow6432Node";
    bool madeNode = false;
    if (!viewsApart() && windows64() && !keyExists(node, HKEY_CURRENT_USER, KEY_WOW64_64KEY)) {
      setString(node, nullptr, L"", HKEY_CURRENT_USER, KEY_WOW64_64KEY);
      madeNode = true;
    }
    dll::Module m;
    if (m.loaded()) {
      if (viewsApart()) sideBySide(m);
      else oneView(m);
    }
    if (madeNode) removeTree(node, HKEY_CURRENT_USER, KEY_WOW64_64KEY);
    CHECK(!keyExists(OtherAddinKey));
  }
  CoUninitialize();
  return check::finish("registration");
}
