#include "platform/log.h"

#include <cstdio>

namespace platform {

void Log::write(Level level, std::string_view event) noexcept {
  if (!on()) return;
  try {
    append(level, logline::escape(event));
  } catch (...) {
    // Out of memory for a line: the event is lost, the command goes on.
  }
}

namespace logline {

std::string escape(std::string_view event) {
  std::string out;
  out.reserve(event.size());
  for (char c : event) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '\r') {
      out += "\\r";
    } else if (c == '\n') {
      out += "\\n";
    } else if (u < 0x20 || u == 0x7F) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", u);
      out += hex;
    } else {
      out += c;
    }
  }
  return out;
}

const char* levelName(Log::Level level) {
  switch (level) {
    case Log::Level::Info:
      return "INFO";
    case Log::Level::Warning:
      return "WARN";
    case Log::Level::Error:
      return "ERROR";
  }
  return "?";
}

std::string format(const LocalTime& t, uint32_t processId, Log::Level level,
                   std::string_view event) {
  char head[64];
  std::snprintf(head, sizeof head, "%04d-%02d-%02d %02d:%02d:%02d.%03d %lu %-5s ", t.year, t.month,
                t.day, t.hour, t.minute, t.second, t.millisecond,
                static_cast<unsigned long>(processId), levelName(level));
  std::string line(head);
  line += event;
  return line;
}

}  // namespace logline
}  // namespace platform
