#include "connect_com.h"

#include "addin/connect.h"
#include "errors.h"
#include "extensibility.h"
#include "iids.h"
#include "module.h"
#include "module_objects.h"
#include "services.h"
#include "text.h"
#include "variant.h"
#include "vbatessary_h.h"

namespace tessary {

using win32::ComPtr;
using win32::guarded;
using automation::Object;
using automation::Value;

namespace {

// Objects handed in through typed parameters are used late-bound like everything else.
Object adopt(IUnknown* p) { return win32::adoptUnknown(p); }

// A member object for a typed out parameter: the interface asked for when the object has it,
// else its IDispatch (the stand-in interfaces add nothing to it).
template <class I>
void hand(const Object& object, const IID& iid, I** out) {
  *out = nullptr;
  ComPtr<IDispatch> d = win32::exposeObject(object);
  if (!d) return;
  ComPtr<IUnknown> typed;
  if (SUCCEEDED(d->QueryInterface(iid, typed.putVoid())) && typed)
    *out = reinterpret_cast<I*>(typed.detach());
  else
    *out = reinterpret_cast<I*>(d.detach());
}

VARIANT_BOOL vb(bool b) { return b ? VARIANT_TRUE : VARIANT_FALSE; }

void writeBack(const Value& v, VARIANT* out) {
  if (V_VT(out) & VT_BYREF) {
    // A by-reference Variant of the caller: store through it.
    if (V_VT(out) == (VT_VARIANT | VT_BYREF)) {
      writeBack(v, V_VARIANTREF(out));
      return;
    }
    return;  // a typed reference cannot take another type; leave it as it was
  }
  win32::Variant fresh;
  win32::toVariant(v, fresh.get());
  VariantClear(out);
  *out = *fresh.get();
  V_VT(fresh.get()) = VT_EMPTY;
}

class ConnectObject;

// IDTExtensibility2 lives on its own vtable: its IDispatch (dispids 1..5) differs from _Connect's.
class Extensibility final : public win32::WithoutTypeInfo<IDTExtensibility2> {
 public:
  explicit Extensibility(ConnectObject& outer) : outer_(outer) {}
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override;
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT* result,
                                   EXCEPINFO* info, UINT* argError) override;
  HRESULT STDMETHODCALLTYPE OnConnection(IDispatch* Application, int ConnectMode, IDispatch*,
                                         SAFEARRAY**) override;
  HRESULT STDMETHODCALLTYPE OnDisconnection(int RemoveMode, SAFEARRAY**) override;
  HRESULT STDMETHODCALLTYPE OnAddInsUpdate(SAFEARRAY**) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnStartupComplete(SAFEARRAY**) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnBeginShutdown(SAFEARRAY**) override { return S_OK; }

 private:
  ConnectObject& outer_;
};

class ConnectObject final : public win32::ComObject<_Connect, ISupportErrorInfo>, private platform::Lifetime {
 public:
  ConnectObject()
      : extensibility_(*this),
        connect_(platform::Services{settings_, messageBox_, keyboard_, hosts_, log_,
                                    win32::ClickEventsOfThisBuild},
                 this) {}

  addin::Connect& core() noexcept { return connect_; }
  win32::RunningObjectLookup& hosts() noexcept { return hosts_; }

  void* interfaceFor(REFIID iid) noexcept override {
    if (IsEqualIID(iid, IID_IDispatch) || IsEqualIID(iid, win32::iids::Connect))
      return static_cast<_Connect*>(this);
    if (IsEqualIID(iid, win32::iids::IDTExtensibility2))
      return static_cast<IDTExtensibility2*>(&extensibility_);
    if (IsEqualIID(iid, IID_ISupportErrorInfo)) return static_cast<ISupportErrorInfo*>(this);
    return nullptr;
  }

  // ISupportErrorInfo
  HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID iid) override {
    return IsEqualIID(iid, win32::iids::Connect) || IsEqualIID(iid, win32::iids::IDTExtensibility2) ? S_OK
                                                                                                    : S_FALSE;
  }

