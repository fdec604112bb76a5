// The simulator's workspace parser under fuzzing: any text is either a workspace or refused with
// an InputError that names the file and says where; nothing else may escape, and nothing may
// crash. A workspace that is accepted is then driven through a whole session (connect, every
// button, Tools > References..., disconnect), which must run to its end as well.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "input_error.h"
#include "session.h"
#include "workspace.h"

namespace {

[[noreturn]] void violated(const std::string& what) {
  std::fprintf(stderr, "property violated: %s\n", what.c_str());
  std::abort();
}

const std::string FileName = "fuzzed.json";

void drive(sim::Workspace ws) {
  sim::Session session(std::move(ws), sim::nativeRuntime());
  try {
    for (const auto& command : sim::parseArguments({"connect", "click", "1", "click", "2", "click", "3", "click", "4",
                                                    "click", "5", "click", "6", "references", "disconnect"}))
      session.run(command);
  } catch (const sim::InputError&) {
    // A command that cannot run here (no bar after a failed connection): refused, not a crash.
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  std::optional<sim::Workspace> ws;
  try {
    ws.emplace(sim::parseWorkspace(text, FileName));
  } catch (const sim::InputError& e) {
    const std::string message = e.what();
    if (message.rfind(FileName + ":", 0) != 0 || message.size() <= FileName.size() + 1)
      violated("a refusal that does not name the file: " + message);
    return 0;
  } catch (const std::exception& e) {
    violated(std::string("an exception other than InputError escaped: ") + e.what());
  }
  drive(std::move(*ws));
  return 0;
}
