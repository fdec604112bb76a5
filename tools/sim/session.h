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

using AddinFactory = std::function<std::unique_ptr<Addin>(platform::Services)>;

// The add-in built from the core in this process.
AddinFactory nativeAddin();

// A message box that also notes whether it asked a question and what the user answered.
class SimMessageBox : public model::RecordingMessageBox {
 public:
  struct Shown {
    std::string text;
    bool question = false;
    Answer answer = Answer::Cancel;
  };
  std::vector<Shown> log;
  void show(const std::string& text) override;
  Answer ask(const std::string& text) override;
};

// Runs commands on a workspace and says, after each, what a user would see.
class Session {
 public:
  Session(Workspace workspace, AddinFactory factory);
  ~Session();

  // One document per command (format in examples/README.md). A command that cannot run in the
  // present state (no such button, not connected) throws InputError and changes nothing.
  nlohmann::ordered_json run(const Command& command);

  const Workspace& workspace() const { return ws_; }

 private:
  struct Snapshot;
  Snapshot snapshot() const;
  nlohmann::ordered_json report(const Command& command, const Snapshot& before);
  std::shared_ptr<model::ControlNode> button(const Command& command) const;
  void unloadClosedProjects(const Snapshot& before);

  Workspace ws_;
  AddinFactory factory_;
  model::RecordingSettings settings_;
  SimMessageBox box_;
  model::ModelKeyboard keyboard_;
  model::ModelHostLookup hosts_;
  std::unique_ptr<Addin> addin_;
};

}  // namespace sim
