#pragma once

#include <functional>
#include <memory>

#include <nlohmann/json.hpp>

#include "commands.h"
#include "model/platform.h"
#include "workspace.h"

namespace sim {

// The add-in as the add-in manager sees it: one object, connected once and disconnected once.
// The native build hands the core's Connect over directly; the Windows build loads the real DLL.
class Addin {
 public:
  virtual ~Addin() = default;
  virtual void OnConnection(const automation::Object& application, int32_t connectMode) = 0;
  virtual void OnDisconnection(int32_t removeMode) = 0;
};

// A message box as the user saw it, with the answer given to a question.
struct ShownBox {
  std::string text;
  bool question = false;
  platform::MessageBoxes::Answer answer = platform::MessageBoxes::Answer::Cancel;
};

// Where the add-in runs, and how what it does outside the editor is observed: keys it types,
// message boxes it shows, settings it keeps. One runtime serves a whole session; it is made for
// the session's workspace, which outlives it.
class Runtime {
 public:
  virtual ~Runtime() = default;
  // A new add-in object, as the add-in manager creates one for each connection.
  virtual std::unique_ptr<Addin> create() = 0;
  // Before each command.
  virtual void begin() {}
  // After each command: lets what the add-in typed arrive in the editor's windows.
  virtual void settle() {}
  // Every message box shown so far, in order.
  virtual std::vector<ShownBox> boxes() const = 0;
  // The settings written since the last call, "application\section\key=value", one per key
  // (the last value written), in the order of their names.
  virtual std::vector<std::string> takeSettingsWritten() = 0;
  // The lines the add-in's log received since the last call, "LEVEL event" each (time and
  // process left out).
  virtual std::vector<std::string> takeLog() = 0;
};

using RuntimeFactory = std::function<std::unique_ptr<Runtime>(Workspace&)>;

// The core's Connect in this process, with model keyboard, message box, settings and host lookup.
RuntimeFactory nativeRuntime();

// Runs commands on a workspace and says, after each, what a user would see.
class Session {
 public:
  Session(Workspace workspace, RuntimeFactory runtime);
  ~Session();

  // One document per command (format in examples/README.md). A command that cannot run in the
  // present state (no such button, not connected) throws InputError and changes nothing.
  nlohmann::ordered_json run(const Command& command);

  // A command as the user typed it: one that needs the add-in (anything but connect and state)
  // typed before the session's first connection connects it first, reported as a command of its
  // own ("connect (implied)"). Each document goes to the sink as soon as its command has run.
  void perform(const Command& command, const std::function<void(const nlohmann::ordered_json&)>& sink);

  const Workspace& workspace() const { return ws_; }

 private:
  struct Snapshot;
  Snapshot snapshot() const;
  nlohmann::ordered_json report(const Command& command, const Snapshot& before);
  std::shared_ptr<model::ControlNode> button(const Command& command) const;
  void unloadClosedProjects(const Snapshot& before);

  Workspace ws_;
  std::unique_ptr<Runtime> runtime_;
  std::unique_ptr<Addin> addin_;
  bool connectedOnce_ = false;
  // Editor and host objects referenced before the connection: the add-in's own count from there.
  int64_t referencesBefore_ = 0;
};

}  // namespace sim
