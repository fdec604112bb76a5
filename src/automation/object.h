#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "automation/failure.h"
#include "automation/subscription.h"

namespace automation {

class Value;
class Object;

// How a member is reached. Get covers property reads and method calls alike: late-bound callers
// (VB among them) invoke both with METHOD|PROPERTYGET.
enum class Invoke { Get, Put, PutRef };

struct NamedArg;

// The editor's Click(cmdbar, handled, CancelDefault); both flags are passed by reference.
using ClickHandler = std::function<void(const Object& control, bool& handled, bool& cancelDefault)>;

// The event interfaces a click arrives through.
enum class ClickEvents {
  // The editor's CommandBarEvents object of a control: Click(CommandBarControl, handled, CancelDefault).
  EditorControl,
  // Office's _CommandBarButtonEvents of the button itself: Click(Ctrl, CancelDefault). Office ties
  // its sinks to controls by Id and Tag, so a click reaches every sink on a control with both equal.
  OfficeButton,
};

// Step-by-step enumeration (IEnumVARIANT): moving on can fail like any other call.
class Enumeration {
 public:
  virtual ~Enumeration() = default;
  virtual std::optional<Value> next() = 0;
};

// Told of each call that fails, where it becomes a Failure: the object's kind (empty when the core
// never named it) and the member as sent. A command's failures are seen even when it recovers.
class FailureWatch {
 public:
  virtual void failed(std::string_view kind, std::string_view member,
                      const Failure& failure) noexcept = 0;

 protected:
  ~FailureWatch() = default;
};

// For its length, failed calls on this thread are told to `watch` (null: to nobody).
class Watch {
 public:
  explicit Watch(FailureWatch* watch) noexcept;
  ~Watch();
  Watch(const Watch&) = delete;
  Watch& operator=(const Watch&) = delete;

 private:
  FailureWatch* previous_ = nullptr;
  bool engaged_ = false;  // false: nothing was watched anywhere and nothing is, so nothing to undo
};

// What an automation object is to the core: members reached by name.
class Dispatch {
 public:
  virtual ~Dispatch() = default;
  virtual Value invoke(std::string_view member, Invoke kind, std::span<const Value> args,
                       std::span<const NamedArg> named) = 0;
  virtual std::unique_ptr<Enumeration> enumerate();
  virtual Subscription subscribe(ClickHandler handler, ClickEvents events);
  // Whether the object answers for one of the platform interfaces the core asks about ("VBE").
  virtual bool implements(std::string_view interfaceName) const;
};

// A counted, late-bound reference to an editor or host object. An empty Object is VB's Nothing:
// every call on it fails with "object not set" instead of dereferencing anything.
class Object {
 public:
  Object() = default;
  explicit Object(std::shared_ptr<Dispatch> target) : target_(std::move(target)) {}

  // What the object is ("CommandBars"), for the log of failed calls; a string literal.
  const char* kind() const noexcept { return kind_; }
  void setKind(const char* kind) noexcept { kind_ = kind; }

  bool empty() const noexcept { return !target_; }
  explicit operator bool() const noexcept { return !empty(); }

  Value get(std::string_view member) const;
  // Arguments are read in place: a call builds no argument vector of its own. (Overloads, not
  // default arguments, which clang would instantiate while Value is still incomplete.)
  Value call(std::string_view member) const;
  Value call(std::string_view member, std::initializer_list<Value> args) const;
  Value call(std::string_view member, std::initializer_list<Value> args,
             std::initializer_list<NamedArg> named) const;
  void put(std::string_view member, Value value) const;
  void putRef(std::string_view member, const Object& value) const;

  class Enumerator {
   public:
    explicit Enumerator(std::unique_ptr<Enumeration> e, const char* kind = nullptr)
        : e_(std::move(e)), kind_(kind) {}
    std::optional<Value> next();

   private:
    std::unique_ptr<Enumeration> e_;
    const char* kind_;
  };
  Enumerator enumerate() const;
  Subscription subscribe(ClickHandler handler, ClickEvents events) const;
  bool implements(std::string_view interfaceName) const;

  Dispatch* target() const noexcept { return target_.get(); }
  const std::shared_ptr<Dispatch>& shared() const noexcept { return target_; }
  void reset() noexcept { target_.reset(); }

  friend bool operator==(const Object& a, const Object& b) noexcept { return a.target_ == b.target_; }

 private:
  Dispatch& checked() const;
  std::shared_ptr<Dispatch> target_;
  const char* kind_ = nullptr;
};

class Value {
 public:
  enum class Type { Empty, Missing, Boolean, Int16, Int32, String, Object };

  Value() = default;
  static Value missing() { return Value(Type::Missing); }
  static Value i2(int16_t v);
  static Value i4(int32_t v);
  static Value boolean(bool v);
  Value(std::string v) : type_(Type::String), string_(std::move(v)) {}
  Value(const char* v) : Value(std::string(v)) {}
  Value(std::string_view v) : Value(std::string(v)) {}
  Value(Object v) : type_(Type::Object), object_(std::move(v)) {}

  Type type() const noexcept { return type_; }
  bool isEmpty() const noexcept { return type_ == Type::Empty; }
  bool isMissing() const noexcept { return type_ == Type::Missing; }
  bool isObject() const noexcept { return type_ == Type::Object; }

  // Conversions as VB applies them to a Variant; a value that cannot convert is a type mismatch.
  bool asBool() const;
  int32_t asInt() const;
  std::string asString() const&;
  // A value about to go (a call's result) gives its text up instead of copying it.
  std::string asString() &&;
  Object asObject() const&;
  Object asObject() &&;  // likewise hands its reference on: no count taken and dropped

  // Exact identity of type and value (what a call log compares).
  friend bool operator==(const Value& a, const Value& b);
  // VB's "=" between two numeric variants: 16- and 32-bit integers of the same number are equal.
  static bool numericEquals(const Value& a, const Value& b);

  // Short human text: "I2 1", "Bool True", "Str \"x\"", "Obj", "Missing", "Empty".
  std::string describe() const;
  static const char* typeName(Type t);

 private:
  explicit Value(Type t) : type_(t) {}
  Type type_ = Type::Empty;
  int32_t number_ = 0;
  std::string string_;
  Object object_;
};

struct NamedArg {
  std::string name;
  Value value;
};

// Case-insensitive comparison of member names (ASCII), as IDispatch::GetIDsOfNames matches them.
bool sameName(std::string_view a, std::string_view b) noexcept;

}  // namespace automation
