// tessary-bench, Windows build: every click command through the real vbatessary.dll (the model
// editor behind this program's IDispatch servers, the host in the Running Object Table, keys
// through SendInput) against a replay of exactly the same calls straight through IDispatch, and
// the connection time (DLL load + CoCreateInstance + OnConnection building the toolbar).
//
//   tessary-bench [--max-projects n] [--seconds s per size, default 3] [--only text] [--log]
//
// --only keeps the commands whose name contains the text (and skips the connection figures).
// --log adds what the add-in's log costs each click (its setting on against off, same workspace),
// and whether each click's lines are in the file when the click returns.
//
// Not a test: run it by hand under Wine and read the ratios.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "addin/connect.h"
#include "dispatch_replay.h"
#include "dispatch_server.h"
#include "editor/vbe.h"
#include "iids.h"
#include "model/hosts.h"
#include "model/platform.h"
#include "model/sample.h"
#include "replay.h"
#include "locations.h"
#include "services.h"
#include "testbed.h"
#include "toolbar/click_route.h"
#include "workspace.h"

namespace {

using automation::Object;
using win32::ComPtr;

double now() {
  static const double perSecond = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return static_cast<double>(f.QuadPart);
  }();
  LARGE_INTEGER t;
  QueryPerformanceCounter(&t);
  return static_cast<double>(t.QuadPart) / perSecond;
}

struct Command {
  const char* name;
  int button;  // 1..6, or 0 for Tools > References...
};
const Command Commands[] = {{"button1_open_active", 1}, {"button2_close_active", 2}, {"button3_open_all", 3},
                            {"button4_close_all", 4},   {"button5_open_dialog", 5},  {"button6_close_file", 6},
                            {"references", 0}};

class NullKeyboard : public platform::Keyboard {
 public:
  void type(const std::string&) override {}
};

// A workspace, its host and an add-in object of the DLL connected to it. The workspaces of every
// size live side by side, so their host enters the Running Object Table only while they are
// measured (`Hosting`).
struct Fixture {
  explicit Fixture(int projects)
      : editor(bench::workspace(projects)),
        host(model::HostBuilder(editor, model::HostKind::Excel).file("Project1.xlsm").build()) {
    editor.world().logging = false;
    CLSID clsid{};
    HRESULT hr = CLSIDFromProgID(L"VBATessary.Connect", &clsid);
    if (SUCCEEDED(hr))
      hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, win32::iids::IDTExtensibility2,
                            addin.putVoid());
    if (SUCCEEDED(hr))
      hr = addin->OnConnection(win32::makeDispatchServer(editor.vbe()).get(), 0, nullptr, nullptr);
    if (hr != S_OK) throw std::runtime_error("OnConnection failed");
    if (editor.barCount("Tessary Ver. 1.01") != 1)
      throw std::runtime_error("the toolbar was not built");
  }
  ~Fixture() {
    if (addin) addin->OnDisconnection(1, nullptr);
  }
  struct Hosting {
    explicit Hosting(Fixture& f) : running(f.host.progId(), f.host.application()) {
      if (!running.ready()) throw std::runtime_error("the host is not in the running object table");
    }
    testbed::RunningObject running;
  };
  Object control(int button) const {
    auto bars = editor::VBE(editor.vbe()).CommandBars();
    if (button == 0) return bars.Item("Tools").FindControl(942).object();
    return bars.Item("Tessary Ver. 1.01").Controls().Item(automation::Value::i2(static_cast<int16_t>(button))).object();
  }
  // A click as the user makes it: the editor raises the event, the DLL handles it.
  void click(int button) {
    model::ClickResult r;
    if (button == 0) {
      for (auto& c : editor.bar("Tools")->controls)
        if (c->id == 942) r = editor.click(c);
    } else {
      r = editor.click("Tessary Ver. 1.01", button);
    }
    if (!r.failures.empty()) throw std::runtime_error("the click failed: " + r.failures.front());
  }
  void reset() {
    for (auto& f : host.state().files) f.open = true;
    host.state().closed.clear();
  }
  std::vector<std::string> logged(const std::function<void()>& run) {
    editor.world().log.clear();
    editor.world().logging = true;
    run();
    editor.world().logging = false;
    std::vector<std::string> out;
    for (const auto& c : editor.world().log) out.push_back(c.describe());
    editor.world().log.clear();
    return out;
  }

  model::Editor editor;
  model::Host host;
  ComPtr<IDTExtensibility2> addin;
};

