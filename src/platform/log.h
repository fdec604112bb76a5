#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/services.h"

// The log's line, shared by every log behind platform::Log.
namespace platform::logline {

// CR as "\r", LF as "\n" and any other control character as "\xHH": one event, one line.
std::string escape(std::string_view event);

const char* levelName(Log::Level level);

struct LocalTime {
  int year, month, day, hour, minute, second, millisecond;
};

// "2026-12-10 15:21:05.123 4242 INFO  event", without the line end.
std::string format(const LocalTime& time, uint32_t processId, Log::Level level,
                   std::string_view event);

}  // namespace platform::logline
