#include <new>

#include "connect_com.h"
#include "iids.h"
#include "module.h"
#include "module_objects.h"

namespace tessary {

namespace {

class ClassFactory final : public win32::SingleInterfaceObject<IClassFactory, IID_IClassFactory> {
 public:
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    return createConnect(iid, out);
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
    lockModule(lock != FALSE);
    return S_OK;
  }
};

}  // namespace

}  // namespace tessary

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (!IsEqualCLSID(clsid, win32::iids::ConnectClass)) return CLASS_E_CLASSNOTAVAILABLE;
  auto factory = win32::ComPtr<IClassFactory>::attach(new (std::nothrow) tessary::ClassFactory());
  if (!factory) return E_OUTOFMEMORY;
  return factory->QueryInterface(iid, out);
}
