#include "model/hosts.h"

#include <algorithm>

#include "model/platform.h"

namespace model {

using automation::fail;
using automation::sameName;

namespace {

constexpr int32_t DispParamNotFound = 448;  // "Named argument not found"
constexpr int32_t Disconnected = static_cast<int32_t>(0x80010108);

[[noreturn]] void invalidCall() {
  fail("Invalid procedure call or argument", automation::errors::InvalidCall);
}

bool isNumber(const Value& v) {
  return v.type() == Value::Type::Int16 || v.type() == Value::Type::Int32;
}

// The base of every host object: the shared host and the editor's state for wrapping results.
struct HostNode : Node {
  std::shared_ptr<State> log;
  std::shared_ptr<HostState> host;
  HostNode(std::shared_ptr<State> l, std::shared_ptr<HostState> h)
      : log(std::move(l)), host(std::move(h)) {}

  template <class T, class... A>
  Value make(A&&... a) const {
    return Value(wrap(log, std::make_shared<T>(log, host, std::forward<A>(a)...)));
  }
  HostKind hostKind() const { return host->kind; }
};

bool isGet(Invoke k) {
  return k == Invoke::Get;
}

// A host collection: Item (or the default member) with a key, and Count.
struct HostCollection : HostNode {
  using HostNode::HostNode;
  virtual Value item(const Value& key) const = 0;
  virtual size_t count() const = 0;
  Value invoke(std::string_view m, Invoke k, std::span<const Value> a,
               std::span<const NamedArg>) override {
    if (!isGet(k)) noSuchMember(m);
    if (sameName(m, "Count")) return Value::i4(static_cast<int32_t>(count()));
    if (sameName(m, "Item") || m.empty()) {
      if (a.empty()) invalidCall();
      return item(a[0]);
    }
    noSuchMember(m);
  }
};

// A workbook, document or presentation, found by name each time so that a closed one refuses
// every later call, as a released host object does.
struct FileNode : HostNode {
  std::string name;
  FileNode(std::shared_ptr<State> l, std::shared_ptr<HostState> h, std::string n)
      : HostNode(std::move(l), std::move(h)), name(std::move(n)) {}
  std::string kind() const override {
    switch (hostKind()) {
      case HostKind::Excel:
        return "Workbook";
      case HostKind::Word:
        return "Document";
      case HostKind::PowerPoint:
        return "Presentation";
      case HostKind::Access:
        break;
    }
    return "File";
  }
  HostState::File& file() const {
    auto* f = host->file(name);
    if (!f || !f->open) fail("The object invoked has disconnected from its clients.", Disconnected);
    return *f;
  }
  Value invoke(std::string_view m, Invoke k, std::span<const Value> a,
               std::span<const NamedArg>) override {
    auto& f = file();
    if (sameName(m, "Name") && isGet(k)) return Value(f.name);
    if (sameName(m, "Close") && isGet(k)) {
      host->waiting("Close");
      if (f.closeFails) fail("Method 'Close' of object '" + kind() + "' failed", 440);
      f.open = false;
      host->closed.push_back(f.name);
      if (sameName(host->activeDocument, f.name)) {
        host->activeDocument.clear();
        for (auto it = host->files.rbegin(); it != host->files.rend(); ++it)
          if (it->open) {
            host->activeDocument = it->name;
            break;
          }
      }
      return {};
    }
    if (hostKind() == HostKind::PowerPoint) {
      // MsoTriState: msoTrue is -1.
      if (sameName(m, "Saved")) {
        if (isGet(k)) return Value::i4(f.saved ? -1 : 0);
        if (a.empty()) invalidCall();
        f.saved = a[0].asBool();
        return {};
      }
      if (sameName(m, "Save") && isGet(k)) {
        ++f.saves;
        f.saved = true;
        return {};
      }
    }
    noSuchMember(m);
  }
};

struct FilesNode : HostCollection {
  using HostCollection::HostCollection;
  std::string kind() const override {
    switch (hostKind()) {
      case HostKind::Excel:
        return "Workbooks";
      case HostKind::Word:
        return "Documents";
      case HostKind::PowerPoint:
        return "Presentations";
      case HostKind::Access:
        break;
    }
    return "Files";
  }
  size_t count() const override {
    return static_cast<size_t>(
        std::count_if(host->files.begin(), host->files.end(), [](auto& f) { return f.open; }));
  }
  Value item(const Value& key) const override {
    std::vector<const HostState::File*> open;
    for (auto& f : host->files)
      if (f.open) open.push_back(&f);
    if (isNumber(key)) {
      int32_t i = key.asInt();
      if (i < 1 || i > static_cast<int32_t>(open.size()))
        fail("Subscript out of range", automation::errors::SubscriptOutOfRange);
      return make<FileNode>(open[i - 1]->name);
    }
    auto name = key.asString();
    for (auto* f : open)
      if (sameName(f->name, name)) return make<FileNode>(f->name);
    switch (hostKind()) {
      case HostKind::Word:
        fail("Bad file name.", 4160);
      case HostKind::PowerPoint:
        fail("Presentations (unknown member) : Invalid request.  The item " + name +
                 " was not found.",
             static_cast<int32_t>(0x80048240));
      default:
        fail("Subscript out of range", automation::errors::SubscriptOutOfRange);
    }
  }
};

struct DialogNode : HostNode {
  int32_t number;
  DialogNode(std::shared_ptr<State> l, std::shared_ptr<HostState> h, int32_t n)
      : HostNode(std::move(l), std::move(h)), number(n) {}
  std::string kind() const override { return "Dialog"; }
  Value invoke(std::string_view m, Invoke k, std::span<const Value>,
               std::span<const NamedArg>) override {
    if (isGet(k) && sameName(m, "Show")) {
      auto& d = host->dialogs.at(number);
      if (d.showFails) fail("Show method of Dialog class failed", 1004);
      ++d.shown;
      host->waiting("Show");
      return Value::i4(0);  // the user cancelled; nobody looks
    }
    noSuchMember(m);
  }
};

struct DialogsNode : HostCollection {
  using HostCollection::HostCollection;
  std::string kind() const override { return "Dialogs"; }
  size_t count() const override { return host->dialogs.size(); }
  Value item(const Value& key) const override {
    int32_t n = key.asInt();
    if (!host->dialogs.count(n)) invalidCall();
    return make<DialogNode>(n);
  }
};

struct AddInNode : HostNode {
  std::string name;
  AddInNode(std::shared_ptr<State> l, std::shared_ptr<HostState> h, std::string n)
      : HostNode(std::move(l), std::move(h)), name(std::move(n)) {}
  std::string kind() const override { return "AddIn"; }
  Value invoke(std::string_view m, Invoke k, std::span<const Value> a,
               std::span<const NamedArg>) override {
    auto* addIn = host->addIn(name);
    if (!addIn) fail("The object invoked has disconnected from its clients.", Disconnected);
    if (sameName(m, "Installed")) {
      if (isGet(k)) return Value::boolean(addIn->installed);
      if (a.empty()) invalidCall();
      addIn->installed = a[0].asBool();
      return {};
    }
    if (sameName(m, "Name") && isGet(k)) return Value(addIn->name);
    noSuchMember(m);
  }
};

struct AddInsNode : HostCollection {
  using HostCollection::HostCollection;
  std::string kind() const override { return "AddIns"; }
  size_t count() const override { return host->addIns.size(); }
  Value item(const Value& key) const override {
    if (isNumber(key)) {
      int32_t i = key.asInt();
      if (i < 1 || i > static_cast<int32_t>(host->addIns.size())) invalidCall();
      return make<AddInNode>(host->addIns[i - 1].name);
    }
    if (auto* a = host->addIn(key.asString())) return make<AddInNode>(a->name);
    fail("The requested member of the collection does not exist.", 5941);
  }
};

struct HostControlNode : HostNode {
  int32_t id;
  HostControlNode(std::shared_ptr<State> l, std::shared_ptr<HostState> h, int32_t i)
      : HostNode(std::move(l), std::move(h)), id(i) {}
  std::string kind() const override { return "CommandBarControl"; }
  Value invoke(std::string_view m, Invoke k, std::span<const Value>,
               std::span<const NamedArg>) override {
    if (!isGet(k)) noSuchMember(m);
    if (sameName(m, "Id")) return Value::i4(id);
    if (sameName(m, "Execute")) {
      auto& c = host->controls.at(id);
      if (c.executeFails)
        fail("Method 'Execute' of object '_CommandBarButton' failed",
             static_cast<int32_t>(0x80004005));
      ++c.executed;
      host->waiting("Execute");
      return {};
    }
    noSuchMember(m);
  }
};

struct HostBarsNode : HostNode {
  using HostNode::HostNode;
  std::string kind() const override { return "CommandBars"; }
  // FindControl(Type, Id, Tag, Visible, Recursive): the Id positionally second or named.
  Value invoke(std::string_view m, Invoke k, std::span<const Value> a,
               std::span<const NamedArg> named) override {
    if (!isGet(k) || !sameName(m, "FindControl")) noSuchMember(m);
    Value id = arg(a, 1);
    static const char* params[] = {"Type", "Id", "Tag", "Visible", "Recursive"};
    for (const auto& n : named) {
      if (!std::any_of(std::begin(params), std::end(params),
                       [&](const char* p) { return sameName(p, n.name); }))
        fail("Named argument not found", DispParamNotFound);
      if (sameName(n.name, "Id")) id = n.value;
    }
    if (id.isMissing()) return Value(Object());
    auto it = host->controls.find(id.asInt());
    if (it == host->controls.end()) return Value(Object());
    return make<HostControlNode>(it->first);
  }
};

struct DoCmdNode : HostNode {
  using HostNode::HostNode;
  std::string kind() const override { return "DoCmd"; }
  Value invoke(std::string_view m, Invoke k, std::span<const Value>,
               std::span<const NamedArg>) override {
    if (isGet(k) && sameName(m, "Close")) {
      host->waiting("Close");
      ++host->docmdCloses;
      return {};
    }
    noSuchMember(m);
  }
};

struct ApplicationNode : HostNode {
  using HostNode::HostNode;
  std::string kind() const override { return host->progId; }

