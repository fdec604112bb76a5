#include "editor/vbe.h"

#include <exception>

namespace editor {

namespace {
Value leftOut() { return Value::missing(); }
}  // namespace

// Add(Type, Id, Parameter, Before, Temporary), all left out: a plain button at the end of the bar.
CommandBarControl CommandBarControls::Add() const {
  return CommandBarControl(
      o_.call("Add", {leftOut(), leftOut(), leftOut(), leftOut(), leftOut()}).asObject());
}

// FindControl(Type, Id, Tag, Visible, Recursive) on a bar.
CommandBarControl CommandBar::FindControl(int16_t id) const {
  return CommandBarControl(
      o_.call("FindControl", {leftOut(), Value::i2(id), leftOut(), leftOut(), leftOut()}).asObject());
}

// Add(Name, Position, MenuBar, Temporary), all left out: a new, empty, non-temporary bar.
CommandBar CommandBars::Add() const {
  return CommandBar(o_.call("Add", {leftOut(), leftOut(), leftOut(), leftOut()}).asObject());
}

// FindControl(Type, Id, Tag, Visible) on the whole collection.
CommandBarControl CommandBars::FindControl(int16_t id) const {
  return CommandBarControl(
      o_.call("FindControl", {leftOut(), Value::i2(id), leftOut(), leftOut()}).asObject());
}

Window Windows::Find(const std::string& name, int32_t type) const {
  try {
    return Item(name);
  } catch (const automation::Failure&) {
    std::exception_ptr byName = std::current_exception();
    try {
      auto all = o_.enumerate();
      while (auto item = all.next()) {
        Object w = item->asObject();
        if (w.get("Type").asInt() == type) return Window(w);
      }
    } catch (const automation::Failure&) {
    }
    std::rethrow_exception(byName);
  }
}

VBE VBE::from(const Object& application) {
  if (application.empty())
    automation::fail("Object variable or With block variable not set", automation::errors::ObjectNotSet);
  if (!application.implements("VBE"))
    automation::fail("The Application object is not the VBA editor (VBE).", automation::errors::TypeMismatch);
  return VBE(application);
}

}  // namespace editor
