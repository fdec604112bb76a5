#include <new>

#include "dispatch_server.h"
#include "errors.h"
#include "module_objects.h"
#include "variant.h"

namespace win32 {

namespace {

// Forward-only: the core's enumerations cannot restart or be copied.
class EnumServer final : public SingleInterfaceObject<IEnumVARIANT, IID_IEnumVARIANT> {
 public:
  explicit EnumServer(std::unique_ptr<automation::Enumeration> e) : e_(std::move(e)) {}

  HRESULT STDMETHODCALLTYPE Next(ULONG count, VARIANT* items, ULONG* fetched) override {
    if (!items) return E_POINTER;
    ULONG n = 0;
    try {
      for (; n < count; ++n) {
        auto v = e_->next();
        if (!v) break;
        VariantInit(&items[n]);
        toVariant(*v, &items[n]);
      }
    } catch (const automation::Failure& f) {
      for (ULONG i = 0; i < n; ++i) VariantClear(&items[i]);
      if (fetched) *fetched = 0;
      return reportFailure(f, IID_IEnumVARIANT);
    } catch (...) {
      for (ULONG i = 0; i < n; ++i) VariantClear(&items[i]);
      if (fetched) *fetched = 0;
      return E_OUTOFMEMORY;
    }
    if (fetched) *fetched = n;
    return n == count ? S_OK : S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE Skip(ULONG count) override {
    try {
      for (ULONG i = 0; i < count; ++i)
        if (!e_->next()) return S_FALSE;
      return S_OK;
    } catch (const automation::Failure& f) {
      return reportFailure(f, IID_IEnumVARIANT);
    } catch (...) {
      return E_UNEXPECTED;
    }
  }
  HRESULT STDMETHODCALLTYPE Reset() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Clone(IEnumVARIANT** out) override {
    if (out) *out = nullptr;
    return E_NOTIMPL;
  }

 private:
  std::unique_ptr<automation::Enumeration> e_;
};

}  // namespace

ComPtr<IEnumVARIANT> makeEnumServer(std::unique_ptr<automation::Enumeration> enumeration) {
  return ComPtr<IEnumVARIANT>::attach(new EnumServer(std::move(enumeration)));
}

}  // namespace win32
