#include "errors.h"

#include "com_ptr.h"
#include "text.h"

namespace win32 {

namespace {
constexpr HRESULT VbErrorBase = static_cast<HRESULT>(0x800A0000);

// What VB shows for the dispatch errors it translates itself.
const char* knownText(HRESULT hr, int32_t& code) {
  switch (hr) {
    case DISP_E_UNKNOWNNAME:
    case DISP_E_MEMBERNOTFOUND: code = 438; return "Object doesn't support this property or method";
    case DISP_E_TYPEMISMATCH: code = 13; return "Type mismatch";
    case DISP_E_OVERFLOW: code = 6; return "Overflow";
    case DISP_E_BADPARAMCOUNT: code = 450; return "Wrong number of arguments or invalid property assignment";
    case DISP_E_PARAMNOTOPTIONAL: code = 449; return "Argument not optional";
    case DISP_E_BADINDEX: code = 9; return "Subscript out of range";
    case E_NOINTERFACE: code = 430; return "Class does not support Automation or does not support expected interface";
    default: return nullptr;
  }
}

std::string genericText(HRESULT hr) {
  return "Automation error " + automation::hresultText(static_cast<uint32_t>(hr));
}
}  // namespace

HRESULT toHresult(const automation::Failure& failure) noexcept {
  return static_cast<HRESULT>(automation::hresultOf(failure.code()));
}

int32_t codeOf(HRESULT hr) noexcept {
  if (static_cast<HRESULT>(hr & 0xFFFF0000) == VbErrorBase) return hr & 0xFFFF;
  int32_t code = 0;
  if (knownText(hr, code)) return code;
  return static_cast<int32_t>(hr);
}

automation::Failure failureFrom(HRESULT hr, EXCEPINFO* info) {
  if (hr != DISP_E_EXCEPTION || !info) return failureFrom(hr, static_cast<const char*>(nullptr));
  if (info->pfnDeferredFillIn) info->pfnDeferredFillIn(info);
  std::string description = narrowBstr(info->bstrDescription);
  HRESULT real = info->scode ? info->scode : info->wCode ? (VbErrorBase | info->wCode) : E_FAIL;
  int32_t code = info->wCode ? info->wCode : codeOf(real);
  SysFreeString(info->bstrDescription);
  SysFreeString(info->bstrSource);
  SysFreeString(info->bstrHelpFile);
  *info = EXCEPINFO{};
  if (description.empty()) description = failureFrom(real, static_cast<const char*>(nullptr)).description();
  return automation::Failure(std::move(description), code);
}

automation::Failure failureFrom(HRESULT hr, const char* what) {
  int32_t code = 0;
  if (const char* text = knownText(hr, code)) return automation::Failure(text, code);
  std::string description = genericText(hr);
  if (what) description = std::string(what) + ": " + description;
  return automation::Failure(std::move(description), codeOf(hr));
}

automation::Failure failureWithErrorInfo(HRESULT hr, const char* what) {
  ComPtr<IErrorInfo> info;
  if (GetErrorInfo(0, info.put()) == S_OK && info) {
    BSTR text = nullptr;
    std::string description;
    if (SUCCEEDED(info->GetDescription(&text)) && text) description = narrowBstr(text);
    SysFreeString(text);
    if (!description.empty()) return automation::Failure(std::move(description), codeOf(hr));
  }
  return failureFrom(hr, what);
}

void fillExcepInfo(EXCEPINFO* info, const automation::Failure& failure) noexcept {
  if (!info) return;
  *info = EXCEPINFO{};
  info->scode = toHresult(failure);
  try {
    info->bstrDescription = Bstr(failure.description()).detach();
    info->bstrSource = Bstr(std::string_view("VBATessary")).detach();
  } catch (...) {
  }
}

HRESULT reportFailure(const automation::Failure& failure, const IID& iid) noexcept {
  ComPtr<ICreateErrorInfo> create;
  if (SUCCEEDED(CreateErrorInfo(create.put()))) {
    try {
      std::wstring text = widen(failure.description());
      create->SetGUID(iid);
      create->SetDescription(const_cast<LPOLESTR>(text.c_str()));
      create->SetSource(const_cast<LPOLESTR>(L"VBATessary.Connect"));
      if (auto info = create.query<IErrorInfo>(IID_IErrorInfo)) SetErrorInfo(0, info.get());
    } catch (...) {
    }
  }
  return toHresult(failure);
}

}  // namespace win32
