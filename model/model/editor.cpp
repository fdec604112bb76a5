#include "model/editor.h"

#include <algorithm>
#include <cstdlib>
#include <stdexcept>

namespace model {

using automation::errors::InvalidCall;
using automation::fail;
using automation::sameName;

namespace {

bool isNumber(const Value& v) {
  return v.type() == Value::Type::Int16 || v.type() == Value::Type::Int32;
}

[[noreturn]] void invalidCall() { fail("Invalid procedure call or argument", InvalidCall); }

void requireValue(std::span<const Value> args) {
  if (args.empty()) invalidCall();
}

template <class T>
Value wrapped(World* w, const std::shared_ptr<T>& node) {
  return Value(wrap(w->self(), node));
}

// Item(key) of a collection: a number is a 1-based position (outside 1..Count, an invalid call);
// any other key is matched against each item's `nameOf`, and a miss is null.
template <class T, class NameOf>
const std::shared_ptr<T>* itemOf(const std::vector<std::shared_ptr<T>>& items, const Value& key,
                                 NameOf nameOf) {
  if (isNumber(key)) {
    int32_t i = key.asInt();
    if (i < 1 || i > static_cast<int32_t>(items.size())) invalidCall();
    return &items[static_cast<size_t>(i - 1)];
  }
  if (items.empty()) return nullptr;
  const std::string name = key.asString();
  for (auto& item : items)
    if (sameName(nameOf(*item), name)) return &item;
  return nullptr;
}

struct CommandBarsNode : Node {
  World* w;
  explicit CommandBarsNode(World* world) : w(world) {}
  std::string kind() const override { return "CommandBars"; }
  std::vector<std::shared_ptr<Node>> items() override { return {w->bars.begin(), w->bars.end()}; }
  Value invoke(std::string_view m, Invoke k, std::span<const Value> a,
               std::span<const NamedArg> named) override {
    if (sameName(m, "Count")) return Value::i4(static_cast<int32_t>(w->bars.size()));
    if (sameName(m, "Item")) {
      if (auto* b = itemOf(w->bars, arg(a, 0),
                           [](const BarNode& b) -> const std::string& { return b.name; }))
        return wrapped(w, *b);
      invalidCall();
    }
    if (sameName(m, "Add")) {
      auto bar = std::make_shared<BarNode>();
      bar->world = w;
      bar->name = arg(a, 0).isMissing() ? "Custom " + std::to_string(w->nextCustomBar++)
                                          : arg(a, 0).asString();
      w->bars.push_back(bar);
      return wrapped(w, bar);
    }
    if (sameName(m, "FindControl")) {
      const Value& id = arg(a, 1);
      if (id.isMissing()) invalidCall();
      for (auto& b : w->bars)
        for (auto& c : b->controls)
          if (c->id == id.asInt()) return wrapped(w, c);
      return Value(Object());
    }
    noSuchMember(m);
  }
};

struct ControlsNode : Node {
  World* w;
  std::shared_ptr<BarNode> bar;
  ControlsNode(World* world, std::shared_ptr<BarNode> b) : w(world), bar(std::move(b)) {}
  std::string kind() const override { return "CommandBarControls"; }
  std::vector<std::shared_ptr<Node>> items() override {
    return {bar->controls.begin(), bar->controls.end()};
  }
  Value invoke(std::string_view m, Invoke, std::span<const Value> a,
               std::span<const NamedArg>) override {
    if (sameName(m, "Count")) return Value::i4(static_cast<int32_t>(bar->controls.size()));
    if (sameName(m, "Add")) return wrapped(w, bar->addControl(1, ""));
    if (sameName(m, "Item")) {
      if (auto* c = itemOf(bar->controls, arg(a, 0),
                           [](const ControlNode& c) { return c.currentCaption(); }))
        return wrapped(w, *c);
      invalidCall();
    }
    noSuchMember(m);
  }
};

// A click subscription on `control`'s list of sinks. Its end is the editor's Unadvise: a call like
// any other, which a test may fail; the sink goes all the same, since the add-in has nothing
// better to do than release the connection point.
automation::Subscription subscribeTo(World* w, const std::shared_ptr<ControlNode>& control,
                                     std::vector<ControlNode::Subscriber> ControlNode::*list,
                                     std::string kind, automation::ClickHandler handler) {
  int64_t id = w->nextSubscriber++;
  ((*control).*list).push_back({id, std::move(handler)});
  auto state = w->self();
  ++state->liveReferences;
  std::weak_ptr<ControlNode> weak = control;
  return automation::Subscription([state, weak, id, list, kind] {
    --state->liveReferences;
    if (auto c = weak.lock()) std::erase_if((*c).*list, [id](const auto& s) { return s.id == id; });
    state->enter(kind, "Unadvise", Invoke::Get, {}, {});
  });
}

// A document component's Properties: "Name" and, with a host in the editor's process,
// "Application", whose Object is the host's Application. Other components have none.
struct PropertyNode : Node {
  World* w;
  std::string name;
  Value value;
  PropertyNode(World* world, std::string n, Value v) : w(world), name(std::move(n)), value(std::move(v)) {}
  std::string kind() const override { return "Property"; }
  Value invoke(std::string_view m, Invoke k, std::span<const Value>, std::span<const NamedArg>) override {
    if (k != Invoke::Get) noSuchMember(m);
    if (sameName(m, "Name")) return Value(name);
    if (sameName(m, "Value")) return value;
    if (sameName(m, "Object")) {
      if (!value.isObject()) fail("Object required", 424);
      return value;
    }
    noSuchMember(m);
  }
};

struct PropertiesNode : Node {
  World* w;
  std::vector<std::shared_ptr<Node>> props;
  PropertiesNode(World* world, const ComponentNode& c) : w(world) {
    if (c.type != 100) return;
    props.push_back(std::make_shared<PropertyNode>(w, "Name", Value(c.name)));
    if (Object app = w->documentHost ? w->documentHost() : Object(); !app.empty())
      props.push_back(std::make_shared<PropertyNode>(w, "Application", Value(app)));
  }
  std::string kind() const override { return "Properties"; }
  std::vector<std::shared_ptr<Node>> items() override { return props; }
  Value invoke(std::string_view m, Invoke, std::span<const Value> a, std::span<const NamedArg>) override {
    if (sameName(m, "Count")) return Value::i4(static_cast<int32_t>(props.size()));
    if (sameName(m, "Item")) {
      if (auto* p = itemOf(props, arg(a, 0),
                           [](const Node& n) { return static_cast<const PropertyNode&>(n).name; }))
        return wrapped(w, *p);
      invalidCall();
    }
    noSuchMember(m);
  }
};

struct CommandBarEventsNode : Node {
  World* w;
  std::shared_ptr<ControlNode> control;
  CommandBarEventsNode(World* world, std::shared_ptr<ControlNode> c) : w(world), control(std::move(c)) {}
  std::string kind() const override { return "CommandBarEvents"; }
  bool implements(std::string_view name) const override { return name == "CommandBarEvents"; }
  automation::Subscription subscribe(automation::ClickHandler handler, automation::ClickEvents events) override {
    if (events != automation::ClickEvents::EditorControl) noSuchMember("FindConnectionPoint");
    return subscribeTo(w, control, &ControlNode::subscribers, kind(), std::move(handler));
  }
};

struct EventsNode : Node {
  World* w;
  explicit EventsNode(World* world) : w(world) {}
  std::string kind() const override { return "Events"; }
  Value invoke(std::string_view m, Invoke, std::span<const Value> a,
               std::span<const NamedArg>) override {
    if (sameName(m, "CommandBarEvents")) {
      auto control = unwrapAs<ControlNode>(arg(a, 0).asObject());
      if (!control) invalidCall();
      return wrapped(w, std::make_shared<CommandBarEventsNode>(w, control));
    }
    noSuchMember(m);
  }
};

struct WindowsNode : Node {
  World* w;
  explicit WindowsNode(World* world) : w(world) {}
  std::string kind() const override { return "Windows"; }
  std::vector<std::shared_ptr<Node>> items() override { return {w->windows.begin(), w->windows.end()}; }
  Value invoke(std::string_view m, Invoke, std::span<const Value> a,
               std::span<const NamedArg>) override {
    if (sameName(m, "Count")) return Value::i4(static_cast<int32_t>(w->windows.size()));
    if (sameName(m, "Item")) {
      if (auto* win = itemOf(w->windows, arg(a, 0),
                             [](const WindowNode& v) -> const std::string& { return v.caption; }))
        return wrapped(w, *win);
      invalidCall();
    }
    noSuchMember(m);
  }
};

struct ReferencesNode : Node {
  World* w;
  std::shared_ptr<ProjectNode> project;
  ReferencesNode(World* world, std::shared_ptr<ProjectNode> p) : w(world), project(std::move(p)) {}
  std::string kind() const override { return "References"; }
  std::vector<std::shared_ptr<Node>> items() override {
    if (!project->referencesEnumerable)
      fail("Method '_NewEnum' of object 'References' failed", 440);
    return {project->references.begin(), project->references.end()};
  }
  Value invoke(std::string_view m, Invoke, std::span<const Value> a,
               std::span<const NamedArg>) override {
    if (sameName(m, "Count"))
      return Value::i4(project->referencesCount.value_or(static_cast<int32_t>(project->references.size())));
    if (sameName(m, "Item")) {
      int32_t i = arg(a, 0).asInt();
      if (i < 1 || i > static_cast<int32_t>(project->references.size())) invalidCall();
      return wrapped(w, project->references[i - 1]);
    }
    noSuchMember(m);
  }
};

struct ComponentsNode : Node {
  World* w;
  std::shared_ptr<ProjectNode> project;
  ComponentsNode(World* world, std::shared_ptr<ProjectNode> p) : w(world), project(std::move(p)) {}
  std::string kind() const override { return "VBComponents"; }
  std::vector<std::shared_ptr<Node>> items() override {
    return {project->components.begin(), project->components.end()};
  }
  Value invoke(std::string_view m, Invoke, std::span<const Value> a,
               std::span<const NamedArg>) override {
    if (sameName(m, "Count")) return Value::i4(static_cast<int32_t>(project->components.size()));
    if (sameName(m, "Item")) {
      if (auto* c = itemOf(project->components, arg(a, 0),
                           [](const ComponentNode& c) -> const std::string& { return c.name; }))
        return wrapped(w, *c);
      fail("Subscript out of range", automation::errors::SubscriptOutOfRange);
    }
    noSuchMember(m);
  }
};

struct ProjectsNode : Node {
  World* w;
  explicit ProjectsNode(World* world) : w(world) {}
  std::string kind() const override { return "VBProjects"; }
  std::vector<std::shared_ptr<Node>> items() override { return {w->projects.begin(), w->projects.end()}; }
  Value invoke(std::string_view m, Invoke, std::span<const Value> a,
               std::span<const NamedArg>) override {
    if (sameName(m, "Count")) return Value::i4(static_cast<int32_t>(w->projects.size()));
    if (sameName(m, "Item")) {
      if (auto* p = itemOf(w->projects, arg(a, 0),
                           [](const ProjectNode& p) -> const std::string& { return p.name; }))
        return wrapped(w, *p);
      fail("Subscript out of range", automation::errors::SubscriptOutOfRange);
    }
    noSuchMember(m);
  }
};

struct CodePaneNode : Node {
  World* w;
  std::shared_ptr<ComponentNode> component;
  CodePaneNode(World* world, std::shared_ptr<ComponentNode> c) : w(world), component(std::move(c)) {}
  std::string kind() const override { return "CodePane"; }
  Value invoke(std::string_view m, Invoke, std::span<const Value>, std::span<const NamedArg>) override {
    if (sameName(m, "Window")) return wrapped(w, component->codeWindow);
    noSuchMember(m);
  }
};

struct CodeModuleNode : Node {
  World* w;
  std::shared_ptr<ComponentNode> component;
  CodeModuleNode(World* world, std::shared_ptr<ComponentNode> c) : w(world), component(std::move(c)) {}
  std::string kind() const override { return "CodeModule"; }
  Value invoke(std::string_view m, Invoke, std::span<const Value>, std::span<const NamedArg>) override {
    if (sameName(m, "CodePane")) return wrapped(w, std::make_shared<CodePaneNode>(w, component));
    noSuchMember(m);
  }
};

struct VBENode : Node {
  World* w;
  explicit VBENode(World* world) : w(world) {}
  std::string kind() const override { return w->isEditor ? "VBE" : "Application"; }
  bool implements(std::string_view name) const override { return w->isEditor && name == "VBE"; }
  Value invoke(std::string_view m, Invoke k, std::span<const Value> a,
               std::span<const NamedArg>) override {
    if (sameName(m, "CommandBars")) return wrapped(w, std::make_shared<CommandBarsNode>(w));
    if (!w->isEditor) noSuchMember(m);
    if (sameName(m, "Version") && k == Invoke::Get) return Value("7.01");
    if (sameName(m, "VBProjects")) return wrapped(w, std::make_shared<ProjectsNode>(w));
    if (sameName(m, "Windows")) return wrapped(w, std::make_shared<WindowsNode>(w));
    if (sameName(m, "Events")) {
      if (w->bitness == 64) {
        w->crashes.push_back("VBE.Events in 64-bit Office");
        fail("Automation error: the host stopped working (VBE.Events in 64-bit Office)", -2147023170);
      }
      return wrapped(w, std::make_shared<EventsNode>(w));
    }
    if (sameName(m, "MainWindow")) return wrapped(w, w->mainWindow);
    if (sameName(m, "ActiveVBProject")) {
      if (k == Invoke::Get) {
        for (auto& p : w->projects)
          if (p.get() == w->activeProject) return wrapped(w, p);
        return Value(Object());
      }
      requireValue(a);
      auto p = unwrapAs<ProjectNode>(a[0].asObject());
      if (!p) invalidCall();
      w->activeProject = p.get();
      return {};
    }
    noSuchMember(m);
  }
};

}  // namespace

int hostBitness() {
#ifdef _WIN32
  return sizeof(void*) == 8 ? 64 : 32;
#else
  const char* bits = std::getenv("TESSARY_MODEL_BITS");
  return bits && std::string_view(bits) == "64" ? 64 : 32;
#endif
}

automation::ClickEvents clickEventsFor(int bitness) {
  return bitness == 64 ? automation::ClickEvents::OfficeButton : automation::ClickEvents::EditorControl;
}

std::shared_ptr<State> World::self() { return shared_from_this(); }

const Captions* captionsFor(const std::string& language) {
  static const Captions english{"Immediate", "Object Browser", "&Save "};
  static const Captions german{"Direktbereich", "Objektkatalog", "&Speichern "};
  if (language == "en") return &english;
  if (language == "de") return &german;
  return nullptr;
}

std::shared_ptr<WindowNode> World::windowOfType(int32_t type) const {
  for (auto& win : windows)
    if (win->type == type) return win;
  return nullptr;
}

std::shared_ptr<WindowNode> World::window(const std::string& caption) const {
  for (auto& win : windows)
    if (sameName(win->caption, caption)) return win;
  return nullptr;
}

std::string ControlNode::currentCaption() const {
  // The File menu's Save control names the active project's file, as the editor's does.
  if (builtIn == "Save") {
    for (auto& p : world->projects)
      if (p.get() == world->activeProject) return world->captions->save + p->fileName;
    std::string bare = world->captions->save;
    return bare.substr(0, bare.size() - 1);
  }
  return caption;
}

int32_t ControlNode::index() const {
  if (!bar) return 0;
  for (size_t i = 0; i < bar->controls.size(); ++i)
    if (bar->controls[i].get() == this) return static_cast<int32_t>(i + 1);
  return 0;
}

Value ControlNode::invoke(std::string_view m, Invoke k, std::span<const Value> a,
                          std::span<const NamedArg>) {
  bool put = k != Invoke::Get;
  if (put) requireValue(a);
  if (sameName(m, "Caption")) {
    if (!put) return Value(currentCaption());
    caption = a[0].asString();
    return {};
  }
  if (sameName(m, "TooltipText")) {
    if (!put) return Value(tooltip);
    tooltip = a[0].asString();
    return {};
  }
  if (sameName(m, "BeginGroup")) {
    if (!put) return Value::boolean(beginGroup);
    beginGroup = a[0].asBool();
    return {};
  }
  if (sameName(m, "Style")) {
    if (!put) return Value::i4(style);
    style = a[0].asInt();
    return {};
  }
  if (sameName(m, "Visible")) {
    if (!put) return Value::boolean(visible);
    visible = a[0].asBool();
    return {};
  }
  if (sameName(m, "Tag")) {
    if (!put) return Value(tag);
    tag = a[0].asString();
    return {};
  }
  if (!put && sameName(m, "Index")) return Value::i4(index());
  if (!put && sameName(m, "Parent")) {
    if (!bar) invalidCall();
    return wrapped(world, std::static_pointer_cast<BarNode>(bar->shared_from_this()));
  }
  if (!put && sameName(m, "Id")) return Value::i4(id);
  noSuchMember(m);
}

automation::Subscription ControlNode::subscribe(automation::ClickHandler handler,
                                               automation::ClickEvents events) {
  if (events != automation::ClickEvents::OfficeButton) noSuchMember("FindConnectionPoint");
  auto self = std::static_pointer_cast<ControlNode>(shared_from_this());
  std::erase_if(world->buttonSources, [](const auto& w) { return w.expired(); });
  if (std::none_of(world->buttonSources.begin(), world->buttonSources.end(),
                   [&](const auto& w) { return w.lock() == self; }))
    world->buttonSources.push_back(self);
  return subscribeTo(world, self, &ControlNode::buttonSubscribers, kind(), std::move(handler));
}

BarNode::~BarNode() {
  for (auto& c : controls)
    if (c->bar == this) c->bar = nullptr;
}

std::shared_ptr<ControlNode> BarNode::addControl(int32_t id, std::string caption) {
  auto c = std::make_shared<ControlNode>();
  c->world = world;
  c->bar = this;
  c->id = id;
  c->caption = std::move(caption);
  controls.push_back(c);
  return c;
}

Value BarNode::invoke(std::string_view m, Invoke k, std::span<const Value> a,
                      std::span<const NamedArg>) {
  bool put = k != Invoke::Get;
  if (put) requireValue(a);
  if (sameName(m, "Name")) {
    if (!put) return Value(name);
    name = a[0].asString();
    return {};
  }
  if (sameName(m, "Position")) {
    if (!put) return Value::i4(position);
    position = a[0].asInt();
    return {};
  }
  if (sameName(m, "Visible")) {
    if (!put) return Value::boolean(visible);
    visible = a[0].asBool();
    return {};
  }
  if (put) noSuchMember(m);
  if (sameName(m, "Controls"))
    return wrapped(world, std::make_shared<ControlsNode>(world, std::static_pointer_cast<BarNode>(shared_from_this())));
  if (sameName(m, "Delete")) {
    if (builtInBar) fail("Method 'Delete' of object 'CommandBar' failed", 440);
    deleted = true;
    std::erase_if(world->bars, [this](const auto& b) { return b.get() == this; });
    return {};
  }
  if (sameName(m, "FindControl")) {
    const Value& id = arg(a, 1);
    if (id.isMissing()) invalidCall();
    for (auto& c : controls)
      if (c->id == id.asInt()) return wrapped(world, c);
    return Value(Object());
  }
  noSuchMember(m);
}

Value WindowNode::invoke(std::string_view m, Invoke k, std::span<const Value> a,
                         std::span<const NamedArg>) {
  bool put = k != Invoke::Get;
  if (put) requireValue(a);
  if (sameName(m, "Visible")) {
    if (!put) return Value::boolean(visible);
    if (refuse) fail("Method 'Visible' of object 'Window' failed", 440);
    visible = a[0].asBool();
    // Showing a code or designer window makes its project the active one, as in the editor.
    if (visible && project) world->activeProject = project;
    return {};
  }
  if (sameName(m, "Height")) {
    if (!put) return Value::i4(height);
    height = a[0].asInt();
    return {};
  }
  if (put) noSuchMember(m);
  if (sameName(m, "Caption")) return Value(caption);
  if (sameName(m, "Type")) return Value::i4(type);
  if (sameName(m, "SetFocus")) {
    world->focused = this;
    if (world->onFocus) world->onFocus(*this);
    return {};
  }
  noSuchMember(m);
}

Value ReferenceNode::invoke(std::string_view m, Invoke k, std::span<const Value>,
                            std::span<const NamedArg>) {
  if (k != Invoke::Get) noSuchMember(m);
  for (auto& u : unreadable)
    if (sameName(u, m)) fail("Object library not registered", static_cast<int32_t>(0x8002801D));
  if (sameName(m, "Name")) return Value(name);
  if (sameName(m, "Description")) return Value(description);
  if (sameName(m, "FullPath")) return Value(fullPath);
  if (sameName(m, "BuiltIn")) return Value::boolean(builtIn);
  if (sameName(m, "IsBroken")) return Value::boolean(isBroken);
  noSuchMember(m);
}

Value ComponentNode::invoke(std::string_view m, Invoke k, std::span<const Value>,
                            std::span<const NamedArg>) {
  if (k != Invoke::Get) noSuchMember(m);
  auto self = std::static_pointer_cast<ComponentNode>(shared_from_this());
  if (sameName(m, "Name")) return Value(name);
  if (sameName(m, "Type")) return Value::i4(type);
  if (sameName(m, "CodeModule")) {
    if (!hasCodeModule) return Value(Object());
    return wrapped(world, std::make_shared<CodeModuleNode>(world, self));
  }
  if (sameName(m, "HasOpenDesigner")) return Value::boolean(designerWindow && designerWindow->visible);
  if (sameName(m, "Properties")) return wrapped(world, std::make_shared<PropertiesNode>(world, *this));
  if (sameName(m, "DesignerWindow")) {
    if (!designerWindow) fail("Method 'DesignerWindow' of object '_VBComponent' failed", 440);
    return wrapped(world, designerWindow);
  }
  noSuchMember(m);
}

Value ProjectNode::invoke(std::string_view m, Invoke k, std::span<const Value>,
                          std::span<const NamedArg>) {
  if (k != Invoke::Get) noSuchMember(m);
  auto self = std::static_pointer_cast<ProjectNode>(shared_from_this());
  if (sameName(m, "Name")) return Value(name);
  if (sameName(m, "Protection")) return Value::i4(protection);
  if (sameName(m, "FileName")) {
    if (!saved) fail("Path not found", 76);
    return Value(directory + fileName);
  }
  if (sameName(m, "VBComponents")) {
    if (protection == 1)
      fail("Can't perform operation since the project is protected", automation::errors::ProjectProtected);
    return wrapped(world, std::make_shared<ComponentsNode>(world, self));
  }
  if (sameName(m, "References")) return wrapped(world, std::make_shared<ReferencesNode>(world, self));
  noSuchMember(m);
}

Editor::Editor() : world_(std::make_shared<World>()) {
  auto* w = world_.get();
  w->root = std::make_shared<VBENode>(w);
  w->mainWindow = std::make_shared<WindowNode>();
  w->mainWindow->world = w;
  w->mainWindow->caption = "Microsoft Visual Basic for Applications";
  w->mainWindow->type = 12;
  w->mainWindow->visible = true;
  for (auto [caption, type] : {std::pair{w->captions->immediate, 5}, std::pair{w->captions->objectBrowser, 2}}) {
    auto win = std::make_shared<WindowNode>();
    win->world = w;
    win->caption = caption;
    win->type = type;
    w->windows.push_back(win);
  }
}

Object Editor::vbe() const { return wrap(world_, world_->root); }

std::shared_ptr<BarNode> Editor::bar(const std::string& name) const {
  for (auto& b : world_->bars)
    if (b->name == name) return b;
  return nullptr;
}

int Editor::barCount(const std::string& name) const {
  return static_cast<int>(std::count_if(world_->bars.begin(), world_->bars.end(),
                                        [&](const auto& b) { return b->name == name; }));
}

std::shared_ptr<ProjectNode> Editor::project(const std::string& name) const {
  for (auto& p : world_->projects)
    if (p->name == name) return p;
  return nullptr;
}

std::shared_ptr<ComponentNode> Editor::component(const std::string& projectName,
                                                 const std::string& name) const {
  if (auto p = project(projectName))
    for (auto& c : p->components)
      if (c->name == name) return c;
  return nullptr;
}

std::shared_ptr<ControlNode> Editor::addForeignButton(const std::string& tag) {
  auto bar = std::make_shared<BarNode>();
  bar->world = world_.get();
  bar->name = "Other Add-in " + tag;
  world_->bars.push_back(bar);
  auto c = bar->addControl(1, "Foreign");
  c->tag = tag;
  world_->buttonSources.push_back(c);
  return c;
}

ClickResult Editor::click(const std::shared_ptr<ControlNode>& control) {
  ClickResult result;
  bool handled = false, cancel = false;
  // A handler may end subscriptions; deliver to the ones live when the click began.
  auto deliver = [&](ControlNode& source, std::vector<ControlNode::Subscriber> ControlNode::*list,
                     bool& handledFlag) {
    auto subscribers = source.*list;
    for (auto& s : subscribers) {
      const auto& now = source.*list;
      bool live = std::any_of(now.begin(), now.end(), [&](const auto& x) { return x.id == s.id; });
      if (!live) continue;
      try {
        Object self = wrap(world_, control);
        s.handler(self, handledFlag, cancel);
      } catch (const automation::Failure& f) {
        result.failures.push_back(f.description());
        world_->clickFailures.push_back(f.description());
      }
    }
  };
  deliver(*control, &ControlNode::subscribers, handled);
  // Office's button events go by Id and Tag: every button that shares both hears this click, with
  // this control as Ctrl. They carry no "handled" flag.
  std::vector<std::shared_ptr<ControlNode>> sources;
  for (auto& weak : world_->buttonSources)
    if (auto c = weak.lock(); c && c->id == control->id && c->tag == control->tag) sources.push_back(c);
  for (auto& source : sources) {
    bool none = false;
    deliver(*source, &ControlNode::buttonSubscribers, none);
  }
  result.cancelled = cancel;
  if (!cancel && !control->builtIn.empty()) {
    result.builtInRan = true;
    if (control->builtIn == "References") ++world_->referencesDialogOpened;
  }
  return result;
}

ClickResult Editor::click(const std::string& barName, int position) {
  auto b = bar(barName);
  if (!b || position < 1 || position > static_cast<int>(b->controls.size()))
    throw std::out_of_range("no control " + std::to_string(position) + " on bar " + barName);
  return click(b->controls[position - 1]);
}

void Editor::move(const std::string& barName, int from, int to) {
  auto b = bar(barName);
  int n = b ? static_cast<int>(b->controls.size()) : 0;
  if (from < 1 || from > n || to < 1 || to > n)
    throw std::out_of_range("cannot move control " + std::to_string(from) + " to " + std::to_string(to));
  auto c = b->controls[from - 1];
  b->controls.erase(b->controls.begin() + (from - 1));
  b->controls.insert(b->controls.begin() + (to - 1), c);
}

void Editor::setActiveProject(const std::string& name) {
  auto p = project(name);
  world_->activeProject = p.get();
}

EditorBuilder::EditorBuilder() = default;

EditorBuilder& EditorBuilder::host(std::string displayName) {
  editor_.world().hostName = std::move(displayName);
  return *this;
}
EditorBuilder& EditorBuilder::language(const std::string& language) {
  auto& w = editor_.world();
  const Captions* c = captionsFor(language);
  if (!c) throw std::invalid_argument("no captions for the language \"" + language + "\"");
  w.captions = c;
  if (auto win = w.windowOfType(5)) win->caption = c->immediate;
  if (auto win = w.windowOfType(2)) win->caption = c->objectBrowser;
  return *this;
}
EditorBuilder& EditorBuilder::notAnEditor() {
  editor_.world().isEditor = false;
  return *this;
}
EditorBuilder& EditorBuilder::withoutToolsBar() {
  toolsBar_ = false;
  return *this;
}
EditorBuilder& EditorBuilder::withoutReferencesControl() {
  referencesControl_ = false;
  return *this;
}
EditorBuilder& EditorBuilder::withoutHostNameControl() {
  hostNameControl_ = false;
  return *this;
}
EditorBuilder& EditorBuilder::withoutFileBar() {
  fileBar_ = false;
  return *this;
}
EditorBuilder& EditorBuilder::leftoverBar() {
  leftover_ = true;
  return *this;
}

EditorBuilder& EditorBuilder::project(std::string name, std::string fileName, int32_t protection) {
  auto p = std::make_shared<ProjectNode>();
  p->world = &editor_.world();
  p->name = std::move(name);
  p->fileName = std::move(fileName);
  p->protection = protection;
  editor_.world().projects.push_back(p);
  current_ = p;
  return *this;
}

EditorBuilder& EditorBuilder::savedIn(std::string directory) {
  if (!current_) throw std::logic_error("savedIn() before project()");
  current_->directory = std::move(directory);
  return *this;
}

EditorBuilder& EditorBuilder::unsaved() {
  if (!current_) throw std::logic_error("unsaved() before project()");
  current_->saved = false;
  return *this;
}

EditorBuilder& EditorBuilder::component(std::string name, int32_t type, bool designerOpen) {
  if (!current_) throw std::logic_error("component() before project()");
  auto* w = &editor_.world();
  auto c = std::make_shared<ComponentNode>();
  c->world = w;
  c->project = current_.get();
  c->name = name;
  c->type = type;
  c->codeWindow = std::make_shared<WindowNode>();
  c->codeWindow->world = w;
  c->codeWindow->caption = current_->name + " - " + name + " (Code)";
  c->codeWindow->project = current_.get();
  if (type == 3) {
    c->designerWindow = std::make_shared<WindowNode>();
    c->designerWindow->world = w;
    c->designerWindow->caption = current_->name + " - " + name + " (UserForm)";
    c->designerWindow->type = 1;
    c->designerWindow->project = current_.get();
    c->designerWindow->visible = designerOpen;
  }
  current_->components.push_back(c);
  return *this;
}

EditorBuilder& EditorBuilder::reference(std::string name, std::string description,
                                        std::string fullPath, bool builtIn, bool isBroken,
                                        std::vector<std::string> unreadable) {
  if (!current_) throw std::logic_error("reference() before project()");
  auto r = std::make_shared<ReferenceNode>();
  r->name = std::move(name);
  r->description = std::move(description);
  r->fullPath = std::move(fullPath);
  r->builtIn = builtIn;
  r->isBroken = isBroken;
  r->unreadable = std::move(unreadable);
  current_->references.push_back(r);
  return *this;
}

EditorBuilder& EditorBuilder::active(std::string projectName) {
  active_ = std::move(projectName);
  return *this;
}

Editor EditorBuilder::build() {
  auto& w = editor_.world();
  auto addBar = [&](const std::string& name) {
    auto b = std::make_shared<BarNode>();
    b->world = &w;
    b->name = name;
    b->builtInBar = true;
    b->visible = true;
    w.bars.push_back(b);
    return b;
  };
  addBar("Menu Bar");
  if (fileBar_) addBar("File")->addControl(3, "&Save")->builtIn = "Save";
  if (toolsBar_) {
    auto tools = addBar("Tools");
    if (referencesControl_) tools->addControl(942, "R&eferences...")->builtIn = "References";
    tools->addControl(522, "&Options...");
  }
  auto standard = addBar("Standard");
  if (hostNameControl_) standard->addControl(106, w.hostName);
  if (leftover_) {
    auto old = std::make_shared<BarNode>();
    old->world = &w;
    old->name = "Tessary Ver. 1.01";
    old->addControl(1, "Open Active Project's All Modules");
    w.bars.push_back(old);
  }
  if (!active_.empty()) editor_.setActiveProject(active_);
  else if (!w.projects.empty()) w.activeProject = w.projects.front().get();
  return editor_;
}

}  // namespace model
