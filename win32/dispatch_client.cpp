#include "dispatch_client.h"

#include <algorithm>

#include "errors.h"
#include "event_sink.h"
#include "iids.h"
#include "text.h"
#include "variant.h"

namespace win32 {

using automation::Value;

namespace {

// A member name as GetIDsOfNames takes it; short ASCII names need no allocation.
class WideName {
 public:
  explicit WideName(std::string_view name) {
    if (name.size() < std::size(small_)) {
      size_t i = 0;
      for (; i < name.size() && static_cast<unsigned char>(name[i]) < 0x80; ++i) small_[i] = name[i];
      if (i == name.size()) {
        small_[i] = L'\0';
        text_ = small_;
        return;
      }
    }
    big_ = widen(name);
    text_ = big_.data();
  }
  LPOLESTR get() noexcept { return text_; }

 private:
  wchar_t small_[32];
  std::wstring big_;
  LPOLESTR text_ = nullptr;
};

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
  for (uint8_t i = 0; i < inlineUsed_; ++i)
    if (automation::sameName({inline_[i].name, inline_[i].size}, member)) return inline_[i].id;
  for (const auto& [name, id] : more_)
    if (automation::sameName(name, member)) return id;
  WideName wide(member);
  LPOLESTR names[] = {wide.get()};
  DISPID id = DISPID_UNKNOWN;
  HRESULT hr = checkedDispatch().GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
  if (FAILED(hr)) throw failureFrom(hr, "GetIDsOfNames");
  if (inlineUsed_ < std::size(inline_) && member.size() <= sizeof inline_[0].name) {
    CachedId& c = inline_[inlineUsed_++];
    member.copy(c.name, member.size());
    c.size = static_cast<uint8_t>(member.size());
    c.id = id;
  } else {
    more_.emplace_back(std::string(member), id);
  }
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
  // Calls pass a few arguments at most: those fit on the stack.
  VARIANT few[4];
  std::vector<VARIANT> many;
  VARIANT* slots = few;
  if (total > std::size(few)) {
    many.resize(total);
    slots = many.data();
  }
  for (size_t i = 0; i < total; ++i) VariantInit(&slots[i]);
  struct Clear {
    VARIANT* s;
    size_t n;
    ~Clear() {
      for (size_t i = 0; i < n; ++i) VariantClear(&s[i]);
    }
  } clear{slots, total};

  size_t slot = 0;
  if (put) {
    toVariant(args.back(), &slots[slot++]);
    namedIds.insert(namedIds.begin(), DISPID_PROPERTYPUT);
  }
  for (const auto& n : named) toVariant(n.value, &slots[slot++]);
  for (size_t i = positional; i-- > 0;) toVariant(args[i], &slots[slot++]);

  DISPPARAMS params{};
  params.rgvarg = total ? slots : nullptr;
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

automation::Subscription DispatchClient::subscribe(automation::ClickHandler handler,
                                                   automation::ClickEvents events) {
  return adviseClicks(unknown(), std::move(handler), events);
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
