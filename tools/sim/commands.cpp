#include "commands.h"

#include <charconv>

#include "input_error.h"

namespace sim {

namespace {

bool isNumber(const std::string& s) {
  return !s.empty() && s.find_first_not_of("0123456789") == std::string::npos;
}

int number(const std::string& s, const std::string& what) {
  int v = 0;
  auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
  if (!isNumber(s) || ec != std::errc() || end != s.data() + s.size())
    throw InputError(what + ": expected a number, found \"" + s + "\"");
  return v;
}

int32_t connectMode(const std::string& s) {
  if (s == "0" || s == "after-startup") return 0;
  if (s == "1" || s == "startup") return 1;
  if (s == "2" || s == "external") return 2;
  if (s == "3" || s == "command-line") return 3;
  throw InputError("connect: unknown mode \"" + s +
                   "\" (expected 0 after-startup, 1 startup, 2 external or 3 command-line)");
}

bool isModeWord(const std::string& s) {
  for (auto* m : {"0", "1", "2", "3", "after-startup", "startup", "external", "command-line"})
    if (s == m) return true;
  return false;
}

bool isCommandWord(const std::string& s) {
  for (auto* c : {"connect", "click", "references", "move", "disconnect", "state"})
    if (s == c) return true;
  return false;
}

std::string quoted(const std::string& s) {
  return s.find(' ') == std::string::npos && !s.empty() ? s : "\"" + s + "\"";
}

}  // namespace

std::vector<Command> parseArguments(const std::vector<std::string>& words) {
  std::vector<Command> out;
  for (size_t i = 0; i < words.size();) {
    const std::string& w = words[i++];
    Command c;
    auto operand = [&](const char* what) -> const std::string& {
      if (i >= words.size()) throw InputError(w + ": missing " + what);
      return words[i++];
    };
    if (w == "connect") {
      c.kind = Command::Kind::Connect;
      c.text = "connect";
      // The mode is optional: take the next word only when it is one.
      if (i < words.size() && !isCommandWord(words[i])) {
        if (!isModeWord(words[i]) && !isNumber(words[i]))
          throw InputError("connect: unknown mode \"" + words[i] +
                           "\" (expected 0 after-startup, 1 startup, 2 external or 3 command-line)");
        c.mode = connectMode(words[i]);
        c.text += " " + words[i++];
      }
    } else if (w == "click") {
      c.kind = Command::Kind::Click;
      const std::string& target = operand("the button (its position or its caption)");
      if (isNumber(target)) {
        c.position = number(target, "click");
        if (c.position < 1) throw InputError("click: there is no button 0; buttons count from 1");
      } else {
        if (target.empty()) throw InputError("click: an empty caption names no button");
        c.caption = target;
      }
      c.text = "click " + quoted(target);
    } else if (w == "references") {
      c.kind = Command::Kind::References;
      c.text = w;
    } else if (w == "move") {
      c.kind = Command::Kind::Move;
      c.position = number(operand("the position of the button to move"), "move");
      c.to = number(operand("the position to move it to"), "move");
      if (c.position < 1 || c.to < 1) throw InputError("move: positions count from 1");
      c.text = "move " + std::to_string(c.position) + " " + std::to_string(c.to);
    } else if (w == "disconnect") {
      c.kind = Command::Kind::Disconnect;
      c.text = w;
    } else if (w == "state") {
      c.kind = Command::Kind::State;
      c.text = w;
    } else {
      throw InputError("unknown command \"" + w + "\" (expected " + usageOfCommands() + ")");
    }
    out.push_back(std::move(c));
  }
  return out;
}

std::vector<Command> parseLine(const std::string& line) {
  std::vector<std::string> words;
  size_t i = 0;
  while (i < line.size()) {
    if (line[i] == ' ' || line[i] == '\t' || line[i] == '\r') {
      ++i;
      continue;
    }
    std::string w;
    if (line[i] == '"') {
      size_t close = line.find('"', i + 1);
      if (close == std::string::npos) throw InputError("a quoted caption misses its closing \"");
      w = line.substr(i + 1, close - i - 1);
      i = close + 1;
    } else {
      while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r') w += line[i++];
    }
    words.push_back(std::move(w));
  }
  return parseArguments(words);
}

std::vector<Command> tour() {
  // References come before button 6 so that they are those of the workbook project, broken one
  // included; after it closes, button 1 meets the locked project that is left.
  return parseArguments({"state", "connect", "click", "1", "click", "2", "click", "3", "click", "4",
                         "click", "5", "references", "click", "6", "click", "1", "disconnect"});
}

Command impliedConnect() {
  Command c;
  c.kind = Command::Kind::Connect;
  c.text = "connect (implied)";
  return c;
}

const char* usageOfCommands() {
  return "connect [MODE], click N, click \"Caption\", references, move N M, disconnect or state";
}

}  // namespace sim
