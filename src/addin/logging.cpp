#include "addin/logging.h"

#include <cstdio>

#ifndef TESSARY_VERSION_TEXT
#define TESSARY_VERSION_TEXT "?"
#endif

namespace addin {

std::string Logging::describe(const automation::Failure& failure) {
  return automation::hresultText(automation::hresultOf(failure.code())) + " " + failure.description();
}

void Logging::failed(std::string_view kind, std::string_view member,
                     const automation::Failure& failure) noexcept {
  if (!on()) return;
  try {
    std::string event = "call failed: ";
    if (!kind.empty()) (event += kind) += '.';
    (event += member) += ": ";
    event += describe(failure);
    warning(event);
  } catch (...) {
  }
}

std::string Logging::since(Clock::time_point start) {
  const auto us =
      std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start).count();
  char text[32];
  std::snprintf(text, sizeof text, "%.2f ms", static_cast<double>(us) / 1000.0);
  return text;
}

std::string Logging::addinName() {
  return std::string("vba Tessary ") + TESSARY_VERSION_TEXT + " (" +
         std::to_string(sizeof(void*) * 8) + "-bit)";
}

}  // namespace addin