  // IDispatch, driven by the embedded type library.
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* n) override {
    if (!n) return E_POINTER;
    *n = 1;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID, ITypeInfo** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (index != 0) return DISP_E_BADINDEX;
    HRESULT hr = loadTypeInfo();
    if (FAILED(hr)) return hr;
    dispatchInfo_.copyTo(out);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
    if (!names || !ids) return E_POINTER;
    HRESULT hr = loadTypeInfo();
    if (FAILED(hr)) return hr;
    return DispGetIDsOfNames(vtableInfo_.get(), names, count, ids);
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                                   EXCEPINFO* info, UINT* argError) override {
    HRESULT hr = loadTypeInfo();
    if (FAILED(hr)) return hr;
    return DispInvoke(static_cast<_Connect*>(this), vtableInfo_.get(), id, flags, params, result, info,
                      argError);
  }

  // _Connect: member accessors.
  HRESULT STDMETHODCALLTYPE get_VBInstance(VBE** out) override {
    return out ? guarded(win32::iids::Connect, [&] { hand(connect_.VBInstance(), win32::iids::VBE, out); }) : E_POINTER;
  }
  HRESULT STDMETHODCALLTYPE putref_VBInstance(VBE* v) override {
    return guarded(win32::iids::Connect, [&] { connect_.setVBInstance(adopt(v)); });
  }
  HRESULT STDMETHODCALLTYPE get_c(CommandBarControl** out) override {
    return out ? guarded(win32::iids::Connect, [&] { hand(connect_.c(), win32::iids::CommandBarControl, out); })
               : E_POINTER;
  }
  HRESULT STDMETHODCALLTYPE putref_c(CommandBarControl* v) override {
    return guarded(win32::iids::Connect, [&] { connect_.setC(adopt(v)); });
  }
  HRESULT STDMETHODCALLTYPE get_btncaption(BSTR* out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    return guarded(win32::iids::Connect, [&] { *out = win32::Bstr(connect_.btncaption()).detach(); });
  }
  HRESULT STDMETHODCALLTYPE put_btncaption(BSTR v) override {
    return guarded(win32::iids::Connect, [&] { connect_.setBtncaption(win32::narrowBstr(v)); });
  }
  HRESULT STDMETHODCALLTYPE get_FormDisplayed(VARIANT_BOOL* out) override {
    if (!out) return E_POINTER;
    *out = vb(connect_.FormDisplayed());
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE put_FormDisplayed(VARIANT_BOOL v) override {
    connect_.setFormDisplayed(v != VARIANT_FALSE);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_Btns5(CommandBarEvents** out) override { return getBtns(5, out); }
  HRESULT STDMETHODCALLTYPE putref_Btns5(CommandBarEvents* v) override { return setBtns(5, v); }
  HRESULT STDMETHODCALLTYPE get_Btns6(CommandBarEvents** out) override { return getBtns(6, out); }
  HRESULT STDMETHODCALLTYPE putref_Btns6(CommandBarEvents* v) override { return setBtns(6, v); }
  HRESULT STDMETHODCALLTYPE get_CmdReferenceSet(CommandBarEvents** out) override {
    return out ? guarded(win32::iids::Connect, [&] { handEvents(connect_.CmdReferenceSet(), out); }) : E_POINTER;
  }
  HRESULT STDMETHODCALLTYPE putref_CmdReferenceSet(CommandBarEvents* v) override {
    return guarded(win32::iids::Connect, [&] { connect_.setCmdReferenceSet(adopt(reinterpret_cast<IUnknown*>(v))); });
  }
  HRESULT STDMETHODCALLTYPE get_Btns1(CommandBarEvents** out) override { return getBtns(1, out); }
  HRESULT STDMETHODCALLTYPE putref_Btns1(CommandBarEvents* v) override { return setBtns(1, v); }
  HRESULT STDMETHODCALLTYPE get_Btns2(CommandBarEvents** out) override { return getBtns(2, out); }
  HRESULT STDMETHODCALLTYPE putref_Btns2(CommandBarEvents* v) override { return setBtns(2, v); }
  HRESULT STDMETHODCALLTYPE get_Btns3(CommandBarEvents** out) override { return getBtns(3, out); }
  HRESULT STDMETHODCALLTYPE putref_Btns3(CommandBarEvents* v) override { return setBtns(3, v); }
  HRESULT STDMETHODCALLTYPE get_Btns4(CommandBarEvents** out) override { return getBtns(4, out); }
  HRESULT STDMETHODCALLTYPE putref_Btns4(CommandBarEvents* v) override { return setBtns(4, v); }

  // _Connect: methods.
  HRESULT STDMETHODCALLTYPE CmdReferenceSet_Click(IDispatch* cmdbar, VARIANT_BOOL* handled,
                                                  VARIANT_BOOL* CancelDefault) override {
    if (!handled || !CancelDefault) return E_POINTER;
    return guarded(win32::iids::Connect, [&] {
      bool h = *handled != VARIANT_FALSE, c = *CancelDefault != VARIANT_FALSE;
      connect_.CmdReferenceSet_Click(win32::adoptDispatch(cmdbar), h, c);
      *handled = vb(h);
      *CancelDefault = vb(c);
    });
  }
  HRESULT STDMETHODCALLTYPE cmdbarbtnadd(VARIANT* cmdbarname) override {
    return withVariant(cmdbarname, [&](Value& v) { connect_.cmdbarbtnadd(v); });
  }
  HRESULT STDMETHODCALLTYPE cmdbaradd(VARIANT* cmdbarname) override {
    return withVariant(cmdbarname, [&](Value& v) { connect_.cmdbaradd(v); });
  }
  HRESULT STDMETHODCALLTYPE ToolbarAdd() override {
    return guarded(win32::iids::Connect, [&] { connect_.ToolbarAdd(); });
  }
  HRESULT STDMETHODCALLTYPE getappname(BSTR* out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    return guarded(win32::iids::Connect, [&] { *out = win32::Bstr(connect_.getappname()).detach(); });
  }
  HRESULT STDMETHODCALLTYPE closewb() override {
    return guarded(win32::iids::Connect, [&] { connect_.closewb(); });
  }
  HRESULT STDMETHODCALLTYPE UseFileDialogOpen() override {
    return guarded(win32::iids::Connect, [&] { connect_.UseFileDialogOpen(); });
  }
  HRESULT STDMETHODCALLTYPE reflist() override {
    return guarded(win32::iids::Connect, [&] { connect_.reflist(); });
  }
  HRESULT STDMETHODCALLTYPE getwbname(VARIANT* out) override {
    if (!out) return E_POINTER;
    VariantInit(out);
    return guarded(win32::iids::Connect, [&] { win32::toVariant(connect_.getwbname(), out); });
  }
  HRESULT STDMETHODCALLTYPE eventset(CommandBarControl** cmd, CommandBarEvents** out) override {
    if (!cmd || !out) return E_POINTER;
    *out = nullptr;
    return guarded(win32::iids::Connect, [&] {
      Object control = adopt(reinterpret_cast<IUnknown*>(*cmd));
      handEvents(connect_.eventset(control), out);
    });
  }
  HRESULT STDMETHODCALLTYPE activeprojaction(VARIANT_BOOL* bflag) override {
    return withBool(bflag, [&](bool& b) { connect_.activeprojaction(b); });
  }
  HRESULT STDMETHODCALLTYPE allprojaction(VARIANT_BOOL* bflag) override {
    return withBool(bflag, [&](bool& b) { connect_.allprojaction(b); });
  }
  HRESULT STDMETHODCALLTYPE cmdclick(VARIANT* cID) override {
    return withVariant(cID, [&](Value& v) { connect_.cmdclick(v); });
  }

 private:
  ~ConnectObject() = default;

  HRESULT loadTypeInfo() noexcept {
    if (vtableInfo_) return S_OK;
    try {
      ComPtr<ITypeLib> lib;
      HRESULT hr = LoadTypeLibEx(modulePath().c_str(), REGKIND_NONE, lib.put());
      if (FAILED(hr)) return hr;
      ComPtr<ITypeInfo> dispatch, vtable;
      hr = lib->GetTypeInfoOfGuid(win32::iids::Connect, dispatch.put());
      if (FAILED(hr)) return hr;
      // The dual interface's vtable half is what DispInvoke calls through.
      HREFTYPE ref = 0;
      hr = dispatch->GetRefTypeOfImplType(static_cast<UINT>(-1), &ref);
      if (SUCCEEDED(hr)) hr = dispatch->GetRefTypeInfo(ref, vtable.put());
      if (FAILED(hr)) return hr;
      dispatchInfo_ = dispatch;
      vtableInfo_ = vtable;
      return S_OK;
    } catch (...) {
      return E_OUTOFMEMORY;
    }
  }

  HRESULT getBtns(int n, CommandBarEvents** out) {
    return out ? guarded(win32::iids::Connect, [&] { handEvents(connect_.Btns(n), out); }) : E_POINTER;
  }
  HRESULT setBtns(int n, CommandBarEvents* v) {
    return guarded(win32::iids::Connect, [&] { connect_.setBtns(n, adopt(reinterpret_cast<IUnknown*>(v))); });
  }
  // CommandBarEvents need not be dispatchable: hand out its default interface.
  static void handEvents(const Object& events, CommandBarEvents** out) {
    *out = nullptr;
    win32::Variant v;
    win32::toVariant(Value(events), v.get());
    IUnknown* unk = V_VT(v.get()) == VT_DISPATCH ? V_DISPATCH(v.get()) : V_UNKNOWN(v.get());
    if (!unk) return;
    ComPtr<IUnknown> typed;
    if (SUCCEEDED(unk->QueryInterface(win32::iids::CommandBarEvents, typed.putVoid())) && typed)
      *out = reinterpret_cast<CommandBarEvents*>(typed.detach());
    else
      *out = reinterpret_cast<CommandBarEvents*>(ComPtr<IUnknown>(unk).detach());
  }

  template <class Body>
  HRESULT withVariant(VARIANT* arg, Body&& body) {
    if (!arg) return E_POINTER;
    return guarded(win32::iids::Connect, [&] {
      Value v = win32::fromVariant(*arg);
      body(v);
      writeBack(v, arg);
    });
  }
  template <class Body>
  HRESULT withBool(VARIANT_BOOL* arg, Body&& body) {
    if (!arg) return E_POINTER;
    return guarded(win32::iids::Connect, [&] {
      bool b = *arg != VARIANT_FALSE;
      body(b);
      *arg = vb(b);
    });
  }

  // A running command keeps the object and the module: the host may release its last reference
  // (the Add-In Manager unloading the add-in) while the command waits in a dialog.
  void hold() noexcept override {
    AddRef();
    lockModule(true);
  }
  void release() noexcept override {
    lockModule(false);
    Release();
  }

  Extensibility extensibility_;
  ComPtr<ITypeInfo> dispatchInfo_, vtableInfo_;
  // The services outlive the core that refers to them.
  win32::RegistrySettings settings_;
  win32::DialogMessageBox messageBox_;
  win32::SendInputKeyboard keyboard_;
  win32::RunningObjectLookup hosts_;
  win32::FileLog log_;
  addin::Connect connect_;
};

HRESULT Extensibility::QueryInterface(REFIID iid, void** out) { return outer_.QueryInterface(iid, out); }
ULONG Extensibility::AddRef() { return outer_.AddRef(); }
ULONG Extensibility::Release() { return outer_.Release(); }

constexpr const wchar_t* ExtensibilityNames[] = {L"OnConnection", L"OnDisconnection", L"OnAddInsUpdate",
                                                 L"OnStartupComplete", L"OnBeginShutdown"};

HRESULT Extensibility::GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
  if (!names || !ids) return E_POINTER;
  for (UINT i = 0; i < count; ++i) ids[i] = DISPID_UNKNOWN;
  for (int k = 0; k < 5; ++k)
    if (count >= 1 && _wcsicmp(names[0], ExtensibilityNames[k]) == 0) {
      ids[0] = k + 1;
      return count == 1 ? S_OK : DISP_E_UNKNOWNNAME;
    }
  return DISP_E_UNKNOWNNAME;
}

