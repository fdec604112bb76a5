#include "sweep.h"

#include "judge.h"

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <sstream>

namespace faults {

namespace {

constexpr const char* Done = "done";

void writeAll(int fd, const std::string& s) {
  size_t off = 0;
  while (off < s.size()) {
    ssize_t n = write(fd, s.data() + off, s.size() - off);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    off += static_cast<size_t>(n);
  }
}

// The injected failure is in the log, with its code and the member it failed (as the add-in sent
// it: a subscription's two calls are its Advise; the host lookup is the host's line).
void checkLogged(const model::RecordingLog& log, const model::Call& call,
                 const std::string& injected, const std::function<void(const std::string&)>& say) {
  const std::string failure = "0x800A01B8 " + injected;
  std::string member = call.member == "FindConnectionPoint" ? "Advise" : call.member;
  for (const auto& line : log.lines) {
    if (line.event.find(failure) == std::string::npos) continue;
    if (call.target == "RunningObjectTable"
            ? line.event.starts_with("host: ")
            : line.event.find(member + ": " + failure) != std::string::npos)
      return;
  }
  std::string all;
  for (const auto& line : log.text()) all += "\n        " + line;
  say("mismatch: the log does not name " + call.describe() + " failing with " + failure + ":" +
      all);
}

}  // namespace

RunOutcome isolated(const std::function<void(const std::function<void(const std::string&)>&)>& body,
                    int timeoutSeconds) {
  RunOutcome out;
  int fds[2];
  if (pipe(fds) != 0) {
    out.crashed = true;
    out.signal = std::string("pipe: ") + std::strerror(errno);
    return out;
  }
  std::fflush(nullptr);
  pid_t pid = fork();
  if (pid < 0) {
    close(fds[0]);
    close(fds[1]);
    out.crashed = true;
    out.signal = std::string("fork: ") + std::strerror(errno);
    return out;
  }
  if (pid == 0) {
    close(fds[0]);
    auto say = [fd = fds[1]](const std::string& line) { writeAll(fd, line + "\n"); };
    try {
      body(say);
    } catch (const std::exception& e) {
      say(std::string("mismatch: an exception escaped to the editor: ") + e.what());
    } catch (...) {
      say("mismatch: an unknown exception escaped to the editor");
    }
    say(Done);
    _exit(0);
  }
  close(fds[1]);

  std::string received;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
  while (true) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      out.hung = true;
      kill(pid, SIGKILL);
      break;
    }
    pollfd p{fds[0], POLLIN, 0};
    int ready = poll(&p, 1, static_cast<int>(left.count()));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) continue;
    char buf[4096];
    ssize_t n = read(fds[0], buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    received.append(buf, static_cast<size_t>(n));
  }
  close(fds[0]);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }

  bool finished = false;
  std::istringstream lines(received);
  for (std::string line; std::getline(lines, line);) {
    if (line == Done) finished = true;
    else if (line.rfind("leak: ", 0) == 0) out.leaked = true, out.mismatches.push_back(line);
    else out.mismatches.push_back(line);
  }
  if (!out.hung && (!finished || !WIFEXITED(status) || WEXITSTATUS(status) != 0)) {
    out.crashed = true;
    out.signal = WIFSIGNALED(status) ? strsignal(WTERMSIG(status))
                                     : "exit status " + std::to_string(WEXITSTATUS(status));
  }
  return out;
}

CleanRun cleanRun(const Scenario& scenario, const Command& command) {
  Session s(scenario);
  command.prepare(s);
  const size_t from = s.editor().calls().size();
  command.run(s);
  const auto& log = s.editor().calls();
  CleanRun clean;
  clean.calls.assign(log.begin() + static_cast<std::ptrdiff_t>(from), log.end());
  clean.missingLines = count(s.editor().immediate()->text, MissingLine);
  clean.messageBoxes = s.h.messageBox.shown.size();
  return clean;
}

void checkedRun(const Scenario& scenario, const Command& command, const CleanRun& clean, size_t k,
                const Expectation& expected, const std::function<void(const std::string&)>& say) {
  Session s(scenario);
  const int64_t baseline = s.editor().liveReferences();
  command.prepare(s);
  const std::string injected = "Injected failure at call " + std::to_string(k);
  if (k > 0) s.editor().faults().failCall(static_cast<int64_t>(k), injected);
  const auto result = command.run(s);
  s.editor().faults().clear();
  if (Session::log && k > 0) checkLogged(s.h.log, clean.calls[k - 1], injected, say);

  const auto& world = s.editor().world();
  auto& addin = *s.addin;
  Observation seen;
  seen.failures = result.failures;
  seen.cancelled = result.cancelled;
  seen.messageBoxes = s.h.messageBox.shown;
  seen.formDisplayed = addin.FormDisplayed();
  if (!addin.VBInstance().empty()) seen.stillHeld.push_back("VBInstance");
  if (!addin.c().empty()) seen.stillHeld.push_back("c");
  for (int b = 1; b <= 6; ++b)
    if (!addin.Btns(b).empty()) seen.stillHeld.push_back("Btns" + std::to_string(b));
  seen.mainWindowVisible = world.mainWindow->visible;
  seen.startProjectActive = world.activeProject == s.startProject;
  seen.hostVisible = s.host.visible();
  seen.hostClosedSomething = !s.host.closed().empty() || s.host.state().docmdCloses > 0;
  seen.immediateText = s.editor().immediate()->text;
  seen.hostCrashes = world.crashes;
  for (const auto& m : judge(command, clean, expected, injected, seen)) say("mismatch: " + m);

  if (command.kind != CommandKind::Disconnection) s.disconnect();
  if (int64_t held = s.editor().liveReferences() - baseline; held != 0)
    say("leak: " + std::to_string(held) + " references held after disconnection");
  s.addin.reset();
  if (int64_t held = s.editor().liveReferences() - baseline; held != 0)
    say("leak: " + std::to_string(held) + " references held after the final release");
}

}  // namespace faults
