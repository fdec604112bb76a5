// tessary-faults: for the connection, the disconnection and every click command, on the sample
// workspace under each host, fails every editor or host call of the command in turn, each run in
// a child process with a time limit, and checks the failure regime the command fixes for that
// call, the editor's main window, and that nothing is left referenced.
//
//   tessary-faults [-v] [--timeout seconds] [--log]
//
// --log: every session with the add-in's log on; each injected failure must also be in the log.
// Exit status 0 only when every run survived with the expected regime and no leak.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <stdexcept>
#include <string>

#include "sweep.h"
#include "totals.h"

namespace {

using faults::printRow;
using faults::Totals;

}  // namespace

int main(int argc, char** argv) {
  bool verbose = false;
  int timeout = 20;
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "-v")) verbose = true;
    else if (!std::strcmp(argv[i], "--timeout") && i + 1 < argc) timeout = std::atoi(argv[++i]);
    else if (!std::strcmp(argv[i], "--log"))
      faults::Session::log = true;
    else {
      std::fprintf(stderr, "usage: %s [-v] [--timeout seconds] [--log]\n", argv[0]);
      return 2;
    }
  }

  const auto scenarios = faults::scenarios();
  std::printf("%zu scenarios: ", scenarios.size());
  for (size_t i = 0; i < scenarios.size(); ++i) std::printf("%s%s", i ? "; " : "", scenarios[i].name.c_str());
  std::printf("\n\n%-40s %7s %9s %11s %6s %8s %6s\n", "command", "calls", "survived", "mismatches", "leaks",
              "crashes", "hangs");

  Totals total;
  for (const auto& command : faults::commands()) {
    Totals t;
    for (const auto& scenario : scenarios) {
      auto where = [&](size_t k, const std::string& call) {
        return scenario.name + " / " + command.name + (k ? " / call " + std::to_string(k) + " " + call : " / no fault");
      };
      // The clean run is checked like a faulted one: a command that fails by itself would make
      // every expectation meaningless.
      faults::CleanRun clean;
      std::vector<faults::Expectation> expected;
      auto prepared = faults::isolated([&](auto&) { faults::cleanRun(scenario, command); }, timeout);
      if (prepared.crashed || prepared.hung) {
        ++t.crashes;
        std::printf("  %s: the clean run %s\n", where(0, "").c_str(), prepared.hung ? "hung" : "crashed");
        continue;
      }
      try {
        clean = faults::cleanRun(scenario, command);
        expected = faults::expectations(command, clean);
      } catch (const std::exception& e) {
        ++t.mismatches;
        std::printf("  %s: %s\n", where(0, "").c_str(), e.what());
        continue;
      }

      for (size_t k = 0; k <= clean.calls.size(); ++k) {
        faults::Expectation e;
        if (k == 0) {
          e.regime = command.kind == faults::CommandKind::Disconnection ? faults::Regime::Skipped : faults::Regime::Absorbed;
          e.missingLines = clean.missingLines;
        } else {
          e = expected[k - 1];
          ++t.calls;
        }
        const std::string call = k ? clean.calls[k - 1].describe() : "";
        auto run = faults::isolated(
            [&](auto& say) { faults::checkedRun(scenario, command, clean, k, e, say); }, timeout);
        if (run.hung) ++t.hangs;
        else if (run.crashed) ++t.crashes;
        else if (k > 0) ++t.survived;
        if (run.leaked) ++t.leaks;
        bool mismatch = false;
        for (const auto& m : run.mismatches) mismatch = mismatch || m.rfind("mismatch: ", 0) == 0;
        if (mismatch) ++t.mismatches;
        if (run.hung || run.crashed || !run.mismatches.empty()) {
          std::printf("  %s [%s]: %s\n", where(k, call).c_str(), faults::nameOf(e.regime),
                      run.hung ? "hung" : run.crashed ? ("crashed: " + run.signal).c_str() : "");
          for (const auto& m : run.mismatches) std::printf("      %s\n", m.c_str());
        } else if (verbose) {
          std::printf("  %s [%s]: ok\n", where(k, call).c_str(), faults::nameOf(e.regime));
        }
      }
    }
    printRow(command.name.c_str(), t);
    std::fflush(stdout);
    total.add(t);
  }
  printRow("total", total);
  return total.clean() ? 0 : 1;
}
