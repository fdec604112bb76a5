// tessary-faults, Windows build: the same sweep through the real vbatessary.dll. For each command
// and scenario a child process (this program again) makes the clean run and then every faulted
// run in turn, reporting each; a child that crashes or hangs is replaced by a fresh one starting
// at the next call, so one bad run cannot hide the rest.
//
//   tessary-faults [-v] [--timeout seconds] [--scenarios i,j,...] [--log]
//
// --log turns the add-in's log on for the sweep (its setting, removed again at the end): each
// injected failure must then be in the log as well.
// --scenarios sweeps only the scenarios with those indices (0 = the first); ctest sweeps a subset
// to stay quick under Wine, the full sweep is run by hand. --crash-at k makes every child crash
// at its run k: a self-check that a crash is counted and the sweep goes on past it.
//
// Exit status 0 only when every run survived with the expected regime and no leak.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "dll_session.h"
#include "locations.h"
#include "text.h"
#include "totals.h"

namespace {

using faults::printRow;
using faults::Totals;

void line(const std::string& s) {
  std::fputs((s + "\n").c_str(), stdout);
  std::fflush(stdout);
}

// The child: one command in one scenario, runs `from`..N. Lines:
//   clean <N>  |  run <k> <regime>\t<call>  |  say <finding>  |  done <k>  |  end
// Wine starts its debugger on an unhandled exception and the process lingers: end it at once
// with the exception code as its exit code, which the parent reports as a crash.
LONG WINAPI crashed(EXCEPTION_POINTERS* e) {
  std::fflush(stdout);
  TerminateProcess(GetCurrentProcess(), e && e->ExceptionRecord ? e->ExceptionRecord->ExceptionCode : 1);
  return EXCEPTION_EXECUTE_HANDLER;
}

int child(size_t commandIndex, size_t scenarioIndex, size_t from, size_t crashAt) {
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
  SetUnhandledExceptionFilter(crashed);
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  int status = 0;
  {
    const auto command = faults::commands().at(commandIndex);
    const auto scenario = faults::scenarios().at(scenarioIndex);
    testbed::Addin addin;
    faults::CleanRun clean;
    std::vector<faults::Expectation> expected;
    try {
      if (!addin.ready()) throw std::runtime_error(addin.problem());
      clean = faults::dll::cleanRun(addin, scenario, command);
      expected = faults::expectations(command, clean);
    } catch (const std::exception& e) {
      line(std::string("say mismatch: the clean run: ") + e.what());
      line("end");
      status = 1;
    }
    if (status == 0) {
      line("clean " + std::to_string(clean.calls.size()));
      for (size_t k = from; k <= clean.calls.size(); ++k) {
        faults::Expectation e;
        if (k == 0) {
          e.regime = command.kind == faults::CommandKind::Disconnection ? faults::Regime::Skipped
                                                                        : faults::Regime::Absorbed;
          e.missingLines = clean.missingLines;
        } else {
          e = expected[k - 1];
        }
        line("run " + std::to_string(k) + " " + faults::nameOf(e.regime) + "\t" +
             (k ? clean.calls[k - 1].describe() : std::string()));
        if (k == crashAt) *static_cast<volatile int*>(nullptr) = 0;  // the sweep's self-check
        try {
          faults::dll::checkedRun(addin, scenario, command, clean, k, e, [](const std::string& s) { line("say " + s); });
        } catch (const std::exception& x) {
          line(std::string("say mismatch: the run failed: ") + x.what());
        }
        line("done " + std::to_string(k));
      }
      line("end");
    }
  }
  CoUninitialize();
  return status;
}

// A child process with its output on a pipe.
struct Child {
  HANDLE process = nullptr, output = nullptr;
  std::string pending;

