#include "judge.h"

namespace faults {

namespace {

std::string joined(const std::vector<std::string>& v) {
  if (v.empty()) return "nothing";
  std::string s;
  for (const auto& x : v) s += (s.empty() ? "\"" : ", \"") + x + "\"";
  return s;
}

}  // namespace

const char* const MissingLine = "Missing Refernece found for below file :";

int count(const std::string& text, const std::string& what) {
  int n = 0;
  for (size_t i = text.find(what); i != std::string::npos; i = text.find(what, i + what.size())) ++n;
  return n;
}

std::vector<std::string> judge(const Command& command, const CleanRun& clean, const Expectation& expected,
                               const std::string& injected, const Observation& seen) {
  std::vector<std::string> out;
  auto mismatch = [&](const std::string& what) { out.push_back(what); };

  for (const auto& crash : seen.hostCrashes) mismatch("the host crashed: " + crash);
  if (!seen.mainWindowVisible) mismatch("the editor's main window is left hidden");
  if (command.kind == CommandKind::References && !seen.cancelled)
    mismatch("the editor's own References dialog was not cancelled");
  if (command.kind != CommandKind::Connection && seen.messageBoxes.size() > clean.messageBoxes)
    mismatch("a message box appeared: \"" + seen.messageBoxes.back() + "\"");

  switch (expected.regime) {
    case Regime::Reported:
      if (seen.failures != std::vector<std::string>{injected})
        mismatch("the failure should reach the editor; it received " + joined(seen.failures));
      if (command.kind == CommandKind::Connection && seen.formDisplayed)
        mismatch("the toolbar counts as built after a reported failure");
      if (command.kind == CommandKind::Button && command.button == 6 && seen.hostClosedSomething)
        mismatch("a file was closed although the command failed before reaching the host");
      break;
    case Regime::RecoveryFails:
      if (seen.failures != std::vector<std::string>{"Object variable or With block variable not set"})
        mismatch("the recovery step should fail for want of a host; the editor received " + joined(seen.failures));
      break;
    case Regime::Skipped:
      if (!seen.failures.empty() || !seen.messageBoxes.empty()) mismatch("disconnection reported a failure");
      for (const auto& member : seen.stillHeld) mismatch(member + " still set after disconnection");
      if (seen.formDisplayed) mismatch("FormDisplayed still true after disconnection");
      break;
    default:
      if (!seen.failures.empty()) mismatch("the failure should be absorbed; the editor received " + joined(seen.failures));
      if (command.kind == CommandKind::Connection && !seen.formDisplayed)
        mismatch("an absorbed failure left the toolbar incomplete");
      if ((expected.regime == Regime::LoopStopped || expected.regime == Regime::Restored) && !seen.startProjectActive)
        mismatch("the start project is not active again");
      if (expected.regime == Regime::Recovered && !seen.hostVisible) mismatch("the host is left hidden");
      if (expected.regime == Regime::FixedResult && expected.missingLines &&
          seen.immediateText.find("References set in  - [ ") == std::string::npos)
        mismatch("the report's header does not carry the empty file name");
      break;
  }
  if (expected.missingLines) {
    int missing = count(seen.immediateText, MissingLine);
    if (missing != *expected.missingLines)
      mismatch(std::to_string(missing) + " missing-reference lines typed, expected " +
               std::to_string(*expected.missingLines));
  }
  return out;
}

}  // namespace faults
