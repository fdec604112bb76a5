#include "session.h"

#include <algorithm>
#include <map>

#include "addin/connect.h"
#include "addin/identity.h"
#include "input_error.h"

namespace sim {

using nlohmann::ordered_json;
using Answer = platform::MessageBoxes::Answer;

namespace {

class NativeAddin : public Addin {
 public:
  explicit NativeAddin(platform::Services services) : connect_(services) {}
  void OnConnection(const automation::Object& application, int32_t mode) override {
    connect_.AddinInstance_OnConnection(application, mode);
  }
  void OnDisconnection(int32_t removeMode) override { connect_.AddinInstance_OnDisconnection(removeMode); }

 private:
  addin::Connect connect_;
};

const char* answerWord(Answer a) {
  switch (a) {
    case Answer::Yes: return "yes";
    case Answer::No: return "no";
    case Answer::Cancel: break;
  }
  return "cancel";
}

const char* styleName(int32_t style) {
  switch (style) {
    case 0: return "automatic";
    case 1: return "icon";
    case 2: return "caption";
    case 3: return "icon and caption";
    default: return "other";
  }
}

std::string withoutExtension(const std::string& name) {
  auto dot = name.rfind('.');
  return dot == std::string::npos ? name : name.substr(0, dot);
}

}  // namespace

namespace {

// Notes whether each box asked a question and what the user answered.
class SimMessageBox : public model::RecordingMessageBox {
 public:
  std::vector<ShownBox> log;
  void show(const std::string& text) override {
    RecordingMessageBox::show(text);
    log.push_back({text, false, Answer::Cancel});
  }
  Answer ask(const std::string& text) override {
    Answer a = RecordingMessageBox::ask(text);
    log.push_back({text, true, a});
    return a;
  }
};

// Keeps the last value written to each setting since it was last asked.
class SimSettings : public model::RecordingSettings {
 public:
  std::map<std::string, std::string> written;
  void save(const std::string& app, const std::string& section, const std::string& key,
            const std::string& value) override {
    RecordingSettings::save(app, section, key, value);
    written[app + "\\" + section + "\\" + key] = value;
  }
};

class NativeRuntime : public Runtime {
 public:
  explicit NativeRuntime(Workspace& ws) : world_(ws.editor.world()), keyboard_(ws.editor.shared()) {
    box_.answers.assign(ws.answers.begin(), ws.answers.end());
    if (ws.host) ws.host->install(hosts_);
    if (ws.otherHost) ws.otherHost->install(hosts_);
    if (ws.log)
      settings_.values[{addin::identity::ApplicationTitle, addin::identity::SettingsSection,
                        addin::identity::LogKey}] = "1";
  }
  std::unique_ptr<Addin> create() override {
    return std::make_unique<NativeAddin>(platform::Services{
        settings_, box_, keyboard_, hosts_, log_, model::clickEventsFor(world_.bitness)});
  }
  std::vector<ShownBox> boxes() const override { return box_.log; }
  std::vector<std::string> takeSettingsWritten() override {
    std::vector<std::string> out;
    for (auto& [key, value] : settings_.written) out.push_back(key + "=" + value);
    settings_.written.clear();
    return out;
  }
  std::vector<std::string> takeLog() override {
    auto all = log_.text();
    std::vector<std::string> out(all.begin() + static_cast<long>(logTaken_), all.end());
    logTaken_ = all.size();
    return out;
  }

