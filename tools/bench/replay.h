#pragma once

#include <memory>
#include <string>
#include <vector>

#include "automation/object.h"
#include "platform/services.h"

// Records the editor and host calls of one run of a command, object by object, and replays
// exactly those calls straight on the model: the editor's own share of the command's cost.
namespace bench {

using automation::Invoke;
using automation::NamedArg;
using automation::Object;
using automation::Value;

struct Op {
  enum class Type { Invoke, Enumerate, Next, Subscribe, Lookup, InProcess, Keys };
  Op() = default;
  Op(Type t, int on, std::string name = {}, Invoke k = Invoke::Get)
      : type(t), target(on), member(std::move(name)), kind(k) {}
  Type type = Type::Invoke;
  int target = -1;  // object slot called (an enumeration slot for Next)
  std::string member;  // member name, the program identifier of a Lookup, the text of Keys
  Invoke kind = Invoke::Get;
  automation::ClickEvents events = automation::ClickEvents::EditorControl;  // of a Subscribe
  std::vector<Value> args;  // object arguments are filled in from their slots at replay
  std::vector<std::pair<size_t, int>> objectArgs;  // (argument index, slot)
  std::vector<NamedArg> named;
  int result = -1;            // slot that receives the object returned (or the enumeration)
  std::vector<int> release;   // slots no later call uses: released here, as temporaries are
};

struct Recording {
  std::vector<Op> ops;
  int slots = 0;
  int enumerations = 0;
  std::vector<int> roots;  // slots handed in from outside (the editor, the clicked control)
};

// Hands out recording stand-ins for model objects; every call through them goes into the log.
class Recorder {
 public:
  // A root object: the editor as the add-in manager hands it over, or a clicked control.
  Object root(const Object& real);
  platform::HostLookup& lookup(platform::HostLookup& real);
  // Typing is the platform's work, not the add-in's: the replay types the same texts.
  platform::Keyboard& keyboard(platform::Keyboard& real);
  // Ends recording: works out where each slot can be released.
  Recording finish();

  // Used by the stand-ins.
  int newSlot() { return recording_.slots++; }
  int newEnumeration() { return recording_.enumerations++; }
  std::vector<Op>& ops() { return recording_.ops; }
  Object proxy(const Object& real, int slot);
  int slotOf(const Object& maybeProxy, Object& real) const;

 private:
  Recording recording_;
  std::vector<std::unique_ptr<platform::HostLookup>> lookups_;
  std::vector<std::unique_ptr<platform::Keyboard>> keyboards_;
};

// Replays a recording; the roots are bound in the order root() was called.
class Replay {
 public:
  Replay(const Recording& recording, std::vector<Object> roots, platform::HostLookup& lookup,
         platform::Keyboard& keyboard);
  void run();

 private:
  const Recording& r_;
  std::vector<Object> roots_;
  platform::HostLookup& lookup_;
  platform::Keyboard& keyboard_;
  std::vector<Object> slots_;
  std::vector<std::unique_ptr<automation::Enumeration>> enums_;
  std::vector<automation::Subscription> subscriptions_;
  std::vector<Value> scratch_;
};

}  // namespace bench
