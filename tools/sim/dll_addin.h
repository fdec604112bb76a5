#pragma once

#include <string>

#include "session.h"

namespace sim {

// The add-in loaded from vbatessary.dll through COM. Only the Windows build can do it; elsewhere
// this refuses with an InputError.
AddinFactory dllAddin(const std::string& path);

}  // namespace sim
