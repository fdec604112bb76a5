#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "model/state.h"

// An in-memory VBA editor: command bars, windows, projects, components and references, reached
// by member name like the real one (names match case-insensitively), with a call log, fault
// injection and a count of the references handed out.
namespace model {

struct World;
struct BarNode;

struct ControlNode : Node {
  World* world = nullptr;
  BarNode* bar = nullptr;
  int32_t id = 1;
  std::string caption;
  std::string tooltip;
  int32_t style = 0;
  bool beginGroup = false;
  bool visible = true;
  std::string builtIn;  // name of the built-in command this control runs ("References", "Save")
  std::string tag;
  struct Subscriber {
    int64_t id;
    automation::ClickHandler handler;
  };
  std::vector<Subscriber> subscribers;        // through the editor's CommandBarEvents of this control
  std::vector<Subscriber> buttonSubscribers;  // through this button's own Office events
  size_t subscriptions() const { return subscribers.size() + buttonSubscribers.size(); }

  std::string kind() const override { return "CommandBarControl"; }
  Value invoke(std::string_view member, Invoke kind, std::span<const Value> args,
               std::span<const NamedArg> named) override;
  bool implements(std::string_view name) const override { return name == "CommandBarControl"; }
  std::string currentCaption() const;
  int32_t index() const;
  automation::Subscription subscribe(automation::ClickHandler handler, automation::ClickEvents events) override;
};

struct BarNode : Node {
  World* world = nullptr;
  std::string name;
  int32_t position = 4;  // floating until docked
  bool visible = false;
  bool builtInBar = false;
  std::vector<std::shared_ptr<ControlNode>> controls;

  ~BarNode() override;
  std::string kind() const override { return "CommandBar"; }
  Value invoke(std::string_view member, Invoke kind, std::span<const Value> args,
               std::span<const NamedArg> named) override;
  std::shared_ptr<ControlNode> addControl(int32_t id, std::string caption);
};

struct WindowNode : Node {
  World* world = nullptr;
  std::string caption;
  int32_t type = 0;  // vbext_WindowType: 0 code, 1 designer, 5 immediate, 2 browser, 12 main
  bool visible = false;
  int32_t height = 100;
  std::string text;  // what has been typed into it
  bool refuse = false;  // a window that refuses to be shown or hidden
  struct ProjectNode* project = nullptr;  // for code and designer windows

  std::string kind() const override { return "Window"; }
  Value invoke(std::string_view member, Invoke kind, std::span<const Value> args,
               std::span<const NamedArg> named) override;
};

struct ReferenceNode : Node {
  std::string name, description, fullPath;
  bool builtIn = false, isBroken = false;
  std::vector<std::string> unreadable;  // members whose read fails (a broken reference)

  std::string kind() const override { return "Reference"; }
  Value invoke(std::string_view member, Invoke kind, std::span<const Value> args,
               std::span<const NamedArg> named) override;
};

struct ComponentNode : Node {
  World* world = nullptr;
  struct ProjectNode* project = nullptr;
  std::string name;
  int32_t type = 1;  // 1 standard, 2 class, 3 form, 100 document
  bool hasCodeModule = true;
  std::shared_ptr<WindowNode> codeWindow;
  std::shared_ptr<WindowNode> designerWindow;  // forms only

  std::string kind() const override { return "VBComponent"; }
  Value invoke(std::string_view member, Invoke kind, std::span<const Value> args,
               std::span<const NamedArg> named) override;
};

struct ProjectNode : Node {
  World* world = nullptr;
  std::string name;
  std::string fileName;  // what the Save control names; FileName's path ends with it
  std::string directory;  // FileName's folder, with its final backslash; may be empty
  bool saved = true;      // false: never saved, FileName fails
  int32_t protection = 0;
  std::vector<std::shared_ptr<ComponentNode>> components;
  std::vector<std::shared_ptr<ReferenceNode>> references;
  bool referencesEnumerable = true;
  std::optional<int32_t> referencesCount;  // what References.Count reports instead of the real count