// Records one click with the core linked in (the same code the DLL runs), on the fixture's own
// objects, so the replay can make the same calls.
bench::Recording record(Fixture& f, int button) {
  model::RecordingSettings settings;
  model::RecordingMessageBox boxes;
  NullKeyboard keys;
  model::ModelHostLookup hosts;
  model::RecordingLog log;
  f.host.install(hosts);
  bench::Recorder recorder;
  Object vbe = recorder.root(f.editor.vbe());
  Object clicked = recorder.root(f.control(button));
  {
    addin::Connect recording(
        {settings, boxes, recorder.keyboard(keys), recorder.lookup(hosts), log});
    recording.AddinInstance_OnConnection(vbe, 2);  // no bar of its own
    recorder.ops().clear();
    bool handled = false, cancel = false;
    if (button == 0) {
      recording.CmdReferenceSet_Click(clicked, handled, cancel);
    } else {
      // The DLL's sink checks the clicked control first where Office's button events deliver.
      toolbar::ClickRoute(win32::ClickEventsOfThisBuild).accepts(clicked, button);
      recording.BtnsN_Click(clicked, handled, cancel);
    }
  }
  return recorder.finish();
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

// One command on one workspace: its recording, the replay of it, and the times of each round.
struct Cell {
  Fixture* f = nullptr;
  bench::Recording recording;
  std::unique_ptr<bench::DispatchReplay> replay;
  size_t calls = 0;
  std::vector<double> addin, replayed;
};

// Prepares a cell: the steady state, the recording, and the check that the replay makes the
// DLL's calls.
void prepare(Cell& cell, Fixture& f, const Command& c, platform::Keyboard& keys) {
  Fixture::Hosting hosting(f);
  cell.f = &f;
  f.click(c.button);  // the steady state: a first close changes what the next run asks
  f.reset();
  cell.recording = record(f, c.button);
  f.reset();
  cell.replay = std::make_unique<bench::DispatchReplay>(
      cell.recording,
      std::vector{win32::makeDispatchServer(f.editor.vbe()),
                  win32::makeDispatchServer(f.control(c.button))},
      keys);
  auto direct = f.logged([&] { f.click(c.button); });
  f.reset();
  auto replayed = f.logged([&] { cell.replay->run(); });
  f.reset();
  if (direct != replayed)
    throw std::runtime_error(std::string(c.name) + ": the replay does not make the DLL's calls (" +
                             std::to_string(direct.size()) + " against " + std::to_string(replayed.size()) + ")");
  cell.calls = direct.size();
}

// Rounds take every size in turn, and within a size the add-in and the replay alternate, so that
// whatever else the machine does meanwhile falls on every figure alike; each is the median of
// its rounds.
void measure(std::vector<Cell>& cells, const Command& c, double seconds) {
  const double until = now() + seconds * static_cast<double>(cells.size());
  for (int round = 0; round < 5 || now() < until; ++round)
    for (auto& cell : cells) {
      Fixture::Hosting hosting(*cell.f);
      // Each side goes first in every other round: the first lookup after the host enters the
      // table costs more.
      auto timed = [&](const std::function<void()>& run, std::vector<double>& into) {
        double t0 = now();
        run();
        into.push_back(now() - t0);
        cell.f->reset();
        // Keys typed are queued to this thread: left there, they would slow every later run.
        MSG m;
        while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&m);
      };
      auto addinSide = [&] { timed([&] { cell.f->click(c.button); }, cell.addin); };
      auto replaySide = [&] { timed([&] { cell.replay->run(); }, cell.replayed); };
      if (round % 2) {
        replaySide();
        addinSide();
      } else {
        addinSide();
        replaySide();
      }
    }
}

