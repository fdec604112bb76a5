#pragma once

#include <string>
#include <vector>

#include "regimes.h"
#include "scenarios.h"

namespace faults {

// What a run left behind, as far as the regimes care: gathered from the add-in linked in
// natively, or from the real DLL through COM.
struct Observation {
  std::vector<std::string> failures;      // failures the editor received (at connection: message boxes)
  bool cancelled = false;                 // CancelDefault after a click
  std::vector<std::string> messageBoxes;  // every box shown, from the start of the session
  bool formDisplayed = false;
  std::vector<std::string> stillHeld;     // add-in members still set (VBInstance, c, Btns1, ...)
  bool mainWindowVisible = true;
  bool startProjectActive = true;
  bool hostVisible = true;
  bool hostClosedSomething = false;
  std::string immediateText;
  std::vector<std::string> hostCrashes;  // calls a real host of the model's bitness would not survive
};

// The marker of a missing-reference line in the reference report.
extern const char* const MissingLine;
int count(const std::string& text, const std::string& what);

// The mismatches between what the command's failure rules fix for this run and what happened.
std::vector<std::string> judge(const Command& command, const CleanRun& clean, const Expectation& expected,
                               const std::string& injected, const Observation& seen);

}  // namespace faults
