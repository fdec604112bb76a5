// tessary-bench: every click command on workspaces of 1, 10 and 100 projects, each with 1,000
// components and 1,000 references, against a replay of exactly the same editor and host calls
// straight on the model (the editor's own work). Prints add-in ÷ replay per command and size,
// and how the time grows with ten times the components.
//
//   tessary-bench [Google Benchmark options, e.g. --benchmark_filter=button3]
//
// On a shared machine: --benchmark_repetitions=5 (the ratios then use the medians). Not random
// interleaving: the commands change the workspace, and each is recorded in its own steady state.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <set>
#include <memory>
#include <stdexcept>
#include <string>

#include "addin/connect.h"
#include "editor/vbe.h"
#include "model/hosts.h"
#include "model/platform.h"
#include "platform/keystrokes.h"
#include "replay.h"
#include "workspace.h"

namespace {

using automation::Object;

using bench::Sizes;
using bench::workspace;

// Does what every platform keyboard does before the keys leave the process (parses the notation
// into keys), then drops them: the Immediate window's own work is not measured.
class ParsingKeyboard : public platform::Keyboard {
 public:
  void type(const std::string& notation) override {
    keys += platform::keystrokes::parse(notation).size();
    if (logging) texts.push_back(notation);
  }
  size_t keys = 0;
  bool logging = false;
  std::vector<std::string> texts;
};

struct Command {
  std::string name;
  int button;  // 1..6, or 0 for Tools > References...
};

const Command Commands[] = {{"button1_open_active", 1}, {"button2_close_active", 2}, {"button3_open_all", 3},
                            {"button4_close_all", 4},   {"button5_open_dialog", 5},  {"button6_close_file", 6},
                            {"references", 0}};

// One workspace, its host, and the add-in connected to it as the add-in manager would.
struct Fixture {
  explicit Fixture(int projects)
      : h(workspace(projects)),
        host(model::HostBuilder(h.editor, model::HostKind::Excel).file("Project1.xlsm").build()),
        addin(std::make_unique<addin::Connect>(services(h.hosts, keyboard))) {
    host.install(h.hosts);
    h.editor.world().logging = false;
    addin->AddinInstance_OnConnection(h.editor.vbe(), 0);
    if (!addin->FormDisplayed()) throw std::runtime_error("the toolbar was not built");
  }
  platform::Services services(platform::HostLookup& lookup, platform::Keyboard& keys) {
    return {h.settings, h.messageBox, keys, lookup};
  }
  Object control(int button) const {
    auto bars = editor::VBE(h.editor.vbe()).CommandBars();
    if (button == 0) return bars.Item("Tools").FindControl(942).object();
    return bars.Item("Tessary Ver. 1.01").Controls().Item(automation::Value::i2(static_cast<int16_t>(button))).object();
  }
  void click(addin::Connect& a, const Object& control, int button) {
    bool handled = false, cancel = false;
    if (button == 0) a.CmdReferenceSet_Click(control, handled, cancel);
    else a.BtnsN_Click(control, handled, cancel);
  }
  // Undoes what a command changed that would change the next run's calls.
  void reset() {
    for (auto& f : host.state().files) f.open = true;
    host.state().closed.clear();
  }

