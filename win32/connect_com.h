#pragma once

#include <windows.h>

#include "com_ptr.h"

namespace tessary {

// A new add-in object (state Created), answering QueryInterface for `iid`.
HRESULT createConnect(REFIID iid, void** out);

}  // namespace tessary
