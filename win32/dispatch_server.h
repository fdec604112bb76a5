#pragma once

#include <windows.h>
#include <oaidl.h>
#include <ocidl.h>

#include "automation/object.h"
#include "com_ptr.h"

namespace win32 {

// Exposes an automation::Object as a real IDispatch: member names get stable DISPIDs per object,
// _NewEnum gives an IEnumVARIANT, and clicks are offered through a connection point. It answers
// QueryInterface for the editor's and Office's interfaces the object says it implements.
ComPtr<IDispatch> makeDispatchServer(automation::Object object);

// The object behind one of this module's dispatch servers; false for any other IDispatch.
bool unwrapDispatchServer(IUnknown* unknown, automation::Object& object);

// IEnumVARIANT over an enumeration.
ComPtr<IEnumVARIANT> makeEnumServer(std::unique_ptr<automation::Enumeration> enumeration);

// The connection point for Click events of an object that can be subscribed to, raising them
// the way `events` has them.
ComPtr<IConnectionPoint> makeClickConnectionPoint(automation::Object source,
                                                  IConnectionPointContainer* container,
                                                  automation::ClickEvents events);

}  // namespace win32
