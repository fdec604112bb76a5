// DllRegisterServer / DllUnregisterServer write and remove exactly the per-user keys of the add-in.
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

bool keyExists(const std::wstring& path) {
  HKEY k = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &k) != ERROR_SUCCESS) return false;
  RegCloseKey(k);
  return true;
}

// Value text, or "<absent>"; `type` receives the registry type.
std::wstring value(const std::wstring& path, const wchar_t* name, DWORD* type = nullptr) {
  wchar_t data[1024];
  DWORD size = sizeof data, t = 0;
  if (RegGetValueW(HKEY_CURRENT_USER, path.c_str(), name, RRF_RT_ANY, &t, data, &size) != ERROR_SUCCESS)
    return L"<absent>";
  if (type) *type = t;
  if (t == REG_DWORD) {
    DWORD number = 0;
    std::memcpy(&number, data, sizeof number);
    return std::to_wstring(number);
  }
  return std::wstring(data, size / sizeof(wchar_t) - (size >= sizeof(wchar_t) ? 1 : 0));
}

bool typeLibraryRegistered(std::wstring* path = nullptr) {
  BSTR p = nullptr;
  HRESULT hr = QueryPathOfRegTypeLib(win32::iids::Library, 1, 0, 0, &p);
  if (SUCCEEDED(hr) && path) *path = p;
  SysFreeString(p);
  return SUCCEEDED(hr);
}

bool nothingRegistered() {
  return !keyExists(ClassKey) && !keyExists(ProgIdKey) && !keyExists(AddinKey) && !typeLibraryRegistered();
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
  CHECK(value(AddinKey, L"LoadBehavior", &type) == L"1");
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
  CoUninitialize();
  return check::finish("registration");
}
