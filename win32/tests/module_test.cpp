// Class creation, module lifetime and the resources of vbatessary.dll.
#include <windows.h>
#include <oleauto.h>

#include <cstring>
#include <vector>

#include "com_ptr.h"
#include "dll.h"
#include "extensibility.h"
#include "iids.h"
#include "text.h"

using win32::ComPtr;

namespace {

void classFactory(dll::Module& m) {
  ComPtr<IClassFactory> factory;
  const CLSID other = {0xBF58B135, 0x96A1, 0x4809, {0xBA, 0x5C, 0x8B, 0x96, 0x37, 0xE5, 0x6D, 0xAC}};
  CHECK_HR(m.getClassObject(other, IID_IClassFactory, factory.putVoid()), CLASS_E_CLASSNOTAVAILABLE);
  CHECK(!factory);
  CHECK_HR(m.canUnloadNow(), S_OK);

  CHECK_HR(m.getClassObject(win32::iids::ConnectClass, IID_IClassFactory, factory.putVoid()), S_OK);
  if (!factory) return;
  ComPtr<IUnknown> object;
  CHECK_HR(factory->CreateInstance(nullptr, IID_IUnknown, object.putVoid()), S_OK);
  ComPtr<IUnknown> aggregated;
  CHECK_HR(factory->CreateInstance(object.get(), IID_IUnknown, aggregated.putVoid()), CLASS_E_NOAGGREGATION);
  factory.reset();
  CHECK_HR(m.canUnloadNow(), S_FALSE);
  if (!object) return;

  // One object, three faces, one identity.
  auto connect = object.query<IDispatch>(win32::iids::Connect);
  auto extensibility = object.query<IDTExtensibility2>(win32::iids::IDTExtensibility2);
  auto dispatch = object.query<IDispatch>(IID_IDispatch);
  CHECK(connect && extensibility && dispatch);
  CHECK(connect.get() == dispatch.get());
  if (extensibility) CHECK(extensibility.query<IUnknown>(IID_IUnknown).get() == object.get());
  CHECK(!object.query<IUnknown>(IID_IClassFactory));

  // The dual interface answers by name through the embedded type library.
  if (dispatch) {
    UINT count = 0;
    CHECK_HR(dispatch->GetTypeInfoCount(&count), S_OK);
    CHECK_EQ(count, 1u);
    LPOLESTR names[] = {const_cast<LPOLESTR>(L"btncaption"), const_cast<LPOLESTR>(L"formdisplayed")};
    DISPID ids[2] = {};
    CHECK_HR(dispatch->GetIDsOfNames(IID_NULL, names, 1, 0, &ids[0]), S_OK);
    CHECK_HR(dispatch->GetIDsOfNames(IID_NULL, names + 1, 1, 0, &ids[1]), S_OK);
    CHECK_EQ(ids[0], 0x40030002);
    CHECK_EQ(ids[1], 0x40030003);

    VARIANT value;
    V_VT(&value) = VT_BSTR;
    V_BSTR(&value) = SysAllocString(L"Open \u00c9");
    DISPID put = DISPID_PROPERTYPUT;
    DISPPARAMS params{&value, &put, 1, 1};
    CHECK_HR(dispatch->Invoke(ids[0], IID_NULL, 0, DISPATCH_PROPERTYPUT, &params, nullptr, nullptr, nullptr), S_OK);
    VariantClear(&value);
    VARIANT result;
    VariantInit(&result);
    DISPPARAMS none{};
    CHECK_HR(dispatch->Invoke(ids[0], IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &result, nullptr, nullptr), S_OK);
    CHECK(V_VT(&result) == VT_BSTR && wcscmp(V_BSTR(&result), L"Open \u00c9") == 0);
    VariantClear(&result);
    CHECK_HR(dispatch->Invoke(ids[1], IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &result, nullptr, nullptr), S_OK);
    CHECK(V_VT(&result) == VT_BOOL && V_BOOL(&result) == VARIANT_FALSE);

    // A failing method: the description travels in EXCEPINFO (no editor is connected yet).
    LPOLESTR toolbar[] = {const_cast<LPOLESTR>(L"ToolbarAdd")};
    DISPID id = 0;
    CHECK_HR(dispatch->GetIDsOfNames(IID_NULL, toolbar, 1, 0, &id), S_OK);
    EXCEPINFO info{};
    CHECK_HR(dispatch->Invoke(id, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr, &info, nullptr), DISP_E_EXCEPTION);
    CHECK(info.bstrDescription && SysStringLen(info.bstrDescription) > 0);
    CHECK(info.scode == static_cast<SCODE>(0x800A005B));  // 91: no editor to work on
    SysFreeString(info.bstrDescription);
    SysFreeString(info.bstrSource);
    SysFreeString(info.bstrHelpFile);
  }

  // OnAddInsUpdate & co. do nothing and succeed; dispids 1..5 work through IDispatch as well.
  if (extensibility) {
    CHECK_HR(extensibility->OnStartupComplete(nullptr), S_OK);
    LPOLESTR name[] = {const_cast<LPOLESTR>(L"OnBeginShutdown")};
    DISPID id = 0;
    CHECK_HR(extensibility->GetIDsOfNames(IID_NULL, name, 1, 0, &id), S_OK);
    CHECK_EQ(id, 5);
    VARIANT custom;
    VariantInit(&custom);
    DISPPARAMS one{&custom, nullptr, 1, 0};
    CHECK_HR(extensibility->Invoke(5, IID_NULL, 0, DISPATCH_METHOD, &one, nullptr, nullptr, nullptr), S_OK);
  }

  connect.reset();
  extensibility.reset();
  dispatch.reset();
  CHECK_HR(m.canUnloadNow(), S_FALSE);
  object.reset();
  CHECK_HR(m.canUnloadNow(), S_OK);

  // A lock keeps the module too.
  CHECK_HR(m.getClassObject(win32::iids::ConnectClass, IID_IClassFactory, factory.putVoid()), S_OK);
  if (factory) {
    factory->LockServer(TRUE);
    factory.reset();
    CHECK_HR(m.canUnloadNow(), S_FALSE);
    CHECK_HR(m.getClassObject(win32::iids::ConnectClass, IID_IClassFactory, factory.putVoid()), S_OK);
    factory->LockServer(FALSE);
    factory.reset();
    CHECK_HR(m.canUnloadNow(), S_OK);
  }
}

std::wstring versionString(const std::vector<BYTE>& block, const wchar_t* name) {
  std::wstring query = L"\\StringFileInfo\\040904B0\\" + std::wstring(name);
  wchar_t* text = nullptr;
  UINT length = 0;
  if (!VerQueryValueW(block.data(), query.c_str(), reinterpret_cast<void**>(&text), &length)) return L"<absent>";
  return std::wstring(text, length && text[length - 1] == 0 ? length - 1 : length);
}

void resources() {
  std::wstring path = dll::path();
  DWORD size = GetFileVersionInfoSizeW(path.c_str(), nullptr);
  CHECK(size > 0);
  std::vector<BYTE> block(size);
  CHECK(GetFileVersionInfoW(path.c_str(), 0, size, block.data()));
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  CHECK(VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
  if (fixed) {
    CHECK_EQ(fixed->dwFileVersionMS, 0x00010000u);
    CHECK_EQ(fixed->dwFileVersionLS, 0u);
    CHECK_EQ(fixed->dwProductVersionMS, 0x00010000u);
    CHECK_EQ(fixed->dwProductVersionLS, 0u);
    CHECK_EQ(fixed->dwFileFlags, 0u);
    CHECK_EQ(fixed->dwFileOS, 4u);
    CHECK_EQ(fixed->dwFileType, 2u);
  }
  CHECK(versionString(block, L"CompanyName") == L"vba Tessary project");
  CHECK(versionString(block, L"ProductName") == L"VBA Tessary");
  CHECK(versionString(block, L"FileVersion") == L"1.00");
  CHECK(versionString(block, L"ProductVersion") == L"1.00");
  CHECK(versionString(block, L"InternalName") == L"vbatessary");
  CHECK(versionString(block, L"OriginalFilename") == L"vbatessary.dll");
  CHECK(versionString(block, L"OLESelfRegister") == L"");
  WORD* translation = nullptr;
  CHECK(VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation), &length));
  if (translation && length >= 4) {
    CHECK_EQ(translation[0], 0x0409);
    CHECK_EQ(translation[1], 1200);
  }

  HMODULE data = LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  CHECK(data != nullptr);
  if (!data) return;
  HRSRC iid = FindResourceExW(data, L"_IID_CONNECT", MAKEINTRESOURCEW(1), MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL));
  CHECK(iid != nullptr);
  if (iid) {
    CHECK_EQ(SizeofResource(data, iid), 20u);
    const BYTE* bytes = static_cast<const BYTE*>(LockResource(LoadResource(data, iid)));
    DWORD length16 = 0;
    std::memcpy(&length16, bytes, 4);
    CHECK_EQ(length16, 16u);
    GUID stored;
    std::memcpy(&stored, bytes + 4, 16);
    CHECK(IsEqualGUID(stored, win32::iids::Connect));
  }
  CHECK(FindResourceExW(data, L"TYPELIB", MAKEINTRESOURCEW(1), MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL)) != nullptr);
  CHECK(FindResourceExW(data, MAKEINTRESOURCEW(16), MAKEINTRESOURCEW(1), MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US)) != nullptr);
  FreeLibrary(data);
}

}  // namespace

int main() {
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  dll::Module m;
  CHECK(m.loaded());
  if (m.loaded()) classFactory(m);
  resources();
  CoUninitialize();
  return check::finish("module");
}