// Child: one cold connection in a fresh process, in milliseconds.
int connectOnce() {
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  int status = 1;
  {
    model::Editor editor = model::sampleWorkspace();
    auto app = win32::makeDispatchServer(editor.vbe());
    double t0 = now();
    CLSID clsid{};
    ComPtr<IDTExtensibility2> addin;
    HRESULT hr = CLSIDFromProgID(L"VBATessary.Connect", &clsid);
    if (SUCCEEDED(hr))
      hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, win32::iids::IDTExtensibility2, addin.putVoid());
    double t1 = now();
    if (SUCCEEDED(hr)) hr = addin->OnConnection(app.get(), 0, nullptr, nullptr);
    double t2 = now();
    if (SUCCEEDED(hr) && editor.barCount("Tessary Ver. 1.01") == 1) {
      std::printf("%.3f %.3f\n", (t1 - t0) * 1000, (t2 - t1) * 1000);
      status = 0;
    }
    if (addin) addin->OnDisconnection(1, nullptr);
  }
  CoUninitialize();
  return status;
}

std::wstring self() {
  wchar_t path[MAX_PATH];
  DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
  return std::wstring(path, n);
}

// Runs this program with --connect-once and reads its figures.
bool coldConnection(double& load, double& connect) {
  SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
  HANDLE read = nullptr, write = nullptr;
  if (!CreatePipe(&read, &write, &sa, 0)) return false;
  SetHandleInformation(read, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOW si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdOutput = write;
  si.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION pi{};
  std::wstring cl = L"\"" + self() + L"\" --connect-once";
  BOOL ok = CreateProcessW(nullptr, cl.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi);
  CloseHandle(write);
  std::string out;
  if (ok) {
    char buf[256];
    DWORD n = 0;
    while (ReadFile(read, buf, sizeof buf, &n, nullptr) && n) out.append(buf, n);
    WaitForSingleObject(pi.hProcess, INFINITE);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
  }
  CloseHandle(read);
  return ok && std::sscanf(out.c_str(), "%lf %lf", &load, &connect) == 2;
}

// Connection: cold (a fresh process loads the DLL), then warm (a second add-in object).
// Returns false when the child process failed.
bool connectionFigures(testbed::Addin& addin) {
  bool ok = true;
  std::vector<double> loads, connects;
  for (int i = 0; i < 5; ++i) {
    double l = 0, c = 0;
    if (coldConnection(l, c)) loads.push_back(l), connects.push_back(c);
  }
  std::sort(loads.begin(), loads.end());
  std::sort(connects.begin(), connects.end());
  if (!loads.empty())
    std::printf(
        "connection, cold (median of %zu processes): DLL load + CoCreateInstance %.2f ms, "
        "OnConnection building the toolbar %.2f ms, total %.2f ms (target < 50 ms)\n",
        loads.size(), loads[loads.size() / 2], connects[connects.size() / 2],
        loads[loads.size() / 2] + connects[connects.size() / 2]);
  else
    std::printf("connection, cold: the child process failed\n"), ok = false;
  {
    model::Editor editor = model::sampleWorkspace();
    double best = 1e9;
    for (int i = 0; i < 20; ++i) {
      double t0 = now();
      addin.create();
      addin.connect(editor.vbe());
      best = std::min(best, now() - t0);
      addin.disconnect(1);
    }
    addin.release();
    std::printf("connection, warm (best of 20): CoCreateInstance + OnConnection %.2f ms\n\n",
                best * 1000);
  }
  return ok;
}

unsigned long long fileSize(const std::wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA a{};
  if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &a)) return 0;
  return (static_cast<unsigned long long>(a.nFileSizeHigh) << 32) | a.nFileSizeLow;
}

