#pragma once

#include <optional>
#include <string>
#include <vector>

#include "model/state.h"
#include "scenarios.h"

namespace faults {

// How the add-in must take a failure of one editor or host call, by the step the call belongs to.
enum class Regime {
  Reported,       // unguarded: the editor receives the failure (the message box, at connection)
  Absorbed,       // a guarded step or stretch: the command ends in success
  FixedResult,    // the file name lookup: the empty name, and the command goes on
  LoopStopped,    // the window loop stops; restore steps run; success
  Restored,       // a restore step fails once: restore is run again; success
  Recovered,      // the Open command's recovery step shows the host again; success
  RecoveryFails,  // no host object yet: the recovery step itself fails, "object not set" is reported
  Skipped,        // disconnection: the step is skipped, every later release still happens
  FoundByType,    // a window not found by its name is found by its type; the command goes on
};

const char* nameOf(Regime r);

struct Expectation {
  Regime regime = Regime::Absorbed;
  std::optional<int> missingLines;  // the reference report: missing-reference lines typed
};

// What the clean run showed, needed to predict a faulted one.
struct CleanRun {
  std::vector<model::Call> calls;  // the command's own calls
  int missingLines = 0;
  size_t messageBoxes = 0;
};

// The expectation for failing each call of the clean run, derived from the command's failure
// rules. Throws std::logic_error when the clean run does not have the shape the rules describe.
std::vector<Expectation> expectations(const Command& command, const CleanRun& clean);

}  // namespace faults
