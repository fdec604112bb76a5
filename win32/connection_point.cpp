#include <ocidl.h>
#include <olectl.h>

#include <map>

#include "dispatch_server.h"
#include "errors.h"
#include "iids.h"
#include "module_objects.h"
#include "variant.h"

namespace win32 {

namespace {

// Delivers one Click to an advised sink the way the editor (or Office) does: the arguments
// reversed, the flags by reference; Office's button events have no "handled".
void raiseClick(IDispatch* sink, automation::ClickEvents events, const automation::Object& control,
                bool& handled, bool& cancel) {
  VARIANT_BOOL h = handled ? VARIANT_TRUE : VARIANT_FALSE;
  VARIANT_BOOL c = cancel ? VARIANT_TRUE : VARIANT_FALSE;
  const UINT count = events == automation::ClickEvents::EditorControl ? 3 : 2;
  VARIANT args[3];
  for (auto& a : args) VariantInit(&a);
  auto dispatch = exposeObject(control);
  V_VT(&args[count - 1]) = VT_DISPATCH;
  V_DISPATCH(&args[count - 1]) = dispatch.get();
  if (count == 3) {
    V_VT(&args[1]) = VT_BOOL | VT_BYREF;
    V_BOOLREF(&args[1]) = &h;
  }
  V_VT(&args[0]) = VT_BOOL | VT_BYREF;
  V_BOOLREF(&args[0]) = &c;
  DISPPARAMS params{args, nullptr, count, 0};
  EXCEPINFO info{};
  HRESULT hr = sink->Invoke(1, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, nullptr,
                            &info, nullptr);
  // Passed by reference: a failing handler's flags count too.
  handled = h != VARIANT_FALSE;
  cancel = c != VARIANT_FALSE;
  if (FAILED(hr)) throw failureFrom(hr, &info);
}

class ClickConnectionPoint final : public SingleInterfaceObject<IConnectionPoint, IID_IConnectionPoint> {
 public:
  ClickConnectionPoint(automation::Object source, IConnectionPointContainer* container,
                       automation::ClickEvents events)
      : source_(std::move(source)), container_(container), events_(events) {}

  HRESULT STDMETHODCALLTYPE GetConnectionInterface(IID* iid) override {
    if (!iid) return E_POINTER;
    *iid = iids::eventsOf(events_);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetConnectionPointContainer(IConnectionPointContainer** out) override {
    if (!out) return E_POINTER;
    container_.copyTo(out);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Advise(IUnknown* sink, DWORD* cookie) override {
    if (!sink || !cookie) return E_POINTER;
    *cookie = 0;
    ComPtr<IDispatch> target;
    if (FAILED(sink->QueryInterface(iids::eventsOf(events_), target.putVoid())) || !target)
      return CONNECT_E_CANNOTCONNECT;
    try {
      automation::Subscription s = source_.subscribe(
          [target, events = events_](const automation::Object& control, bool& handled, bool& cancel) {
            raiseClick(target.get(), events, control, handled, cancel);
          },
          events_);
      DWORD c = ++lastCookie_;
      subscriptions_.emplace(c, std::move(s));
      *cookie = c;
      return S_OK;
    } catch (const automation::Failure& f) {
      return reportFailure(f, IID_IConnectionPoint);
    } catch (...) {
      return E_OUTOFMEMORY;
    }
  }
  HRESULT STDMETHODCALLTYPE Unadvise(DWORD cookie) override {
    auto it = subscriptions_.find(cookie);
    if (it == subscriptions_.end()) return CONNECT_E_NOCONNECTION;
    auto ended = std::move(it->second);  // ends after the map no longer refers to it
    subscriptions_.erase(it);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE EnumConnections(IEnumConnections** out) override {
    if (out) *out = nullptr;
    return E_NOTIMPL;
  }

 private:
  automation::Object source_;
  ComPtr<IConnectionPointContainer> container_;
  automation::ClickEvents events_;
  std::map<DWORD, automation::Subscription> subscriptions_;
  DWORD lastCookie_ = 0;
};

}  // namespace

ComPtr<IConnectionPoint> makeClickConnectionPoint(automation::Object source,
                                                  IConnectionPointContainer* container,
                                                  automation::ClickEvents events) {
  return ComPtr<IConnectionPoint>::attach(new ClickConnectionPoint(std::move(source), container, events));
}

}  // namespace win32