HRESULT Extensibility::Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO* info,
                              UINT*) {
  if (id < 1 || id > 5) return DISP_E_MEMBERNOTFOUND;
  static constexpr UINT arity[] = {4, 2, 1, 1, 1};
  if (!params || params->cNamedArgs != 0 || params->cArgs != arity[id - 1]) return DISP_E_BADPARAMCOUNT;
  try {
    VARIANT* a = params->rgvarg;  // reversed
    if (id == 1) {
      Object app = win32::fromVariant(a[3]).asObject();
      int mode = win32::fromVariant(a[2]).asInt();
      return OnConnection(static_cast<IDispatch*>(win32::exposeObject(app).get()), mode, nullptr, nullptr);
    }
    if (id == 2) return OnDisconnection(win32::fromVariant(a[1]).asInt(), nullptr);
    return S_OK;
  } catch (const automation::Failure& f) {
    win32::fillExcepInfo(info, f);
    return info ? DISP_E_EXCEPTION : win32::toHresult(f);
  } catch (...) {
    return E_UNEXPECTED;
  }
}

HRESULT Extensibility::OnConnection(IDispatch* Application, int ConnectMode, IDispatch*, SAFEARRAY**) {
  outer_.hosts().forget();
  return guarded(win32::iids::IDTExtensibility2,
                 [&] { outer_.core().AddinInstance_OnConnection(win32::adoptDispatch(Application), ConnectMode); });
}

HRESULT Extensibility::OnDisconnection(int RemoveMode, SAFEARRAY**) {
  return guarded(win32::iids::IDTExtensibility2, [&] { outer_.core().AddinInstance_OnDisconnection(RemoveMode); });
}

}  // namespace

HRESULT createConnect(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  try {
    auto object = ComPtr<_Connect>::attach(new ConnectObject());
    return object->QueryInterface(iid, out);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_UNEXPECTED;
  }
}

}  // namespace tessary
