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

}  // namespace win32
