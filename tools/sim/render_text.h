#pragma once

#include <string>

#include <nlohmann/json.hpp>

namespace sim {

// Renders the command reports for a person: the whole bar and project list when they change,
// one line for each otherwise, and then only what the command added or changed.
class TextRenderer {
 public:
  explicit TextRenderer(bool guided) : guided_(guided) {}
  std::string render(const nlohmann::ordered_json& report);

 private:
  bool guided_;
  nlohmann::ordered_json lastBar_ = "unset";
  nlohmann::ordered_json lastProjects_ = "unset";
};

}  // namespace sim
