// tessary-bench, Windows build: every click command through the real vbatessary.dll (the model
// editor behind this program's IDispatch servers, the host in the Running Object Table, keys
// through SendInput) against a replay of exactly the same calls straight through IDispatch, and
// the connection time (DLL load + CoCreateInstance + OnConnection building the toolbar).
//
//   tessary-bench [--max-projects n] [--seconds s per size, default 3] [--only text] [--log]
//   tessary-bench --soak clicks [--warmup clicks, default 1000] [--only text] [--focus]
//   tessary-bench --lookup
//
// --only keeps the commands whose name contains the text (and skips the connection figures).
// --log adds what the add-in's log costs each click (its setting on against off, same workspace),
// and whether each click's lines are in the file when the click returns.
// --soak clicks each command that many times and reports what the process keeps (soak.cpp);
// --focus gives the typed keys a window of this program to go to. --lookup times the steps of
// finding the host through the running object table.
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

#include "fixture.h"
#include "locations.h"
#include "text.h"
#include "model/sample.h"

namespace {

using namespace bench;

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
      auto replaySide = [&] { timed([&] { cell.f->clickReplay(*cell.replay); }, cell.replayed); };
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

// The steps of finding the host through the running object table, each timed on its own with the
// host registered: what the DLL's lookup costs beside the calls it makes.
void lookupSteps() {
  Fixture f(1);
  Fixture::Hosting hosting(f);
  const std::wstring progId = win32::widen(f.host.progId());
  CLSID clsid{};
  ComPtr<IUnknown> found;
  const struct {
    const char* name;
    std::function<bool()> step;
  } steps[] = {
      {"CLSIDFromProgID", [&] { return SUCCEEDED(CLSIDFromProgID(progId.c_str(), &clsid)); }},
      {"GetActiveObject", [&] { found.reset(); return SUCCEEDED(GetActiveObject(clsid, nullptr, found.put())); }},
      {"QueryInterface(IClientSecurity), the proxy test",
       [&] {
         ComPtr<IUnknown> security;
         return found && FAILED(found->QueryInterface(IID_IClientSecurity, security.putVoid()));
       }},
  };
  std::printf("host lookup, %s (median of 2000):\n", f.host.progId().c_str());
  for (const auto& s : steps) {
    std::vector<double> times;
    bool ok = true;
    for (int i = 0; i < 2000; ++i) {
      const double t0 = now();
      ok = s.step() && ok;
      times.push_back(now() - t0);
    }
    std::printf("  %-48s %8.2f us%s\n", s.name, median(times) * 1e6, ok ? "" : " (failed)");
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && !std::strcmp(argv[1], "--connect-once")) return connectOnce();
  int maxProjects = 100;
  double seconds = 3;
  std::string only;
  bool log = false;
  long soakClicks = 0, warmup = 1000;
  bool focus = false, lookup = false;
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--max-projects") && i + 1 < argc) maxProjects = std::atoi(argv[++i]);
    else if (!std::strcmp(argv[i], "--seconds") && i + 1 < argc) seconds = std::atof(argv[++i]);
    else if (!std::strcmp(argv[i], "--only") && i + 1 < argc)
      only = argv[++i];
    else if (!std::strcmp(argv[i], "--log"))
      log = true;
    else if (!std::strcmp(argv[i], "--soak") && i + 1 < argc)
      soakClicks = std::atol(argv[++i]);
    else if (!std::strcmp(argv[i], "--warmup") && i + 1 < argc)
      warmup = std::atol(argv[++i]);
    else if (!std::strcmp(argv[i], "--focus"))
      focus = true;
    else if (!std::strcmp(argv[i], "--lookup"))
      lookup = true;
    else {
      std::fprintf(stderr, "usage: %s [--max-projects n] [--seconds s] [--only text] [--log]\n"
                   "       %s --soak clicks [--warmup clicks] [--only text] [--focus]\n"
                   "       %s --lookup\n",
                   argv[0], argv[0], argv[0]);
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

    if (lookup) {
      lookupSteps();
    } else if (soakClicks > 0) {
      status = soak(soakClicks, warmup, only, focus);
    } else {
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
  }
  CoUninitialize();
  return status;
}