  // A collection member called with an index ("workbooks" with a name) answers the item.
  template <class T>
  Value indexed(std::span<const Value> a) const {
    if (a.empty()) return make<T>();
    return T(log, host).item(a[0]);
  }

  Value invoke(std::string_view m, Invoke k, std::span<const Value> a,
               std::span<const NamedArg>) override {
    if (sameName(m, "Visible")) {
      if (isGet(k)) return Value::boolean(host->visible);
      if (a.empty()) invalidCall();
      host->visible = a[0].asBool();
      host->visibleWrites.push_back(host->visible);
      return {};
    }
    if (!isGet(k)) noSuchMember(m);
    if (sameName(m, "Application")) return make<ApplicationNode>();
    if (sameName(m, "Version")) return Value("16.0");
    if (sameName(m, "CommandBars")) return make<HostBarsNode>();
    const auto kind = hostKind();
    if ((kind == HostKind::Excel && sameName(m, "Workbooks")) ||
        (kind == HostKind::Word && sameName(m, "Documents")) ||
        (kind == HostKind::PowerPoint && sameName(m, "Presentations")))
      return indexed<FilesNode>(a);
    if ((kind == HostKind::Excel || kind == HostKind::Word) && sameName(m, "Dialogs"))
      return indexed<DialogsNode>(a);
    if (kind == HostKind::Word && sameName(m, "AddIns")) return indexed<AddInsNode>(a);
    if (kind == HostKind::Word && sameName(m, "ActiveDocument")) {
      if (host->activeDocument.empty())
        fail("This command is not available because no document is open.", 4248);
      return make<FileNode>(host->activeDocument);
    }
    if (kind == HostKind::Access && sameName(m, "DoCmd")) return make<DoCmdNode>();
    noSuchMember(m);
  }
};

}  // namespace

const char* progIdOf(HostKind kind) {
  switch (kind) {
    case HostKind::Excel:
      return "Excel.Application";
    case HostKind::Word:
      return "Word.Application";
    case HostKind::Access:
      return "Access.Application";
    case HostKind::PowerPoint:
      return "PowerPoint.Application";
  }
  return "";
}

const char* displayNameOf(HostKind kind) {
  switch (kind) {
    case HostKind::Excel:
      return "Microsoft Excel";
    case HostKind::Word:
      return "Microsoft Word";
    case HostKind::Access:
      return "Microsoft Office Access";
    case HostKind::PowerPoint:
      return "Microsoft PowerPoint";
  }
  return "";
}

std::optional<HostKind> hostKindOf(const std::string& displayName) {
  for (auto k : {HostKind::Excel, HostKind::Word, HostKind::Access, HostKind::PowerPoint})
    if (displayName == displayNameOf(k)) return k;
  if (displayName == "Microsoft Access") return HostKind::Access;  // Access 2010 and later
  return std::nullopt;
}

HostState::File* HostState::file(const std::string& name) {
  for (auto& f : files)
    if (f.open && sameName(f.name, name)) return &f;
  for (auto& f : files)
    if (sameName(f.name, name)) return &f;
  return nullptr;
}

HostState::AddIn* HostState::addIn(const std::string& name) {
  for (auto& a : addIns)
    if (sameName(a.name, name)) return &a;
  return nullptr;
}

Host::Host(std::shared_ptr<World> world, std::shared_ptr<HostState> state)
    : world_(std::move(world)), state_(std::move(state)) {}

Object Host::application() const {
  std::shared_ptr<State> log = world_;
  return wrap(log, std::make_shared<ApplicationNode>(log, state_));
}

void Host::install(ModelHostLookup& lookup) const {
  if (!state_->inTable) return;
  lookup.factories[state_->progId] = [world = world_, host = state_]() -> platform::ActiveObject {
    Value progId(host->progId);
    world->enter("RunningObjectTable", "GetActiveObject", Invoke::Get, std::span(&progId, 1), {});
    if (!host->running)
      // Word for word what the add-in's real lookup says when the table has no such object.
      fail("ActiveX component can't create object: no running " + host->progId,
           automation::errors::CantCreateObject);
    std::shared_ptr<State> log = world;
    return {wrap(log, std::make_shared<ApplicationNode>(log, host)), !host->otherProcess};
  };
}

bool Host::isOpen(const std::string& name) const {
  auto* f = state_->file(name);
  return f && f->open;
}

std::vector<std::string> Host::openFiles() const {
  std::vector<std::string> names;
  for (auto& f : state_->files)
    if (f.open) names.push_back(f.name);
  return names;
}

int Host::shown(int32_t dialog) const {
  auto it = state_->dialogs.find(dialog);
  return it == state_->dialogs.end() ? 0 : it->second.shown;
}

int Host::executed(int32_t controlId) const {
  auto it = state_->controls.find(controlId);
  return it == state_->controls.end() ? 0 : it->second.executed;
}

bool Host::addInInstalled(const std::string& name) const {
  auto* a = state_->addIn(name);
  return a && a->installed;
}

HostBuilder::HostBuilder(const Editor& editor, HostKind kind)
    : world_(editor.shared()), state_(std::make_shared<HostState>()) {
  state_->kind = kind;
  state_->progId = progIdOf(kind);
  switch (kind) {
    case HostKind::Excel:
      state_->dialogs[1] = {};
      break;
    case HostKind::Word:
      state_->dialogs[80] = {};
      break;
    case HostKind::Access:
      state_->controls[2937] = {};
      break;
    case HostKind::PowerPoint:
      state_->controls[23] = {};
      break;
  }
}

HostBuilder& HostBuilder::file(std::string name, bool saved) {
  HostState::File f;
  f.name = std::move(name);
  f.saved = saved;
  state_->files.push_back(std::move(f));
  if (state_->kind == HostKind::Word) state_->activeDocument = state_->files.back().name;
  return *this;
}

HostBuilder& HostBuilder::fileCloseFails(std::string name) {
  if (auto* f = state_->file(name))
    f->closeFails = true;
  else
    throw std::logic_error("fileCloseFails() before file()");
  return *this;
}

HostBuilder& HostBuilder::activeDocument(std::string name) {
  if (!state_->file(name)) file(name);
  state_->activeDocument = std::move(name);
  return *this;
}

HostBuilder& HostBuilder::addIn(std::string name, bool installed) {
  state_->addIns.push_back({std::move(name), installed});
  return *this;
}

HostBuilder& HostBuilder::dialog(int32_t number, bool showFails) {
  state_->dialogs[number].showFails = showFails;
  return *this;
}

HostBuilder& HostBuilder::control(int32_t id, bool executeFails) {
  state_->controls[id].executeFails = executeFails;
  return *this;
}

HostBuilder& HostBuilder::withoutOpenCommand() {
  state_->dialogs.clear();
  state_->controls.clear();
  return *this;
}

HostBuilder& HostBuilder::hidden() {
  state_->visible = false;
  return *this;
}

HostBuilder& HostBuilder::notRunning() {
  state_->running = false;
  return *this;
}

HostBuilder& HostBuilder::inAnotherProcess() {
  state_->otherProcess = true;
  return *this;
}

HostBuilder& HostBuilder::notInTable() {
  state_->inTable = false;
  return *this;
}

Host HostBuilder::build() {
  // The instance of the editor's own process is the one its document components lead to.
  if (!state_->otherProcess) {
    std::weak_ptr<World> weak = world_;
    world_->documentHost = [weak, host = state_]() -> Object {
      auto world = weak.lock();
      if (!world || !host->running) return Object();
      return Host(world, host).application();
    };
  }
  return Host(world_, state_);
}

bool inAnotherProcess(const Object& object) {
  auto node = std::dynamic_pointer_cast<HostNode>(unwrap(object));
  return node && node->host->otherProcess;
}

}  // namespace model
