#pragma once

#include <chrono>
#include <string>
#include <string_view>

#include "automation/object.h"
#include "platform/services.h"

namespace addin {

// The add-in's side of the log. The few places that decide (connection, clicks, the host lookup,
// disconnection) write through it, and every failed call reaches it through the automation layer.
// Callers compose their lines only when on(): while the log is off, logging costs one test. Its
// writers are marked cold, so the compiler moves the composing out of the commands' hot paths.
class Logging final : public automation::FailureWatch {
 public:
  using Clock = std::chrono::steady_clock;
  explicit Logging(platform::Log& log) noexcept : log_(log) {}

  bool on() const noexcept { return log_.on(); }
  [[gnu::cold]] void info(std::string_view event) noexcept { log_.write(platform::Log::Level::Info, event); }
  [[gnu::cold]] void warning(std::string_view event) noexcept {
    log_.write(platform::Log::Level::Warning, event);
  }
  [[gnu::cold]] void error(std::string_view event) noexcept { log_.write(platform::Log::Level::Error, event); }

  // For its length, failed calls are written; while the log is off nothing is watched.
  automation::Watch watch() noexcept { return automation::Watch(on() ? this : nullptr); }
  void failed(std::string_view kind, std::string_view member,
              const automation::Failure& failure) noexcept override;

  // "0x800A01B8 description": a failure as every line names it, its HRESULT first.
  [[gnu::cold]] static std::string describe(const automation::Failure& failure);
  // Milliseconds since `start`, "12.34 ms".
  [[gnu::cold]] static std::string since(Clock::time_point start);
  // The add-in's own version and bitness: "vba Tessary 1.00 (64-bit)".
  static std::string addinName();

 private:
  platform::Log& log_;
};

}  // namespace addin
