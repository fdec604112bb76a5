#pragma once

#include <string>
#include <string_view>

#include "automation/object.h"

namespace platform {

// Per-user settings addressed like VB's SaveSetting/GetSetting. Failures throw automation::Failure.
class Settings {
 public:
  virtual ~Settings() = default;
  virtual void save(const std::string& app, const std::string& section, const std::string& key,
                    const std::string& value) = 0;
  virtual std::string get(const std::string& app, const std::string& section,
                          const std::string& key, const std::string& defaultValue) = 0;
};

// The add-in's one modal, OK-only message box; returns when the user has closed it. Not named
// MessageBox: windows.h makes that a macro, which would give the class another name in the
// translation units that include it.
class MessageBoxes {
 public:
  virtual ~MessageBoxes() = default;
  virtual void show(const std::string& text) = 0;
  enum class Answer { Yes, No, Cancel };
  // Yes/No/Cancel question (used before an unrecoverable close).
  virtual Answer ask(const std::string& text) = 0;
};

// Types a text in keystroke notation (see keystrokes.h) into the window that has the focus.
// Never waits for the keys to be processed.
class Keyboard {
 public:
  virtual ~Keyboard() = default;
  virtual void type(const std::string& notation) = 0;
};

// What the add-in did, one line per event, for the user who reports a problem. Off unless the user
// turned it on. Writing never fails, never reaches the editor, and while off does nothing at all.
class Log {
 public:
  enum class Level { Info, Warning, Error };
  virtual ~Log() = default;
  // At each connection. On opens the log; one that cannot be made stays off until the next
  // connection, without a word to the user. A line that cannot be written is lost alone; a run of
  // them turns the log off until the next connection. Off keeps it closed.
  virtual void start(bool on) noexcept = 0;
  virtual bool on() const noexcept = 0;
  // The end of the connection: nothing more is written until the next start.
  virtual void stop() noexcept = 0;
  // One event; a CR or LF inside it (editor data is written as it is) goes escaped, so that a line
  // is always one event.
  void write(Level level, std::string_view event) noexcept;

 protected:
  // `line` holds no line break.
  virtual void append(Level level, std::string_view line) noexcept = 0;
};

// What the running-object table holds under a program identifier: the instance started first,
// which need not be the one whose editor this is.
struct ActiveObject {
  automation::Object object;
  // False: the object lives in another process, so it is another instance of the program. Nothing
  // may be called on it, and the lookup may leave `object` empty rather than reach into it.
  bool inThisProcess = true;
};

// The running-object lookup by program identifier (GetObject with the path left out).
class HostLookup {
 public:
  virtual ~HostLookup() = default;
  virtual ActiveObject getActiveObject(const std::string& progId) = 0;
  // Whether an object reached some other way (through the editor) lives in this process. Asks
  // nothing of the object itself. Never fails.
  virtual bool inThisProcess(const automation::Object& object) = 0;
};

// Whoever owns the add-in object. A command holds it while it runs: the user can unload the add-in
// while a dialog of the command is open, and the object must outlive the command all the same.
class Lifetime {
 public:
  virtual ~Lifetime() = default;
  virtual void hold() noexcept = 0;
  // May destroy the add-in object: its caller touches nothing of it afterwards.
  virtual void release() noexcept = 0;
};

struct Services {
  Settings& settings;
  MessageBoxes& messageBox;
  Keyboard& keyboard;
  HostLookup& hosts;
  Log& log;
  // Which events the host delivers clicks through safely: 64-bit hosts are reported to crash on
  // the editor's own (VBE.Events), so there the buttons' Office events serve.
  automation::ClickEvents clicks = automation::ClickEvents::EditorControl;
};

}  // namespace platform
