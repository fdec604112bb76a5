#include <windows.h>
#include <oleauto.h>

#include <initializer_list>
#include <new>
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

// On 64-bit Windows each bitness has its own view of the per-user class keys; the ProgID, the
// type library and the add-in lists are seen by both.
#ifdef _WIN64
constexpr const char* AddinsList = "\\Addins64\\";
constexpr SYSKIND LibrarySyskind = SYS_WIN64;
constexpr const char* SyskindName = "win64";
constexpr REGSAM OtherView = KEY_WOW64_32KEY;
#else
constexpr const char* AddinsList = "\\Addins\\";
constexpr SYSKIND LibrarySyskind = SYS_WIN32;
constexpr const char* SyskindName = "win32";
constexpr REGSAM OtherView = KEY_WOW64_64KEY;
#endif

constexpr const char* Classes = "Software\\Classes\\";

// A key path joined from ASCII parts in a fixed buffer: taking a registration back allocates
// nothing, so it can neither throw nor stop half-way.
class Path {
 public:
  Path(std::initializer_list<const char*> parts) noexcept {
    size_t n = 0;
    for (const char* part : parts)
      for (; *part && ok_; ++part) {
        if (n + 1 == Capacity) ok_ = false;
        else text_[n++] = static_cast<unsigned char>(*part);
      }
    text_[ok_ ? n : 0] = L'\0';  // a path that does not fit is never used
  }
  const wchar_t* get() const noexcept { return text_; }
  bool ok() const noexcept { return ok_; }

 private:
  static constexpr size_t Capacity = 160;
  wchar_t text_[Capacity];
  bool ok_ = true;
};

// Everything registration writes lives under these keys of HKCU (and the type library's).
Path classKey(const char* sub = "") noexcept { return {Classes, "CLSID\\", id::ConnectClsid, sub}; }
Path progIdKey(const char* sub = "") noexcept { return {Classes, id::ProgId, sub}; }
Path addinKey() noexcept { return {id::AddinsRoot, AddinsList, id::ProgId}; }
// Our own part of the type library registration, relative to a classes root.
Path ownLibraryKey(const char* root) noexcept {
  return {root, "TypeLib\\", id::LibId, "\\1.0\\0\\", SyskindName};
}

