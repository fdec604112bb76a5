#pragma once

#include <windows.h>

#include <string>

namespace tessary {

HINSTANCE moduleInstance() noexcept;
std::wstring modulePath();

// IClassFactory::LockServer.
void lockModule(bool lock) noexcept;
LONG moduleLocks() noexcept;

}  // namespace tessary
