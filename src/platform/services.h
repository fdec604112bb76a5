#pragma once

#include <string>

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

// The add-in's one modal, OK-only message box; returns when the user has closed it.
class MessageBox {
 public:
  virtual ~MessageBox() = default;
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

// The running-object lookup by program identifier (GetObject with the path left out).
class HostLookup {
 public:
  virtual ~HostLookup() = default;
  virtual automation::Object getActiveObject(const std::string& progId) = 0;
};

struct Services {
  Settings& settings;
  MessageBox& messageBox;
  Keyboard& keyboard;
  HostLookup& hosts;
};

}  // namespace platform