  model::Harness h;
  model::Host host;
  ParsingKeyboard keyboard;
  std::unique_ptr<addin::Connect> addin;
};

Fixture& fixture(int projects) {
  static std::map<int, std::unique_ptr<Fixture>> fixtures;
  auto& f = fixtures[projects];
  if (!f) f = std::make_unique<Fixture>(projects);
  return *f;
}

// The editor calls of a run, and the texts it typed.
std::vector<std::string> logged(Fixture& f, const std::function<void()>& run) {
  auto& e = f.h.editor;
  e.world().log.clear();
  f.keyboard.texts.clear();
  e.world().logging = f.keyboard.logging = true;
  run();
  e.world().logging = f.keyboard.logging = false;
  std::vector<std::string> out;
  for (const auto& c : e.world().log) out.push_back(c.describe());
  for (const auto& t : f.keyboard.texts) out.push_back("type " + t);
  e.world().log.clear();
  f.keyboard.texts.clear();
  return out;
}

// A recording of one click, checked to make exactly the calls the add-in makes.
struct Recorded {
  bench::Recording recording;
  std::vector<Object> roots;
  size_t calls = 0;
};

// Brings the workspace to the command's steady state (closing a designer changes what the next
// run asks), records one click there and checks that its replay makes exactly the same calls.
Recorded record(Fixture& f, const Command& c) {
  Object control = f.control(c.button);
  f.click(*f.addin, control, c.button);
  f.reset();

  bench::Recorder recorder;
  Object vbe = recorder.root(f.h.editor.vbe());
  Object clicked = recorder.root(control);
  {
    addin::Connect recording(f.services(recorder.lookup(f.h.hosts), recorder.keyboard(f.keyboard)));
    recording.AddinInstance_OnConnection(vbe, 2);  // no bar of its own: it clicks the fixture's
    recorder.ops().clear();
    f.click(recording, clicked, c.button);
    // Destroyed without a disconnection, which would delete the bar by name.
  }
  Recorded r;
  r.recording = recorder.finish();
  r.roots = {f.h.editor.vbe(), control};
  f.reset();

  auto direct = logged(f, [&] { f.click(*f.addin, control, c.button); });
  f.reset();
  bench::Replay replay(r.recording, r.roots, f.h.hosts, f.keyboard);
  auto replayed = logged(f, [&] { replay.run(); });
  f.reset();
  if (direct != replayed)
    throw std::runtime_error(c.name + ": the replay does not make the add-in's calls (" + std::to_string(direct.size()) +
                             " against " + std::to_string(replayed.size()) + ")");
  r.calls = static_cast<size_t>(std::count_if(direct.begin(), direct.end(), [](auto& d) { return d.rfind("type ", 0) != 0; }));
  return r;
}

std::map<std::pair<std::string, int>, size_t> callCounts;

void addinRun(benchmark::State& state, const Command& c, int projects) {
  auto& f = fixture(projects);
  callCounts[{c.name, projects}] = record(f, c).calls;
  Object control = f.control(c.button);
  for (auto _ : state) {
    f.click(*f.addin, control, c.button);
    if (c.button == 6) {
      state.PauseTiming();
      f.reset();
      state.ResumeTiming();
    }
  }
}

void replayRun(benchmark::State& state, const Command& c, int projects) {
  auto& f = fixture(projects);
  auto r = record(f, c);
  bench::Replay replay(r.recording, r.roots, f.h.hosts, f.keyboard);
  for (auto _ : state) {
    replay.run();
    if (c.button == 6) {
      state.PauseTiming();
      f.reset();
      state.ResumeTiming();
    }
  }
}

// Keeps every run's time, and prints the ratios once all have run.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    // With --benchmark_repetitions the median stands for the run (a shared machine's noise
    // falls on single repetitions); without, the one run does.
    for (const auto& run : runs) {
      const std::string name = run.run_name.str();
      if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median") {
        times[name] = run.GetAdjustedCPUTime();
        medians.insert(name);
      } else if (run.run_type == Run::RT_Iteration && !medians.count(name)) {
        times[name] = run.GetAdjustedCPUTime();
      }
    }
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    auto t = [&](const std::string& cmd, const char* side, int p) {
      auto it = times.find(cmd + "/" + side + "/" + std::to_string(p));
      return it == times.end() ? -1.0 : it->second;
    };
    std::printf("\n%-22s %8s %8s %14s %14s %8s\n", "command", "projects", "calls", "add-in cpu us", "replay cpu us",
                "ratio");
    double worst = 0;
    for (const auto& c : Commands)
      for (int p : Sizes) {
        double a = t(c.name, "addin", p), r = t(c.name, "replay", p);
        if (a < 0 || r < 0) continue;
        worst = std::max(worst, a / r);
        std::printf("%-22s %8d %8zu %14.1f %14.1f %8.3f\n", c.name.c_str(), p, callCounts[{c.name, p}], a, r,
                    a / r);
      }
    std::printf("worst add-in / replay: %.3f (target <= 1.2)\n", worst);
    // The replay's scaling beside it: the editor's own work grows the same way, so what exceeds
    // ten times is not the add-in's.
    std::printf("\nscaling of the add-in's time (target: 10x the components <= 11x the time), the replay's beside it\n");
    for (const auto& c : Commands) {
      double t1 = t(c.name, "addin", 1), t10 = t(c.name, "addin", 10), t100 = t(c.name, "addin", 100);
      double r1 = t(c.name, "replay", 1), r10 = t(c.name, "replay", 10), r100 = t(c.name, "replay", 100);
      if (t1 < 0 || t10 < 0 || t100 < 0 || r1 < 0 || r10 < 0 || r100 < 0) continue;
      std::printf("%-22s  10 / 1 projects: %6.2fx (replay %6.2fx)   100 / 10 projects: %6.2fx (replay %6.2fx)\n",
                  c.name.c_str(), t10 / t1, r10 / r1, t100 / t10, r100 / r10);
    }
  }
  std::map<std::string, double> times;
  std::set<std::string> medians;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  for (int p : Sizes)
    for (const auto& c : Commands) {
      benchmark::RegisterBenchmark((c.name + "/addin/" + std::to_string(p)).c_str(), addinRun, c, p)
          ->Unit(benchmark::kMicrosecond);
      benchmark::RegisterBenchmark((c.name + "/replay/" + std::to_string(p)).c_str(), replayRun, c, p)
          ->Unit(benchmark::kMicrosecond);
    }
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
