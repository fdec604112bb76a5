#pragma once

#include <cstdint>
#include <cstdio>
#include <stdexcept>
#include <string>

namespace automation {

// Error numbers the editor itself reports; the code travels with the description so that a
// COM boundary can rebuild an HRESULT (0x800A0000 | code) the way VBA does.
namespace errors {
inline constexpr int32_t ObjectNotSet = 91;         // "Object variable or With block variable not set"
inline constexpr int32_t InvalidCall = 5;           // "Invalid procedure call or argument"
inline constexpr int32_t Overflow = 6;
inline constexpr int32_t SubscriptOutOfRange = 9;
inline constexpr int32_t TypeMismatch = 13;
inline constexpr int32_t CantCreateObject = 429;    // GetObject found no running instance
inline constexpr int32_t NoSuchMember = 438;        // "Object doesn't support this property or method"
inline constexpr int32_t ObjectRequired = 424;
inline constexpr int32_t ProjectProtected = 50289;
}  // namespace errors

// A failed automation call: what the user would read in a message box, and a numeric code.
class Failure : public std::runtime_error {
 public:
  Failure(std::string description, int32_t code)
      : std::runtime_error(description), description_(std::move(description)), code_(code) {}

  const std::string& description() const noexcept { return description_; }
  int32_t code() const noexcept { return code_; }

 private:
  std::string description_;
  int32_t code_;
};

// The HRESULT a code stands for: an error number as 0x800A0000 | number, 0 as E_FAIL, anything
// else an HRESULT already.
constexpr uint32_t hresultOf(int32_t code) noexcept {
  if (code > 0 && code <= 0xFFFF) return 0x800A0000u | static_cast<uint32_t>(code);
  if (code == 0) return 0x80004005u;
  return static_cast<uint32_t>(code);
}

// "0x800A01B8": how the log, the add-in's messages and vbatessary-check write an HRESULT.
inline std::string hresultText(uint32_t hresult) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(hresult));
  return text;
}

[[noreturn]] inline void fail(std::string description, int32_t code) {
  throw Failure(std::move(description), code);
}

// Runs `step`; a failed automation call ends it there and only shows in the result.
template <class Step>
bool attempt(Step&& step) {
  try {
    step();
    return true;
  } catch (const Failure&) {
    return false;
  }
}

}  // namespace automation
