#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace sim {

struct Command {
  enum class Kind { Connect, Click, References, Move, Disconnect, State };
  Kind kind = Kind::State;
  int32_t mode = 0;     // connect
  int position = 0;     // click by position, move from
  int to = 0;           // move to
  std::string caption;  // click by caption
  std::string text;     // as the user wrote it, for the output
};

// Commands given as program arguments: "connect", "1" style words one after the other
// ("click 2 move 6 1 state"). Throws InputError for anything that is not a command.
std::vector<Command> parseArguments(const std::vector<std::string>& words);

// One line typed at the prompt; a caption with spaces goes in double quotes.
// Returns no command for an empty line.
std::vector<Command> parseLine(const std::string& line);

// The guided tour: the starting state, connect, every button, Tools > References..., the locked
// project, disconnect.
std::vector<Command> tour();

// The connection a command typed before any connection makes first: the add-in manager's load
// after startup (mode 0).
Command impliedConnect();

const char* usageOfCommands();

}  // namespace sim
