#pragma once

#include <cstdint>
#include <string>

#include "automation/object.h"

// Typed façade over the editor's object model (VBIDE and Office command bars). This is the one
// place where member names, argument types and left-out arguments are written down: Ids and
// positions are 16-bit, styles, modes and counts 32-bit, Booleans automation Booleans.
namespace editor {

using automation::Object;
using automation::Value;

class Wrapper {
 public:
  Wrapper() = default;
  const Object& object() const noexcept { return o_; }
  bool isNothing() const noexcept { return o_.empty(); }

 protected:
  // `kind` names the object when one of its calls fails (the log says which member of what).
  Wrapper(automation::Object o, const char* kind) : o_(std::move(o)) { o_.setKind(kind); }
  Object o_;
};

class Window : public Wrapper {
 public:
  explicit Window(automation::Object o = {}) : Wrapper(std::move(o), "Window") {}
  void setVisible(bool v) const { o_.put("Visible", Value::boolean(v)); }
  void setHeight(int32_t h) const { o_.put("Height", Value::i4(h)); }
  void SetFocus() const { o_.call("SetFocus"); }
};

class Windows : public Wrapper {
 public:
  explicit Windows(automation::Object o = {}) : Wrapper(std::move(o), "Windows") {}
  Window Item(const std::string& name) const { return Window(o_.call("Item", {Value(name)}).asObject()); }
  // Item(name); where that fails (an editor in another language translates the captions), the
  // first window of that vbext_WindowType. When the walk fails too, Item's failure stands.
  Window Find(const std::string& name, int32_t type) const;
};

// vbext_WindowType values of the windows the add-in looks up.
inline constexpr int32_t ImmediateWindow = 5;
inline constexpr int32_t BrowserWindow = 2;

class CommandBarControl : public Wrapper {
 public:
  explicit CommandBarControl(automation::Object o = {})
      : Wrapper(std::move(o), "CommandBarControl") {}
  std::string Caption() const { return o_.get("Caption").asString(); }
  void setCaption(const std::string& v) const { o_.put("Caption", Value(v)); }
  void setTooltipText(const std::string& v) const { o_.put("TooltipText", Value(v)); }
  void setBeginGroup(bool v) const { o_.put("BeginGroup", Value::boolean(v)); }
  std::string Tag() const { return o_.get("Tag").asString(); }
  void setTag(const std::string& v) const { o_.put("Tag", Value(v)); }
  class CommandBar Parent() const;
  // Style and Index are reached by name through the control's dispatch interface.
  void setStyle(int32_t v) const { o_.put("Style", Value::i4(v)); }
  Value Index() const { return o_.get("Index"); }
};

class CommandBarControls : public Wrapper {
 public:
  explicit CommandBarControls(automation::Object o = {})
      : Wrapper(std::move(o), "CommandBarControls") {}
  CommandBarControl Add() const;
  CommandBarControl Item(const Value& indexOrCaption) const {
    return CommandBarControl(o_.call("Item", {indexOrCaption}).asObject());
  }
};

class CommandBar : public Wrapper {
 public:
  explicit CommandBar(automation::Object o = {}) : Wrapper(std::move(o), "CommandBar") {}
  CommandBarControls Controls() const { return CommandBarControls(o_.get("Controls").asObject()); }
  void Delete() const { o_.call("Delete"); }
  CommandBarControl FindControl(int16_t id) const;
  std::string Name() const { return o_.get("Name").asString(); }
  void setName(const std::string& v) const { o_.put("Name", Value(v)); }
  void setPosition(int32_t v) const { o_.put("Position", Value::i4(v)); }
  void setVisible(bool v) const { o_.put("Visible", Value::boolean(v)); }
};

inline CommandBar CommandBarControl::Parent() const { return CommandBar(o_.get("Parent").asObject()); }

class CommandBars : public Wrapper {
 public:
  explicit CommandBars(automation::Object o = {}) : Wrapper(std::move(o), "CommandBars") {}
  CommandBar Item(const std::string& name) const {
    return CommandBar(o_.call("Item", {Value(name)}).asObject());
  }
  CommandBar Add() const;
  CommandBarControl FindControl(int16_t id) const;
};

class Events : public Wrapper {
 public:
  explicit Events(automation::Object o = {}) : Wrapper(std::move(o), "Events") {}
  // The CommandBarEvents source of a control: it raises Click while someone holds it.
  Object CommandBarEvents(const Object& control) const {
    return o_.call("CommandBarEvents", {Value(control)}).asObject();
  }
};

class Reference : public Wrapper {
 public:
  explicit Reference(automation::Object o = {}) : Wrapper(std::move(o), "Reference") {}
  std::string Name() const { return o_.get("Name").asString(); }
  std::string Description() const { return o_.get("Description").asString(); }
  bool BuiltIn() const { return o_.get("BuiltIn").asBool(); }
  bool IsBroken() const { return o_.get("IsBroken").asBool(); }
  std::string FullPath() const { return o_.get("FullPath").asString(); }
};

class References : public Wrapper {
 public:
  explicit References(automation::Object o = {}) : Wrapper(std::move(o), "References") {}
  int32_t Count() const { return o_.get("Count").asInt(); }
  Object::Enumerator enumerate() const { return o_.enumerate(); }
};

class CodePane : public Wrapper {
 public:
  explicit CodePane(automation::Object o = {}) : Wrapper(std::move(o), "CodePane") {}
  editor::Window Window() const { return editor::Window(o_.get("Window").asObject()); }
};

class CodeModule : public Wrapper {
 public:
  explicit CodeModule(automation::Object o = {}) : Wrapper(std::move(o), "CodeModule") {}
  editor::CodePane CodePane() const { return editor::CodePane(o_.get("CodePane").asObject()); }
};

class Property : public Wrapper {
 public:
  explicit Property(automation::Object o = {}) : Wrapper(std::move(o), "Property") {}
  automation::Object Object() const { return o_.get("Object").asObject(); }
};

class Properties : public Wrapper {
 public:
  explicit Properties(automation::Object o = {}) : Wrapper(std::move(o), "Properties") {}
  int32_t Count() const { return o_.get("Count").asInt(); }
  Property Item(const std::string& name) const { return Property(o_.call("Item", {Value(name)}).asObject()); }
};

class VBComponent : public Wrapper {
 public:
  explicit VBComponent(automation::Object o = {}) : Wrapper(std::move(o), "VBComponent") {}
  static constexpr int32_t Document = 100;
  static constexpr int32_t MSForm = 3;
  int32_t Type() const { return o_.get("Type").asInt(); }
  editor::CodeModule CodeModule() const { return editor::CodeModule(o_.get("CodeModule").asObject()); }
  bool HasOpenDesigner() const { return o_.get("HasOpenDesigner").asBool(); }
  Window DesignerWindow() const { return Window(o_.call("DesignerWindow").asObject()); }
  editor::Properties Properties() const { return editor::Properties(o_.get("Properties").asObject()); }
};

class VBComponents : public Wrapper {
 public:
  explicit VBComponents(automation::Object o = {}) : Wrapper(std::move(o), "VBComponents") {}
  Object::Enumerator enumerate() const { return o_.enumerate(); }
};

class VBProject : public Wrapper {
 public:
  explicit VBProject(automation::Object o = {}) : Wrapper(std::move(o), "VBProject") {}
  static constexpr int32_t Locked = 1;
  static constexpr int32_t Unprotected = 0;
  std::string Name() const { return o_.get("Name").asString(); }
  // The full path of the project's file; fails for a file that was never saved.
  std::string FileName() const { return o_.get("FileName").asString(); }
  int32_t Protection() const { return o_.get("Protection").asInt(); }
  editor::VBComponents VBComponents() const {
    return editor::VBComponents(o_.get("VBComponents").asObject());
  }
  editor::References References() const { return editor::References(o_.get("References").asObject()); }
};

class VBProjects : public Wrapper {
 public:
  explicit VBProjects(automation::Object o = {}) : Wrapper(std::move(o), "VBProjects") {}
  int32_t Count() const { return o_.get("Count").asInt(); }
  Object::Enumerator enumerate() const { return o_.enumerate(); }
};

class VBE : public Wrapper {
 public:
  explicit VBE(automation::Object o = {}) : Wrapper(std::move(o), "VBE") {}
  // Views Application as the editor's root object; fails when it is not one.
  static VBE from(const Object& application);

  // Read for the log only.
  std::string Version() const { return o_.get("Version").asString(); }
  editor::VBProjects VBProjects() const { return editor::VBProjects(o_.get("VBProjects").asObject()); }
  editor::CommandBars CommandBars() const { return editor::CommandBars(o_.get("CommandBars").asObject()); }
  editor::Windows Windows() const { return editor::Windows(o_.get("Windows").asObject()); }
  editor::Events Events() const { return editor::Events(o_.get("Events").asObject()); }
  Window MainWindow() const { return Window(o_.get("MainWindow").asObject()); }
  VBProject ActiveVBProject() const { return VBProject(o_.get("ActiveVBProject").asObject()); }
  void setActiveVBProject(const VBProject& p) const { o_.putRef("ActiveVBProject", p.object()); }
};

}  // namespace editor
