#include "replay.h"

#include <algorithm>

namespace bench {

namespace {

class ProxyEnumeration : public automation::Enumeration {
 public:
  ProxyEnumeration(Recorder* r, std::unique_ptr<automation::Enumeration> inner, int slot)
      : r_(r), inner_(std::move(inner)), slot_(slot) {}
  std::optional<Value> next() override {
    r_->ops().push_back({Op::Type::Next, slot_});
    size_t at = r_->ops().size() - 1;
    auto v = inner_->next();
    if (v && v->isObject() && !v->asObject().empty()) {
      int s = r_->newSlot();
      r_->ops()[at].result = s;
      return Value(r_->proxy(v->asObject(), s));
    }
    return v;
  }

 private:
  Recorder* r_;
  std::unique_ptr<automation::Enumeration> inner_;
  int slot_;
};

class Proxy : public automation::Dispatch {
 public:
  Proxy(Recorder* r, Object inner, int slot) : r_(r), inner_(std::move(inner)), slot_(slot) {}

  Value invoke(std::string_view member, Invoke kind, std::span<const Value> args,
               std::span<const NamedArg> named) override {
    Op op{Op::Type::Invoke, slot_, std::string(member), kind};
    std::vector<Value> real(args.begin(), args.end());
    for (size_t i = 0; i < real.size(); ++i) {
      if (!real[i].isObject()) continue;
      Object inner;
      int s = r_->slotOf(real[i].asObject(), inner);
      if (s >= 0) {
        op.objectArgs.push_back({i, s});
        real[i] = Value(inner);
      }
    }
    op.args = real;
    for (auto& a : op.args)
      if (a.isObject()) a = Value(Object());  // the recording must not keep model objects alive
    op.named.assign(named.begin(), named.end());
    r_->ops().push_back(std::move(op));
    size_t at = r_->ops().size() - 1;
    Value result = inner_.target()->invoke(member, kind, real, named);
    if (result.isObject() && !result.asObject().empty()) {
      int s = r_->newSlot();
      r_->ops()[at].result = s;
      return Value(r_->proxy(result.asObject(), s));
    }
    return result;
  }

  std::unique_ptr<automation::Enumeration> enumerate() override {
    int e = r_->newEnumeration();
    r_->ops().push_back({Op::Type::Enumerate, slot_});
    r_->ops().back().result = e;
    return std::make_unique<ProxyEnumeration>(r_, inner_.target()->enumerate(), e);
  }

  automation::Subscription subscribe(automation::ClickHandler handler, automation::ClickEvents events) override {
    r_->ops().push_back({Op::Type::Subscribe, slot_});
    r_->ops().back().events = events;
    return inner_.target()->subscribe(std::move(handler), events);
  }

  bool implements(std::string_view name) const override { return inner_.implements(name); }

  const Object& inner() const { return inner_; }
  int slot() const { return slot_; }

 private:
  Recorder* r_;
  Object inner_;
  int slot_;
};

class RecordingLookup : public platform::HostLookup {
 public:
  RecordingLookup(Recorder* r, platform::HostLookup& real) : r_(r), real_(real) {}
  platform::ActiveObject getActiveObject(const std::string& progId) override {
    Op op(Op::Type::Lookup, -1);
    op.member = progId;
    r_->ops().push_back(std::move(op));
    size_t at = r_->ops().size() - 1;
    platform::ActiveObject found = real_.getActiveObject(progId);
    if (found.object.empty()) return found;
    int s = r_->newSlot();
    r_->ops()[at].result = s;
    return {r_->proxy(found.object, s), found.inThisProcess};
  }
  bool inThisProcess(const Object& object) override {
    auto* proxy = dynamic_cast<Proxy*>(object.target());
    if (!proxy) return real_.inThisProcess(object);
    r_->ops().push_back({Op::Type::InProcess, proxy->slot()});
    return real_.inThisProcess(proxy->inner());
  }

 private:
  Recorder* r_;
  platform::HostLookup& real_;
};

class RecordingKeyboard : public platform::Keyboard {
 public:
  RecordingKeyboard(Recorder* r, platform::Keyboard& real) : r_(r), real_(real) {}
  void type(const std::string& notation) override {
    Op op(Op::Type::Keys, -1);
    op.member = notation;
    r_->ops().push_back(std::move(op));
    real_.type(notation);
  }

