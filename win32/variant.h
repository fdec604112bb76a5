#pragma once

#include <windows.h>
#include <oaidl.h>

#include "automation/object.h"
#include "com_ptr.h"

namespace win32 {

// Value -> VARIANT; `out` must be empty (VariantInit'ed). Objects are exposed as IDispatch.
void toVariant(const automation::Value& value, VARIANT* out);
// VARIANT (by value or by reference) -> Value. Unknown types are a type mismatch.
automation::Value fromVariant(const VARIANT& v);

// The IDispatch of an object: the wrapped pointer itself when the object came from COM,
// otherwise a new dispatch server over it. Null for Nothing.
ComPtr<IDispatch> exposeObject(const automation::Object& object);
// The object of an IDispatch: the original object when the pointer is one of this module's
// dispatch servers, otherwise a new client over it. Empty for null.
automation::Object adoptDispatch(IDispatch* dispatch);
automation::Object adoptUnknown(IUnknown* unknown);
// Clients are recycled; these are the blocks kept for reuse, and their release at unload.
size_t recycledClients() noexcept;
void releaseRecycledClients() noexcept;

// Owns a VARIANT for the length of a scope.
class Variant {
 public:
  Variant() noexcept { VariantInit(&v_); }
  ~Variant() { VariantClear(&v_); }
  Variant(const Variant&) = delete;
  Variant& operator=(const Variant&) = delete;
  VARIANT* get() noexcept { return &v_; }
  const VARIANT& operator*() const noexcept { return v_; }

 private:
  VARIANT v_;
};

}  // namespace win32
