#include "module.h"

#include "module_objects.h"
#include "variant.h"

namespace tessary {

namespace {
LONG locks = 0;
}  // namespace

HINSTANCE instance = nullptr;  // set once by DllMain

HINSTANCE moduleInstance() noexcept { return instance; }

std::wstring modulePath() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    DWORD n = GetModuleFileNameW(instance, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) return {};
    if (n < path.size()) {
      path.resize(n);
      return path;
    }
    path.resize(path.size() * 2);
  }
}

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
