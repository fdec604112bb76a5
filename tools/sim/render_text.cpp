#include "render_text.h"

#include <sstream>

#include "commands.h"

namespace sim {

using nlohmann::ordered_json;

namespace {

std::string str(const ordered_json& v) { return v.is_string() ? v.get<std::string>() : v.dump(); }

// CR LF inside a tooltip shows as a line break; keep it on one line here.
std::string oneLine(std::string s) {
  for (size_t i = 0; (i = s.find("\r\n", i)) != std::string::npos;) s.replace(i, 2, "\" / \"");
  return s;
}

std::string list(const ordered_json& items) {
  std::string s;
  for (auto& i : items) s += (s.empty() ? "" : ", ") + str(i);
  return s.empty() ? "none" : s;
}

// What the button at each position does, for the guided tour.
const char* buttonAction(int position) {
  switch (position) {
    case 1: return "opens every code window of the active project (document modules excepted) and the designers already open";
    case 2: return "closes every code window and open designer of the active project, document modules included";
    case 3: return "opens the code windows and form designers of every unprotected project";
    case 4: return "closes the code windows and form designers of every unprotected project";
    case 5: return "brings up the host's own Open dialog";
    case 6: return "closes the file that holds the active project";
    default: return "does nothing: only positions 1 to 6 carry a command";
  }
}

std::string narration(const ordered_json& r) {
  std::string cmd = str(r["command"]);
  if (cmd.rfind("connect", 0) == 0)
    return "The add-in manager loads the add-in: it builds its bar and takes over Tools > References...";
  if (cmd.rfind("click", 0) == 0 && r.contains("clicked")) {
    bool lockedActive = false;
    for (auto& p : r["projects"])
      if (p["name"] == r["activeProject"]) lockedActive = p["locked"].get<bool>();
    if (r["clicked"]["position"] == 1 && lockedActive)
      return "The active project is locked: instead of opening its windows, the add-in types a notice "
             "and the reference report into the Immediate window.";
    return "The button at position " + str(r["clicked"]["position"]) + " " +
           buttonAction(r["clicked"]["position"].get<int>()) + ".";
  }
  if (cmd == "references")
    return "Tools > References...: the add-in cancels the editor's dialog, shows the Object Browser and "
           "types the references of the active project into the Immediate window.";
  if (cmd == "disconnect")
    return "The add-in is unloaded: it records DisplayOnConnect, removes its bar and lets go of the editor.";
  if (cmd == "state") return "The editor before the add-in is loaded.";
  return "";
}

}  // namespace

std::string TextRenderer::render(const ordered_json& r) {
  std::ostringstream o;
  if (str(r["command"]) == impliedConnect().text) {
    // One line: the next command's report shows the bar. What went wrong is still shown.
    o << "== " << str(r["command"]) << "\n";
    for (auto& b : r["messageBoxes"]) o << "message box [" << str(b["buttons"]) << "]: \"" << str(b["text"]) << "\"\n";
    if (r.contains("log"))
      for (auto& line : r["log"]) o << "log: " << str(line) << "\n";
    return o.str();
  }
  o << "== " << str(r["command"]);
  if (r.contains("clicked") && r["clicked"].is_object())
    o << "  (button " << str(r["clicked"]["position"]) << ", \"" << str(r["clicked"]["caption"]) << "\")";
  o << "\n";
  if (guided_) {
    auto n = narration(r);
    if (!n.empty()) o << "-- " << n << "\n";
  }
  bool full = str(r["command"]) == "state";

  const auto& bar = r["bar"];
  if (bar.is_null()) {
    o << "bar \"Tessary Ver. 1.01\": not in the editor\n";
  } else {
    o << "bar \"" << str(bar["name"]) << "\": " << str(bar["position"]) << ", "
      << (bar["visible"].get<bool>() ? "visible" : "hidden");
    if (bar["count"].get<int>() > 1) o << " (" << str(bar["count"]) << " bars of this name)";
    o << "\n  ";
    for (auto& b : bar["buttons"]) o << (b["beginGroup"].get<bool>() ? "| " : "  ") << str(b["caption"]) << " ";
    o << "\n";
    if (full || bar != lastBar_)
      for (auto& b : bar["buttons"])
        o << "  " << str(b["position"]) << ". \"" << str(b["caption"]) << "\"  " << str(b["style"])
          << (b["beginGroup"].get<bool>() ? ", begins a group" : "") << ", tooltip \""
          << oneLine(str(b["tooltip"])) << "\"\n";
  }
  lastBar_ = bar;

  if (full || r["projects"] != lastProjects_) {
    o << "projects:";
    if (r["projects"].empty()) o << " none";
    for (auto& p : r["projects"])
      o << " " << str(p["name"]) << " (" << str(p["file"]) << (p["locked"].get<bool>() ? ", locked" : "") << ")";
    o << "\n";
  }
  lastProjects_ = r["projects"];
  o << "active project: " << (r["activeProject"].is_null() ? "none" : str(r["activeProject"]))
    << "; main window: " << str(r["mainWindow"]) << "\n";
  o << "code and designer windows visible: " << list(r["windows"]["visible"]) << "\n";
  if (!r["windows"]["opened"].empty()) o << "  opened: " << list(r["windows"]["opened"]) << "\n";
  if (!r["windows"]["closed"].empty()) o << "  closed: " << list(r["windows"]["closed"]) << "\n";

  const auto& imm = r["immediate"];
  std::string added = str(imm["added"]);
  if (!added.empty() || full) {
    o << "Immediate window (" << (imm["visible"].get<bool>() ? "visible" : "hidden") << ", height "
      << str(imm["height"]) << ")" << (added.empty() ? ": nothing added\n" : ", text added:\n");
    std::istringstream lines(added);
    for (std::string line; std::getline(lines, line);) o << "  |" << line << "\n";
    if (!added.empty() && added.back() == '\n') o << "  |\n";
  }
  if (str(r["objectBrowser"]) == "visible" || full) o << "Object Browser: " << str(r["objectBrowser"]) << "\n";

  if (!r["hostCalls"].empty()) {
    o << "the host received" << (r["hostFoundThrough"] == "editor" ? " (found through the editor)" : "") << ":\n";
    for (auto& c : r["hostCalls"]) o << "  " << str(c) << "\n";
  }
  if (r["host"].is_object() && (!r["hostCalls"].empty() || full))
    o << str(r["host"]["application"]) << ": " << (r["host"]["visible"].get<bool>() ? "visible" : "hidden")
      << ", open files: " << list(r["host"]["openFiles"]) << "\n";
  for (auto& b : r["messageBoxes"]) {
    o << "message box [" << str(b["buttons"]) << "]: \"" << str(b["text"]) << "\"";
    if (b.contains("answer")) o << ", answered " << str(b["answer"]);
    o << "\n";
  }
  if (!r["failure"].is_null()) o << "failure returned to the editor: " << str(r["failure"]) << "\n";
  if (r["referencesDialog"].get<bool>()) o << "the editor's own References dialog opened\n";
  for (auto& s : r["settingsWritten"]) o << "setting written: " << str(s) << "\n";
  if (r.contains("log")) {
    o << "log:" << (r["log"].empty() ? " nothing written\n" : "\n");
    for (auto& line : r["log"]) o << "  " << str(line) << "\n";
  }
  if (r.contains("referencesLeft"))
    o << "references to editor and host objects still held: " << str(r["referencesLeft"]) << "\n";
  o << "\n";
  return o.str();
}

}  // namespace sim