  std::string kind() const override { return "VBProject"; }
  Value invoke(std::string_view member, Invoke kind, std::span<const Value> args,
               std::span<const NamedArg> named) override;
};

// The captions that differ with the editor's language. Command bar names ("File", "Tools") do not:
// they are the bars' English Name in every language.
struct Captions {
  const char* immediate;
  const char* objectBrowser;
  const char* save;  // the File bar's Save control, before the file's name
};
// "en" or "de"; null for a language the model does not know.
const Captions* captionsFor(const std::string& language);

// The bitness of the Office the model stands for unless told otherwise: on Windows the model's
// own (a 64-bit test program hosts the 64-bit DLL); elsewhere 32, or TESSARY_MODEL_BITS.
int hostBitness();

// The event interface the add-in takes clicks through in a host of that bitness.
automation::ClickEvents clickEventsFor(int bitness);

// The whole editor. It is also the shared state of every reference handed out, so it lives as
// long as any of them.
struct World : State, std::enable_shared_from_this<World> {
  std::string hostName = "Microsoft Excel";
  const Captions* captions = captionsFor("en");
  bool isEditor = true;  // false: a root object that is not a VBE
  std::vector<std::shared_ptr<BarNode>> bars;
  std::vector<std::shared_ptr<ProjectNode>> projects;
  std::vector<std::shared_ptr<WindowNode>> windows;  // the Windows collection
  std::shared_ptr<WindowNode> mainWindow;
  ProjectNode* activeProject = nullptr;
  WindowNode* focused = nullptr;
  // Called when a window takes the focus: a test bed with real keystrokes gives the focus to a
  // real edit control standing in for that window.
  std::function<void(WindowNode&)> onFocus;
  std::shared_ptr<Node> root;
  int referencesDialogOpened = 0;
  std::vector<std::string> clickFailures;  // failures event handlers returned to the editor
  // 64: the host is 64-bit Office, which is reported to crash on VBE.Events. The default follows
  // the model's own build on Windows and TESSARY_MODEL_BITS elsewhere (see hostBitness).
  int bitness = hostBitness();
  // Calls that would have crashed the host; a test that finds any here has found a crash.
  std::vector<std::string> crashes;
  // Buttons with Office button-event sinks: a click reaches every one of the same Id and Tag.
  std::vector<std::weak_ptr<ControlNode>> buttonSources;
  int64_t nextSubscriber = 1;
  int nextCustomBar = 1;
  // The host's Application as a document component's Properties hand it out: set by the model
  // host of this editor's own process (HostBuilder::build); none, and those Properties have no
  // "Application", while there is none.
  std::function<Object()> documentHost;

  std::shared_ptr<State> self();
  std::shared_ptr<WindowNode> window(const std::string& caption) const;
  std::shared_ptr<WindowNode> windowOfType(int32_t type) const;
};

// What a click did.
struct ClickResult {
  bool cancelled = false;
  bool builtInRan = false;
  std::vector<std::string> failures;
};

class Editor {
 public:
  Editor();

  // The root object the add-in manager hands over as Application.
  Object vbe() const;
  World& world() const { return *world_; }
  const std::shared_ptr<World>& shared() const { return world_; }

  // Inspection.
  std::shared_ptr<BarNode> bar(const std::string& name) const;  // null when absent
  int barCount(const std::string& name) const;
  std::shared_ptr<ProjectNode> project(const std::string& name) const;
  std::shared_ptr<ComponentNode> component(const std::string& project, const std::string& name) const;
  std::shared_ptr<WindowNode> immediate() const { return world_->windowOfType(5); }
  std::shared_ptr<WindowNode> objectBrowser() const { return world_->windowOfType(2); }
  const std::vector<Call>& calls() const { return world_->log; }
  Faults& faults() const { return world_->faults; }
  int64_t liveReferences() const { return world_->liveReferences; }

  // Interaction, as a user would do it.
  ClickResult click(const std::shared_ptr<ControlNode>& control);
  ClickResult click(const std::string& barName, int position);
  // Moves the control at position `from` to position `to` on the bar (1-based).
  void move(const std::string& barName, int from, int to);
  void setActiveProject(const std::string& name);
  // A button of another add-in's bar "Other Add-in <tag>", Id 1 like every custom button, with
  // this Tag, its own add-in listening to it through Office's button events.
  std::shared_ptr<ControlNode> addForeignButton(const std::string& tag);

 private:
  std::shared_ptr<World> world_;
};

// Builds a scenario in a few lines.
class EditorBuilder {
 public:
  EditorBuilder();
  EditorBuilder& host(std::string displayName);
  // The editor's language ("en", "de"): its windows' captions and the Save control's.
  EditorBuilder& language(const std::string& language);
  EditorBuilder& notAnEditor();
  EditorBuilder& withoutToolsBar();
  EditorBuilder& withoutReferencesControl();
  EditorBuilder& withoutHostNameControl();
  EditorBuilder& withoutFileBar();
  EditorBuilder& leftoverBar();  // a bar of the add-in's name from an earlier session
  EditorBuilder& project(std::string name, std::string fileName, int32_t protection = 0);
  // The current project's file as FileName gives it: `directory` before its name.
  EditorBuilder& savedIn(std::string directory);
  // The current project's file was never saved: FileName fails.
  EditorBuilder& unsaved();
  EditorBuilder& component(std::string name, int32_t type, bool designerOpen = false);
  EditorBuilder& reference(std::string name, std::string description, std::string fullPath,
                           bool builtIn = false, bool isBroken = false,
                           std::vector<std::string> unreadable = {});
  EditorBuilder& active(std::string projectName);
  Editor build();

 private:
  Editor editor_;
  std::shared_ptr<ProjectNode> current_;
  bool toolsBar_ = true, referencesControl_ = true, hostNameControl_ = true, fileBar_ = true;
  bool leftover_ = false;
  std::string active_;
};

}  // namespace model
