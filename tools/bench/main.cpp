// tessary-bench: every click command on workspaces of 1, 10 and 100 projects, each with 1,000
// components and 1,000 references, against a replay of exactly the same editor and host calls
// straight on the model (the editor's own work). Prints add-in ÷ replay per command and size,
// and how the time grows with ten times the components.
//
//   tessary-bench [Google Benchmark options, e.g. --benchmark_filter=button3]
//                 [--rounds n] [--only text] [--ratios-only]
//
// Google Benchmark times each benchmark on its own; the ratios at the end come from a second
// pass that interleaves sizes and sides (--rounds of it, for the commands named by --only).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
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
    return {h.settings, h.messageBox, keys, lookup, h.log};
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

void addinRun(benchmark::State& state, const Command& c, int projects) {
  auto& f = fixture(projects);
  record(f, c);  // the steady state, and the check that the replay makes the same calls
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

double seconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? -1.0 : v[v.size() / 2];
}

// The ratios, from rounds that take every size and both sides in turn, so that whatever the
// machine does meanwhile (a neighbour's cache traffic drifts over seconds) falls on every cell
// alike; each cell is the median of its rounds. Google Benchmark's figures above are measured
// one benchmark after the other and drift too much between sizes to be divided.
void printRatios(int rounds, const std::string& filter) {
  struct Cell {
    Fixture* f = nullptr;
    Object control;
    Recorded recorded;
    std::unique_ptr<bench::Replay> replay;
    int clicks = 1;  // per sample, so that a sample lasts about 20 ms whatever the command
    std::vector<double> addinTimes, replayTimes;
  };
  std::printf("\n%-22s %8s %8s %14s %14s %8s   (median of %d interleaved rounds)\n", "command",
              "projects", "calls", "add-in us", "replay us", "ratio", rounds);
  double worst = 0;
  std::vector<std::string> scaling;
  for (const auto& c : Commands) {
    if (!filter.empty() && c.name.find(filter) == std::string::npos) continue;
    std::vector<Cell> cells(
        std::size(Sizes));  // in place: a replay keeps its recording by reference
    for (size_t i = 0; i < cells.size(); ++i) {
      Cell& cell = cells[i];
      cell.f = &fixture(Sizes[i]);
      cell.control = cell.f->control(c.button);
      cell.recorded = record(*cell.f, c);
      cell.replay = std::make_unique<bench::Replay>(cell.recorded.recording, cell.recorded.roots,
                                                    cell.f->h.hosts, cell.f->keyboard);
      double t0 = seconds();
      cell.f->click(*cell.f->addin, cell.control, c.button);
      cell.f->reset();
      cell.clicks =
          static_cast<int>(std::clamp(0.02 / std::max(seconds() - t0, 1e-9), 1.0, 100000.0));
    }
    for (int round = 0; round < rounds; ++round)
      for (auto& cell : cells) {
        auto sample = [&](const std::function<void()>& once, std::vector<double>& into) {
          double total = 0;
          if (c.button == 6) {
            // Each close needs its file open again, which is not the command's time.
            for (int i = 0; i < cell.clicks; ++i) {
              double t0 = seconds();
              once();
              total += seconds() - t0;
              cell.f->reset();
            }
          } else {
            double t0 = seconds();
            for (int i = 0; i < cell.clicks; ++i) once();
            total = seconds() - t0;
          }
          into.push_back(total / cell.clicks * 1e6);
        };
        sample([&] { cell.f->click(*cell.f->addin, cell.control, c.button); }, cell.addinTimes);
        sample([&] { cell.replay->run(); }, cell.replayTimes);
      }
    std::vector<double> times;
    for (size_t i = 0; i < cells.size(); ++i) {
      double a = median(cells[i].addinTimes), r = median(cells[i].replayTimes);
      worst = std::max(worst, a / r);
      times.push_back(a);
      std::printf("%-22s %8d %8zu %14.2f %14.2f %8.3f\n", c.name.c_str(), Sizes[i],
                  cells[i].recorded.calls, a, r, a / r);
    }
    char line[160];
    std::snprintf(line, sizeof line, "%-22s  10 / 1 projects: %6.2fx   100 / 10 projects: %6.2fx",
                  c.name.c_str(), times[1] / times[0], times[2] / times[1]);
    scaling.push_back(line);
  }
  std::printf("worst add-in / replay: %.3f (target <= 1.2)\n", worst);
  std::printf("\nscaling of the add-in's time (target: 10x the components <= 11x the time)\n");
  for (const auto& line : scaling) std::printf("%s\n", line.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  int rounds = 15;
  bool runBenchmarks = true;
  std::string only;  // the ratios of the commands whose name contains this
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--rounds") && i + 1 < argc)
      rounds = std::max(1, std::atoi(argv[++i]));
    else if (!std::strcmp(argv[i], "--only") && i + 1 < argc)
      only = argv[++i];
    else if (!std::strcmp(argv[i], "--ratios-only"))
      runBenchmarks = false;
    else {
      std::fprintf(
          stderr,
          "usage: %s [Google Benchmark options] [--rounds n] [--only text] [--ratios-only]\n",
          argv[0]);
      return 2;
    }
  }
  for (int p : Sizes)
    for (const auto& c : Commands) {
      benchmark::RegisterBenchmark((c.name + "/addin/" + std::to_string(p)).c_str(), addinRun, c, p)
          ->Unit(benchmark::kMicrosecond);
      benchmark::RegisterBenchmark((c.name + "/replay/" + std::to_string(p)).c_str(), replayRun, c, p)
          ->Unit(benchmark::kMicrosecond);
    }
  if (runBenchmarks) benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  printRatios(rounds, only);
  return 0;
}
