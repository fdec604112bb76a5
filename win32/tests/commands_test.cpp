// Every command from a click, through the real DLL: the window commands, the reference report typed
// into a real edit control, the host commands against model hosts in the Running Object Table.
// Each scenario also runs through the core directly on the model platform in this program; the
// two runs must leave the model in the same state, character for character.
#include <windows.h>

#include <cstdio>
#include <deque>
#include <functional>

#include "addin/connect.h"
#include "check.h"
#include "model/hosts.h"
#include "model/platform.h"
#include "model/sample.h"
#include "testbed.h"
#include "text.h"
#include "toolbar/click_route.h"

namespace {

using model::HostKind;
using Answer = platform::MessageBoxes::Answer;

const char* const Bar = "Tessary Ver. 1.01";

bool same(const std::string& native, const std::string& dll, const char* what) {
  bool ok = check::expect(native == dll, what, __FILE__, __LINE__);
  if (!ok) std::printf("    native:\n%s\n    through the DLL:\n%s\n", native.c_str(), dll.c_str());
  return ok;
}

std::string visibility(const std::shared_ptr<model::WindowNode>& w) {
  return !w ? "-" : w->visible ? "shown" : "hidden";
}

// What a user sees of the editor: every window, the active project, what was typed where.
std::string snapshot(const model::Editor& e) {
  const model::World& w = e.world();
  std::string s = "main window " + visibility(w.mainWindow) + "\n";
  s += "active project " + (w.activeProject ? w.activeProject->name : std::string("-")) + "\n";
  for (const auto& p : w.projects)
    for (const auto& c : p->components) {
      s += p->name + "." + c->name + ": code " + visibility(c->codeWindow) + ", designer " +
           visibility(c->designerWindow) + "\n";
      if (c->codeWindow && !c->codeWindow->text.empty()) s += "typed into " + c->name + ":\n" + c->codeWindow->text + "\n";
    }
  for (const auto& win : w.windows) {
    s += win->caption + " " + visibility(win) + "\n";
    if (!win->text.empty()) s += "typed into " + win->caption + ":\n" + win->text + "|\n";
  }
  s += "references dialog opened " + std::to_string(w.referencesDialogOpened) + "\n";
  return s;
}

std::string describe(const model::ClickResult& r) {
  std::string s = std::string("cancelled ") + (r.cancelled ? "yes" : "no") + ", built-in ran " +
                  (r.builtInRan ? "yes" : "no") + "\n";
  for (const auto& f : r.failures) s += "failure: " + f + "\n";
  return s;
}

// Every call the editor and the hosts received, in order, but for the host lookups: the model's
// table logs its own, the real one logs nothing.
std::string callLog(const model::Editor& e) {
  std::string s;
  for (const auto& c : e.calls())
    if (c.target != "RunningObjectTable") s += c.describe() + "\n";
  return s;
}

// A scenario: an editor, and optionally a model host of it, built afresh for each run.
struct Setup {
  model::Editor editor;
  std::optional<model::Host> host;
};
using Build = std::function<Setup()>;
// What is done to the editor once the add-in is connected.
using Act = std::function<model::ClickResult(model::Editor&)>;

struct Outcome {
  std::string click, state, calls, hostFiles, setting;
  std::vector<std::string> boxes;
  int64_t liveReferences = -1;
  std::vector<std::string> crashes;  // calls the host of the model's bitness would not survive
};

std::string filesOf(const std::optional<model::Host>& host) {
  if (!host) return "";
  std::string s = "open:";
  for (const auto& f : host->openFiles()) s += " " + f;
  s += "; closed:";
  for (const auto& f : host->closed()) s += " " + f;
  for (const auto& f : host->state().files) s += "; " + f.name + " saved " + std::to_string(f.saves) + "x";
  for (const auto& [n, d] : host->state().dialogs) s += "; dialog " + std::to_string(n) + " shown " + std::to_string(d.shown);
  for (const auto& [n, c] : host->state().controls)
    s += "; control " + std::to_string(n) + " run " + std::to_string(c.executed);
  return s;
}

std::vector<Answer> toModel(const std::deque<int>& answers) {
  std::vector<Answer> out;
  for (int a : answers) out.push_back(a == IDYES ? Answer::Yes : a == IDNO ? Answer::No : Answer::Cancel);
  return out;
}

// The core on the model platform, in this program.
Outcome runNative(const Build& build, const Act& act, const std::deque<int>& answers, bool hostRunning) {
  Setup s = build();
  model::Harness h(s.editor);
  if (s.host && hostRunning) s.host->install(h.hosts);
  for (auto a : toModel(answers)) h.messageBox.answers.push_back(a);
  Outcome o;
  {
    addin::Connect addin(h.services());
    addin.AddinInstance_OnConnection(h.editor.vbe(), 0);
    o.click = describe(act(h.editor));
    addin.AddinInstance_OnDisconnection(1);
  }
  o.setting = h.settings.get("vbatessary", "Settings", "DisplayOnConnect", "<absent>");
  o.state = snapshot(h.editor);
  o.calls = callLog(h.editor);
  o.hostFiles = filesOf(s.host);
  o.boxes = h.messageBox.shown;
  o.liveReferences = h.editor.liveReferences();
  o.crashes = h.editor.world().crashes;
  return o;
}

// The real DLL: created through COM, keys into the edit control, hosts in the Running Object Table.
Outcome runDll(testbed::Addin& addin, const Build& build, const Act& act, const std::deque<int>& answers,
               bool hostRunning) {
  Setup s = build();
  Outcome o;
  {
    std::optional<testbed::RunningObject> running;
    if (s.host && hostRunning) {
      running.emplace(s.host->progId(), s.host->application());
      CHECK(running->ready());
    }
    testbed::KeystrokeTarget keys(s.editor);
    CHECK(keys.ready());
    testbed::MessageBoxes boxes(answers);
    HRESULT hr = addin.connect(s.editor.vbe(), 0);
    CHECK_HR(hr, S_OK);
    o.click = describe(act(s.editor));
    keys.collect();
    testbed::clearSettings();
    CHECK_HR(addin.disconnect(1), S_OK);
    o.setting = testbed::displayOnConnect().value_or("<absent>");
    addin.release();
    for (const auto& text : boxes.texts()) o.boxes.push_back(win32::narrow(text));
  }
  o.state = snapshot(s.editor);
  o.calls = callLog(s.editor);
  o.hostFiles = filesOf(s.host);
  o.liveReferences = s.editor.liveReferences();
  o.crashes = s.editor.world().crashes;
  return o;
}

struct Both {
  Outcome native, dll;
};

// Runs a scenario both ways and checks that they agree.
Both compare(testbed::Addin& addin, const char* name, const Build& build, const Act& act,
             std::deque<int> answers = {}, bool hostRunning = true) {
  std::printf("  %s\n", name);
  Both b{runNative(build, act, answers, hostRunning), runDll(addin, build, act, answers, hostRunning)};
  same(b.native.click, b.dll.click, "the click's result");
  same(b.native.state, b.dll.state, "the editor's windows and what was typed");
  same(b.native.calls, b.dll.calls, "the editor's and the host's calls");
  same(b.native.hostFiles, b.dll.hostFiles, "the host's files");
  same(b.native.setting, b.dll.setting, "the setting written at disconnection");
  CHECK(b.native.boxes == b.dll.boxes);
  for (const auto& t : b.dll.boxes) std::printf("    message box: %s\n", t.c_str());
  CHECK_EQ(b.native.liveReferences, 0);
  CHECK_EQ(b.dll.liveReferences, 0);
  for (const auto& crash : b.dll.crashes) std::printf("    the host crashed: %s\n", crash.c_str());
  CHECK(b.dll.crashes.empty());
  CHECK(b.native.crashes.empty());
  // 64-bit Office is never asked for VBE.Events; 32-bit Office keeps the editor's events.
  if (model::hostBitness() == 64) CHECK(b.dll.calls.find("VBE.Events") == std::string::npos);
  return b;
}

Act clickButton(int position) {
  return [position](model::Editor& e) { return e.click(Bar, position); };
}

model::ClickResult clickReferences(model::Editor& e) {
  if (auto tools = e.bar("Tools"))
    for (const auto& c : tools->controls)
      if (c->id == 942) return e.click(c);
  CHECK(!"a References control");
  return {};
}

Setup sample() { return {model::sampleWorkspace(), std::nullopt}; }

std::string rule68(const char* ch) {
  std::string s;
  for (int i = 0; i < 68; ++i) s += ch;
  return s;
}

void windowCommandsOnTheSampleWorkspace(testbed::Addin& addin) {
  {
    // Button 1 opens the active project's modules, document modules left alone.
    Both b = compare(addin, "button 1", sample, clickButton(1));
    CHECK_EQ(b.dll.setting, "1");
    CHECK(b.dll.click == describe({}));
    CHECK(b.dll.state.find("main window shown\nactive project VBAProject\n") == 0);
    CHECK(b.dll.state.find("VBAProject.Module1: code shown") != std::string::npos);
    CHECK(b.dll.state.find("VBAProject.EntryForm: code shown, designer shown") != std::string::npos);
    CHECK(b.dll.state.find("VBAProject.ThisWorkbook: code hidden") != std::string::npos);
    CHECK(b.dll.state.find("LockedTools.Internals: code hidden") != std::string::npos);
  }
  {
    // Button 2 after the windows were opened: everything of the active project is hidden.
    Build opened = [] {
      Setup s = sample();
      for (const auto& c : s.editor.project("VBAProject")->components) {
        if (c->codeWindow) c->codeWindow->visible = true;
        if (c->designerWindow) c->designerWindow->visible = true;
      }
      return s;
    };
    Both b = compare(addin, "button 2", opened, clickButton(2));
    CHECK(b.dll.state.find("VBAProject.ThisWorkbook: code hidden") != std::string::npos);
    CHECK(b.dll.state.find("VBAProject.EntryForm: code hidden, designer hidden") != std::string::npos);
    CHECK(b.dll.state.find("main window shown\nactive project VBAProject\n") == 0);
  }
  {
    // Button 3 from another active project: every unprotected project opens, the start project is
    // active again.
    Build fromOther = [] {
      Setup s{model::EditorBuilder()
                  .project("Alpha", "Alpha.xlsm").component("A1", 1).component("A2", 2)
                  .project("Beta", "Beta.xlsm").component("B1", 1).component("BForm", 3)
                  .project("Locked", "Locked.xlam", 1).component("L1", 1)
                  .active("Beta").build(),
              std::nullopt};
      return s;
    };
    Both b = compare(addin, "button 3 from another active project", fromOther, clickButton(3));
    CHECK(b.dll.state.find("active project Beta\n") != std::string::npos);
    CHECK(b.dll.state.find("Alpha.A2: code shown") != std::string::npos);
    CHECK(b.dll.state.find("Beta.BForm: code shown, designer shown") != std::string::npos);
    CHECK(b.dll.state.find("Locked.L1: code hidden") != std::string::npos);
  }
  {
    Both b = compare(addin, "button 3", sample, clickButton(3));
    CHECK(b.dll.state.find("main window shown\nactive project VBAProject\n") == 0);
    CHECK(b.dll.state.find("VBAProject.Ledger: code shown") != std::string::npos);
    CHECK(b.dll.state.find("LockedTools.Internals: code hidden") != std::string::npos);
  }
  {
    // Button 4 hides them all again.
    Build allOpen = [] {
      Setup s = sample();
      for (const auto& p : s.editor.world().projects)
        for (const auto& c : p->components)
          if (c->codeWindow) c->codeWindow->visible = true;
      return s;
    };
    Both b = compare(addin, "button 4", allOpen, clickButton(4));
    CHECK(b.dll.state.find("VBAProject.Module1: code hidden") != std::string::npos);
    // A locked project is left as it was.
    CHECK(b.dll.state.find("LockedTools.Internals: code shown") != std::string::npos);
    CHECK(b.dll.state.find("main window shown\nactive project VBAProject\n") == 0);
  }
}

void referenceReportTypedIntoTheEditControl(testbed::Addin& addin) {
  Both b = compare(addin, "Tools > References...", sample, clickReferences);
  CHECK(b.dll.click == "cancelled yes, built-in ran no\n");
  CHECK(b.dll.state.find("Object Browser shown") != std::string::npos);
  CHECK(b.dll.state.find("references dialog opened 0") != std::string::npos);
  // The report arrived, rules and all, with the 8.3 path's tildes as tildes.
  CHECK(b.dll.state.find("typed into Immediate:\n\n\n" + rule68("\xC2\xBB") + "\n\nReferences set in Budget.xlsm") !=
        std::string::npos);
  CHECK(b.dll.state.find("C:\\PROGRA~1\\COMMON~1\\MICROS~1\\VBA\\VBA7.1\\VBE7.DLL") != std::string::npos);
  CHECK(b.dll.state.find(rule68("\xC2\xAB")) != std::string::npos);

  // A locked active project: the notice, then the report.
  Build locked = [] {
    Setup s = sample();
    s.editor.setActiveProject("LockedTools");
    return s;
  };
  Both l = compare(addin, "button 1 on a locked project", locked, clickButton(1));
  CHECK(l.dll.state.find("typed into Immediate:\n\n\nLockedTools.xlam  is protected but you can see the reference set here.\n\n" +
                         rule68("\xC2\xBB")) != std::string::npos);
  // Closing a locked project's windows types nothing.
  Both c = compare(addin, "button 2 on a locked project", locked, clickButton(2));
  CHECK(c.dll.state.find("typed into") == std::string::npos);
}

Build hosted(HostKind kind, const char* display, const char* file, std::function<void(model::HostBuilder&)> more) {
  return [=] {
    model::Editor e = model::EditorBuilder().host(display).project("VBAProject", file).component("Module1", 1).build();
    model::HostBuilder hb(e, kind);
    more(hb);
    model::Host h = hb.build();
    return Setup{e, h};
  };
}

void hostCommandsThroughTheRunningObjectTable(testbed::Addin& addin) {
  {
    Both b = compare(addin, "button 6, Excel",
                     hosted(HostKind::Excel, "Microsoft Excel", "Budget.xlsm",
                            [](auto& h) { h.file("Other.xlsx").file("Budget.xlsm"); }),
                     clickButton(6));
    CHECK(b.dll.hostFiles.find("open: Other.xlsx; closed: Budget.xlsm") == 0);
    CHECK(b.dll.calls.find("Workbook.Close()") != std::string::npos);
  }
  {
    Both b = compare(addin, "button 6, Word",
                     hosted(HostKind::Word, "Microsoft Word", "Report.docm",
                            [](auto& h) { h.file("Report.docm").activeDocument("Letter.docx"); }),
                     clickButton(6));
    CHECK(b.dll.hostFiles.find("open: Letter.docx; closed: Report.docm") == 0);
  }
  {
    Both b = compare(addin, "button 6, Access",
                     hosted(HostKind::Access, "Microsoft Office Access", "Orders.accdb", [](auto&) {}),
                     clickButton(6));
    CHECK(b.dll.calls.find("DoCmd.Close()") != std::string::npos);
  }
  for (int answer : {IDYES, IDNO, IDCANCEL}) {
    // PowerPoint would drop unsaved changes without a word: the question is asked, and answered.
    Both b = compare(addin, "button 6, PowerPoint with unsaved changes",
                     hosted(HostKind::PowerPoint, "Microsoft PowerPoint", "Deck.pptm",
                            [](auto& h) { h.file("Deck.pptm", false); }),
                     clickButton(6), {answer});
    CHECK(b.dll.boxes == std::vector<std::string>{"Do you want to save the changes you made to Deck.pptm?"});
    CHECK_EQ(b.dll.hostFiles.find("open: Deck.pptm") == 0, answer == IDCANCEL);
    CHECK_EQ(b.dll.hostFiles.find("saved 1x") != std::string::npos, answer == IDYES);
  }

  // Button 5: the host's own Open command, with the named argument Id for Access and PowerPoint.
  {
    Both b = compare(addin, "button 5, Excel",
                     hosted(HostKind::Excel, "Microsoft Excel", "Budget.xlsm", [](auto& h) { h.file("Budget.xlsm"); }),
                     clickButton(5));
    CHECK(b.dll.hostFiles.find("dialog 1 shown 1") != std::string::npos);
  }
  {
    Both b = compare(addin, "button 5, Word",
                     hosted(HostKind::Word, "Microsoft Word", "Report.docm", [](auto& h) { h.file("Report.docm"); }),
                     clickButton(5));
    CHECK(b.dll.hostFiles.find("dialog 80 shown 1") != std::string::npos);
  }
  for (auto [kind, display, id] : {std::tuple{HostKind::Access, "Microsoft Office Access", 2937},
                                   std::tuple{HostKind::PowerPoint, "Microsoft PowerPoint", 23}}) {
    Both b = compare(addin, "button 5, Access or PowerPoint", hosted(kind, display, "File.x", [](auto&) {}),
                     clickButton(5));
    CHECK(b.dll.hostFiles.find("control " + std::to_string(id) + " run 1") != std::string::npos);
    CHECK(b.dll.calls.find("FindControl(Id:=") != std::string::npos);
  }

  // No host running: the failure travels back through the sink's Invoke to the editor. Closing
  // reports the lookup's own failure; the Open command's recovery step has no host to show again.
  {
    Both b = compare(addin, "button 6, Excel not running",
                     hosted(HostKind::Excel, "Microsoft Excel", "Budget.xlsm", [](auto& h) { h.file("Budget.xlsm"); }),
                     clickButton(6), {}, false);
    CHECK_EQ(b.dll.click,
             "cancelled no, built-in ran no\nfailure: ActiveX component can't create object: no running "
             "Excel.Application\n");
    CHECK(b.dll.boxes.empty());
  }
  {
    Both b = compare(addin, "button 5, Word not running",
                     hosted(HostKind::Word, "Microsoft Word", "Report.docm", [](auto& h) { h.file("Report.docm"); }),
                     clickButton(5), {}, false);
    CHECK_EQ(b.dll.click, "cancelled no, built-in ran no\nfailure: Object variable or With block variable not set\n");
    CHECK(b.dll.boxes.empty());
  }
}

// Two instances of a host: the table holds the one started first, in a second process. A click in
// this editor is refused and that instance is left as it was; with the editor's own instance in the
// table instead, the same click drives it as always.
void anotherInstanceOfTheHostIsLeftAlone(testbed::Addin& addin) {
  struct Case {
    HostKind kind;
    const char* display;
    const char* file;
  };
  for (const Case& c : {Case{HostKind::Excel, "Microsoft Excel", "Budget.xlsm"},
                        Case{HostKind::Word, "Microsoft Word", "Report.docm"}}) {
    const char* const file = c.file;
    for (int button : {6, 5}) {
      std::printf("  button %d, %s of another process\n", button, c.display);
      model::Editor e = model::EditorBuilder().host(c.display).project("VBAProject", file).component("Module1", 1).build();
      e.world().mainWindow->visible = false;
      testbed::HostInAnotherProcess other(c.kind, file);
      CHECK(other.ready());
      std::string click;
      {
        testbed::MessageBoxes boxes;
        CHECK_HR(addin.connect(e.vbe(), 0), S_OK);
        click = describe(e.click(Bar, button));
        CHECK_HR(addin.disconnect(1), S_OK);
        addin.release();
        CHECK(boxes.texts().empty());
      }
      int code = other.finish();
      CHECK_EQ(click, "cancelled no, built-in ran no\nfailure: The running " + std::string(c.display) +
                          " found is another instance, not the one whose editor this is: nothing was changed.\n");
      CHECK_EQ(code, 0);
      if (!CHECK_EQ(other.report(), "file open\nadd-in installed\nwindow visible\nvisible written 0x\nreferences 0\n"))
        std::printf("    exit code %d, the other instance saw:\n%s", code, other.report().c_str());
      // Nor was the editor's window shown.
      CHECK(callLog(e).find("MainWindow") == std::string::npos);
      CHECK(!e.world().mainWindow->visible);
      CHECK_EQ(e.liveReferences(), 0);
    }
    Both closed = compare(addin, "button 6, own instance", hosted(c.kind, c.display, file, [file](auto& h) { h.file(file); }),
                          clickButton(6));
    CHECK_EQ(closed.dll.hostFiles.find(std::string("open:; closed: ") + file), 0u);
    Both opened = compare(addin, "button 5, own instance", hosted(c.kind, c.display, file, [file](auto& h) { h.file(file); }),
                          clickButton(5));
    CHECK(opened.dll.hostFiles.find(c.kind == HostKind::Excel ? "dialog 1 shown 1" : "dialog 80 shown 1") != std::string::npos);
    CHECK(opened.dll.calls.find(std::string(model::progIdOf(c.kind)) + ".Visible = (Bool False)") != std::string::npos);
  }
}

// Office ties button sinks to controls by Id and Tag, and every custom button has Id 1: another
// add-in's buttons, untagged or with the same Tag as one of ours, must run nothing, and a click on
// ours runs its command once.
void aClickRunsOneCommandOnceAndForeignButtonsNone(testbed::Addin& addin) {
  Act clicks = [](model::Editor& e) {
    std::vector<std::shared_ptr<model::ControlNode>> foreign;
    for (const std::string& tag : {std::string(), toolbar::ClickRoute::tagFor(1)}) {
      foreign.push_back(e.addForeignButton(tag));
    }
    for (const auto& c : foreign) {
      auto r = e.click(c);
      CHECK(r.failures.empty() && !r.cancelled);
    }
    return e.click(Bar, 1);
  };
  Both b = compare(addin, "a click among buttons that share Id and Tag", sample, clicks);
  size_t reads = 0;
  for (size_t at = b.dll.calls.find("CommandBarControl.Index()"); at != std::string::npos;
       at = b.dll.calls.find("CommandBarControl.Index()", at + 1))
    ++reads;
  CHECK_EQ(reads, 1u);
  CHECK(b.dll.state.find("VBAProject.Module1: code shown") != std::string::npos);
}

// Excel and Word reached through the editor: a document component's Properties hold the host's
// Application. The table may hold another process's instance, or nothing at all (Office enters it
// only once its window has lost the focus): buttons 5 and 6 still act on the editor's own host.
void theEditorLeadsToItsOwnHost(testbed::Addin& addin) {
  struct Case {
    HostKind kind;
    const char* display;
    const char* file;
    const char* document;
  };
  for (const Case& c : {Case{HostKind::Excel, "Microsoft Excel", "Budget.xlsm", "ThisWorkbook"},
                        Case{HostKind::Word, "Microsoft Word", "Report.docm", "ThisDocument"}}) {
    Build ownOnly = [c] {
      model::Editor e = model::EditorBuilder().host(c.display).project("VBAProject", c.file)
                            .component(c.document, 100).component("Module1", 1).build();
      model::Host h = model::HostBuilder(e, c.kind).file(c.file).notInTable().build();
      return Setup{e, h};
    };
    // The table empty: the same on both sides, the table never asked.
    Both closed = compare(addin, "button 6, host not in the table", ownOnly, clickButton(6), {}, false);
    CHECK_EQ(closed.dll.hostFiles.find(std::string("open:; closed: ") + c.file), 0u);
    CHECK(closed.dll.click == describe({}));
    Both opened = compare(addin, "button 5, host not in the table", ownOnly, clickButton(5), {}, false);
    CHECK(opened.dll.hostFiles.find(c.kind == HostKind::Excel ? "dialog 1 shown 1" : "dialog 80 shown 1") != std::string::npos);

    // A locked active project hides its components: the next unlocked project's lead to the host.
    Build lockedFirst = [c] {
      model::Editor e = model::EditorBuilder().host(c.display).project("Locked", "Locked.xlam", 1)
                            .component(c.document, 100).project("VBAProject", c.file)
                            .component(c.document, 100).active("Locked").build();
      model::Host h = model::HostBuilder(e, c.kind).file(c.file).notInTable().build();
      return Setup{e, h};
    };
    Both past = compare(addin, "button 5, locked active project, host not in the table", lockedFirst,
                        clickButton(5), {}, false);
    CHECK(past.dll.hostFiles.find(c.kind == HostKind::Excel ? "dialog 1 shown 1" : "dialog 80 shown 1") != std::string::npos);
    CHECK(past.dll.click == describe({}));

    // Another process's instance in the table: it receives no call.
    for (int button : {6, 5}) {
      std::printf("  button %d, own %s through the editor, another in the table\n", button, c.display);
      Setup s = ownOnly();
      testbed::HostInAnotherProcess other(c.kind, c.file);
      CHECK(other.ready());
      std::string click;
      {
        testbed::MessageBoxes boxes;
        CHECK_HR(addin.connect(s.editor.vbe(), 0), S_OK);
        click = describe(s.editor.click(Bar, button));
        CHECK_HR(addin.disconnect(1), S_OK);
        addin.release();
        CHECK(boxes.texts().empty());
      }
      CHECK_EQ(click, describe({}));
      CHECK_EQ(other.finish(), 0);
      CHECK_EQ(other.report(), "file open\nadd-in installed\nwindow visible\nvisible written 0x\nreferences 0\n");
      if (button == 6) CHECK(s.host->closed() == std::vector<std::string>{c.file});
      else CHECK_EQ(s.host->shown(c.kind == HostKind::Excel ? 1 : 80), 1);
      CHECK(s.editor.world().mainWindow->visible);
      CHECK_EQ(s.editor.liveReferences(), 0);
    }
  }
}

void aFailingConnectionIsShownInAMessageBox(testbed::Addin& addin) {
  Build notAnEditor = [] { return Setup{model::EditorBuilder().notAnEditor().build(), std::nullopt}; };
  Both b = compare(addin, "connection to something that is not the editor", notAnEditor,
                   [](model::Editor&) { return model::ClickResult{}; });
  CHECK_EQ(b.dll.boxes.size(), 1u);
  CHECK(b.dll.state.find("typed into") == std::string::npos);
  CHECK_EQ(b.dll.setting, "0");
}

}  // namespace

int main() {
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  {
    testbed::Addin addin;
    CHECK(addin.ready());
    if (!addin.ready()) std::printf("    %s\n", addin.problem().c_str());
    if (addin.ready()) {
      std::printf("  clicks through %s\n", model::hostBitness() == 64 ? "Office's button events (64-bit)"
                                                                        : "the editor's CommandBarEvents (32-bit)");
      windowCommandsOnTheSampleWorkspace(addin);
      referenceReportTypedIntoTheEditControl(addin);
      hostCommandsThroughTheRunningObjectTable(addin);
      anotherInstanceOfTheHostIsLeftAlone(addin);
      theEditorLeadsToItsOwnHost(addin);
      aFailingConnectionIsShownInAMessageBox(addin);
      aClickRunsOneCommandOnceAndForeignButtonsNone(addin);
    }
    testbed::clearSettings();
  }
  CoUninitialize();
  return check::finish("commands");
}
