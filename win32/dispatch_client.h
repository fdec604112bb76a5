#pragma once

#include <typeinfo>

#include <oaidl.h>
#include <windows.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "automation/object.h"
#include "com_ptr.h"

namespace win32 {

// An editor or host object reached through its IDispatch, by member name.
class DispatchClient final : public automation::Dispatch {
 public:
  // `unknown` is the object's identity; `dispatch` may be null for objects that only raise
  // events (the editor's CommandBarEvents need not be dispatchable).
  DispatchClient(ComPtr<IUnknown> unknown, ComPtr<IDispatch> dispatch);

  automation::Value invoke(std::string_view member, automation::Invoke kind,
                           std::span<const automation::Value> args,
                           std::span<const automation::NamedArg> named) override;
  std::unique_ptr<automation::Enumeration> enumerate() override;
  automation::Subscription subscribe(automation::ClickHandler handler, automation::ClickEvents events) override;
  bool implements(std::string_view interfaceName) const override;

  IUnknown* unknown() const noexcept { return unknown_ ? unknown_.get() : dispatch_.get(); }
  IDispatch* dispatch() const noexcept { return dispatch_.get(); }

 private:
  IDispatch& checkedDispatch() const;
  DISPID idOf(std::string_view member);

  ComPtr<IUnknown> unknown_;  // held only when it is not the IDispatch itself
  ComPtr<IDispatch> dispatch_;
  // Names as first asked for. The editor hands out a new object for nearly every call, each asked
  // one to three members, so those few live inline and a client costs no allocation of its own.
  struct CachedId {
    char name[19];
    uint8_t size;
    DISPID id;
  };
  CachedId inline_[3];
  uint8_t inlineUsed_ = 0;
  std::vector<std::pair<std::string, DISPID>> more_;
};

// The client this layer made for a COM object, or null for any other object. The class is final,
// so comparing the dynamic type is enough: no walk of the class hierarchy per call.
inline DispatchClient* clientOf(const automation::Object& object) noexcept {
  automation::Dispatch* target = object.target();
  return target && typeid(*target) == typeid(DispatchClient) ? static_cast<DispatchClient*>(target) : nullptr;
}

}  // namespace win32
