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

// A COM object of this module that answers one interface besides IUnknown: the QueryInterface,
// AddRef and Release every such class would otherwise write again.
template <class Interface, const IID& InterfaceId>
class SingleInterfaceObject : public Interface, ModuleObject {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, InterfaceId)) {
      *out = static_cast<Interface*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return refs_.add(); }
  ULONG STDMETHODCALLTYPE Release() override {
    ULONG n = refs_.release();
    if (n == 0) delete this;
    return n;
  }

 protected:
  SingleInterfaceObject() = default;
  virtual ~SingleInterfaceObject() = default;

 private:
  RefCount refs_;
};

}  // namespace win32
