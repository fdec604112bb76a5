#include "event_sink.h"

#include <ocidl.h>
#include <olectl.h>

#include "com_ptr.h"
#include "errors.h"
#include "iids.h"
#include "module_objects.h"
#include "variant.h"

namespace win32 {

namespace {

constexpr DISPID ClickId = 1;

// Reads a by-reference Boolean argument; null when the caller passed it by value.
VARIANT_BOOL* boolRef(VARIANT& v, VARIANT_BOOL& byValue) {
  if (V_VT(&v) == (VT_BOOL | VT_BYREF)) return V_BOOLREF(&v);
  if (V_VT(&v) == (VT_VARIANT | VT_BYREF) && V_VARIANTREF(&v)) {
    // A Variant of the caller's that holds the Boolean, or a reference to it.
    VARIANT& inner = *V_VARIANTREF(&v);
    if (V_VT(&inner) == VT_BOOL) return &V_BOOL(&inner);
    if (V_VT(&inner) == (VT_BOOL | VT_BYREF) && V_BOOLREF(&inner)) return V_BOOLREF(&inner);
  }
  byValue = fromVariant(v).asBool() ? VARIANT_TRUE : VARIANT_FALSE;
  return &byValue;
}

// Receives Click calls: the editor's _dispCommandBarControlEvents (control, handled, CancelDefault)
// or Office's _CommandBarButtonEvents (Ctrl, CancelDefault), which has no "handled".
class ClickSink final : public DispatchObject<> {
 public:
  ClickSink(automation::ClickHandler handler, automation::ClickEvents events)
      : handler_(std::move(handler)), events_(events) {}

  void* interfaceFor(REFIID iid) noexcept override {
    if (IsEqualIID(iid, IID_IDispatch) || IsEqualIID(iid, iids::eventsOf(events_)))
      return static_cast<IDispatch*>(this);
    return nullptr;
  }

  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID,
                                          DISPID* ids) override {
    if (!names || !ids) return E_POINTER;
    for (UINT i = 0; i < count; ++i) ids[i] = DISPID_UNKNOWN;
    if (count == 1 && _wcsicmp(names[0], L"Click") == 0) {
      ids[0] = ClickId;
      return S_OK;
    }
    return DISP_E_UNKNOWNNAME;
  }

  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*,
                                   EXCEPINFO* info, UINT*) override {
    if (id != ClickId) return DISP_E_MEMBERNOTFOUND;
    const bool withHandled = events_ == automation::ClickEvents::EditorControl;
    const UINT count = withHandled ? 3 : 2;
    if (!params || params->cArgs != count || params->cNamedArgs != 0 || !params->rgvarg) return DISP_E_BADPARAMCOUNT;
    // The handler may end this subscription (the add-in unloaded from inside a command): the
    // source then lets the sink go while this call is still on it.
    ComPtr<IDispatch> self(this);
    VARIANT_BOOL handledValue = 0, cancelValue = 0;
    VARIANT_BOOL *handled = nullptr, *cancel = nullptr;
    bool h = false, c = false;
    // The flags are the editor's own variables: what a handler set before failing stays set, as
    // when a VB handler assigns CancelDefault and then fails (the editor's command stays cancelled).
    auto writeBack = [&] {
      if (handled) *handled = h ? VARIANT_TRUE : VARIANT_FALSE;
      if (cancel) *cancel = c ? VARIANT_TRUE : VARIANT_FALSE;
    };
    try {
      automation::Object control = fromVariant(params->rgvarg[count - 1]).asObject();
      handled = withHandled ? boolRef(params->rgvarg[1], handledValue) : &handledValue;
      cancel = boolRef(params->rgvarg[0], cancelValue);
      h = *handled != VARIANT_FALSE, c = *cancel != VARIANT_FALSE;
      handler_(control, h, c);
      writeBack();
      return S_OK;
    } catch (const automation::Failure& f) {
      writeBack();
      fillExcepInfo(info, f);
      return info ? DISP_E_EXCEPTION : toHresult(f);
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    } catch (...) {
      return E_UNEXPECTED;
    }
  }

 private:
  automation::ClickHandler handler_;
  automation::ClickEvents events_;
};

}  // namespace

automation::Subscription adviseClicks(IUnknown* source, automation::ClickHandler handler,
                                      automation::ClickEvents events) {
  auto container = ComPtr<IUnknown>(source).query<IConnectionPointContainer>(IID_IConnectionPointContainer);
  if (!container) automation::fail("Object doesn't support this property or method", automation::errors::NoSuchMember);
  ComPtr<IConnectionPoint> point;
  HRESULT hr = container->FindConnectionPoint(iids::eventsOf(events), point.put());
  if (FAILED(hr) || !point) throw failureFrom(FAILED(hr) ? hr : E_NOINTERFACE, "FindConnectionPoint");
  auto sink = ComPtr<IDispatch>::attach(new ClickSink(std::move(handler), events));
  DWORD cookie = 0;
  SetErrorInfo(0, nullptr);  // what is there afterwards comes from this call
  hr = point->Advise(sink.get(), &cookie);
  if (FAILED(hr)) throw failureWithErrorInfo(hr, "Advise");
  // The point (and through it the source) stays referenced while the subscription lives.
  return automation::Subscription([point, cookie]() mutable {
    SetErrorInfo(0, nullptr);
    const HRESULT hr = point->Unadvise(cookie);
    point.reset();
    // The subscription is over either way; a refusal only goes to whoever watches (the log).
    if (FAILED(hr)) throw failureWithErrorInfo(hr, "Unadvise");
  });
}

}  // namespace win32
