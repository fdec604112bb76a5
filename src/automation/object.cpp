#include "automation/object.h"

#include <atomic>
#include <charconv>
#include <utility>

namespace automation {

namespace {
[[noreturn]] void typeMismatch() { fail("Type mismatch", errors::TypeMismatch); }

// The editor calls add-ins on one thread; a watch of another thread's commands sees none of these.
thread_local FailureWatch* watching = nullptr;
// Engaged watches on every thread. While there are none (the log is off), a call reads no
// thread-local storage, which costs a library call per access in the Windows build.
std::atomic<int> engaged{0};

FailureWatch* current() noexcept {
  return engaged.load(std::memory_order_relaxed) ? watching : nullptr;
}

// Runs one call; while someone watches, its failure is told before it goes on to the caller.
template <class Call>
auto watched(const char* kind, std::string_view member, Call&& call) -> decltype(call()) {
  if (!current()) return call();
  try {
    return call();
  } catch (const Failure& f) {
    tell(kind ? kind : "", member, f);
    throw;
  }
}
}  // namespace

void tell(std::string_view kind, std::string_view member, const Failure& failure) noexcept {
  if (auto* w = current()) w->failed(kind, member, failure);
}

Watch::Watch(FailureWatch* watch) noexcept {
  // Watching nobody while no watch is engaged anywhere changes nothing: this thread's is null.
  if (!watch && engaged.load(std::memory_order_relaxed) == 0) return;
  engaged.fetch_add(1, std::memory_order_relaxed);
  engaged_ = true;
  previous_ = std::exchange(watching, watch);
}

Watch::~Watch() {
  if (!engaged_) return;
  watching = previous_;
  engaged.fetch_sub(1, std::memory_order_relaxed);
}

std::unique_ptr<Enumeration> Dispatch::enumerate() {
  fail("Object doesn't support this property or method", errors::NoSuchMember);
}

Subscription Dispatch::subscribe(ClickHandler, ClickEvents) {
  fail("Object doesn't support this property or method", errors::NoSuchMember);
}

bool Dispatch::implements(std::string_view) const { return false; }

Dispatch& Object::checked() const {
  if (!target_) fail("Object variable or With block variable not set", errors::ObjectNotSet);
  return *target_;
}

Value Object::get(std::string_view member) const {
  return watched(kind_, member, [&] { return checked().invoke(member, Invoke::Get, {}, {}); });
}

Value Object::call(std::string_view member) const {
  return watched(kind_, member, [&] { return checked().invoke(member, Invoke::Get, {}, {}); });
}

Value Object::call(std::string_view member, std::initializer_list<Value> args) const {
  return watched(kind_, member, [&] {
    return checked().invoke(member, Invoke::Get, std::span<const Value>(args.begin(), args.size()),
                            {});
  });
}

Value Object::call(std::string_view member, std::initializer_list<Value> args,
                   std::initializer_list<NamedArg> named) const {
  return watched(kind_, member, [&] {
    return checked().invoke(member, Invoke::Get, std::span<const Value>(args.begin(), args.size()),
                            std::span<const NamedArg>(named.begin(), named.size()));
  });
}

void Object::put(std::string_view member, Value value) const {
  watched(kind_, member,
          [&] { checked().invoke(member, Invoke::Put, std::span<const Value>(&value, 1), {}); });
}

void Object::putRef(std::string_view member, const Object& value) const {
  Value v(value);
  watched(kind_, member,
          [&] { checked().invoke(member, Invoke::PutRef, std::span<const Value>(&v, 1), {}); });
}

Object::Enumerator Object::enumerate() const {
  return watched(kind_, "_NewEnum", [&] { return Enumerator(checked().enumerate(), kind_); });
}

std::optional<Value> Object::Enumerator::next() {
  return watched(kind_, "Next", [&] {
    if (!e_) fail("Object variable or With block variable not set", errors::ObjectNotSet);
    return e_->next();
  });
}

Subscription Object::subscribe(ClickHandler handler, ClickEvents events) const {
  return watched(kind_, "Advise", [&] { return checked().subscribe(std::move(handler), events); });
}

bool Object::implements(std::string_view interfaceName) const {
  return target_ && target_->implements(interfaceName);
}

Value Value::i2(int16_t v) {
  Value r(Type::Int16);
  r.number_ = v;
  return r;
}

Value Value::i4(int32_t v) {
  Value r(Type::Int32);
  r.number_ = v;
  return r;
}

Value Value::boolean(bool v) {
  Value r(Type::Boolean);
  r.number_ = v ? -1 : 0;
  return r;
}

bool Value::asBool() const {
  switch (type_) {
    case Type::Empty: return false;
    case Type::Boolean:
    case Type::Int16:
    case Type::Int32: return number_ != 0;
    case Type::String:
      if (sameName(string_, "True")) return true;
      if (sameName(string_, "False")) return false;
      return asInt() != 0;
    default: typeMismatch();
  }
}

int32_t Value::asInt() const {
  switch (type_) {
    case Type::Empty: return 0;
    case Type::Boolean:
    case Type::Int16:
    case Type::Int32: return number_;
    case Type::String: {
      int32_t v = 0;
      std::string_view s = string_;
      while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
      while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
      auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
      if (s.empty() || ec != std::errc() || end != s.data() + s.size()) typeMismatch();
      return v;
    }
    default: typeMismatch();
  }
}

std::string Value::asString() && {
  if (type_ == Type::String) return std::move(string_);
  return static_cast<const Value&>(*this).asString();
}

std::string Value::asString() const& {
  switch (type_) {
    case Type::Empty: return {};
    case Type::Boolean: return number_ ? "True" : "False";
    case Type::Int16:
    case Type::Int32: return std::to_string(number_);
    case Type::String: return string_;
    default: typeMismatch();
  }
}

Object Value::asObject() const& {
  if (type_ != Type::Object) fail("Object required", errors::ObjectRequired);
  return object_;
}

Object Value::asObject() && {
  if (type_ != Type::Object) fail("Object required", errors::ObjectRequired);
  return std::move(object_);
}

bool operator==(const Value& a, const Value& b) {
  if (a.type_ != b.type_) return false;
  switch (a.type_) {
    case Value::Type::String: return a.string_ == b.string_;
    case Value::Type::Object: return a.object_ == b.object_;
    default: return a.number_ == b.number_;
  }
}

bool Value::numericEquals(const Value& a, const Value& b) {
  auto numeric = [](const Value& v) {
    return v.type_ == Type::Int16 || v.type_ == Type::Int32 || v.type_ == Type::Boolean;
  };
  if (numeric(a) && numeric(b)) return a.number_ == b.number_;
  return a == b;
}

const char* Value::typeName(Type t) {
  switch (t) {
    case Type::Empty: return "Empty";
    case Type::Missing: return "Missing";
    case Type::Boolean: return "Bool";
    case Type::Int16: return "I2";
    case Type::Int32: return "I4";
    case Type::String: return "Str";
    case Type::Object: return "Obj";
  }
  return "?";
}

std::string Value::describe() const {
  switch (type_) {
    case Type::Empty:
    case Type::Missing: return typeName(type_);
    case Type::Object: return object_.empty() ? "Obj Nothing" : "Obj";
    case Type::String: return std::string("Str \"") + string_ + "\"";
    default: return std::string(typeName(type_)) + " " + asString();
  }
}

bool sameName(std::string_view a, std::string_view b) noexcept {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

}  // namespace automation
