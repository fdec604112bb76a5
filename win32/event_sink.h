#pragma once

#include <windows.h>

#include "automation/object.h"

namespace win32 {

// Subscribes `handler` to the Click event of `source` through its connection point for `events`:
// an editor CommandBarEvents object, or an Office CommandBarButton. The subscription's end
// unadvises and lets the event source go.
automation::Subscription adviseClicks(IUnknown* source, automation::ClickHandler handler,
                                      automation::ClickEvents events);

}  // namespace win32
