#pragma once

// The fault sweep through the real vbatessary.dll: the model editor and host reached through
// this program's IDispatch servers, the add-in created with CoCreateInstance, its keys typed
// into a real edit control and its message boxes answered by script.
#include <windows.h>

#include <functional>
#include <string>

#include "judge.h"
#include "regimes.h"
#include "scenarios.h"
#include "testbed.h"

namespace faults::dll {

// The clean run of a command through the DLL.
CleanRun cleanRun(testbed::Addin& addin, const Scenario& scenario, const Command& command);

// One run with its k-th call failing (k = 0: none), checked like the native sweep: every finding
// goes to `say` as "mismatch: ..." or "leak: ...".
void checkedRun(testbed::Addin& addin, const Scenario& scenario, const Command& command, const CleanRun& clean,
                size_t k, const Expectation& expected, const std::function<void(const std::string&)>& say);

}  // namespace faults::dll
