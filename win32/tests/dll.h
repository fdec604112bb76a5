#pragma once

// The DLL under test, loaded from beside the test program.
#include <windows.h>

#include "check.h"

namespace dll {

using Fn = HRESULT(STDAPICALLTYPE*)();
using GetClassObjectFn = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);

inline std::wstring path() { return check::besideProgram(L"vbatessary.dll"); }

struct Module {
  HMODULE handle = LoadLibraryW(path().c_str());
  Fn registerServer = entry<Fn>("DllRegisterServer");
  Fn unregisterServer = entry<Fn>("DllUnregisterServer");
  Fn canUnloadNow = entry<Fn>("DllCanUnloadNow");
  GetClassObjectFn getClassObject = entry<GetClassObjectFn>("DllGetClassObject");

  bool loaded() const { return handle && registerServer && unregisterServer && canUnloadNow && getClassObject; }

 private:
  template <class F>
  F entry(const char* name) {
    return handle ? reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(handle, name))) : nullptr;
  }
};

}  // namespace dll
