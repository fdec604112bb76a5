#include <gtest/gtest.h>

#include "model/sample.h"
#include "support.h"

namespace {

const std::string Bar = "Tessary Ver. 1.01";
const std::string SettingKey = "vbatessary\\Settings\\DisplayOnConnect=";

struct Expected {
  const char* caption;
  const char* tooltip;
};
const Expected Buttons[6] = {
    {"Open Active Project's All Modules", "Opens all the modules\r\nexcept Document Modules"},
    {"Close Active Project's All Modules", "Close all the modules from the selected project"},
    {"Open All Modules", "Opens all the modules from all the projects\r\nexcept Document Modules"},
    {"Close All Modules", "Close all the modules from all the projects"},
    {"Open Projects", "Load selected projects"},
    {"Close Active Project", "Close selected project file"},
};

std::shared_ptr<model::ControlNode> control(model::Editor& e, int id) {
  for (auto& b : e.world().bars)
    for (auto& c : b->controls)
      if (c->id == id) return c;
  return nullptr;
}

TEST(Toolbar, TheBarHasSixCaptionButtonsInTableOrderDockedAtTheTopAndVisible) {
  Rig rig(model::sampleWorkspace());
  rig.connect();
  ASSERT_EQ(rig.editor().barCount(Bar), 1);
  auto bar = rig.bar();
  EXPECT_EQ(bar->position, 1);
  EXPECT_TRUE(bar->visible);
  ASSERT_EQ(bar->controls.size(), 6u);
  for (size_t i = 0; i < 6; ++i) {
    const auto& c = *bar->controls[i];
    EXPECT_EQ(c.caption, Buttons[i].caption) << i + 1;
    EXPECT_EQ(c.tooltip, Buttons[i].tooltip) << i + 1;
    EXPECT_EQ(c.style, 2) << i + 1;
    EXPECT_EQ(c.beginGroup, i == 0) << i + 1;
    EXPECT_EQ(c.subscriptions(), 1u) << "one subscription per button";
  }
  EXPECT_TRUE(rig.addin->FormDisplayed());
  EXPECT_EQ(rig.addin->btncaption(), "Close Active Project");
  EXPECT_EQ(control(rig.editor(), 942)->subscriptions(), 1u);
  EXPECT_TRUE(rig.h.messageBox.shown.empty());
}

TEST(Toolbar, StylesAndPositionsTravelWithTheirAutomationTypes) {
  Rig rig(model::sampleWorkspace());
  rig.connect();
  int styles = 0, tooltips = 0;
  for (const auto& c : rig.editor().calls()) {
    if (c.member == "Style") {
      ++styles;
      EXPECT_EQ(c.describe(), "CommandBarControl.Style = (I4 2)");
    }
    if (c.target == "CommandBarControls" && c.member == "Item" &&
        c.args[0].type() != automation::Value::Type::String) {
      ++tooltips;
      EXPECT_EQ(c.args[0].type(), automation::Value::Type::Int16) << c.describe();
    }
    if (c.member == "FindControl" && c.target == "CommandBar") {
      // Id 942 as a 16-bit integer; Type, Tag, Visible and Recursive left out.
      ASSERT_GE(c.args.size(), 2u);
      for (size_t i = 0; i < c.args.size(); ++i)
        EXPECT_EQ(c.args[i], i == 1 ? automation::Value::i2(942) : automation::Value::missing())
            << c.describe();
    }
  }
  EXPECT_EQ(styles, 6);
  EXPECT_EQ(tooltips, 6);
}

TEST(Toolbar, ALeftoverBarIsDeletedOnceSoExactlyOneBarRemains) {
  Rig rig(model::EditorBuilder().leftoverBar().build());
  auto old = rig.editor().bar(Bar);
  rig.connect();
  EXPECT_EQ(rig.editor().barCount(Bar), 1);
  EXPECT_NE(rig.bar(), old);
  EXPECT_EQ(rig.bar()->controls.size(), 6u);
  EXPECT_TRUE(rig.h.messageBox.shown.empty());
}

TEST(Toolbar, OnlyOneOldBarIsDeletedPerConnection) {
  Rig rig(model::EditorBuilder().leftoverBar().build());
  auto second = std::make_shared<model::BarNode>(*rig.editor().bar(Bar));
  rig.editor().world().bars.push_back(second);
  rig.connect();
  EXPECT_EQ(rig.editor().barCount(Bar), 2);
  EXPECT_TRUE(rig.h.messageBox.shown.empty());
}

TEST(Toolbar, WithoutToolsBarOrReferencesControlTheButtonsWorkAndTheEditorKeepsItsDialog) {
  for (bool noTools : {true, false}) {
    model::EditorBuilder b;
    b.project("VBAProject", "Book.xlsm").component("Module1", 1);
    if (noTools)
      b.withoutToolsBar();
    else
      b.withoutReferencesControl();
    auto e = b.build();
    // The References command elsewhere than on "Tools": not the one the add-in takes over.
    auto elsewhere = e.world().bars[0]->addControl(942, "R&eferences...");
    elsewhere->builtIn = "References";
    Rig rig(e);
    rig.connect();

    EXPECT_TRUE(rig.h.messageBox.shown.empty()) << noTools;
    ASSERT_NE(rig.bar(), nullptr);
    EXPECT_EQ(rig.bar()->controls.size(), 6u);
    EXPECT_TRUE(rig.bar()->visible);
    EXPECT_TRUE(rig.addin->FormDisplayed());
    EXPECT_TRUE(rig.addin->CmdReferenceSet().empty());
    if (!noTools) {
      EXPECT_TRUE(rig.addin->c().empty()) << "FindControl found nothing";
    }

    auto refs = rig.editor().click(elsewhere);
    EXPECT_TRUE(refs.builtInRan);
    EXPECT_EQ(rig.editor().world().referencesDialogOpened, 1);

    auto click = rig.editor().click(Bar, 1);
    EXPECT_TRUE(click.failures.empty());
    EXPECT_TRUE(rig.editor().component("VBAProject", "Module1")->codeWindow->visible);
  }
}

TEST(Toolbar, AFailureAddingTheThirdButtonIsShownOnceAndLeavesTheFirstTwo) {
  size_t third = 0;
  {
    Rig clean(model::sampleWorkspace());
    clean.connect();
    int adds = 0;
    const auto& calls = clean.editor().calls();
    for (size_t i = 0; i < calls.size() && !third; ++i)
      if (calls[i].target == "CommandBarControls" && calls[i].member == "Add" && ++adds == 3)
        third = i + 1;
    ASSERT_GT(third, 0u);
  }
  Rig rig(model::sampleWorkspace());
  rig.editor().faults().failCall(static_cast<int64_t>(third),
                                 "Method 'Add' of object 'CommandBarControls' failed");
  rig.connect();
  EXPECT_EQ(rig.h.messageBox.shown,
            std::vector<std::string>{"Method 'Add' of object 'CommandBarControls' failed"});
  auto bar = rig.bar();
  ASSERT_NE(bar, nullptr);
  ASSERT_EQ(bar->controls.size(), 2u);
  EXPECT_EQ(bar->controls[0]->caption, Buttons[0].caption);
  EXPECT_EQ(bar->controls[1]->caption, Buttons[1].caption);
  EXPECT_TRUE(bar->controls[0]->tooltip.empty()) << "tooltips come after all buttons";
  EXPECT_FALSE(bar->visible);
  EXPECT_NE(bar->position, 1);
  EXPECT_FALSE(rig.addin->FormDisplayed());
  EXPECT_TRUE(rig.addin->CmdReferenceSet().empty()) << "the hook is not made";
  EXPECT_TRUE(rig.editor().click(control(rig.editor(), 942)).builtInRan);

  rig.disconnect();
  EXPECT_EQ(rig.h.settings.writes, std::vector<std::string>{SettingKey + "0"});
  EXPECT_EQ(rig.editor().barCount(Bar), 0);
  rig.unload();
  EXPECT_EQ(rig.editor().liveReferences(), 0);
}

TEST(Toolbar, CmdbaraddNamesTheNewBarAfterItsArgumentButDeletesTheFixedName) {
  Rig rig(model::EditorBuilder().leftoverBar().build());
  rig.connect(2);  // external: VBInstance only
  automation::Value other("Other Bar");
  rig.addin->cmdbaradd(other);
  EXPECT_EQ(rig.editor().barCount(Bar), 0);
  ASSERT_NE(rig.editor().bar("Other Bar"), nullptr);
  EXPECT_TRUE(rig.editor().bar("Other Bar")->controls.empty());
}

TEST(Toolbar, CmdbarbtnaddPutsItsButtonsOnTheFixedBarWhateverTheArgument) {
  Rig rig(model::sampleWorkspace());
  rig.connect(2);
  automation::Value fixed(Bar), other("Other Bar");
  rig.addin->cmdbaradd(fixed);
  rig.addin->cmdbarbtnadd(other);
  EXPECT_EQ(rig.editor().bar("Other Bar"), nullptr);
  ASSERT_NE(rig.bar(), nullptr);
  EXPECT_EQ(rig.bar()->controls.size(), 6u);
  EXPECT_EQ(rig.addin->btncaption(), "Close Active Project");
}

}  // namespace
