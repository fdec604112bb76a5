#pragma once

#include <functional>
#include <string_view>
#include <utility>

#include "automation/failure.h"

namespace automation {

// Tells the thread's FailureWatch, if any, of a failed call (see Watch in object.h).
void tell(std::string_view kind, std::string_view member, const Failure& failure) noexcept;

// A live click subscription. Holding it keeps the clicks coming; destroying or resetting it ends
// delivery at once (the COM side unadvises and releases the event source here).
class Subscription {
 public:
  Subscription() = default;
  explicit Subscription(std::function<void()> end) : end_(std::move(end)) {}
  Subscription(Subscription&& other) noexcept : end_(std::exchange(other.end_, nullptr)) {}
  Subscription& operator=(Subscription&& other) noexcept {
    if (this != &other) {
      reset();
      end_ = std::exchange(other.end_, nullptr);
    }
    return *this;
  }
  Subscription(const Subscription&) = delete;
  Subscription& operator=(const Subscription&) = delete;
  ~Subscription() { reset(); }

  bool active() const noexcept { return static_cast<bool>(end_); }

  // Ending a subscription must never throw: it runs during disconnection and destruction.
  void reset() noexcept {
    if (auto end = std::exchange(end_, nullptr)) {
      try {
        end();
      } catch (const Failure& f) {
        tell("", "Unadvise", f);
      } catch (...) {
      }
    }
  }

 private:
  std::function<void()> end_;
};

}  // namespace automation
