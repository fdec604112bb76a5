#pragma once

#include <stdexcept>
#include <string>

namespace sim {

// Input the simulator refuses: a bad workspace file, command or option. The message is complete
// (with file:line:column where there is one) and the run ends with status 2.
class InputError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace sim
