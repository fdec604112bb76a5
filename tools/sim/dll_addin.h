#pragma once

#include <string>

#include "session.h"

namespace sim {

// The add-in loaded from vbatessary.dll through COM: registered, created with CoCreateInstance,
// connected to the model editor through IDispatch. Only the Windows build can do it; elsewhere,
// and for a DLL that cannot be loaded or registered, the runtime is refused with an InputError.
RuntimeFactory dllRuntime(const std::string& path);

}  // namespace sim
