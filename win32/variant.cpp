#include "variant.h"

#include "dispatch_client.h"
#include "dispatch_server.h"
#include "errors.h"
#include "recycling.h"
#include "text.h"

namespace win32 {

using automation::Value;

namespace {
[[noreturn]] void mismatch() { automation::fail("Type mismatch", automation::errors::TypeMismatch); }
}  // namespace

ComPtr<IDispatch> exposeObject(const automation::Object& object) {
  if (object.empty()) return {};
  if (auto* client = clientOf(object)) {
    if (client->dispatch()) return ComPtr<IDispatch>(client->dispatch());
  }
  return makeDispatchServer(object);
}

namespace {
struct ClientTag;
using ClientAllocator = RecyclingAllocator<DispatchClient, ClientTag>;
}  // namespace

size_t recycledClients() noexcept {
  return BlockRecycler<ClientTag>::kept();
}
void releaseRecycledClients() noexcept {
  BlockRecycler<ClientTag>::drain();
}

automation::Object adoptUnknown(IUnknown* unknown) {
  if (!unknown) return {};
  automation::Object own;
  if (unwrapDispatchServer(unknown, own)) return own;
  ComPtr<IUnknown> identity(unknown);
  auto dispatch = identity.query<IDispatch>(IID_IDispatch);
  return automation::Object(std::allocate_shared<DispatchClient>(
      ClientAllocator(), std::move(identity), std::move(dispatch)));
}

automation::Object adoptDispatch(IDispatch* dispatch) {
  if (!dispatch) return {};
  automation::Object own;
  if (unwrapDispatchServer(dispatch, own)) return own;
  return automation::Object(std::allocate_shared<DispatchClient>(
      ClientAllocator(), ComPtr<IUnknown>(dispatch), ComPtr<IDispatch>(dispatch)));
}

void toVariant(const Value& value, VARIANT* out) {
  switch (value.type()) {
    case Value::Type::Empty: V_VT(out) = VT_EMPTY; break;
    case Value::Type::Missing:
      V_VT(out) = VT_ERROR;
      V_ERROR(out) = DISP_E_PARAMNOTFOUND;
      break;
    case Value::Type::Boolean:
      V_VT(out) = VT_BOOL;
      V_BOOL(out) = value.asBool() ? VARIANT_TRUE : VARIANT_FALSE;
      break;
    case Value::Type::Int16:
      V_VT(out) = VT_I2;
      V_I2(out) = static_cast<SHORT>(value.asInt());
      break;
    case Value::Type::Int32:
      V_VT(out) = VT_I4;
      V_I4(out) = value.asInt();
      break;
    case Value::Type::String:
      V_BSTR(out) = Bstr(value.asString()).detach();
      V_VT(out) = VT_BSTR;
      break;
    case Value::Type::Object: {
      automation::Object object = value.asObject();
      if (auto* client = clientOf(object); client && !client->dispatch()) {
        V_VT(out) = VT_UNKNOWN;
        V_UNKNOWN(out) = ComPtr<IUnknown>(client->unknown()).detach();
        break;
      }
      V_VT(out) = VT_DISPATCH;
      V_DISPATCH(out) = exposeObject(object).detach();
      break;
    }
  }
}

Value fromVariant(const VARIANT& in) {
  const VARIANT* v = &in;
  while (V_VT(v) == (VT_VARIANT | VT_BYREF)) v = V_VARIANTREF(v);
  const bool ref = (V_VT(v) & VT_BYREF) != 0;
  switch (V_VT(v) & ~VT_BYREF) {
    case VT_EMPTY:
    case VT_NULL: return Value();
    case VT_ERROR: {
      SCODE s = ref ? *V_ERRORREF(v) : V_ERROR(v);
      if (s == DISP_E_PARAMNOTFOUND) return Value::missing();
      mismatch();
    }
    case VT_BOOL: return Value::boolean((ref ? *V_BOOLREF(v) : V_BOOL(v)) != VARIANT_FALSE);
    case VT_I2: return Value::i2(ref ? *V_I2REF(v) : V_I2(v));
    case VT_UI1: return Value::i2(ref ? *V_UI1REF(v) : V_UI1(v));
    case VT_I4: return Value::i4(ref ? *V_I4REF(v) : V_I4(v));
    case VT_BSTR: return Value(narrowBstr(ref ? *V_BSTRREF(v) : V_BSTR(v)));
    case VT_DISPATCH: return Value(adoptDispatch(ref ? *V_DISPATCHREF(v) : V_DISPATCH(v)));
    case VT_UNKNOWN: return Value(adoptUnknown(ref ? *V_UNKNOWNREF(v) : V_UNKNOWN(v)));
    default: {
      // Other numbers arrive as VB would hand them to a Long.
      Variant converted;
      if (FAILED(VariantChangeType(converted.get(), const_cast<VARIANT*>(v), 0, VT_I4))) mismatch();
      return Value::i4(V_I4(converted.get()));
    }
  }
}

}  // namespace win32
