#pragma once

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "model/editor.h"
#include "platform/services.h"

// Stand-ins for the platform services: they record what the add-in did, the way a user would
// see it, and can be told to fail.
namespace model {

class RecordingSettings : public platform::Settings {
 public:
  using Address = std::tuple<std::string, std::string, std::string>;
  std::map<Address, std::string> values;
  std::vector<std::string> writes;  // "app\section\key=value", in order
  bool failWrites = false;

  void save(const std::string& app, const std::string& section, const std::string& key,
            const std::string& value) override;
  std::string get(const std::string& app, const std::string& section, const std::string& key,
                  const std::string& defaultValue) override;
};

class RecordingMessageBox : public platform::MessageBoxes {
 public:
  std::vector<std::string> shown;  // every text shown, OK boxes and questions alike
  std::deque<Answer> answers;      // scripted answers to ask(); Cancel when none is left
  // Runs while a box is up (its text as argument): the editor still delivers clicks then.
  std::function<void(const std::string& text)> whileShown;

  void show(const std::string& text) override;
  Answer ask(const std::string& text) override;
};

// Types into the focused model window: Enter starts a new line.
class ModelKeyboard : public platform::Keyboard {
 public:
  explicit ModelKeyboard(std::shared_ptr<World> world) : world_(std::move(world)) {}
  void type(const std::string& notation) override;
  std::vector<std::string> sent;  // every text as handed over

 private:
  std::shared_ptr<World> world_;
};

// The log as lines in memory: level and event, without time and process.
class RecordingLog : public platform::Log {
 public:
  struct Line {
    Level level;
    std::string event;
  };
  std::vector<Line> lines;
  bool refuse = false;  // the file cannot be opened: the log stays off until the next start
  int starts = 0;

  void start(bool on) noexcept override;
  bool on() const noexcept override { return on_; }
  void stop() noexcept override { on_ = false; }
  // "INFO  event" per line, as the file has them after the time and process.
  std::vector<std::string> text() const;

 protected:
  void append(Level level, std::string_view line) noexcept override;

 private:
  bool on_ = false;
};

// The running-object table of model hosts, by program identifier.
class ModelHostLookup : public platform::HostLookup {
 public:
  std::map<std::string, Object> running;  // objects of the caller's process
  // Hosts that hand out a fresh reference on every lookup, and may refuse it (see Host::install).
  std::map<std::string, std::function<platform::ActiveObject()>> factories;
  std::vector<std::string> lookups;
  platform::ActiveObject getActiveObject(const std::string& progId) override;
  bool inThisProcess(const Object& object) override;
};

// Everything a test needs to connect the add-in to a model editor.
struct Harness {
  explicit Harness(Editor e);
  Editor editor;
  RecordingSettings settings;
  RecordingMessageBox messageBox;
  ModelKeyboard keyboard;
  ModelHostLookup hosts;
  RecordingLog log;
  // Clicks come the way the add-in takes them in a host of the editor's bitness.
  platform::Services services() {
    return {settings, messageBox, keyboard, hosts, log, clickEventsFor(editor.world().bitness)};
  }
};

}  // namespace model
