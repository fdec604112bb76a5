#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "automation/object.h"

namespace model {

using automation::Invoke;
using automation::NamedArg;
using automation::Object;
using automation::Value;

// One late-bound call as the model received it.
struct Call {
  std::string target;  // kind of the object called ("CommandBars", "Excel.Application", ...)
  std::string member;  // the name exactly as sent
  Invoke kind = Invoke::Get;
  // Object arguments are kept as Nothing: the log must not hold references to the model.
  std::vector<Value> args;
  std::vector<std::string> names;  // named-argument names, aligned with the last args
  std::vector<std::string> argText;  // describe() of each argument, objects named by kind
  std::string describe() const;
};

// Fault injection: fail the k-th call from now, or every call of a member ("Add" or
// "CommandBars.Add"), with a given description.
struct Faults {
  struct Rule {
    std::string member;
    std::string description;
    int32_t code;
  };
  std::optional<int64_t> failAt;  // 1-based call number
  std::vector<int64_t> alsoFailAt;  // further call numbers that fail the same way
  std::string failAtDescription = "Injected failure";
  int32_t failAtCode = 0x800A0000 | 440;
  std::vector<Rule> members;
  int64_t calls = 0;

  void failCall(int64_t k, std::string description = "Injected failure");
  void failMember(std::string member, std::string description, int32_t code = 440);
  void clear();
};

class Node;

// What every model object shares: the call log, fault injection and the count of live references
// handed out. Handed-out references keep it alive, so a leaked one can still be counted safely.
struct State {
  std::vector<Call> log;
  bool logging = true;
  Faults faults;
  int64_t liveReferences = 0;

  // Counts a call, logs it and throws when a fault is injected for it.
  void enter(const std::string& target, std::string_view member, Invoke kind,
             std::span<const Value> args, std::span<const NamedArg> named);
};

// A node of the model: an editor or host object answering members by name.
class Node : public std::enable_shared_from_this<Node> {
 public:
  virtual ~Node() = default;
  virtual std::string kind() const = 0;
  virtual Value invoke(std::string_view member, Invoke kind, std::span<const Value> args,
                       std::span<const NamedArg> named);
  // Items for enumeration; collections override.
  virtual std::vector<std::shared_ptr<Node>> items();
  virtual automation::Subscription subscribe(automation::ClickHandler handler, automation::ClickEvents events);
  virtual bool implements(std::string_view interfaceName) const { return false; }
  // Deleted objects refuse every call, as Office's do.
  bool deleted = false;
};

// Hands a node out as a counted reference.
Object wrap(const std::shared_ptr<State>& state, const std::shared_ptr<Node>& node);
// The node behind a model reference, or null when the object is not one of the model's.
std::shared_ptr<Node> unwrap(const Object& object);

template <class T>
std::shared_ptr<T> unwrapAs(const Object& object) {
  return std::dynamic_pointer_cast<T>(unwrap(object));
}

[[noreturn]] void noSuchMember(std::string_view member);
// Argument i, or Missing when it was not passed.
const Value& arg(std::span<const Value> args, size_t i);

}  // namespace model
