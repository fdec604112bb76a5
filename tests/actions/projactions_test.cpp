#include <gtest/gtest.h>

#include "model/sample.h"
#include "support.h"

namespace {

using Lines = std::vector<std::string>;

// Two unprotected projects and a locked one. Book1 has both kinds of form: one whose designer
// is open and one whose designer is closed.
model::Editor workspace() {
  return model::EditorBuilder()
      .project("VBAProject", "Book1.xlsm")
      .component("ThisWorkbook", 100)
      .component("Sheet1", 100)
      .component("Module1", 1)
      .component("Class1", 2)
      .component("OpenForm", 3, true)
      .component("ClosedForm", 3, false)
      .reference("VBA", "Visual Basic For Applications", "C:\\VBE7.DLL", true)
      .project("Other", "Other.xlsm")
      .component("ThisWorkbook", 100)
      .component("Helpers", 1)
      .component("Dialog", 3, false)
      .project("Locked", "Locked.xlam", 1)
      .component("ThisWorkbook", 100)
      .component("Secret", 1)
      .active("VBAProject")
      .build();
}

struct Connected : Rig {
  explicit Connected(model::Editor e) : Rig(std::move(e)) { connect(); }
  std::shared_ptr<model::WindowNode> code(const std::string& p, const std::string& c) {
    return editor().component(p, c)->codeWindow;
  }
  std::shared_ptr<model::WindowNode> designer(const std::string& p, const std::string& c) {
    return editor().component(p, c)->designerWindow;
  }
  bool mainVisible() { return editor().world().mainWindow->visible; }
  std::string active() {
    auto* p = editor().world().activeProject;
    return p ? p->name : "";
  }
  void activeproj(bool flag) { addin->activeprojaction(flag); }
  void allproj(bool flag) { addin->allprojaction(flag); }
  // Every write the action made, in order.
  Lines writes(size_t from) {
    Lines out;
    const auto& log = editor().calls();
    for (size_t i = from; i < log.size(); ++i)
      if (log[i].kind != automation::Invoke::Get) out.push_back(log[i].describe());
    return out;
  }
  size_t count(size_t from, const char* target, const char* member) {
    size_t n = 0;
    const auto& log = editor().calls();
    for (size_t i = from; i < log.size(); ++i) n += log[i].target == target && log[i].member == member;
    return n;
  }
  size_t mark() { return editor().calls().size(); }
};

const std::string Hide = "Window.Visible = (Bool False)";
const std::string Show = "Window.Visible = (Bool True)";
const std::string Reactivate = "VBE.ActiveVBProject := (Obj VBProject)";

TEST(ActiveProjectAction, OpeningShowsCodeWindowsButLeavesDocumentModulesAlone) {
  Connected rig(workspace());
  rig.code("VBAProject", "Sheet1")->visible = true;  // the user had one open already
  size_t from = rig.mark();
  rig.activeproj(true);

  EXPECT_FALSE(rig.code("VBAProject", "ThisWorkbook")->visible);
  EXPECT_TRUE(rig.code("VBAProject", "Sheet1")->visible);
  for (auto name : {"Module1", "Class1", "OpenForm", "ClosedForm"})
    EXPECT_TRUE(rig.code("VBAProject", name)->visible) << name;
  EXPECT_TRUE(rig.designer("VBAProject", "OpenForm")->visible);
  EXPECT_FALSE(rig.designer("VBAProject", "ClosedForm")->visible) << "its designer was not open";
  EXPECT_FALSE(rig.code("Other", "Helpers")->visible) << "only the active project";
  EXPECT_TRUE(rig.mainVisible());
  EXPECT_EQ(rig.active(), "VBAProject");
  // Main window hidden first, then shown, then the start project made active again.
  Lines w = rig.writes(from);
  ASSERT_GE(w.size(), 3u);
  EXPECT_EQ(w.front(), Hide);
  EXPECT_EQ(Lines(w.end() - 2, w.end()), (Lines{Show, Reactivate}));
  EXPECT_EQ(std::count(w.begin(), w.end(), Hide), 1) << "nothing else is hidden when opening";
  EXPECT_EQ(rig.count(from, "VBComponent", "DesignerWindow"), 1u);
  EXPECT_TRUE(rig.h.keyboard.sent.empty());
}

TEST(ActiveProjectAction, ClosingHidesEveryCodeWindowDocumentModulesIncluded) {
  Connected rig(workspace());
  for (auto& c : rig.editor().project("VBAProject")->components) c->codeWindow->visible = true;
  rig.code("Other", "Helpers")->visible = true;
  size_t from = rig.mark();
  rig.activeproj(false);

  for (auto& c : rig.editor().project("VBAProject")->components) EXPECT_FALSE(c->codeWindow->visible) << c->name;
  EXPECT_FALSE(rig.designer("VBAProject", "OpenForm")->visible);
  EXPECT_TRUE(rig.code("Other", "Helpers")->visible);
  EXPECT_EQ(rig.count(from, "VBComponent", "Type"), 0u) << "no type test when closing";
  EXPECT_EQ(rig.count(from, "VBComponent", "DesignerWindow"), 1u) << "only the form whose designer is open";
  EXPECT_TRUE(rig.mainVisible());
  EXPECT_EQ(rig.active(), "VBAProject");
}

TEST(ActiveProjectAction, LockedProjectOpenTypesTheNoticeThenTheReport) {
  Connected rig(workspace());
  rig.editor().setActiveProject("Locked");
  auto& sent = rig.h.keyboard.sent;
  size_t from = rig.mark();
  rig.activeproj(true);

  ASSERT_EQ(sent.size(), 6u);  // notice and a report of no references
  EXPECT_EQ(sent[0], "~~Locked.xlam  is protected but you can see the reference set here.");
  EXPECT_EQ(sent[2], "~~References set in Locked.xlam - [ Locked ] : 0");
  const std::string& text = rig.editor().immediate()->text;
  EXPECT_EQ(text.rfind("\n\nLocked.xlam  is protected but you can see the reference set here.\n\n\u00BB", 0), 0u);
  // The report makes the Immediate window visible; nothing else is shown or hidden.
  EXPECT_EQ(rig.writes(from), (Lines{Show, "Window.Height = (I4 0)"}));
  EXPECT_EQ(rig.count(from, "VBE", "MainWindow"), 0u);
  EXPECT_FALSE(rig.code("Locked", "Secret")->visible);
  EXPECT_EQ(rig.active(), "Locked");
}

TEST(ActiveProjectAction, LockedProjectNoticeEscapesTheFileName) {
  Connected rig(model::EditorBuilder().project("Tools", "TOOLS~1 {v2}.XLA", 1).build());
  rig.activeproj(true);
  EXPECT_EQ(rig.editor().immediate()->text.rfind("\n\nTOOLS~1 {v2}.XLA  is protected but you can see the reference set here.\n\n", 0), 0u);
}

TEST(ActiveProjectAction, LockedProjectCloseDoesNothing) {
  Connected rig(workspace());
  rig.editor().setActiveProject("Locked");
  size_t from = rig.mark();
  rig.activeproj(false);
  EXPECT_TRUE(rig.h.keyboard.sent.empty());
  EXPECT_TRUE(rig.writes(from).empty());
  EXPECT_EQ(rig.count(from, "VBProject", "VBComponents"), 0u);
}

TEST(ActiveProjectAction, LockedBranchFailuresReachTheCaller) {
  {
    SCOPED_TRACE("no Immediate window");
    Connected rig(workspace());
    rig.editor().setActiveProject("Locked");
    std::erase(rig.editor().world().windows, rig.editor().immediate());
    EXPECT_THROW(rig.activeproj(true), automation::Failure);
    EXPECT_TRUE(rig.h.keyboard.sent.empty());
  }
  {
    SCOPED_TRACE("the report fails after the notice");
    Connected rig(workspace());
    rig.editor().setActiveProject("Locked");
    rig.editor().faults().failMember("VBProject.Name", "Automation error");
    EXPECT_THROW(rig.activeproj(true), automation::Failure);
    EXPECT_EQ(rig.h.keyboard.sent.size(), 2u) << "the notice and the top rule";
  }
}

TEST(ProjectActions, NoProjectLoadedChangesNothing) {
  for (bool flag : {true, false}) {
    Connected rig(model::EditorBuilder().build());
    size_t from = rig.mark();
    EXPECT_NO_THROW(rig.activeproj(flag));
    EXPECT_NO_THROW(rig.allproj(flag));
    EXPECT_TRUE(rig.writes(from).empty());
    EXPECT_TRUE(rig.h.keyboard.sent.empty());
    EXPECT_TRUE(rig.mainVisible());
  }
}

TEST(ProjectActions, ActiveProjectUnreadableFailsBeforeAnythingChanges) {
  Connected rig(workspace());
  rig.editor().world().activeProject = nullptr;
  size_t from = rig.mark();
  EXPECT_THROW(rig.activeproj(true), automation::Failure);
  EXPECT_TRUE(rig.writes(from).empty());
  EXPECT_TRUE(rig.mainVisible());
}

TEST(ProjectActions, HidingTheMainWindowFailsToTheCaller) {
  for (bool all : {false, true}) {
    Connected rig(workspace());
    rig.editor().world().mainWindow->refuse = true;
    bool flag = true;
    EXPECT_THROW(all ? rig.addin->allprojaction(flag) : rig.addin->activeprojaction(flag), automation::Failure);
    EXPECT_FALSE(rig.code("VBAProject", "Module1")->visible);
  }
}

TEST(AllProjectsAction, OpeningVisitsEveryUnprotectedProjectAndEveryUserFormDesigner) {
  Connected rig(workspace());
  size_t from = rig.mark();
  rig.allproj(true);

  EXPECT_FALSE(rig.code("VBAProject", "ThisWorkbook")->visible);
  EXPECT_FALSE(rig.code("Other", "ThisWorkbook")->visible);
  for (auto name : {"Module1", "Class1", "OpenForm", "ClosedForm"}) EXPECT_TRUE(rig.code("VBAProject", name)->visible);
  EXPECT_TRUE(rig.code("Other", "Helpers")->visible);
  EXPECT_TRUE(rig.designer("VBAProject", "ClosedForm")->visible) << "every user form, open or not";
  EXPECT_TRUE(rig.designer("Other", "Dialog")->visible);
  EXPECT_FALSE(rig.code("Locked", "Secret")->visible);
  EXPECT_EQ(rig.count(from, "VBComponent", "HasOpenDesigner"), 0u);
  EXPECT_TRUE(rig.h.keyboard.sent.empty()) << "locked projects are passed over silently";
  EXPECT_TRUE(rig.mainVisible());
  Lines w = rig.writes(from);
  EXPECT_EQ(w.front(), Hide);
  EXPECT_EQ(Lines(w.end() - 2, w.end()), (Lines{Show, Reactivate}));
}

TEST(AllProjectsAction, StartProjectIsActiveAgainThoughShowingOtherWindowsMovedIt) {
  Connected rig(workspace());
  // As in the editor, showing a code window makes its project the active one.
  model::wrap(rig.editor().shared(), rig.code("Other", "Helpers")).put("Visible", automation::Value::boolean(true));
  ASSERT_EQ(rig.active(), "Other");
  rig.editor().setActiveProject("VBAProject");
  rig.code("Other", "Helpers")->visible = false;

  rig.allproj(true);
  EXPECT_EQ(rig.active(), "VBAProject");
  rig.editor().setActiveProject("Other");
  rig.allproj(false);
  EXPECT_EQ(rig.active(), "Other");
}

TEST(AllProjectsAction, ClosingHidesDocumentModulesAndEveryFormDesigner) {
  Connected rig(workspace());
  for (auto p : {"VBAProject", "Other", "Locked"})
    for (auto& c : rig.editor().project(p)->components) {
      c->codeWindow->visible = true;
      if (c->designerWindow) c->designerWindow->visible = true;
    }
  rig.allproj(false);
  for (auto p : {"VBAProject", "Other"})
    for (auto& c : rig.editor().project(p)->components) {
      EXPECT_FALSE(c->codeWindow->visible) << p << " " << c->name;
      if (c->designerWindow) {
        EXPECT_FALSE(c->designerWindow->visible) << p << " " << c->name;
      }
    }
  for (auto& c : rig.editor().project("Locked")->components) EXPECT_TRUE(c->codeWindow->visible);
  EXPECT_EQ(rig.active(), "VBAProject");
}

TEST(AllProjectsAction, EveryProjectLockedOnlyHidesShowsAndReactivates) {
  Connected rig(model::EditorBuilder()
                    .project("A", "A.xlam", 1).component("M", 1)
                    .project("B", "B.xlam", 1).component("M", 1)
                    .active("B")
                    .build());
  for (bool flag : {true, false}) {
    size_t from = rig.mark();
    EXPECT_NO_THROW(rig.allproj(flag));
    EXPECT_EQ(rig.writes(from), (Lines{Hide, Show, Reactivate}));
    EXPECT_EQ(rig.count(from, "VBProject", "VBComponents"), 0u);
    EXPECT_EQ(rig.active(), "B");
    EXPECT_TRUE(rig.h.keyboard.sent.empty());
  }
}

TEST(ProjectActions, OnlyProtectionOneIsLockedButOnlyZeroIsVisitedByAll) {
  // A protection value other than 0 and 1: the active-project command changes it, the
  // all-projects command passes it over.
  auto build = [] {
    return model::EditorBuilder().project("Odd", "Odd.xlsm", 2).component("M", 1).build();
  };
  {
    Connected rig(build());
    rig.activeproj(true);
    EXPECT_TRUE(rig.code("Odd", "M")->visible);
    EXPECT_TRUE(rig.h.keyboard.sent.empty());
  }
  {
    Connected rig(build());
    rig.allproj(true);
    EXPECT_FALSE(rig.code("Odd", "M")->visible);
    EXPECT_TRUE(rig.mainVisible());
  }
}

TEST(ProjectActions, ProjectWithoutComponentsIsStillHiddenShownAndReactivated) {
  Connected rig(model::EditorBuilder().project("Empty", "Empty.xlsm").build());
  for (bool all : {false, true}) {
    size_t from = rig.mark();
    bool flag = true;
    all ? rig.addin->allprojaction(flag) : rig.addin->activeprojaction(flag);
    EXPECT_EQ(rig.writes(from), (Lines{Hide, Show, Reactivate}));
  }
}

// A component that stops the loop part way: the ones before it stay changed, the ones after are
// not visited, and the call still ends with the main window shown and the start project active.
TEST(ProjectActions, AFailureAtTheThirdComponentEndsTheLoopQuietly) {
  auto build = [] {
    return model::EditorBuilder()
        .project("Other", "Other.xlsm").component("Helpers", 1)
        .project("VBAProject", "Book1.xlsm")
        .component("Module1", 1).component("Module2", 1).component("Module3", 1).component("Module4", 1)
        .project("Last", "Last.xlsm").component("Tail", 1)
        .active("Other")
        .build();
  };
  for (bool all : {false, true})
    for (bool noCodeModule : {true, false}) {
      SCOPED_TRACE(std::string(all ? "allprojaction" : "activeprojaction") +
                   (noCodeModule ? ", no code module" : ", window refuses"));
      Connected rig(build());
      if (!all) rig.editor().setActiveProject("VBAProject");
      auto third = rig.editor().component("VBAProject", "Module3");
      if (noCodeModule) third->hasCodeModule = false;
      else third->codeWindow->refuse = true;
      bool flag = true;
      EXPECT_NO_THROW(all ? rig.addin->allprojaction(flag) : rig.addin->activeprojaction(flag));
      EXPECT_TRUE(rig.code("VBAProject", "Module1")->visible);
      EXPECT_TRUE(rig.code("VBAProject", "Module2")->visible);
      EXPECT_FALSE(rig.code("VBAProject", "Module3")->visible);
      EXPECT_FALSE(rig.code("VBAProject", "Module4")->visible);
      EXPECT_FALSE(rig.code("Last", "Tail")->visible) << "later projects are not visited";
      EXPECT_EQ(rig.code("Other", "Helpers")->visible, all);
      EXPECT_TRUE(rig.mainVisible());
      EXPECT_EQ(rig.active(), all ? "Other" : "VBAProject");
    }
}

// The call numbers of the restore steps (main window, its Visible, the reactivation) of a clean
// run of the action on a fresh workspace.
struct RestoreCalls {
  int64_t showMain = 0, reactivate = 0;
};
RestoreCalls restoreCalls(bool all) {
  Connected rig(workspace());
  bool flag = true;
  all ? rig.addin->allprojaction(flag) : rig.addin->activeprojaction(flag);
  const auto& log = rig.editor().calls();
  RestoreCalls r;
  for (size_t i = 0; i < log.size(); ++i) {
    if (log[i].describe() == Show) r.showMain = static_cast<int64_t>(i + 1);
    if (log[i].describe() == Reactivate) r.reactivate = static_cast<int64_t>(i + 1);
  }
  return r;
}

TEST(ProjectActions, AFailingRestoreStepIsRetriedOnceAfterANormalLoop) {
  for (bool all : {false, true}) {
    SCOPED_TRACE(all ? "allprojaction" : "activeprojaction");
    auto r = restoreCalls(all);
    ASSERT_EQ(r.reactivate, r.showMain + 1);
    auto run = [all](Connected& rig) {
      bool flag = true;
      all ? rig.addin->allprojaction(flag) : rig.addin->activeprojaction(flag);
    };
    for (int64_t failing : {r.showMain, r.reactivate}) {
      SCOPED_TRACE(failing == r.showMain ? "showing the main window fails once" : "reactivating fails once");
      Connected rig(workspace());
      rig.editor().faults().failAt = failing;
      EXPECT_NO_THROW(run(rig));
      EXPECT_TRUE(rig.mainVisible());
      EXPECT_EQ(rig.active(), "VBAProject");
      EXPECT_TRUE(rig.code("VBAProject", "Module1")->visible);
    }
    {
      SCOPED_TRACE("showing the main window fails on the retry too");
      Connected rig(workspace());
      rig.editor().faults().failAt = r.showMain;
      // The failed write ends the first run; the retry fetches MainWindow again and writes.
      rig.editor().faults().alsoFailAt = {r.showMain + 2};
      EXPECT_THROW(run(rig), automation::Failure);
      EXPECT_FALSE(rig.mainVisible());
    }
    {
      SCOPED_TRACE("reactivating fails on the retry too");
      Connected rig(workspace());
      rig.editor().faults().failAt = r.reactivate;
      rig.editor().faults().alsoFailAt = {r.reactivate + 3};  // MainWindow, Visible, then this
      EXPECT_THROW(run(rig), automation::Failure);
      EXPECT_TRUE(rig.mainVisible());
    }
  }
}

TEST(ProjectActions, ARestoreFailureAfterAFailedLoopIsNotRetried) {
  for (bool all : {false, true}) {
    SCOPED_TRACE(all ? "allprojaction" : "activeprojaction");
    Connected rig(workspace());
    rig.editor().component("VBAProject", "Class1")->hasCodeModule = false;
    // The loop fails at Class1; the first restore step to fail then ends the call.
    size_t from = rig.mark();
    {
      Connected probe(workspace());
      probe.editor().component("VBAProject", "Class1")->hasCodeModule = false;
      bool flag = true;
      all ? probe.addin->allprojaction(flag) : probe.addin->activeprojaction(flag);
      const auto& log = probe.editor().calls();
      for (size_t i = from; i < log.size(); ++i)
        if (log[i].describe() == Reactivate) rig.editor().faults().failAt = static_cast<int64_t>(i + 1);
    }
    bool flag = true;
    EXPECT_THROW(all ? rig.addin->allprojaction(flag) : rig.addin->activeprojaction(flag), automation::Failure);
    EXPECT_EQ(rig.count(from, "VBE", "MainWindow"), 2u) << "hidden once, shown once, no retry";
    EXPECT_TRUE(rig.mainVisible());
  }
}

TEST(ProjectActions, NoActiveProjectMakesAllProjectsFailAtReactivationAfterTheRetry) {
  Connected rig(workspace());
  rig.editor().world().activeProject = nullptr;
  size_t from = rig.mark();
  EXPECT_THROW(rig.allproj(true), automation::Failure);
  EXPECT_TRUE(rig.code("VBAProject", "Module1")->visible) << "the loop itself ran";
  EXPECT_TRUE(rig.mainVisible());
  EXPECT_EQ(rig.count(from, "VBE", "MainWindow"), 3u) << "hidden, shown, shown again on the retry";
}

// Each call of a clean run is made to fail in turn. Before the main window is hidden the failure
// reaches the caller and nothing has changed; after it the call succeeds. Either way the main
// window ends visible, the start project active, and no reference is left behind.
TEST(ProjectActionsFaultSweep, EachFailingCallLandsInItsRegime) {
  for (bool all : {false, true})
    for (bool flag : {true, false}) {
      SCOPED_TRACE(std::string(all ? "allprojaction " : "activeprojaction ") + (flag ? "open" : "close"));
      auto run = [all, flag](Connected& rig) {
        bool f = flag;
        all ? rig.addin->allprojaction(f) : rig.addin->activeprojaction(f);
      };
      std::vector<model::Call> clean;
      size_t base = 0;
      {
        Connected rig(workspace());
        base = rig.mark();
        run(rig);
        clean = rig.editor().calls();
      }
      size_t hide = 0;
      for (size_t i = base; i < clean.size() && !hide; ++i)
        if (clean[i].describe() == Hide) hide = i;
      ASSERT_GT(hide, base);

      for (size_t i = base; i < clean.size(); ++i) {
        SCOPED_TRACE("failing call " + std::to_string(i + 1) + ": " + clean[i].describe());
        Connected rig(workspace());
        const int64_t live = rig.editor().liveReferences();
        rig.editor().faults().failAt = static_cast<int64_t>(i + 1);
        if (i <= hide) {
          EXPECT_THROW(run(rig), automation::Failure);
          // Nothing but the refused hide itself was attempted.
          EXPECT_EQ(rig.writes(base), i == hide ? Lines{Hide} : Lines{});
        } else {
          EXPECT_NO_THROW(run(rig));
        }
        EXPECT_TRUE(rig.mainVisible());
        EXPECT_EQ(rig.active(), "VBAProject");
        EXPECT_EQ(rig.editor().liveReferences(), live);
      }
    }
}

TEST(ProjectActionsFaultSweep, LockedBranchFailuresReachTheCallerOnlyBeforeTheReportsList) {
  std::vector<model::Call> clean;
  size_t base = 0;
  auto locked = [] {
    auto e = workspace();
    e.setActiveProject("Locked");
    return e;
  };
  {
    Connected rig(locked());
    base = rig.mark();
    rig.activeproj(true);
    clean = rig.editor().calls();
  }
  size_t headerCount = 0;
  for (size_t i = base; i < clean.size() && !headerCount; ++i)
    if (clean[i].target == "References" && clean[i].member == "Count") headerCount = i;
  ASSERT_GT(headerCount, base);

  for (size_t i = base; i < clean.size(); ++i) {
    SCOPED_TRACE("failing call " + std::to_string(i + 1) + ": " + clean[i].describe());
    Connected rig(locked());
    const int64_t live = rig.editor().liveReferences();
    rig.editor().faults().failAt = static_cast<int64_t>(i + 1);
    bool inFileName = clean[i].target.rfind("CommandBar", 0) == 0 || clean[i].member == "CommandBars";
    bool byType = clean[i].target == "Windows" && clean[i].member == "Item";  // found by its type instead
    if (i <= headerCount && !inFileName && !byType) {
      EXPECT_THROW(rig.activeproj(true), automation::Failure);
    } else {
      EXPECT_NO_THROW(rig.activeproj(true));
    }
    EXPECT_EQ(rig.count(base, "VBE", "MainWindow"), 0u);
    EXPECT_EQ(rig.active(), "Locked");
    EXPECT_EQ(rig.editor().liveReferences(), live);
  }
}

}  // namespace
