#include <windows.h>
#include <oleauto.h>

#include <cstdio>

#include "dispatch_server.h"
#include "iids.h"
#include "testbed.h"
#include "text.h"

namespace testbed {

namespace {

using Entry = HRESULT(STDAPICALLTYPE*)();

const GUID VbideLibrary = {0x0002E157, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const GUID OfficeLibrary = {0x2DF8D04C, 0x5BFA, 0x101B, {0xBD, 0xE5, 0x00, 0xAA, 0x00, 0x44, 0xDE, 0x52}};

SYSKIND syskind() { return sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32; }

std::string hex(HRESULT hr) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%08lX", static_cast<unsigned long>(hr));
  return buf;
}

std::wstring directoryOf(const std::wstring& path) { return path.substr(0, path.find_last_of(L"\\/") + 1); }

}  // namespace

std::wstring besideProgram(const wchar_t* name) {
  wchar_t path[MAX_PATH];
  DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
  return directoryOf(std::wstring(path, n)) + name;
}

void pumpMessages() {
  int quiet = 0;
  while (quiet < 3) {
    MSG m;
    bool any = false;
    while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&m);
      DispatchMessageW(&m);
      any = true;
    }
    if (any || GetQueueStatus(QS_ALLINPUT) != 0) {
      quiet = 0;
    } else {
      ++quiet;
      MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
    }
  }
}

Addin::Addin(std::wstring dllPath) : path_(std::move(dllPath)) {
  module_ = LoadLibraryW(path_.c_str());
  if (!module_) {
    problem_ = "cannot load " + win32::narrow(path_);
    return;
  }
  auto registerServer = reinterpret_cast<Entry>(reinterpret_cast<void*>(GetProcAddress(module_, "DllRegisterServer")));
  if (!registerServer) {
    problem_ = "no DllRegisterServer";
    return;
  }
  HRESULT hr = registerServer();
  if (FAILED(hr)) {
    problem_ = "DllRegisterServer failed: " + hex(hr);
    return;
  }
  registered_ = true;

  // Wine does not merge per-user classes into HKCR.
  std::wstring clsid = win32::guidText(win32::iids::ConnectClass);
  for (std::wstring key : {L"Software\\Classes\\CLSID\\" + clsid, std::wstring(L"Software\\Classes\\VBATessary.Connect")}) {
    HKEY from = nullptr, to = nullptr;
    LSTATUS s = RegOpenKeyExW(HKEY_CURRENT_USER, key.c_str(), 0, KEY_READ, &from);
    if (s == ERROR_SUCCESS)
      s = RegCreateKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &to, nullptr);
    if (s == ERROR_SUCCESS) machineCopies_.push_back(key);
    if (s == ERROR_SUCCESS) s = RegCopyTreeW(from, nullptr, to);
    if (from) RegCloseKey(from);
    if (to) RegCloseKey(to);
    if (s != ERROR_SUCCESS) {
      problem_ = "cannot copy " + win32::narrow(key) + " to HKLM";
      return;
    }
  }

  // DispInvoke needs the libraries the add-in's type library imports.
  standins_ = true;
  for (const wchar_t* file : {L"VBEEXT1.OLB", L"MSO97.DLL"}) {
    std::wstring lib = directoryOf(path_) + file;
    win32::ComPtr<ITypeLib> tlb;
    hr = LoadTypeLibEx(lib.c_str(), REGKIND_NONE, tlb.put());
    if (SUCCEEDED(hr)) hr = RegisterTypeLib(tlb.get(), const_cast<OLECHAR*>(lib.c_str()), nullptr);
    if (FAILED(hr)) {
      problem_ = "cannot register " + win32::narrow(lib) + ": " + hex(hr);
      return;
    }
  }
}

Addin::~Addin() {
  release();
  if (standins_) {
    UnRegisterTypeLib(VbideLibrary, 5, 0, 0, syskind());
    UnRegisterTypeLib(OfficeLibrary, 2, 0, 0, syskind());
  }
  for (const auto& key : machineCopies_) RegDeleteTreeW(HKEY_LOCAL_MACHINE, key.c_str());
  if (registered_)
    if (auto unregister = reinterpret_cast<Entry>(reinterpret_cast<void*>(GetProcAddress(module_, "DllUnregisterServer"))))
      unregister();
  CoFreeUnusedLibraries();
  if (module_) FreeLibrary(module_);
}

HRESULT Addin::create() {
  release();
  if (!ready()) return E_UNEXPECTED;
  CLSID clsid{};
  HRESULT hr = CLSIDFromProgID(L"VBATessary.Connect", &clsid);
  if (FAILED(hr)) return hr;
  hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, win32::iids::IDTExtensibility2, addin_.putVoid());
  if (SUCCEEDED(hr) && !addin_) hr = E_NOINTERFACE;
  return hr;
}

HRESULT Addin::connect(IDispatch* application, int mode) {
  if (!addin_) {
    HRESULT hr = create();
    if (FAILED(hr)) return hr;
  }
  return addin_->OnConnection(application, mode, nullptr, nullptr);
}

HRESULT Addin::connect(const automation::Object& application, int mode) {
  auto server = win32::makeDispatchServer(application);
  return connect(server.get(), mode);
}

HRESULT Addin::disconnect(int mode) {
  if (!addin_) return E_UNEXPECTED;
  return addin_->OnDisconnection(mode, nullptr);
}

void Addin::release() { addin_.reset(); }

std::optional<bool> Addin::formDisplayed() const {
  auto d = win32::ComPtr<IUnknown>(addin_.get()).query<IDispatch>(win32::iids::Connect);
  LPOLESTR name[] = {const_cast<LPOLESTR>(L"FormDisplayed")};
  DISPID id = 0;
  if (!d || FAILED(d->GetIDsOfNames(IID_NULL, name, 1, 0, &id))) return std::nullopt;
  VARIANT r;
  VariantInit(&r);
  DISPPARAMS none{};
  if (FAILED(d->Invoke(id, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &r, nullptr, nullptr)) || V_VT(&r) != VT_BOOL) {
    VariantClear(&r);
    return std::nullopt;
  }
  return V_BOOL(&r) != VARIANT_FALSE;
}

}  // namespace testbed
