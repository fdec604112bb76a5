#include <windows.h>
#include <oleauto.h>

#include "com_ptr.h"
#include "dispatch_client.h"
#include "services.h"
#include "text.h"
#include "variant.h"

namespace win32 {

namespace {

// Unmarshalled into the apartment that registered it, an object is itself; from anywhere else it
// is a proxy, and COM's proxy manager answers IClientSecurity without a call to the object. The
// editor calls add-ins on the thread its host registered from, so a proxy is another instance.
bool isProxy(IUnknown* unknown) {
  return static_cast<bool>(ComPtr<IUnknown>(unknown).query<IClientSecurity>(IID_IClientSecurity));
}

}  // namespace

platform::ActiveObject RunningObjectLookup::getActiveObject(const std::string& progId) {
  auto notRunning = [&] {
    automation::fail("ActiveX component can't create object: no running " + progId,
                     automation::errors::CantCreateObject);
  };
  if (progId_ != progId) {
    // Not kept when absent: a host registered later is found at the next click.
    progId_.clear();
    if (FAILED(CLSIDFromProgID(widen(progId).c_str(), &clsid_))) notRunning();
    progId_ = progId;
  }
  ComPtr<IUnknown> unknown;
  // The table may answer "not found" with a success code and no object.
  if (FAILED(GetActiveObject(clsid_, nullptr, unknown.put())) || !unknown) notRunning();
  // Another instance: hand out nothing, so that nothing at all (not even QueryInterface) reaches it.
  if (isProxy(unknown.get())) return {{}, false};
  auto dispatch = unknown.query<IDispatch>(IID_IDispatch);
  if (!dispatch) notRunning();
  return {adoptDispatch(dispatch.get()), true};
}

bool RunningObjectLookup::inThisProcess(const automation::Object& object) {
  // Only objects that came through COM can be proxies; this module's own are here by definition.
  auto* client = clientOf(object);
  if (!client || !client->unknown()) return true;
  return !isProxy(client->unknown());
}

}  // namespace win32
