#include "dispatch_replay.h"

#include <oleauto.h>

#include "text.h"
#include "variant.h"

namespace bench {

using win32::ComPtr;

namespace {

void clearInfo(EXCEPINFO& info) {
  SysFreeString(info.bstrDescription);
  SysFreeString(info.bstrSource);
  SysFreeString(info.bstrHelpFile);
  info = EXCEPINFO{};
}

ComPtr<IDispatch> dispatchOf(VARIANT& v) {
  if (V_VT(&v) == VT_DISPATCH && V_DISPATCH(&v)) return ComPtr<IDispatch>(V_DISPATCH(&v));
  return {};
}

}  // namespace

DispatchReplay::DispatchReplay(const Recording& recording, std::vector<ComPtr<IDispatch>> roots,
                               platform::Keyboard& keyboard)
    : r_(recording), roots_(std::move(roots)), keyboard_(keyboard) {}

DISPID DispatchReplay::idOf(int slot, const std::string& member) {
  for (const auto& [name, id] : ids_[slot])
    if (name == member) return id;
  std::wstring wide = win32::widen(member);
  LPOLESTR names[] = {wide.data()};
  DISPID id = DISPID_UNKNOWN;
  if (FAILED(slots_[slot]->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id))) return DISPID_UNKNOWN;
  ids_[slot].emplace_back(member, id);
  return id;
}

void DispatchReplay::invoke(const Op& op) {
  IDispatch* d = slots_[op.target].get();
  if (!d) {
    ++failures_;
    return;
  }
  const bool put = op.kind != automation::Invoke::Get;
  DISPID id = DISPID_UNKNOWN;
  std::vector<DISPID> namedIds;
  if (op.named.empty()) {
    id = idOf(op.target, op.member);
  } else {
    std::vector<std::wstring> wide{win32::widen(op.member)};
    for (const auto& n : op.named) wide.push_back(win32::widen(n.name));
    std::vector<LPOLESTR> names;
    for (auto& w : wide) names.push_back(w.data());
    std::vector<DISPID> ids(names.size(), DISPID_UNKNOWN);
    d->GetIDsOfNames(IID_NULL, names.data(), static_cast<UINT>(names.size()), LOCALE_USER_DEFAULT, ids.data());
    id = ids[0];
    namedIds.assign(ids.begin() + 1, ids.end());
  }
  // The arguments as the add-in passed them: object arguments from their slots.
  std::vector<VARIANT> args(op.args.size() + op.named.size());
  for (auto& v : args) VariantInit(&v);
  auto fill = [&](size_t index, VARIANT* out) {
    for (auto [i, slot] : op.objectArgs)
      if (i == index) {
        V_VT(out) = VT_DISPATCH;
        V_DISPATCH(out) = slots_[slot].get();
        if (V_DISPATCH(out)) V_DISPATCH(out)->AddRef();
        return;
      }
    win32::toVariant(op.args[index], out);
  };
  const size_t positional = put ? op.args.size() - 1 : op.args.size();
  size_t at = 0;
  if (put) {
    fill(op.args.size() - 1, &args[at++]);
    namedIds.insert(namedIds.begin(), DISPID_PROPERTYPUT);
  }
  for (const auto& n : op.named) win32::toVariant(n.value, &args[at++]);
  for (size_t i = positional; i-- > 0;) fill(i, &args[at++]);
  DISPPARAMS params{args.empty() ? nullptr : args.data(), namedIds.empty() ? nullptr : namedIds.data(),
                    static_cast<UINT>(args.size()), static_cast<UINT>(namedIds.size())};
  WORD flags = op.kind == automation::Invoke::Put      ? DISPATCH_PROPERTYPUT
               : op.kind == automation::Invoke::PutRef ? DISPATCH_PROPERTYPUTREF
                                                       : DISPATCH_METHOD | DISPATCH_PROPERTYGET;
  VARIANT result;
  VariantInit(&result);
  EXCEPINFO info{};
  HRESULT hr = d->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, put ? nullptr : &result, &info, nullptr);
  if (FAILED(hr)) {
    ++failures_;
    clearInfo(info);
  } else if (op.result >= 0) {
    slots_[op.result] = dispatchOf(result);
  }
  VariantClear(&result);
  for (auto& v : args) VariantClear(&v);
}

void DispatchReplay::run(size_t root, IDispatch* object) {
  auto kept = std::exchange(roots_[root], win32::ComPtr<IDispatch>(object));
  run();
  roots_[root] = std::move(kept);
}

void DispatchReplay::run() {
  failures_ = 0;
  slots_.assign(r_.slots, {});
  ids_.assign(r_.slots, {});
  enums_.assign(r_.enumerations, {});
  for (size_t i = 0; i < r_.roots.size(); ++i) slots_[r_.roots[i]] = roots_[i];

  for (const auto& op : r_.ops) {
    switch (op.type) {
      case Op::Type::Invoke: invoke(op); break;
      case Op::Type::Enumerate: {
        IDispatch* d = slots_[op.target].get();
        VARIANT result;
        VariantInit(&result);
        DISPPARAMS none{};
        EXCEPINFO info{};
        if (d && SUCCEEDED(d->Invoke(DISPID_NEWENUM, IID_NULL, LOCALE_USER_DEFAULT,
                                     DISPATCH_METHOD | DISPATCH_PROPERTYGET, &none, &result, &info, nullptr))) {
          IUnknown* unknown = V_VT(&result) == VT_UNKNOWN ? V_UNKNOWN(&result) : V_DISPATCH(&result);
          enums_[op.result] = ComPtr<IUnknown>(unknown).query<IEnumVARIANT>(IID_IEnumVARIANT);
        } else {
          ++failures_;
          clearInfo(info);
        }
        VariantClear(&result);
        break;
      }
      case Op::Type::Next: {
        auto& e = enums_[op.target];
        if (!e) break;
        VARIANT v;
        VariantInit(&v);
        ULONG fetched = 0;
        HRESULT hr = e->Next(1, &v, &fetched);
        if (hr == S_OK && fetched == 1) {
          if (op.result >= 0) slots_[op.result] = dispatchOf(v);
        } else {
          e.reset();
        }
        VariantClear(&v);
        break;
      }
      case Op::Type::Subscribe: break;  // no click command subscribes
      case Op::Type::Lookup: {
        CLSID clsid{};
        ComPtr<IUnknown> unknown;
        if (SUCCEEDED(CLSIDFromProgID(win32::widen(op.member).c_str(), &clsid)) &&
            SUCCEEDED(GetActiveObject(clsid, nullptr, unknown.put())) && unknown) {
          if (op.result >= 0) slots_[op.result] = unknown.query<IDispatch>(IID_IDispatch);
        } else {
          ++failures_;
        }
        break;
      }
      case Op::Type::InProcess:
        // What the add-in asks of an object the editor led to: a proxy answers locally.
        if (IDispatch* d = slots_[op.target].get()) {
          ComPtr<IUnknown> security;
          if (SUCCEEDED(d->QueryInterface(IID_IClientSecurity, security.putVoid()))) ++failures_;
        }
        break;
      case Op::Type::Keys:
        try {
          keyboard_.type(op.member);
        } catch (const automation::Failure&) {
          ++failures_;
        }
        break;
    }
    for (int s : op.release) slots_[s].reset();
  }
  enums_.clear();
}

}  // namespace bench
