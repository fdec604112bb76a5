#include <gtest/gtest.h>

#include "model/hosts.h"
#include "support.h"

namespace {

using model::HostBuilder;
using model::HostKind;

const std::string Bar = "Tessary Ver. 1.01";

model::Editor workspace() {
  return model::EditorBuilder()
      .host("Microsoft Excel")
      .project("Budget", "Budget.xlsm")
      .component("ThisWorkbook", 100)
      .component("Module1", 1)
      .component("Entry", 3)
      .project("Tools", "Tools.xlam")
      .component("Module2", 1)
      .active("Budget")
      .build();
}

// The editor connected with its bar, and Excel running with the active project's file open.
struct ClickRig {
  ClickRig() : ClickRig(workspace()) {}
  explicit ClickRig(const model::Editor& e)
      : host(HostBuilder(e, HostKind::Excel).file("Budget.xlsm").file("Tools.xlam").build()),
        rig(e) {
    host.install(rig.h.hosts);
    rig.connect();
  }
  model::Host host;
  Rig rig;

  model::ClickResult click(int position) { return rig.editor().click(Bar, position); }
  bool code(const std::string& project, const std::string& component) {
    return rig.editor().component(project, component)->codeWindow->visible;
  }
  void showAllCode() {
    for (auto& p : rig.editor().world().projects)
      for (auto& c : p->components) c->codeWindow->visible = true;
  }
  std::shared_ptr<model::ControlNode> references() {
    for (auto& b : rig.editor().world().bars)
      for (auto& c : b->controls)
        if (c->id == 942) return c;
    return nullptr;
  }
};

TEST(Dispatch, ButtonsOneToFourOpenOrCloseTheActiveOrEveryProject) {
  {
    ClickRig r;
    auto result = r.click(1);
    EXPECT_TRUE(result.failures.empty());
    EXPECT_TRUE(r.code("Budget", "Module1"));
    EXPECT_TRUE(r.code("Budget", "Entry"));
    EXPECT_FALSE(r.code("Budget", "ThisWorkbook")) << "document modules stay closed";
    EXPECT_FALSE(r.code("Tools", "Module2")) << "only the active project";
  }
  {
    ClickRig r;
    r.showAllCode();
    r.click(2);
    EXPECT_FALSE(r.code("Budget", "Module1"));
    EXPECT_TRUE(r.code("Tools", "Module2"));
  }
  {
    ClickRig r;
    r.click(3);
    EXPECT_TRUE(r.code("Budget", "Module1"));
    EXPECT_TRUE(r.code("Tools", "Module2"));
  }
  {
    ClickRig r;
    r.showAllCode();
    r.click(4);
    EXPECT_FALSE(r.code("Budget", "Module1"));
    EXPECT_FALSE(r.code("Tools", "Module2"));
  }
}

TEST(Dispatch, ButtonsOneToFourNeverReachTheHost) {
  for (int n = 1; n <= 4; ++n) {
    ClickRig r;
    auto result = r.click(n);
    EXPECT_FALSE(result.builtInRan);
    EXPECT_TRUE(r.rig.h.hosts.lookups.empty()) << n;
  }
}

TEST(Dispatch, ButtonFiveShowsTheOpenDialogAndButtonSixClosesTheFile) {
  {
    ClickRig r;
    auto result = r.click(5);
    EXPECT_TRUE(result.failures.empty());
    EXPECT_EQ(r.host.shown(1), 1);
    EXPECT_TRUE(r.host.isOpen("Budget.xlsm"));
    EXPECT_FALSE(r.code("Budget", "Module1"));
  }
  {
    ClickRig r;
    auto result = r.click(6);
    EXPECT_TRUE(result.failures.empty());
    EXPECT_FALSE(r.host.isOpen("Budget.xlsm"));
    EXPECT_TRUE(r.host.isOpen("Tools.xlam"));
    EXPECT_EQ(r.host.shown(1), 0);
  }
}

TEST(Dispatch, AMovedButtonRunsTheActionOfItsNewPosition) {
  ClickRig r;
  r.rig.editor().move(Bar, 6, 1);
  ASSERT_EQ(r.rig.bar()->controls[0]->caption, "Close Active Project");
  r.click(1);
  EXPECT_TRUE(r.host.isOpen("Budget.xlsm")) << "not the close action of its caption";
  EXPECT_TRUE(r.code("Budget", "Module1")) << "the open action of position 1";
  r.click(2);  // the old first button, now second
  EXPECT_FALSE(r.code("Budget", "Module1"));
}

TEST(Dispatch, ASubscribedButtonAtPositionSevenDoesNothing) {
  ClickRig r;
  r.rig.bar()->addControl(1, "Extra");
  r.rig.editor().move(Bar, 6, 7);
  r.rig.editor().world().log.clear();
  auto result = r.click(7);
  EXPECT_TRUE(result.failures.empty());
  // Nothing but the clicked control (and, where Office's events tell clicks apart, its bar) is read.
  ASSERT_FALSE(r.rig.editor().calls().empty());
  EXPECT_EQ(r.rig.editor().calls().back().describe(), "CommandBarControl.Index()");
  for (const auto& c : r.rig.editor().calls())
    EXPECT_TRUE(c.target == "CommandBarControl" || c.describe() == "CommandBar.Name()") << c.describe();
  EXPECT_TRUE(r.host.isOpen("Budget.xlsm"));
}

TEST(Dispatch, CmdclickComparesNumbersOfEitherWidth) {
  for (auto four : {automation::Value::i4(4), automation::Value::i2(4)}) {
    ClickRig r;
    r.showAllCode();
    auto id = four;
    r.rig.addin->cmdclick(id);
    EXPECT_FALSE(r.code("Budget", "Module1")) << four.describe();
    EXPECT_FALSE(r.code("Tools", "Module2")) << four.describe();
    EXPECT_EQ(id, four) << "the argument is not changed";
  }
}

TEST(Dispatch, CmdclickWithNoTableValueDoesNothingAtAll) {
  for (auto v : {automation::Value::i2(0), automation::Value::i4(7), automation::Value::i2(-1),
                 automation::Value()}) {
    ClickRig r;
    r.rig.editor().world().log.clear();
    EXPECT_NO_THROW(r.rig.addin->cmdclick(v)) << v.describe();
    EXPECT_TRUE(r.rig.editor().calls().empty()) << v.describe();
  }
}

TEST(Dispatch, FailuresTravelBackToTheEditorAsTheClickResult) {
  {
    ClickRig r;
    r.rig.editor().faults().failMember("CommandBarControl.Index", "Index unavailable");
    auto result = r.click(6);
    EXPECT_EQ(result.failures, std::vector<std::string>{"Index unavailable"});
    EXPECT_TRUE(r.host.isOpen("Budget.xlsm"));
  }
  {
    ClickRig r;
    r.host.state().running = false;
    auto result = r.click(6);
    ASSERT_EQ(result.failures.size(), 1u);
    EXPECT_EQ(result.failures[0].rfind("ActiveX component can't create object", 0), 0u)
        << result.failures[0];
    EXPECT_TRUE(r.rig.h.messageBox.shown.empty()) << "the handlers show nothing";
  }
}

TEST(ReferencesTakeover, ShowsTheObjectBrowserWritesTheReportAndNeverOpensTheDialog) {
  ClickRig r;
  auto result = r.rig.editor().click(r.references());
  EXPECT_TRUE(result.cancelled);
  EXPECT_FALSE(result.builtInRan);
  EXPECT_TRUE(result.failures.empty());
  EXPECT_EQ(r.rig.editor().world().referencesDialogOpened, 0);
  EXPECT_TRUE(r.rig.editor().objectBrowser()->visible);
  EXPECT_NE(r.rig.editor().immediate()->text.find("References set in Budget.xlsm - [ Budget ] : 0"),
            std::string::npos)
      << r.rig.editor().immediate()->text;
}

TEST(ReferencesTakeover, WithoutAnObjectBrowserNoReportAndTheFailureGoesToTheEditor) {
  for (bool removed : {true, false}) {
    ClickRig r;
    auto& windows = r.rig.editor().world().windows;
    if (removed)
      std::erase_if(windows, [](auto& w) { return w->caption == "Object Browser"; });
    else
      r.rig.editor().objectBrowser()->refuse = true;
    auto result = r.rig.editor().click(r.references());
    EXPECT_TRUE(result.cancelled) << "set before anything could fail";
    EXPECT_FALSE(result.builtInRan);
    EXPECT_EQ(result.failures.size(), 1u);
    EXPECT_EQ(r.rig.editor().world().referencesDialogOpened, 0);
    EXPECT_TRUE(r.rig.editor().immediate()->text.empty());
    EXPECT_TRUE(r.rig.h.keyboard.sent.empty());
  }
}

// Every click, with each of its calls failing in turn: at most one failure reaches the editor,
// the References dialog never opens while subscribed, and after unloading nothing is held.
TEST(ClickFaultSweep, EveryCommandHoldsItsRegimeAndLeaksNothing) {
  for (int button = 1; button <= 7; ++button) {
    auto run = [&](ClickRig& r) {
      return button == 7 ? r.rig.editor().click(r.references()) : r.click(button);
    };
    size_t n;
    {
      ClickRig clean;
      clean.rig.editor().world().log.clear();
      auto result = run(clean);
      ASSERT_TRUE(result.failures.empty()) << button;
      n = clean.rig.editor().calls().size();
      ASSERT_GT(n, 1u);
    }
    for (size_t k = 1; k <= n; ++k) {
      ClickRig r;
      r.rig.editor().faults().failCall(static_cast<int64_t>(k), "fault");
      auto result = run(r);
      const std::string at = "button " + std::to_string(button) + " call " + std::to_string(k);
      EXPECT_LE(result.failures.size(), 1u) << at;
      if (button == 7) {
        EXPECT_TRUE(result.cancelled) << at;
        EXPECT_EQ(r.rig.editor().world().referencesDialogOpened, 0) << at;
      }
      EXPECT_TRUE(r.rig.h.messageBox.shown.empty()) << at;
      r.rig.editor().faults().clear();
      r.rig.disconnect();
      r.rig.unload();
      EXPECT_EQ(r.rig.editor().liveReferences(), 0) << at;
    }
  }
}

}  // namespace