 private:
  model::World& world_;
  SimSettings settings_;
  SimMessageBox box_;
  model::ModelKeyboard keyboard_;
  model::ModelHostLookup hosts_;
  model::RecordingLog log_;
  size_t logTaken_ = 0;
};

// The real lookup goes to the Running Object Table, which the model host cannot see: in neither
// mode is it reported as a call the host received.
bool isLookup(const model::Call& call) {
  return call.target == "RunningObjectTable" && call.member == "GetActiveObject";
}

}  // namespace

RuntimeFactory nativeRuntime() {
  return [](Workspace& ws) { return std::make_unique<NativeRuntime>(ws); };
}

struct Session::Snapshot {
  std::vector<std::string> visibleWindows;
  std::string immediateText;
  size_t editorCalls = 0, hostCalls = 0, boxes = 0, failures = 0;
  int referencesDialog = 0;
  std::vector<std::string> closedFiles;
  std::vector<std::string> uninstalledAddIns;
};

Session::Session(Workspace workspace, RuntimeFactory runtime) : ws_(std::move(workspace)) {
  runtime_ = runtime(ws_);
}

Session::~Session() {
  // The manager's last release; the add-in may still hold editor objects if never disconnected.
  addin_.reset();
  runtime_.reset();
}

Session::Snapshot Session::snapshot() const {
  Snapshot s;
  const auto& w = ws_.editor.world();
  for (auto& p : w.projects)
    for (auto& c : p->components) {
      if (c->codeWindow && c->codeWindow->visible) s.visibleWindows.push_back(c->codeWindow->caption);
      if (c->designerWindow && c->designerWindow->visible) s.visibleWindows.push_back(c->designerWindow->caption);
    }
  if (auto imm = ws_.editor.immediate()) s.immediateText = imm->text;
  s.editorCalls = w.log.size();
  s.hostCalls = ws_.hostLog.world().log.size();
  s.boxes = runtime_->boxes().size();
  s.failures = w.clickFailures.size();
  s.referencesDialog = w.referencesDialogOpened;
  if (ws_.host) {
    s.closedFiles = ws_.host->closed();
    for (auto& a : ws_.host->state().addIns)
      if (!a.installed) s.uninstalledAddIns.push_back(a.name);
  }
  return s;
}

std::shared_ptr<model::ControlNode> Session::button(const Command& c) const {
  auto bar = ws_.editor.bar(addin::identity::BarName);
  if (!bar)
    throw InputError(c.text + ": the bar \"" + std::string(addin::identity::BarName) +
                     "\" is not in the editor" + (addin_ ? "" : " (connect first)"));
  const auto& controls = bar->controls;
  if (c.caption.empty()) {
    if (c.position > static_cast<int>(controls.size()))
      throw InputError(c.text + ": the bar has " + std::to_string(controls.size()) + " buttons");
    return controls[c.position - 1];
  }
  for (auto& ctl : controls)
    if (ctl->currentCaption() == c.caption) return ctl;
  for (auto& ctl : controls)
    if (automation::sameName(ctl->currentCaption(), c.caption)) return ctl;
  std::string list;
  for (auto& ctl : controls) list += (list.empty() ? "\"" : ", \"") + ctl->currentCaption() + "\"";
  throw InputError(c.text + ": no button of the bar has this caption (its buttons: " +
                   (list.empty() ? "none" : list) + ")");
}

ordered_json Session::run(const Command& c) {
  // Everything that can refuse the command is checked before anything is done.
  std::shared_ptr<model::ControlNode> target;
  switch (c.kind) {
    case Command::Kind::Connect:
      if (addin_) throw InputError("connect: the add-in is already connected (disconnect first)");
      break;
    case Command::Kind::Disconnect:
      if (!addin_) throw InputError("disconnect: the add-in is not connected");
      break;
    case Command::Kind::Click: target = button(c); break;
    case Command::Kind::Move: {
      auto bar = ws_.editor.bar(addin::identity::BarName);
      if (!bar) throw InputError(c.text + ": the bar \"" + std::string(addin::identity::BarName) + "\" is not in the editor");
      int n = static_cast<int>(bar->controls.size());
      if (c.position > n || c.to > n)
        throw InputError(c.text + ": the bar has " + std::to_string(n) + " buttons");
      break;
    }
    case Command::Kind::References: {
      auto tools = ws_.editor.bar("Tools");
      if (tools)
        for (auto& ctl : tools->controls)
          if (ctl->id == 942) target = ctl;
      if (!target) throw InputError("references: this editor has no Tools > References... command");
      break;
    }
    case Command::Kind::State: break;
  }

  Snapshot before = snapshot();
  runtime_->begin();
  ordered_json clicked = nullptr;
  std::optional<int64_t> referencesLeft;
  switch (c.kind) {
    case Command::Kind::Connect:
      referencesBefore_ = ws_.editor.liveReferences() + ws_.hostLog.liveReferences();
      addin_ = runtime_->create();
      connectedOnce_ = true;
      addin_->OnConnection(ws_.editor.vbe(), c.mode);
      break;
    case Command::Kind::Disconnect:
      addin_->OnDisconnection(1);
      // The add-in manager lets the object go right after the disconnection.
      addin_.reset();
      runtime_->settle();
      referencesLeft = ws_.editor.liveReferences() + ws_.hostLog.liveReferences() - referencesBefore_;
      break;
    case Command::Kind::Click:
      clicked = {{"position", target->index()}, {"caption", target->currentCaption()}};
      ws_.editor.click(target);
      break;
    case Command::Kind::References: ws_.editor.click(target); break;
    case Command::Kind::Move: ws_.editor.move(addin::identity::BarName, c.position, c.to); break;
    case Command::Kind::State: break;
  }
  runtime_->settle();
  unloadClosedProjects(before);

  ordered_json out = report(c, before);
  if (c.kind == Command::Kind::Click) out["clicked"] = clicked;
  if (referencesLeft) out["referencesLeft"] = *referencesLeft;
  return out;
}

void Session::perform(const Command& c, const std::function<void(const ordered_json&)>& sink) {
  // Only before the first connection: after a disconnection the add-in was unloaded on purpose.
  if (!connectedOnce_ && c.kind != Command::Kind::Connect && c.kind != Command::Kind::State)
    sink(run(impliedConnect()));
  sink(run(c));
}

// A file the host closed takes its project out of the editor, as Office does; so does a Word
// add-in that is uninstalled.
void Session::unloadClosedProjects(const Snapshot& before) {
  if (!ws_.host) return;
  std::vector<std::string> gone(ws_.host->closed().begin() + static_cast<long>(before.closedFiles.size()),
                                ws_.host->closed().end());
  for (auto& a : ws_.host->state().addIns)
    if (!a.installed &&
        std::find(before.uninstalledAddIns.begin(), before.uninstalledAddIns.end(), a.name) ==
            before.uninstalledAddIns.end())
      gone.push_back(a.name);
  if (gone.empty()) return;
  auto& w = ws_.editor.world();
  auto unloaded = [&](const std::shared_ptr<model::ProjectNode>& p) {
    for (auto& f : gone)
      if (automation::sameName(p->fileName, f) || automation::sameName(p->fileName, withoutExtension(f)))
        return true;
    return false;
  };
  for (auto it = w.projects.begin(); it != w.projects.end();) {
    if (!unloaded(*it)) {
      ++it;
      continue;
    }
    (*it)->deleted = true;
    for (auto& comp : (*it)->components) comp->deleted = true;
    if (w.activeProject == it->get()) w.activeProject = nullptr;
    it = w.projects.erase(it);
  }
  if (!w.activeProject && !w.projects.empty()) w.activeProject = w.projects.front().get();
}

ordered_json Session::report(const Command& c, const Snapshot& before) {
  const auto& w = ws_.editor.world();
  Snapshot after = snapshot();
  ordered_json out;
  out["command"] = c.text;

  auto bar = ws_.editor.bar(addin::identity::BarName);
  if (bar) {
    ordered_json buttons = ordered_json::array();
    for (size_t i = 0; i < bar->controls.size(); ++i) {
      const auto& ctl = bar->controls[i];
      buttons.push_back({{"position", i + 1},
                         {"caption", ctl->currentCaption()},
                         {"beginGroup", ctl->beginGroup},
                         {"style", styleName(ctl->style)},
                         {"tooltip", ctl->tooltip}});
    }
    out["bar"] = {{"name", bar->name},
                  {"count", ws_.editor.barCount(addin::identity::BarName)},
                  {"position", bar->position == 1 ? "docked top" : "position " + std::to_string(bar->position)},
                  {"visible", bar->visible},
                  {"buttons", buttons}};
  } else {
    out["bar"] = nullptr;
  }

  ordered_json opened = ordered_json::array(), closed = ordered_json::array();
  for (auto& s : after.visibleWindows)
    if (std::find(before.visibleWindows.begin(), before.visibleWindows.end(), s) == before.visibleWindows.end())
      opened.push_back(s);
  for (auto& s : before.visibleWindows)
    if (std::find(after.visibleWindows.begin(), after.visibleWindows.end(), s) == after.visibleWindows.end())
      closed.push_back(s);
  out["windows"] = {{"visible", after.visibleWindows}, {"opened", opened}, {"closed", closed}};
  out["mainWindow"] = w.mainWindow && w.mainWindow->visible ? "visible" : "hidden";

  std::string added = after.immediateText.compare(0, before.immediateText.size(), before.immediateText) == 0
                          ? after.immediateText.substr(before.immediateText.size())
                          : after.immediateText;
  auto imm = ws_.editor.immediate();
  out["immediate"] = {{"visible", imm && imm->visible}, {"height", imm ? imm->height : 0}, {"added", added}};
  auto browser = ws_.editor.objectBrowser();
  out["objectBrowser"] = browser && browser->visible ? "visible" : "hidden";

  ordered_json projects = ordered_json::array();
  std::string active;
  for (auto& p : w.projects) {
    projects.push_back({{"name", p->name}, {"file", p->fileName}, {"locked", p->protection == 1}});
    if (p.get() == w.activeProject) active = p->name;
  }
  out["projects"] = projects;
  out["activeProject"] = active.empty() ? ordered_json(nullptr) : ordered_json(active);

  ordered_json calls = ordered_json::array();
  const auto& hostLog = ws_.hostLog.world().log;
  for (size_t i = before.hostCalls; i < hostLog.size(); ++i)
    if (!isLookup(hostLog[i])) calls.push_back(hostLog[i].describe());
  out["hostCalls"] = calls;
  // Which way the add-in found the host: a document component's Properties, or the table.
  bool throughEditor = false;
  for (size_t i = before.editorCalls; i < w.log.size(); ++i)
    throughEditor = throughEditor || (w.log[i].target == "Property" && w.log[i].member == "Object");
  out["hostFoundThrough"] = throughEditor     ? ordered_json("editor")
                            : calls.empty()   ? ordered_json(nullptr)
                                              : ordered_json("Running Object Table");
  if (ws_.host) {
    out["host"] = {{"application", ws_.host->progId()},
                   {"visible", ws_.host->visible()},
                   {"openFiles", ws_.host->openFiles()}};
  } else {
    out["host"] = nullptr;
  }

  ordered_json boxes = ordered_json::array();
  auto shown = runtime_->boxes();
  for (size_t i = before.boxes; i < shown.size(); ++i) {
    const auto& b = shown[i];
    ordered_json box = {{"text", b.text}, {"buttons", b.question ? "Yes No Cancel" : "OK"}};
    if (b.question) box["answer"] = answerWord(b.answer);
    boxes.push_back(box);
  }
  out["messageBoxes"] = boxes;

  ordered_json failure = nullptr;
  for (size_t i = before.failures; i < w.clickFailures.size(); ++i) failure = w.clickFailures[i];
  out["failure"] = failure;
  out["referencesDialog"] = after.referencesDialog > before.referencesDialog;
  out["settingsWritten"] = runtime_->takeSettingsWritten();
  if (ws_.log) out["log"] = runtime_->takeLog();
  return out;
}

}  // namespace sim
