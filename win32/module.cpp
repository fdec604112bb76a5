#include "module.h"

#include "module_objects.h"
#include "text.h"
#include "variant.h"

namespace tessary {

namespace {
LONG locks = 0;
}  // namespace

HINSTANCE instance = nullptr;  // set once by DllMain

HINSTANCE moduleInstance() noexcept { return instance; }

std::wstring modulePath() { return win32::modulePath(instance); }

void lockModule(bool lock) noexcept {
  if (lock) InterlockedIncrement(&locks);
  else InterlockedDecrement(&locks);
}

LONG moduleLocks() noexcept { return InterlockedCompareExchange(&locks, 0, 0); }

}  // namespace tessary

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  if (reason == DLL_PROCESS_ATTACH) {
    tessary::instance = instance;
    DisableThreadLibraryCalls(instance);
  } else if (reason == DLL_PROCESS_DETACH && !reserved) {
    // Unloaded while the process goes on: give the recycled blocks back to its heap.
    win32::releaseRecycledClients();
  }
  return TRUE;
}

extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow() {
  return win32::liveObjects() == 0 && tessary::moduleLocks() == 0 ? S_OK : S_FALSE;
}
