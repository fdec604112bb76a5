#pragma once

#include <windows.h>

#include "automation/object.h"

namespace win32 {

// Subscribes `handler` to the Click event of an editor CommandBarEvents object through its
// connection point. The subscription's end unadvises and lets the event source go.
automation::Subscription adviseClicks(IUnknown* source, automation::ClickHandler handler);

}  // namespace win32
