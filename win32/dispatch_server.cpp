#include "dispatch_server.h"

#include <ocidl.h>
#include <olectl.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "errors.h"
#include "iids.h"
#include "module_objects.h"
#include "text.h"
#include "variant.h"

namespace win32 {

using automation::Value;

namespace {

// Answered only by this module's dispatch servers, so that an object handed out and back is the
// same object. The IID carries the address of a module-private byte: another module's servers
// (a host test program, another add-in built from this code) never answer it, so no method of a
// foreign object is ever called as if it were ours (calls on our own private type may be bound
// statically by the compiler).
const char moduleToken = 0;

const IID& objectHandleIid() {
  static const IID iid = [] {
    IID i = {0x5C1D7E3A, 0x8F21, 0x4B7C, {0x9A, 0x33, 0x6E, 0x0D, 0x51, 0xB4, 0x27, 0x90}};
    auto address = reinterpret_cast<uintptr_t>(&moduleToken);
    std::memcpy(i.Data4, &address, sizeof address < sizeof i.Data4 ? sizeof address : sizeof i.Data4);
    return i;
  }();
  return iid;
}

// Servers of this module alive now: while there are none, nothing handed to us can be ours, and
// the question (a call into the other object) is not asked for every object the editor returns.
std::atomic<long> liveServers{0};

struct ObjectHandle : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE objectOf(automation::Object* out) = 0;
};

class DispatchServer final : public DispatchObject<IConnectionPointContainer, ObjectHandle> {
 public:
  explicit DispatchServer(automation::Object object) : object_(std::move(object)) { ++liveServers; }
  ~DispatchServer() { --liveServers; }

  void* interfaceFor(REFIID iid) noexcept override {
    if (IsEqualIID(iid, IID_IDispatch)) return static_cast<IDispatch*>(this);
    if (IsEqualIID(iid, IID_IConnectionPointContainer))
      return static_cast<IConnectionPointContainer*>(this);
    if (IsEqualIID(iid, objectHandleIid())) return static_cast<ObjectHandle*>(this);
    // The stand-in interfaces add nothing to IDispatch (or IUnknown).
    if (answersFor(iid)) return static_cast<IDispatch*>(this);
    return nullptr;
  }

  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID,
                                          DISPID* ids) override {
    if (!names || !ids) return E_POINTER;
    try {
      for (UINT i = 0; i < count; ++i) {
        std::string name = narrow(names[i]);
        ids[i] = i == 0 && automation::sameName(name, "_NewEnum") ? DISPID_NEWENUM : idOf(name);
      }
      return S_OK;
    } catch (...) {
      return E_OUTOFMEMORY;
    }
  }

  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params,
                                   VARIANT* result, EXCEPINFO* info, UINT*) override {
    DISPPARAMS none{};
    if (!params) params = &none;
    try {
      if (id == DISPID_NEWENUM) {
        auto e = makeEnumServer(object_.target()->enumerate());
        if (result) {
          V_VT(result) = VT_UNKNOWN;
          V_UNKNOWN(result) = e.detach();
        }
        return S_OK;
      }
      const std::string* member = nameOf(id);
      if (!member) return DISP_E_MEMBERNOTFOUND;
      automation::Invoke kind = (flags & DISPATCH_PROPERTYPUTREF) ? automation::Invoke::PutRef
                                : (flags & DISPATCH_PROPERTYPUT)  ? automation::Invoke::Put
                                                                  : automation::Invoke::Get;
      std::vector<Value> args;
      std::vector<automation::NamedArg> named;
      std::optional<Value> assigned;
      for (UINT i = 0; i < params->cNamedArgs; ++i) {
        DISPID n = params->rgdispidNamedArgs[i];
        if (n == DISPID_PROPERTYPUT) {
          assigned = fromVariant(params->rgvarg[i]);
        } else if (const std::string* name = nameOf(n)) {
          named.push_back({*name, fromVariant(params->rgvarg[i])});
        } else {
          return DISP_E_PARAMNOTFOUND;
        }
      }
      for (UINT i = params->cArgs; i-- > params->cNamedArgs;) args.push_back(fromVariant(params->rgvarg[i]));
      if (assigned) args.push_back(std::move(*assigned));
      Value r = object_.target()->invoke(*member, kind, args, named);
      if (result && kind == automation::Invoke::Get) toVariant(r, result);
      return S_OK;
    } catch (const automation::Failure& f) {
      fillExcepInfo(info, f);
      return info ? DISP_E_EXCEPTION : toHresult(f);
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    } catch (...) {
      return E_UNEXPECTED;
    }
  }

  HRESULT STDMETHODCALLTYPE EnumConnectionPoints(IEnumConnectionPoints** out) override {
    if (out) *out = nullptr;
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE FindConnectionPoint(REFIID iid, IConnectionPoint** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    automation::ClickEvents events;
    if (IsEqualIID(iid, iids::CommandBarEventsSource))
      events = automation::ClickEvents::EditorControl;
    else if (IsEqualIID(iid, iids::CommandBarButtonEvents) && object_.implements("CommandBarControl"))
      events = automation::ClickEvents::OfficeButton;
    else
      return CONNECT_E_NOCONNECTION;
    try {
      *out = makeClickConnectionPoint(object_, this, events).detach();
      return S_OK;
    } catch (...) {
      return E_OUTOFMEMORY;
    }
  }

  HRESULT STDMETHODCALLTYPE objectOf(automation::Object* out) override {
    *out = object_;
    return S_OK;
  }

 private:
  bool answersFor(REFIID iid) const {
    if (IsEqualIID(iid, iids::VBE)) return object_.implements("VBE");
    if (IsEqualIID(iid, iids::CommandBarControl)) return object_.implements("CommandBarControl");
    if (IsEqualIID(iid, iids::CommandBarEvents)) return object_.implements("CommandBarEvents");
    return false;
  }

  // DISPIDs are 1-based positions in the name table; members and parameter names share it.
  DISPID idOf(const std::string& name) {
    for (size_t i = 0; i < names_.size(); ++i)
      if (automation::sameName(names_[i], name)) return static_cast<DISPID>(i + 1);
    names_.push_back(name);
    return static_cast<DISPID>(names_.size());
  }
  const std::string* nameOf(DISPID id) const {
    if (id < 1 || static_cast<size_t>(id) > names_.size()) return nullptr;
    return &names_[static_cast<size_t>(id) - 1];
  }

  automation::Object object_;
  std::vector<std::string> names_;
};

}  // namespace

ComPtr<IDispatch> makeDispatchServer(automation::Object object) {
  if (object.empty()) return {};
  return ComPtr<IDispatch>::attach(new DispatchServer(std::move(object)));
}

bool unwrapDispatchServer(IUnknown* unknown, automation::Object& object) {
  if (!unknown || liveServers.load() == 0) return false;
  ComPtr<ObjectHandle> handle;
  if (FAILED(unknown->QueryInterface(objectHandleIid(), handle.putVoid())) || !handle) return false;
  return SUCCEEDED(handle->objectOf(&object));
}

}  // namespace win32