LSTATUS create(const Path& key, HKEY* k) {
  if (!key.ok()) return ERROR_INSUFFICIENT_BUFFER;
  return RegCreateKeyExW(HKEY_CURRENT_USER, key.get(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE,
                         nullptr, k, nullptr);
}

LSTATUS setValue(const Path& key, const wchar_t* name, DWORD type, const void* data, DWORD size) {
  HKEY k = nullptr;
  LSTATUS s = create(key, &k);
  if (s != ERROR_SUCCESS) return s;
  s = RegSetValueExW(k, name, 0, type, static_cast<const BYTE*>(data), size);
  RegCloseKey(k);
  return s;
}

LSTATUS setString(const Path& key, const wchar_t* name, const std::wstring& value) {
  return setValue(key, name, REG_SZ, value.c_str(), static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

LSTATUS setDword(const Path& key, const wchar_t* name, DWORD value) {
  return setValue(key, name, REG_DWORD, &value, sizeof value);
}

bool absent(LSTATUS s) noexcept { return s == ERROR_FILE_NOT_FOUND || s == ERROR_PATH_NOT_FOUND; }

// Removes one of our own keys with everything below it; its parent stays.
LSTATUS removeTree(HKEY root, const Path& key) noexcept {
  if (!key.ok()) return ERROR_INSUFFICIENT_BUFFER;
  LSTATUS s = RegDeleteTreeW(root, key.get());
  return absent(s) ? ERROR_SUCCESS : s;
}

LSTATUS openStatus(HKEY root, const Path& key, REGSAM view) noexcept {
  if (!key.ok()) return ERROR_INSUFFICIENT_BUFFER;
  HKEY k = nullptr;
  LSTATUS s = RegOpenKeyExW(root, key.get(), 0, KEY_QUERY_VALUE | view, &k);
  if (s == ERROR_SUCCESS) RegCloseKey(k);
  return s;
}

// Whether the other bitness's DLL is registered for this user. Where the two views are one
// (32-bit Windows) this would find our own class key, so it is asked only once that key is gone.
// Unsure counts as registered: keys left behind harm nobody, keys taken away break its editor.
bool otherViewRegistered() noexcept {
  return !absent(openStatus(HKEY_CURRENT_USER, classKey("\\InprocServer32"), OtherView));
}

// Where this bitness's entry of the type library is, or null: RegisterTypeLibForUser writes under
// HKCU's classes; Wine writes machine-wide instead, which the merged classes root shows.
HKEY ownLibraryRoot() noexcept {
  if (openStatus(HKEY_CURRENT_USER, ownLibraryKey(Classes), 0) == ERROR_SUCCESS) return HKEY_CURRENT_USER;
  if (openStatus(HKEY_CLASSES_ROOT, ownLibraryKey(""), 0) == ERROR_SUCCESS) return HKEY_CLASSES_ROOT;
  return nullptr;
}

HRESULT unregisterAll() noexcept {
  HRESULT result = S_OK;
  auto keep = [&](LSTATUS s) {
    if (s != ERROR_SUCCESS && SUCCEEDED(result)) result = HRESULT_FROM_WIN32(s);
  };
  keep(removeTree(HKEY_CURRENT_USER, addinKey()));
  keep(removeTree(HKEY_CURRENT_USER, classKey()));
  const HKEY library = ownLibraryRoot();
  if (otherViewRegistered()) {
    // The other bitness's editor still loads the add-in through the shared keys: only this
    // bitness's entry of the type library goes, its other entries and interfaces stay.
    if (library) keep(removeTree(library, ownLibraryKey(library == HKEY_CURRENT_USER ? Classes : "")));
    return result;
  }
  if (library) {
    HRESULT hr = UnRegisterTypeLibForUser(win32::iids::Library, 1, 0, 0, LibrarySyskind);
    if (FAILED(hr) && SUCCEEDED(result)) result = hr;
  }
  keep(removeTree(HKEY_CURRENT_USER, progIdKey()));
  return result;
}

HRESULT registerAll() {
  const std::wstring path = modulePath();
  if (path.empty()) return HRESULT_FROM_WIN32(GetLastError());
  const std::wstring clsid = win32::widen(id::ConnectClsid);
  const std::wstring progId = win32::widen(id::ProgId);
  const std::wstring libId = win32::widen(id::LibId);

  for (LSTATUS s : {setString(classKey(), nullptr, progId),
                    setString(classKey("\\InprocServer32"), nullptr, path),
                    setString(classKey("\\InprocServer32"), L"ThreadingModel", L"Apartment"),
                    setString(classKey("\\ProgID"), nullptr, progId),
                    setString(classKey("\\TypeLib"), nullptr, libId),
                    setString(progIdKey(), nullptr, progId),
                    setString(progIdKey("\\CLSID"), nullptr, clsid)})
    if (s != ERROR_SUCCESS) return HRESULT_FROM_WIN32(s);

  win32::ComPtr<ITypeLib> lib;
  HRESULT hr = LoadTypeLibEx(path.c_str(), REGKIND_NONE, lib.put());
  // HELPDIR is shared by both bitnesses. Left to itself, Wine's oleaut32 fills it only when it
  // creates the library's key (the first bitness registered wins); named, it is written each
  // time, so the last registration decides on every platform, as the installers expect.
  std::wstring helpDir = path.substr(0, path.find_last_of(L'\\'));
  if (SUCCEEDED(hr)) hr = RegisterTypeLibForUser(lib.get(), const_cast<OLECHAR*>(path.c_str()), helpDir.data());
  if (FAILED(hr)) return hr;

  const Path addin = addinKey();
  for (LSTATUS s : {setString(addin, L"FriendlyName", win32::widen(id::FriendlyName)),
                    setString(addin, L"Description", win32::widen(id::Description)),
                    setDword(addin, L"LoadBehavior", id::LoadBehavior)})
    if (s != ERROR_SUCCESS) return HRESULT_FROM_WIN32(s);
  return S_OK;
}

}  // namespace

}  // namespace tessary

extern "C" HRESULT STDAPICALLTYPE DllRegisterServer() {
  HRESULT hr = E_UNEXPECTED;
  try {
    hr = tessary::registerAll();
  } catch (const std::bad_alloc&) {
    hr = E_OUTOFMEMORY;
  } catch (...) {
    hr = E_UNEXPECTED;
  }
  // Nothing half-written: a failed registration takes back all of it (outside the try: taking
  // back cannot throw, and a failure is reported as itself).
  if (FAILED(hr)) tessary::unregisterAll();
  return hr;
}

extern "C" HRESULT STDAPICALLTYPE DllUnregisterServer() { return tessary::unregisterAll(); }