// The same one-project workspace twice, connected with the log's setting off and on; clicks
// alternate between them. The setting is removed again; the lines stay in the user's log.
void logFigures(double seconds, const std::string& only) {
  const std::wstring settings = win32::settingsKey();
  const wchar_t* key = settings.c_str();
  RegDeleteKeyValueW(HKEY_CURRENT_USER, key, L"Log");
  Fixture off(1);
  RegSetKeyValueW(HKEY_CURRENT_USER, key, L"Log", REG_SZ, L"1", 2 * sizeof(wchar_t));
  Fixture on(1);
  RegDeleteKeyValueW(HKEY_CURRENT_USER, key, L"Log");
  const std::wstring path = win32::logLocation().file;
  std::printf("\n%-22s %14s %14s %14s %10s   (log on against off, 1 project, medians)\n", "command",
              "log off us", "log on us", "log adds us", "on disk");
  for (const auto& c : Commands) {
    if (!std::strstr(c.name, only.c_str())) continue;
    std::vector<double> offTimes, onTimes;
    bool onDisk = true;
    auto timed = [&](Fixture& f, std::vector<double>& into, bool check) {
      Fixture::Hosting hosting(f);
      const auto before = fileSize(path);
      double t0 = now();
      f.click(c.button);
      into.push_back(now() - t0);
      if (check) onDisk = onDisk && fileSize(path) != before;
      f.reset();
      MSG m;
      while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&m);
    };
    const double until = now() + seconds;
    for (int round = 0; round < 5 || now() < until; ++round) {
      timed(off, offTimes, false);
      timed(on, onTimes, true);
    }
    const double a = median(offTimes) * 1e6, b = median(onTimes) * 1e6;
    std::printf("%-22s %14.1f %14.1f %14.1f %10s\n", c.name, a, b, b - a, onDisk ? "yes" : "NO");
    std::fflush(stdout);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && !std::strcmp(argv[1], "--connect-once")) return connectOnce();
  int maxProjects = 100;
  double seconds = 3;
  std::string only;
  bool log = false;
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--max-projects") && i + 1 < argc) maxProjects = std::atoi(argv[++i]);
    else if (!std::strcmp(argv[i], "--seconds") && i + 1 < argc) seconds = std::atof(argv[++i]);
    else if (!std::strcmp(argv[i], "--only") && i + 1 < argc)
      only = argv[++i];
    else if (!std::strcmp(argv[i], "--log"))
      log = true;
    else {
      std::fprintf(stderr, "usage: %s [--max-projects n] [--seconds s] [--only text] [--log]\n",
                   argv[0]);
      return 2;
    }
  }
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  int status = 0;
  {
    testbed::Addin addin;
    if (!addin.ready()) {
      std::fprintf(stderr, "%s\n", addin.problem().c_str());
      return 1;
    }

    if (only.empty() && !connectionFigures(addin)) status = 1;

    std::printf("%-22s %8s %8s %14s %14s %8s %6s   (medians of interleaved rounds)\n", "command",
                "projects", "calls", "add-in ms", "replay ms", "ratio", "rounds");
    std::fflush(stdout);
    std::vector<std::unique_ptr<Fixture>> fixtures;
    std::vector<int> sizes;
    try {
      for (int p : bench::Sizes)
        if (p <= maxProjects) fixtures.push_back(std::make_unique<Fixture>(p)), sizes.push_back(p);
    } catch (const std::exception& e) {
      std::printf("workspaces: %s\n", e.what());
      fixtures.clear();
      status = 1;
    }
    double worst = 0;
    std::vector<std::string> scaling;
    win32::SendInputKeyboard keys;
    for (const auto& c : Commands) {
      if (fixtures.empty() || !std::strstr(c.name, only.c_str())) continue;
      try {
        std::vector<Cell> cells(
            fixtures.size());  // in place: a replay keeps its recording by reference
        for (size_t i = 0; i < cells.size(); ++i) prepare(cells[i], *fixtures[i], c, keys);
        measure(cells, c, seconds);
        std::vector<double> times;
        for (size_t i = 0; i < cells.size(); ++i) {
          double a = median(cells[i].addin), r = median(cells[i].replayed);
          worst = std::max(worst, a / r);
          times.push_back(a);
          std::printf("%-22s %8d %8zu %14.3f %14.3f %8.3f %6zu\n", c.name, sizes[i], cells[i].calls,
                      a * 1000, r * 1000, a / r, cells[i].addin.size());
          std::fflush(stdout);
        }
        std::string line = c.name;
        line.resize(22, ' ');
        for (size_t i = 1; i < times.size(); ++i) {
          char part[64];
          std::snprintf(part, sizeof part, "   %d -> %d projects: %6.2fx", sizes[i - 1], sizes[i],
                        times[i] / times[i - 1]);
          line += part;
        }
        scaling.push_back(line);
      } catch (const std::exception& e) {
        std::printf("%s: %s\n", c.name, e.what());
        status = 1;
      }
    }
    std::printf("worst add-in / replay through COM: %.3f (target <= 1.2)\n", worst);
    std::printf("\nscaling of the add-in's time (target: 10x the components <= 11x the time)\n");
    for (const auto& line : scaling) std::printf("%s\n", line.c_str());
    fixtures.clear();
    if (log) {
      try {
        logFigures(seconds, only);
      } catch (const std::exception& e) {
        std::printf("log: %s\n", e.what());
        status = 1;
      }
    }
  }
  CoUninitialize();
  return status;
}
