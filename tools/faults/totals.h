#pragma once

#include <cstdio>

namespace faults {

// What a sweep saw, per command and in all.
struct Totals {
  long calls = 0, survived = 0, mismatches = 0, leaks = 0, crashes = 0, hangs = 0;
  void add(const Totals& o) {
    calls += o.calls, survived += o.survived, mismatches += o.mismatches, leaks += o.leaks;
    crashes += o.crashes, hangs += o.hangs;
  }
  bool clean() const { return mismatches == 0 && leaks == 0 && crashes == 0 && hangs == 0; }
};

inline void printRow(const char* name, const Totals& t) {
  std::printf("%-40s %7ld %9ld %11ld %6ld %8ld %6ld\n", name, t.calls, t.survived, t.mismatches, t.leaks,
              t.crashes, t.hangs);
}

}  // namespace faults
