#include <windows.h>
#include <oleauto.h>

#include "com_ptr.h"
#include "services.h"
#include "text.h"
#include "variant.h"

namespace win32 {

automation::Object RunningObjectLookup::getActiveObject(const std::string& progId) {
  auto notRunning = [&] {
    automation::fail("ActiveX component can't create object: no running " + progId,
                     automation::errors::CantCreateObject);
  };
  CLSID clsid{};
  if (FAILED(CLSIDFromProgID(widen(progId).c_str(), &clsid))) notRunning();
  ComPtr<IUnknown> unknown;
  // The table may answer "not found" with a success code and no object.
  if (FAILED(GetActiveObject(clsid, nullptr, unknown.put())) || !unknown) notRunning();
  auto dispatch = unknown.query<IDispatch>(IID_IDispatch);
  if (!dispatch) notRunning();
  return adoptDispatch(dispatch.get());
}

}  // namespace win32
