#include "dispatch_client.h"

#include "errors.h"
#include "event_sink.h"
#include "iids.h"
#include "text.h"
#include "variant.h"

namespace win32 {

using automation::Value;

namespace {

class EnumerationClient final : public automation::Enumeration {
 public:
  explicit EnumerationClient(ComPtr<IEnumVARIANT> e) : e_(std::move(e)) {}
  std::optional<Value> next() override {
    Variant v;
    ULONG fetched = 0;
    HRESULT hr = e_->Next(1, v.get(), &fetched);
    if (FAILED(hr)) throw failureFrom(hr, "enumeration");
    if (hr != S_OK || fetched != 1) return std::nullopt;
    return fromVariant(*v);
  }

 private:
  ComPtr<IEnumVARIANT> e_;
};

}  // namespace

DispatchClient::DispatchClient(ComPtr<IUnknown> unknown, ComPtr<IDispatch> dispatch)
    : dispatch_(std::move(dispatch)) {
  // One reference is enough when the identity is the IDispatch itself, as it is for nearly
  // every object the editor returns.
  if (unknown.get() != static_cast<IUnknown*>(dispatch_.get())) unknown_ = std::move(unknown);
}

IDispatch& DispatchClient::checkedDispatch() const {
  if (!dispatch_) automation::fail("Object doesn't support this property or method", automation::errors::NoSuchMember);
  return *dispatch_.get();
}

DISPID DispatchClient::idOf(std::string_view member) {
  for (const auto& [name, id] : ids_)
    if (automation::sameName(name, member)) return id;
  std::wstring wide = widen(member);
  LPOLESTR names[] = {wide.data()};
  DISPID id = DISPID_UNKNOWN;
  HRESULT hr = checkedDispatch().GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
  if (FAILED(hr)) throw failureFrom(hr, "GetIDsOfNames");
  ids_.emplace_back(std::string(member), id);
  return id;
}

Value DispatchClient::invoke(std::string_view member, automation::Invoke kind,
                             std::span<const Value> args,
                             std::span<const automation::NamedArg> named) {
  IDispatch& d = checkedDispatch();
  const bool put = kind != automation::Invoke::Get;
  if (put && args.empty()) automation::fail("Argument not optional", 449);

  DISPID id = DISPID_UNKNOWN;
  std::vector<DISPID> namedIds;
  if (named.empty()) {
    id = idOf(member);
  } else {
    // Parameter names are resolved together with their member, as GetIDsOfNames requires.
    std::vector<std::wstring> wide;
    wide.push_back(widen(member));
    for (const auto& n : named) wide.push_back(widen(n.name));
    std::vector<LPOLESTR> names;
    for (auto& w : wide) names.push_back(w.data());
    std::vector<DISPID> ids(names.size(), DISPID_UNKNOWN);
    HRESULT hr = d.GetIDsOfNames(IID_NULL, names.data(), static_cast<UINT>(names.size()),
                                 LOCALE_USER_DEFAULT, ids.data());
    if (FAILED(hr)) throw failureFrom(hr, "GetIDsOfNames");
    id = ids[0];
    namedIds.assign(ids.begin() + 1, ids.end());
  }

  // rgvarg is reversed; named arguments (and the value of a put) occupy the first slots.
  const size_t positional = put ? args.size() - 1 : args.size();
  const size_t total = args.size() + named.size();
  std::vector<VARIANT> slots(total);
  for (auto& v : slots) VariantInit(&v);
  struct Clear {
    std::vector<VARIANT>& s;
    ~Clear() {
      for (auto& v : s) VariantClear(&v);
    }
  } clear{slots};

  size_t slot = 0;
  if (put) {
    toVariant(args.back(), &slots[slot++]);
    namedIds.insert(namedIds.begin(), DISPID_PROPERTYPUT);
  }
  for (const auto& n : named) toVariant(n.value, &slots[slot++]);
  for (size_t i = positional; i-- > 0;) toVariant(args[i], &slots[slot++]);

  DISPPARAMS params{};
  params.rgvarg = slots.empty() ? nullptr : slots.data();
  params.cArgs = static_cast<UINT>(total);
  params.rgdispidNamedArgs = namedIds.empty() ? nullptr : namedIds.data();
  params.cNamedArgs = static_cast<UINT>(namedIds.size());

  WORD flags = kind == automation::Invoke::Put      ? DISPATCH_PROPERTYPUT
               : kind == automation::Invoke::PutRef ? DISPATCH_PROPERTYPUTREF
                                                    : DISPATCH_METHOD | DISPATCH_PROPERTYGET;
  Variant result;
  EXCEPINFO info{};
  UINT argError = 0;
  HRESULT hr = d.Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, put ? nullptr : result.get(),
                        &info, &argError);
  if (FAILED(hr)) throw failureFrom(hr, &info);
  return put ? Value() : fromVariant(*result);
}

std::unique_ptr<automation::Enumeration> DispatchClient::enumerate() {
  DISPPARAMS none{};
  Variant result;
  EXCEPINFO info{};
  HRESULT hr = checkedDispatch().Invoke(DISPID_NEWENUM, IID_NULL, LOCALE_USER_DEFAULT,
                                        DISPATCH_METHOD | DISPATCH_PROPERTYGET, &none, result.get(),
                                        &info, nullptr);
  if (FAILED(hr)) throw failureFrom(hr, &info);
  IUnknown* unk = nullptr;
  if (V_VT(result.get()) == VT_UNKNOWN) unk = V_UNKNOWN(result.get());
  else if (V_VT(result.get()) == VT_DISPATCH) unk = V_DISPATCH(result.get());
  auto e = ComPtr<IUnknown>(unk).query<IEnumVARIANT>(IID_IEnumVARIANT);
  if (!e) automation::fail("Object doesn't support this property or method", automation::errors::NoSuchMember);
  return std::make_unique<EnumerationClient>(std::move(e));
}

automation::Subscription DispatchClient::subscribe(automation::ClickHandler handler) {
  return adviseClicks(unknown(), std::move(handler));
}

bool DispatchClient::implements(std::string_view interfaceName) const {
  const IID* iid = iids::byName(interfaceName.data(), interfaceName.size());
  IUnknown* identity = unknown();
  if (!iid || !identity) return false;
  IUnknown* answer = nullptr;
  if (FAILED(identity->QueryInterface(*iid, reinterpret_cast<void**>(&answer))) || !answer) return false;
  answer->Release();
  return true;
}

}  // namespace win32