 private:
  Recorder* r_;
  platform::Keyboard& real_;
};

}  // namespace

Object Recorder::proxy(const Object& real, int slot) {
  return Object(std::make_shared<Proxy>(this, real, slot));
}

int Recorder::slotOf(const Object& maybeProxy, Object& real) const {
  if (auto* p = dynamic_cast<Proxy*>(maybeProxy.target())) {
    real = p->inner();
    return p->slot();
  }
  return -1;
}

Object Recorder::root(const Object& real) {
  int s = newSlot();
  recording_.roots.push_back(s);
  return proxy(real, s);
}

platform::HostLookup& Recorder::lookup(platform::HostLookup& real) {
  lookups_.push_back(std::make_unique<RecordingLookup>(this, real));
  return *lookups_.back();
}

platform::Keyboard& Recorder::keyboard(platform::Keyboard& real) {
  keyboards_.push_back(std::make_unique<RecordingKeyboard>(this, real));
  return *keyboards_.back();
}

Recording Recorder::finish() {
  auto& ops = recording_.ops;
  std::vector<int> lastUse(recording_.slots, -1);
  auto use = [&](int slot, int at) {
    if (slot >= 0) lastUse[slot] = std::max(lastUse[slot], at);
  };
  for (int i = 0; i < static_cast<int>(ops.size()); ++i) {
    const auto& op = ops[i];
    if (op.type != Op::Type::Next && op.type != Op::Type::Lookup && op.type != Op::Type::Keys) use(op.target, i);
    for (auto [index, slot] : op.objectArgs) use(slot, i);
    if (op.type != Op::Type::Enumerate) use(op.result, i);
  }
  for (int root : recording_.roots) lastUse[root] = -1;
  for (int s = 0; s < recording_.slots; ++s)
    if (lastUse[s] >= 0) ops[lastUse[s]].release.push_back(s);
  return std::move(recording_);
}

Replay::Replay(const Recording& recording, std::vector<Object> roots, platform::HostLookup& lookup,
               platform::Keyboard& keyboard)
    : r_(recording), roots_(std::move(roots)), lookup_(lookup), keyboard_(keyboard) {}

void Replay::run() {
  slots_.assign(r_.slots, Object());
  enums_.clear();
  enums_.resize(r_.enumerations);
  for (size_t i = 0; i < r_.roots.size(); ++i) slots_[r_.roots[i]] = roots_[i];

  for (const auto& op : r_.ops) {
    try {
      switch (op.type) {
        case Op::Type::Invoke: {
          std::span<const Value> args = op.args;
          if (!op.objectArgs.empty()) {
            scratch_ = op.args;
            for (auto [index, slot] : op.objectArgs) scratch_[index] = Value(slots_[slot]);
            args = scratch_;
          }
          Value v = slots_[op.target].target()->invoke(op.member, op.kind, args, op.named);
          if (op.result >= 0) slots_[op.result] = v.asObject();
          break;
        }
        case Op::Type::Enumerate: enums_[op.result] = slots_[op.target].target()->enumerate(); break;
        case Op::Type::Next: {
          auto v = enums_[op.target]->next();
          if (op.result >= 0) slots_[op.result] = v->asObject();
          else if (!v) enums_[op.target].reset();
          break;
        }
        case Op::Type::Subscribe:
          subscriptions_.push_back(slots_[op.target].target()->subscribe([](const Object&, bool&, bool&) {}, op.events));
          break;
        case Op::Type::Lookup: {
          Object o = lookup_.getActiveObject(op.member).object;
          if (op.result >= 0) slots_[op.result] = o;
          break;
        }
        case Op::Type::InProcess: lookup_.inThisProcess(slots_[op.target]); break;
        case Op::Type::Keys: keyboard_.type(op.member); break;
      }
    } catch (const automation::Failure&) {
      // The recorded run saw the same failure: the editor's work for it is done.
    }
    for (int s : op.release) slots_[s].reset();
  }
  subscriptions_.clear();
}

}  // namespace bench
