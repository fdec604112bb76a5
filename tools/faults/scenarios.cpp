#include "scenarios.h"

#include "model/sample.h"

namespace faults {

namespace {

using model::HostBuilder;
using model::HostKind;
using Answer = platform::MessageBoxes::Answer;

constexpr int32_t HostNameControlId = 106;

// The sample workspace as another host's editor shows it: the host's name on control 106.
model::Editor sampleIn(HostKind kind, const std::string& fileName = "Budget.xlsm") {
  auto e = model::sampleWorkspace();
  e.world().hostName = model::displayNameOf(kind);
  for (auto& bar : e.world().bars)
    for (auto& control : bar->controls)
      if (control->id == HostNameControlId) control->caption = e.world().hostName;
  e.project("VBAProject")->fileName = fileName;
  return e;
}

}  // namespace

std::vector<Scenario> scenarios() {
  return {
      {"sample workspace, Excel", [] { return model::sampleWorkspace(); },
       [](const model::Editor& e) {
         return HostBuilder(e, HostKind::Excel).file("Budget.xlsm").file("LockedTools.xlam").build();
       },
       {}},
      {"sample workspace, locked project active, Excel",
       [] {
         auto e = model::sampleWorkspace();
         e.setActiveProject("LockedTools");
         return e;
       },
       [](const model::Editor& e) {
         return HostBuilder(e, HostKind::Excel).file("Budget.xlsm").file("LockedTools.xlam").build();
       },
       {}},
      {"sample workspace, Word, file open by name", [] { return sampleIn(HostKind::Word, "Budget.docm"); },
       [](const model::Editor& e) { return HostBuilder(e, HostKind::Word).file("Budget.docm").build(); },
       {}},
      // Closing by name fails, the active document is another one: the add-in fallback runs.
      {"sample workspace, Word, add-in fallback", [] { return sampleIn(HostKind::Word, "Budget"); },
       [](const model::Editor& e) {
         return HostBuilder(e, HostKind::Word).activeDocument("Letter.docx").addIn("Budget").build();
       },
       {}},
      {"sample workspace, Access", [] { return sampleIn(HostKind::Access, "Budget.accdb"); },
       [](const model::Editor& e) { return HostBuilder(e, HostKind::Access).file("Budget.accdb").build(); },
       {}},
      // Unsaved, so the close asks first; the user answers Yes and it is saved.
      {"sample workspace, PowerPoint", [] { return sampleIn(HostKind::PowerPoint, "Budget.pptm"); },
       [](const model::Editor& e) {
         return HostBuilder(e, HostKind::PowerPoint).file("Budget.pptm", false).build();
       },
       {Answer::Yes}},
  };
}

Session::Session(const Scenario& s) : h(s.editor()), host(s.host(h.editor)) {
  host.install(h.hosts);
  h.messageBox.answers = s.answers;
  if (log) h.settings.values[{"vbatessary", "Settings", "Log"}] = "1";
  addin = std::make_unique<addin::Connect>(h.services());
  startProject = h.editor.world().activeProject;
}

std::vector<Command> commands() {
  std::vector<Command> out{{"connection", CommandKind::Connection}, {"disconnection", CommandKind::Disconnection}};
  const char* names[] = {"button 1: open active project", "button 2: close active project",
                         "button 3: open all projects",   "button 4: close all projects",
                         "button 5: open projects",       "button 6: close active project file"};
  for (int b = 1; b <= 6; ++b) out.push_back({names[b - 1], CommandKind::Button, b});
  out.push_back({"Tools > References...", CommandKind::References});
  return out;
}

void Command::prepare(Session& s) const {
  if (kind != CommandKind::Connection) s.connect();
}

Result Command::run(Session& s) const {
  Result r;
  switch (kind) {
    case CommandKind::Connection: {
      size_t before = s.h.messageBox.shown.size();
      s.connect();
      r.failures.assign(s.h.messageBox.shown.begin() + before, s.h.messageBox.shown.end());
      break;
    }
    case CommandKind::Disconnection: s.disconnect(); break;
    case CommandKind::Button: {
      auto click = s.editor().click("Tessary Ver. 1.01", button);
      r.failures = click.failures;
      r.cancelled = click.cancelled;
      break;
    }
    case CommandKind::References: {
      auto tools = s.editor().bar("Tools");
      for (auto& control : tools->controls)
        if (control->id == 942) {
          auto click = s.editor().click(control);
          r.failures = click.failures;
          r.cancelled = click.cancelled;
          if (click.builtInRan) r.failures.push_back("the editor's own References dialog opened");
        }
      break;
    }
  }
  return r;
}

}  // namespace faults
