#pragma once

#include <windows.h>

namespace win32 {

// Count of this module's COM objects still alive: the module may unload only at zero.
LONG liveObjects() noexcept;

// Base of every COM object class of the module; counts instances.
class ModuleObject {
 protected:
  ModuleObject() noexcept;
  ~ModuleObject();
  ModuleObject(const ModuleObject&) = delete;
  ModuleObject& operator=(const ModuleObject&) = delete;
};

// The reference count of a single-apartment object.
class RefCount {
 public:
  ULONG add() noexcept { return static_cast<ULONG>(InterlockedIncrement(&n_)); }
  ULONG release() noexcept { return static_cast<ULONG>(InterlockedDecrement(&n_)); }

 private:
  LONG n_ = 1;
};

// A COM object of this module: the QueryInterface, AddRef and Release its classes would each write
// again. One definition overrides the IUnknown of every interface listed; the first is the
// object's identity, and `interfaceFor` names what else it answers (null: nothing).
template <class Identity, class... More>
class ComObject : public Identity, public More..., ModuleObject {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) final {
    if (!out) return E_POINTER;
    *out = IsEqualIID(iid, IID_IUnknown) ? static_cast<Identity*>(this) : interfaceFor(iid);
    if (!*out) return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() final { return refs_.add(); }
  ULONG STDMETHODCALLTYPE Release() final {
    ULONG n = refs_.release();
    if (n == 0) delete this;
    return n;
  }

 protected:
  ComObject() = default;
  virtual ~ComObject() = default;
  virtual void* interfaceFor(REFIID iid) noexcept = 0;

 private:
  RefCount refs_;
};

// One interface besides IUnknown.
template <class Interface, const IID& InterfaceId>
class SingleInterfaceObject : public ComObject<Interface> {
 protected:
  void* interfaceFor(REFIID iid) noexcept override {
    return IsEqualIID(iid, InterfaceId) ? static_cast<Interface*>(this) : nullptr;
  }
};

// An IDispatch (or an interface derived from it) without type information: its callers go by name.
template <class Interface>
class WithoutTypeInfo : public Interface {
 public:
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* n) override {
    if (!n) return E_POINTER;
    *n = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** out) override {
    if (out) *out = nullptr;
    return DISP_E_BADINDEX;
  }
};

template <class... More>
using DispatchObject = ComObject<WithoutTypeInfo<IDispatch>, More...>;

}  // namespace win32
