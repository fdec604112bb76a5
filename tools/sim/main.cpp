// tessary-sim: connects the add-in to a model editor and shows what a user would see.
#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif
#include <unistd.h>

#include <iostream>
#include <sstream>

#include "commands.h"
#include "dll_addin.h"
#include "input_error.h"
#include "render_text.h"
#include "session.h"
#include "workspace.h"

namespace {

const char* usage =
    "usage: tessary-sim [--workspace FILE] [--json] [--answer yes|no|cancel]... [--log]\n"
    "                   [--dll PATH] [-i] [COMMAND...]\n"
    "\n"
    "Connects the vba Tessary add-in to a model of the VBA editor and shows, after each command,\n"
    "what a user would see. With no command it runs a guided tour of every command.\n"
    "\n"
    "  --workspace FILE  the editor and host to use (JSON, see examples/README.md);\n"
    "                    without it, the built-in sample workspace\n"
    "  --json            one JSON document per command, one line each\n"
    "  --answer WORD     the answer to the next question a message box asks (repeatable)\n"
    "  --log             turn the add-in's log on (as \"log\": true in the workspace): each\n"
    "                    report shows the lines its command wrote\n"
    "  --dll PATH        load the add-in from vbatessary.dll through COM: registered for\n"
    "                    the session, its keys, message boxes and settings going through\n"
    "                    Windows (the Windows build of tessary-sim, under Wine on Linux)\n"
    "  -i                read commands from the prompt, one line each\n"
    "\n"
    "commands: connect [MODE]   MODE 0 after-startup (default), 1 startup, 2 external, 3 command-line\n"
    "          click N          click the button at position N of the add-in's bar\n"
    "          click \"Caption\"  click the button with that caption\n"
    "          references       Tools > References...\n"
    "          move N M         move the button at position N to position M\n"
    "          disconnect       unload the add-in\n"
    "          state            show everything\n"
    "\n"
    "A command other than connect and state given before the first connect connects the add-in\n"
    "first (mode 0), shown as the command \"connect (implied)\".\n";

struct Options {
  std::string workspace;
  std::string dll;
  bool json = false;
  bool interactive = false;
  bool log = false;
  std::vector<platform::MessageBoxes::Answer> answers;
  std::vector<std::string> commands;
};

Options parseOptions(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= argc) throw sim::InputError(a + ": missing its value");
      return argv[++i];
    };
    if (a == "--workspace") o.workspace = value();
    else if (a == "--dll") o.dll = value();
    else if (a == "--json") o.json = true;
    else if (a == "-i") o.interactive = true;
    else if (a == "--log") o.log = true;
    else if (a == "--answer") {
      auto w = value();
      auto answer = sim::answerNamed(w);
      if (!answer) throw sim::InputError("--answer: expected yes, no or cancel, found \"" + w + "\"");
      o.answers.push_back(*answer);
    } else if (a.size() > 1 && a[0] == '-') {
      throw sim::InputError("unknown option " + a + " (see tessary-sim --help)");
    } else {
      o.commands.push_back(a);
    }
  }
  return o;
}

std::string emit(const nlohmann::ordered_json& report, bool json, sim::TextRenderer& text) {
  if (json) return report.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
  return text.render(report);
}

int interactive(sim::Session& session, bool json, sim::TextRenderer& text) {
  bool tty = isatty(0);
  bool refused = false;
  std::string line;
  for (;;) {
    if (tty) std::cout << "tessary> " << std::flush;
    if (!std::getline(std::cin, line)) break;
    if (line == "quit" || line == "exit") break;
    if (line == "help") {
      std::cout << "commands: " << sim::usageOfCommands() << ", quit\n";
      continue;
    }
    try {
      for (auto& c : sim::parseLine(line))
        session.perform(c, [&](const nlohmann::ordered_json& r) { std::cout << emit(r, json, text) << std::flush; });
    } catch (const sim::InputError& e) {
      std::cerr << "tessary-sim: " << e.what() << "\n";
      refused = true;
    }
  }
  return refused ? 2 : 0;
}

}  // namespace

int main(int argc, char** argv) {
#ifdef _WIN32
  // The same bytes as on Linux: a line ends in "\n" alone, so outputs compare byte for byte.
  _setmode(_fileno(stdout), _O_BINARY);
#endif
  for (int i = 1; i < argc; ++i)
    if (std::string(argv[i]) == "--help" || std::string(argv[i]) == "-h") {
      std::cout << usage;
      return 0;
    }
  try {
    Options o = parseOptions(argc, argv);
    auto commands = sim::parseArguments(o.commands);
    bool guided = commands.empty() && !o.interactive;
    if (guided) commands = sim::tour();

    sim::Workspace ws = o.workspace.empty() ? sim::sampleWorkspace() : sim::loadWorkspace(o.workspace);
    if (!o.answers.empty()) ws.answers = o.answers;
    if (o.log) ws.log = true;
    std::string title = ws.title;
    std::string hostName = ws.editor.world().hostName;
    sim::Session session(std::move(ws), o.dll.empty() ? sim::nativeRuntime() : sim::dllRuntime(o.dll));

    sim::TextRenderer text(guided);
    // Nothing is printed until every command has run: a refused command leaves no half output.
    std::ostringstream out;
    if (!o.json && (guided || o.interactive))
      out << "tessary-sim: " << title << ", host \"" << hostName << "\"\n\n";
    for (const auto& c : commands) session.perform(c, [&](const nlohmann::ordered_json& r) { out << emit(r, o.json, text); });
    std::cout << out.str() << std::flush;
    if (o.interactive) return interactive(session, o.json, text);
    return 0;
  } catch (const sim::InputError& e) {
    std::cerr << "tessary-sim: " << e.what() << "\n";
    return 2;
  }
}
