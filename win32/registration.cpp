#include <windows.h>
#include <oleauto.h>

#include <string>

#include "addin/identity.h"
#include "com_ptr.h"
#include "iids.h"
#include "module.h"
#include "text.h"

// Per-user type library registration; oleaut32 exports them, mingw-w64's headers lack them.
extern "C" HRESULT WINAPI RegisterTypeLibForUser(ITypeLib* lib, OLECHAR* path, OLECHAR* helpDir);
extern "C" HRESULT WINAPI UnRegisterTypeLibForUser(REFGUID libid, WORD major, WORD minor, LCID lcid,
                                                   SYSKIND syskind);

namespace tessary {

namespace {

namespace id = addin::identity;

#ifdef _WIN64
constexpr const wchar_t* AddinsList = L"\\Addins64\\";
constexpr SYSKIND LibrarySyskind = SYS_WIN64;
#else
constexpr const wchar_t* AddinsList = L"\\Addins\\";
constexpr SYSKIND LibrarySyskind = SYS_WIN32;
#endif

// Everything registration writes lives under these three per-user keys.
std::wstring classKey() { return L"Software\\Classes\\CLSID\\" + win32::widen(id::ConnectClsid); }
std::wstring progIdKey() { return L"Software\\Classes\\" + win32::widen(id::ProgId); }
std::wstring addinKey() { return win32::widen(id::AddinsRoot) + AddinsList + win32::widen(id::ProgId); }

LSTATUS setString(const std::wstring& key, const wchar_t* name, const std::wstring& value) {
  HKEY k = nullptr;
  LSTATUS s = RegCreateKeyExW(HKEY_CURRENT_USER, key.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                              KEY_SET_VALUE, nullptr, &k, nullptr);
  if (s != ERROR_SUCCESS) return s;
  s = RegSetValueExW(k, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                     static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
  RegCloseKey(k);
  return s;
}

LSTATUS setDword(const std::wstring& key, const wchar_t* name, DWORD value) {
  HKEY k = nullptr;
  LSTATUS s = RegCreateKeyExW(HKEY_CURRENT_USER, key.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                              KEY_SET_VALUE, nullptr, &k, nullptr);
  if (s != ERROR_SUCCESS) return s;
  s = RegSetValueExW(k, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
  RegCloseKey(k);
  return s;
}

// Removes one of our own keys with everything below it; its parent stays.
LSTATUS removeTree(const std::wstring& key) {
  LSTATUS s = RegDeleteTreeW(HKEY_CURRENT_USER, key.c_str());
  return s == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : s;
}

bool typeLibraryRegistered() {
  BSTR path = nullptr;
  HRESULT hr = QueryPathOfRegTypeLib(win32::iids::Library, 1, 0, 0, &path);
  SysFreeString(path);
  return SUCCEEDED(hr);
}

HRESULT unregisterAll() {
  HRESULT result = S_OK;
  auto keep = [&](LSTATUS s) {
    if (s != ERROR_SUCCESS && SUCCEEDED(result)) result = HRESULT_FROM_WIN32(s);
  };
  keep(removeTree(addinKey()));
  if (typeLibraryRegistered()) {
    HRESULT hr = UnRegisterTypeLibForUser(win32::iids::Library, 1, 0, 0, LibrarySyskind);
    if (FAILED(hr) && SUCCEEDED(result)) result = hr;
  }
  keep(removeTree(progIdKey()));
  keep(removeTree(classKey()));
  return result;
}

HRESULT registerAll() {
  const std::wstring path = modulePath();
  if (path.empty()) return HRESULT_FROM_WIN32(GetLastError());
  const std::wstring clsid = win32::widen(id::ConnectClsid);
  const std::wstring progId = win32::widen(id::ProgId);
  const std::wstring libId = win32::widen(id::LibId);

  for (LSTATUS s : {setString(classKey(), nullptr, progId),
                    setString(classKey() + L"\\InprocServer32", nullptr, path),
                    setString(classKey() + L"\\InprocServer32", L"ThreadingModel", L"Apartment"),
                    setString(classKey() + L"\\ProgID", nullptr, progId),
                    setString(classKey() + L"\\TypeLib", nullptr, libId),
                    setString(progIdKey(), nullptr, progId),
                    setString(progIdKey() + L"\\CLSID", nullptr, clsid)})
    if (s != ERROR_SUCCESS) return HRESULT_FROM_WIN32(s);

  win32::ComPtr<ITypeLib> lib;
  HRESULT hr = LoadTypeLibEx(path.c_str(), REGKIND_NONE, lib.put());
  if (SUCCEEDED(hr)) hr = RegisterTypeLibForUser(lib.get(), const_cast<OLECHAR*>(path.c_str()), nullptr);
  if (FAILED(hr)) return hr;

  const std::wstring addin = addinKey();
  for (LSTATUS s : {setString(addin, L"FriendlyName", win32::widen(id::FriendlyName)),
                    setString(addin, L"Description", win32::widen(id::Description)),
                    setDword(addin, L"LoadBehavior", id::LoadBehavior)})
    if (s != ERROR_SUCCESS) return HRESULT_FROM_WIN32(s);
  return S_OK;
}

}  // namespace

}  // namespace tessary

extern "C" HRESULT STDAPICALLTYPE DllRegisterServer() {
  try {
    HRESULT hr = tessary::registerAll();
    // Nothing half-written: a failed registration takes back all of it.
    if (FAILED(hr)) tessary::unregisterAll();
    return hr;
  } catch (...) {
    tessary::unregisterAll();
    return E_UNEXPECTED;
  }
}

extern "C" HRESULT STDAPICALLTYPE DllUnregisterServer() {
  try {
    return tessary::unregisterAll();
  } catch (...) {
    return E_UNEXPECTED;
  }
}
