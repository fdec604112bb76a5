#include "module_objects.h"

namespace win32 {

namespace {
LONG live = 0;
}

LONG liveObjects() noexcept { return InterlockedCompareExchange(&live, 0, 0); }
ModuleObject::ModuleObject() noexcept { InterlockedIncrement(&live); }
ModuleObject::~ModuleObject() { InterlockedDecrement(&live); }

}  // namespace win32