  bool start(const std::wstring& commandLine) {
    SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
    HANDLE write = nullptr;
    if (!CreatePipe(&output, &write, &sa, 0)) return false;
    SetHandleInformation(output, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    si.hStdOutput = write;
    si.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION pi{};
    std::wstring cl = commandLine;
    BOOL ok = CreateProcessW(nullptr, cl.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi);
    CloseHandle(write);
    if (!ok) return false;
    CloseHandle(pi.hThread);
    process = pi.hProcess;
    return true;
  }
  // The next line, waiting at most `ms` for it; false at the end of the output or the time limit.
  bool next(std::string& out, DWORD ms, bool& timedOut) {
    timedOut = false;
    const ULONGLONG deadline = GetTickCount64() + ms;
    while (true) {
      if (size_t nl = pending.find('\n'); nl != std::string::npos) {
        out = pending.substr(0, nl);
        if (!out.empty() && out.back() == '\r') out.pop_back();
        pending.erase(0, nl + 1);
        return true;
      }
      DWORD available = 0;
      if (!PeekNamedPipe(output, nullptr, 0, nullptr, &available, nullptr)) return false;  // closed
      if (available) {
        char buf[4096];
        DWORD n = 0;
        if (!ReadFile(output, buf, sizeof buf < available ? sizeof buf : available, &n, nullptr) || n == 0)
          return false;
        pending.append(buf, n);
        continue;
      }
      if (GetTickCount64() >= deadline) {
        timedOut = true;
        return false;
      }
      WaitForSingleObject(process, 5);
    }
  }
  DWORD finish(bool kill) {
    if (kill) TerminateProcess(process, 3);
    WaitForSingleObject(process, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(process, &code);
    CloseHandle(process);
    CloseHandle(output);
    return code;
  }
};

std::wstring self() {
  wchar_t path[MAX_PATH];
  DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
  return std::wstring(path, n);
}

int parent(bool verbose, int timeout, const std::vector<size_t>& only, size_t crashAt) {
  const auto all = faults::scenarios();
  std::vector<size_t> indices;
  for (size_t i = 0; i < all.size(); ++i)
    if (only.empty() || std::find(only.begin(), only.end(), i) != only.end()) indices.push_back(i);
  std::vector<faults::Scenario> scenarios;
  for (size_t i : indices) scenarios.push_back(all[i]);
  const auto commands = faults::commands();
  std::printf("through the real DLL, %zu scenarios: ", scenarios.size());
  for (size_t i = 0; i < scenarios.size(); ++i) std::printf("%s%s", i ? "; " : "", scenarios[i].name.c_str());
  std::printf("\n\n%-40s %7s %9s %11s %6s %8s %6s\n", "command", "calls", "survived", "mismatches", "leaks",
              "crashes", "hangs");
  std::fflush(stdout);

  const ULONGLONG started = GetTickCount64();
  long children = 0, runs = 0;
  Totals total;
  for (size_t c = 0; c < commands.size(); ++c) {
    Totals t;
    for (size_t s = 0; s < scenarios.size(); ++s) {
      const std::string where = scenarios[s].name + " / " + commands[c].name;
      size_t from = 0, calls = 0;
      bool known = false;  // the clean run came through
      while (true) {
        Child child;
        std::wstring cl = L"\"" + self() + L"\" --child " + std::to_wstring(c) + L" " + std::to_wstring(indices[s]) + L" " +
                          std::to_wstring(from) + L" " + std::to_wstring(crashAt);
        if (!child.start(cl)) {
          ++t.crashes;
          std::printf("  %s: cannot start a child process\n", where.c_str());
          break;
        }
        ++children;
        bool ended = false, inRun = false, timedOut = false;
        size_t k = from, nextK = from;
        std::string header, l;
        std::vector<std::string> findings;
        auto close = [&] {  // the end of run k
          ++runs;
          if (k > 0) ++t.calls, ++t.survived;
          bool mismatch = false, leak = false;
          for (const auto& f : findings) {
            mismatch = mismatch || f.rfind("mismatch: ", 0) == 0;
            leak = leak || f.rfind("leak: ", 0) == 0;
          }
          t.mismatches += mismatch, t.leaks += leak;
          if (!findings.empty() || verbose)
            std::printf("  %s / %s: %s\n", where.c_str(), header.c_str(), findings.empty() ? "ok" : "");
          for (const auto& f : findings) std::printf("      %s\n", f.c_str());
        };
        while (child.next(l, static_cast<DWORD>(timeout) * 1000, timedOut)) {
          if (l.rfind("clean ", 0) == 0) {
            calls = std::strtoul(l.c_str() + 6, nullptr, 10);
            known = true;
          } else if (l.rfind("run ", 0) == 0) {
            k = std::strtoul(l.c_str() + 4, nullptr, 10);
            size_t tab = l.find('\t');
            std::string call = tab == std::string::npos ? "" : l.substr(tab + 1);
            std::string regime = l.substr(l.find(' ', 4) + 1, tab - l.find(' ', 4) - 1);
            header = (k ? "call " + std::to_string(k) + " " + call : "no fault") + " [" + regime + "]";
            findings.clear();
            inRun = true;
          } else if (l.rfind("say ", 0) == 0) {
            if (inRun) findings.push_back(l.substr(4));
            else ++t.mismatches, std::printf("  %s: %s\n", where.c_str(), l.c_str() + 4);
          } else if (l.rfind("done ", 0) == 0) {
            close();
            inRun = false;
            nextK = k + 1;
          } else if (l == "end") {
            ended = true;
          }
        }
        DWORD code = child.finish(timedOut);
        if (ended && code > 1) {  // 1: the clean run failed, reported above
          ++t.crashes;
          std::printf("  %s: the child crashed at its end (exit code 0x%lX)\n", where.c_str(),
                      static_cast<unsigned long>(code));
        }
        if (ended) break;
        // The child died or hung: in a run (that run's fault), or before the clean run came through.
        if (!known) {
          ++(timedOut ? t.hangs : t.crashes);
          std::printf("  %s: the clean run %s (exit code 0x%lX)\n", where.c_str(), timedOut ? "hung" : "crashed",
                      static_cast<unsigned long>(code));
          break;
        }
        size_t failed = inRun ? k : nextK;
        ++runs;
        if (failed > 0) ++t.calls;
        ++(timedOut ? t.hangs : t.crashes);
        std::printf("  %s / %s: %s (exit code 0x%lX)\n", where.c_str(), inRun ? header.c_str() : "start",
                    timedOut ? "hung" : "crashed", static_cast<unsigned long>(code));
        for (const auto& f : findings) std::printf("      %s\n", f.c_str());
        from = failed + 1;
        if (from > calls) break;
      }
    }
    printRow(commands[c].name.c_str(), t);
    std::fflush(stdout);
    total.add(t);
  }
  printRow("total", total);
  std::printf("\n%ld runs in %ld child processes, %.1f s\n", runs, children,
              static_cast<double>(GetTickCount64() - started) / 1000.0);
  return total.clean() ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 6 && !std::strcmp(argv[1], "--child"))
    return child(std::strtoul(argv[2], nullptr, 10), std::strtoul(argv[3], nullptr, 10),
                 std::strtoul(argv[4], nullptr, 10), std::strtoul(argv[5], nullptr, 10));
  bool verbose = false;
  int timeout = 20;
  std::vector<size_t> only;
  size_t crashAt = static_cast<size_t>(-1);
  bool log = false;
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "-v")) verbose = true;
    else if (!std::strcmp(argv[i], "--timeout") && i + 1 < argc) timeout = std::atoi(argv[++i]);
    else if (!std::strcmp(argv[i], "--crash-at") && i + 1 < argc) crashAt = std::strtoul(argv[++i], nullptr, 10);
    else if (!std::strcmp(argv[i], "--log")) log = true;
    else if (!std::strcmp(argv[i], "--scenarios") && i + 1 < argc)
      for (char* p = argv[++i]; *p;) {
        only.push_back(std::strtoul(p, &p, 10));
        if (*p == ',') ++p;
        else if (*p) return 2;
      }
    else {
      std::fprintf(stderr, "usage: %s [-v] [--timeout seconds] [--scenarios i,j,...] [--crash-at k] [--log]\n", argv[0]);
      return 2;
    }
  }
  // The children's add-in objects read the setting when they connect.
  const std::wstring key = win32::settingsKey();
  const wchar_t* settings = key.c_str();
  if (log) RegSetKeyValueW(HKEY_CURRENT_USER, settings, L"Log", REG_SZ, L"1", 2 * sizeof(wchar_t));
  const int status = parent(verbose, timeout, only, crashAt);
  if (log) RegDeleteKeyValueW(HKEY_CURRENT_USER, settings, L"Log");
  return status;
}
