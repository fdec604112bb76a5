#pragma once

#include <optional>
#include <string>
#include <vector>

#include "model/editor.h"
#include "model/hosts.h"
#include "platform/services.h"

namespace sim {

// What the simulator runs on: a model editor, the model host application behind it (if the host
// is one of the four the add-in knows), and the answers the user gives to questions.
struct Workspace {
  std::string title;
  model::Editor editor;
  // The host's calls go to a log of their own, so that what the host received can be told
  // apart from the add-in's calls on the editor.
  model::Editor hostLog;
  std::optional<model::Host> host;
  // Another instance of the host, started first, in another process: the Running Object Table
  // holds it ("table": "another process").
  std::optional<model::Host> otherHost;
  std::vector<platform::MessageBoxes::Answer> answers;
  // The add-in's log turned on (the setting Log = "1"): each report shows the lines its command
  // wrote.
  bool log = false;
};

// The built-in sample: an Excel workbook project and a locked add-in, both open in Excel.
Workspace sampleWorkspace();

// Reads a workspace file (format in examples/README.md). Throws InputError with
// "FILE:LINE:COLUMN: ..." for a file that is not JSON or does not describe a workspace.
Workspace loadWorkspace(const std::string& path);
// The same from text already read; `name` stands for the file in messages.
Workspace parseWorkspace(const std::string& text, const std::string& name);

// "yes", "no" or "cancel".
std::optional<platform::MessageBoxes::Answer> answerNamed(const std::string& word);

}  // namespace sim
