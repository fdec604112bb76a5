#pragma once

#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "addin/connect.h"
#include "model/hosts.h"
#include "model/platform.h"

namespace faults {

// A workspace and the host application running it.
struct Scenario {
  std::string name;
  std::function<model::Editor()> editor;
  std::function<model::Host(const model::Editor&)> host;
  std::deque<platform::MessageBoxes::Answer> answers;  // to the add-in's own questions
};

std::vector<Scenario> scenarios();

// An editor, its host and the add-in, as the add-in manager sets them up.
struct Session {
  // Every session with the add-in's log turned on (tessary-faults --log).
  static inline bool log = false;
  explicit Session(const Scenario& s);
  model::Harness h;
  model::Host host;
  std::unique_ptr<addin::Connect> addin;
  model::ProjectNode* startProject = nullptr;

  model::Editor& editor() { return h.editor; }
  void connect() { addin->AddinInstance_OnConnection(h.editor.vbe(), 0); }
  void disconnect() { addin->AddinInstance_OnDisconnection(1); }
};

enum class CommandKind { Connection, Disconnection, Button, References };

// What came back from running a command.
struct Result {
  std::vector<std::string> failures;  // failures the editor received (or the message box showed)
  bool cancelled = false;             // CancelDefault after a click
};

struct Command {
  std::string name;
  CommandKind kind;
  int button = 0;  // 1..6 for buttons
  // Brings the session to where the command starts (connected, for everything but connection).
  void prepare(Session& s) const;
  Result run(Session& s) const;
};

std::vector<Command> commands();

}  // namespace faults
