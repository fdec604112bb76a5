#include "model/state.h"

#include <algorithm>

namespace model {

std::string Call::describe() const {
  std::string s = target + "." + member;
  switch (kind) {
    case Invoke::Get: s += "("; break;
    case Invoke::Put: s += " = ("; break;
    case Invoke::PutRef: s += " := ("; break;
  }
  size_t firstNamed = args.size() - names.size();
  for (size_t i = 0; i < args.size(); ++i) {
    if (i) s += ", ";
    if (i >= firstNamed) s += names[i - firstNamed] + ":=";
    s += i < argText.size() ? argText[i] : args[i].describe();
  }
  return s + ")";
}

void Faults::failCall(int64_t k, std::string description) {
  failAt = calls + k;
  failAtDescription = std::move(description);
}

void Faults::failMember(std::string member, std::string description, int32_t code) {
  members.push_back({std::move(member), std::move(description), code});
}

void Faults::clear() {
  failAt.reset();
  alsoFailAt.clear();
  members.clear();
}

void State::enter(const std::string& target, std::string_view member, Invoke kind,
                  std::span<const Value> args, std::span<const NamedArg> named) {
  ++faults.calls;
  if (logging) {
    Call call{target, std::string(member), kind, {}, {}, {}};
    auto record = [&call](const Value& v) {
      if (v.isObject()) {
        auto node = unwrap(v.asObject());
        call.args.push_back(Value(Object()));
        call.argText.push_back(v.asObject().empty() ? "Obj Nothing" : "Obj " + (node ? node->kind() : std::string("foreign")));
      } else {
        call.args.push_back(v);
        call.argText.push_back(v.describe());
      }
    };
    for (const auto& a : args) record(a);
    for (const auto& n : named) {
      record(n.value);
      call.names.push_back(n.name);
    }
    log.push_back(std::move(call));
  }
  if ((faults.failAt && *faults.failAt == faults.calls) ||
      std::find(faults.alsoFailAt.begin(), faults.alsoFailAt.end(), faults.calls) != faults.alsoFailAt.end())
    automation::fail(faults.failAtDescription, faults.failAtCode);
  for (const auto& rule : faults.members) {
    auto dot = rule.member.find('.');
    bool match = dot == std::string::npos
                     ? automation::sameName(rule.member, member)
                     : automation::sameName(rule.member.substr(0, dot), target) &&
                           automation::sameName(rule.member.substr(dot + 1), member);
    if (match) automation::fail(rule.description, rule.code);
  }
}

Value Node::invoke(std::string_view member, Invoke, std::span<const Value>, std::span<const NamedArg>) {
  noSuchMember(member);
}

std::vector<std::shared_ptr<Node>> Node::items() { noSuchMember("_NewEnum"); }

automation::Subscription Node::subscribe(automation::ClickHandler, automation::ClickEvents) {
  automation::fail("Object does not support events", automation::errors::NoSuchMember);
}

void noSuchMember(std::string_view member) {
  automation::fail("Object doesn't support this property or method: " + std::string(member),
                   automation::errors::NoSuchMember);
}

const Value& arg(std::span<const Value> args, size_t i) {
  static const Value missing = Value::missing();
  return i < args.size() ? args[i] : missing;
}

namespace {

class Ref;

class Enum : public automation::Enumeration {
 public:
  Enum(std::shared_ptr<State> state, std::string target, std::vector<std::shared_ptr<Node>> items)
      : state_(std::move(state)), target_(std::move(target)), items_(std::move(items)) {
    ++state_->liveReferences;
  }
  ~Enum() override { --state_->liveReferences; }
  std::optional<Value> next() override {
    state_->enter(target_, "Next", Invoke::Get, {}, {});
    if (pos_ >= items_.size()) return std::nullopt;
    return Value(wrap(state_, items_[pos_++]));
  }

 private:
  std::shared_ptr<State> state_;
  std::string target_;
  std::vector<std::shared_ptr<Node>> items_;
  size_t pos_ = 0;
};

class Ref : public automation::Dispatch {
 public:
  Ref(std::shared_ptr<State> state, std::shared_ptr<Node> node)
      : state_(std::move(state)), node_(std::move(node)) {
    ++state_->liveReferences;
  }
  ~Ref() override { --state_->liveReferences; }

  Value invoke(std::string_view member, Invoke kind, std::span<const Value> args,
               std::span<const NamedArg> named) override {
    state_->enter(node_->kind(), member, kind, args, named);
    if (node_->deleted) automation::fail("Method '" + std::string(member) + "' of object failed: the object has been deleted", 440);
    return node_->invoke(member, kind, args, named);
  }
  std::unique_ptr<automation::Enumeration> enumerate() override {
    state_->enter(node_->kind(), "_NewEnum", Invoke::Get, {}, {});
    return std::make_unique<Enum>(state_, node_->kind(), node_->items());
  }
  automation::Subscription subscribe(automation::ClickHandler handler, automation::ClickEvents events) override {
    // Subscribing is two calls of the event source: its connection point, then Advise.
    state_->enter(node_->kind(), "FindConnectionPoint", Invoke::Get, {}, {});
    state_->enter(node_->kind(), "Advise", Invoke::Get, {}, {});
    return node_->subscribe(std::move(handler), events);
  }
  bool implements(std::string_view name) const override { return node_->implements(name); }

  const std::shared_ptr<Node>& node() const { return node_; }

 private:
  std::shared_ptr<State> state_;
  std::shared_ptr<Node> node_;
};

}  // namespace

Object wrap(const std::shared_ptr<State>& state, const std::shared_ptr<Node>& node) {
  if (!node) return Object();
  return Object(std::make_shared<Ref>(state, node));
}

std::shared_ptr<Node> unwrap(const Object& object) {
  if (auto* ref = dynamic_cast<Ref*>(object.target())) return ref->node();
  return nullptr;
}

}  // namespace model
