#include <cstdio>

#include "checker.h"

namespace check {
namespace {

std::string bitsList(const std::vector<Bits>& list) {
  std::string s;
  for (size_t i = 0; i < list.size(); ++i) s += (i ? (i + 1 == list.size() ? " and " : ", ") : "") + std::string(office(list[i]));
  return s;
}

// JSON string text: quotes, backslashes and control characters escaped; UTF-8 as it is.
std::string jsonText(const std::string& s) {
  std::string out = "\"";
  for (unsigned char c : s) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04x", c);
          out += buf;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  return out + "\"";
}

// One line a check: a CR or LF in registry data never starts another.
std::string oneLine(std::string s) {
  for (char& c : s)
    if (c == '\r' || c == '\n') c = ' ';
  return s;
}

}  // namespace

std::vector<std::string> lastLines(const std::string& text, size_t count) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(std::move(line));
    start = end + 1;
  }
  if (lines.size() > count) lines.erase(lines.begin(), lines.end() - static_cast<long>(count));
  return lines;
}

std::string verdict(const Result& r) {
  std::vector<Bits> can, cannot;
  for (Bits b : r.targets) (r.canLoad(b) ? can : cannot).push_back(b);
  std::string s;
  if (!can.empty()) s = "vba Tessary can load in " + bitsList(can) + ".";
  if (!cannot.empty()) s += (s.empty() ? "" : " ") + std::string("vba Tessary cannot load in ") + bitsList(cannot) + ": fix what failed above.";
  return s;
}

std::string text(const Result& r, const std::string& version) {
  std::string out = "vbatessary-check " + version + "\n";
  for (const Check& c : r.checks) {
    char head[40];
    std::snprintf(head, sizeof head, "%s %-4s %-12s ", name(c.bits), name(c.status), c.id.c_str());
    out += head + oneLine(c.detail);
    if (!c.fix.empty() && (c.status == Status::Fail || c.status == Status::Warn)) out += " -> " + oneLine(c.fix);
    out += "\n";
  }
  out += verdict(r) + "\n";
  if (r.log.found) {
    out += "log " + r.log.path + (r.log.on ? "" : " (logging is off now)") + ", its last " +
           std::to_string(r.log.tail.size()) + " lines:\n";
    for (const std::string& line : r.log.tail) out += "  " + line + "\n";
  } else if (r.log.path.empty()) {
    out += std::string("log: ") + (r.log.on ? "on, but" : "off, and even on") + " the add-in writes none: " +
           r.log.why + "\n";
  } else {
    out += std::string("log: ") + (r.log.on ? "on, nothing written yet to " + r.log.path
                                            : "off (\"vbatessary-check --log on\" turns it on)") + "\n";
  }
  return out;
}

std::string json(const Result& r, const std::string& version) {
  std::string out = "{\"version\": " + jsonText(version) + ", \"checks\": [";
  for (size_t i = 0; i < r.checks.size(); ++i) {
    const Check& c = r.checks[i];
    out += std::string(i ? ",\n  " : "\n  ") + "{\"bitness\": \"" + name(c.bits) + "\", \"id\": " + jsonText(c.id) +
           ", \"status\": \"" + name(c.status) + "\", \"detail\": " + jsonText(c.detail) + ", \"fix\": " + jsonText(c.fix) + "}";
  }
  out += std::string("],\n \"log\": {\"on\": ") + (r.log.on ? "true" : "false") + ", \"path\": " + jsonText(r.log.path) +
         (r.log.path.empty() ? ", \"why\": " + jsonText(r.log.why) : "") + ", \"tail\": [";
  for (size_t i = 0; i < r.log.tail.size(); ++i) out += (i ? ", " : "") + jsonText(r.log.tail[i]);
  out += std::string("]},\n \"verdict\": \"") + (r.ok() ? "ok" : "fail") + "\"}\n";
  return out;
}

}  // namespace check
