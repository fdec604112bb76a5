#pragma once

// Registers the stand-in editor and Office type libraries in the test prefix for the length of a
// scope: DispInvoke needs them for members typed VBE, CommandBarControl and CommandBarEvents.
#include <windows.h>
#include <oleauto.h>

#include "check.h"
#include "com_ptr.h"

namespace standins {

inline const GUID Vbide = {0x0002E157, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline const GUID Office = {0x2DF8D04C, 0x5BFA, 0x101B, {0xBD, 0xE5, 0x00, 0xAA, 0x00, 0x44, 0xDE, 0x52}};

inline SYSKIND syskind() { return sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32; }

class Registration {
 public:
  Registration() {
    for (const wchar_t* file : {L"VBEEXT1.OLB", L"MSO97.DLL"}) {
      std::wstring path = check::besideProgram(file);
      win32::ComPtr<ITypeLib> lib;
      HRESULT hr = LoadTypeLibEx(path.c_str(), REGKIND_NONE, lib.put());
      if (SUCCEEDED(hr)) hr = RegisterTypeLib(lib.get(), const_cast<OLECHAR*>(path.c_str()), nullptr);
      CHECK(SUCCEEDED(hr));
    }
  }
  ~Registration() {
    UnRegisterTypeLib(Vbide, 5, 0, 0, syskind());
    UnRegisterTypeLib(Office, 2, 0, 0, syskind());
  }
};

}  // namespace standins
