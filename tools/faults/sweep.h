#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "regimes.h"
#include "scenarios.h"

namespace faults {

// What one run in a child process came to.
struct RunOutcome {
  bool crashed = false;  // killed by a signal, or exited without finishing its report
  bool hung = false;     // still running at the time limit
  std::string signal;
  std::vector<std::string> mismatches;
  bool leaked = false;
};

// Runs `body` in a child process with a time limit; whatever the body writes with `say` comes
// back as lines. A body that aborts, crashes or loops forever cannot take the sweep down with it.
RunOutcome isolated(const std::function<void(const std::function<void(const std::string&)>& say)>& body,
                    int timeoutSeconds);

// The clean run of a command in a scenario.
CleanRun cleanRun(const Scenario& scenario, const Command& command);

// Runs the command with its k-th call failing (k = 0: no failure) and checks the outcome
// against the expectation; every finding is handed to `say` ("mismatch: ..." or "leak: ...").
void checkedRun(const Scenario& scenario, const Command& command, const CleanRun& clean, size_t k,
                const Expectation& expected, const std::function<void(const std::string&)>& say);

}  // namespace faults
