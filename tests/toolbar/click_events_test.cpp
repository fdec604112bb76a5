#include <gtest/gtest.h>

#include "model/hosts.h"
#include "model/sample.h"
#include "support.h"
#include "toolbar/click_route.h"

namespace {

const std::string Bar = "Tessary Ver. 1.01";

model::Editor editorOf(int bitness) {
  model::Editor e = model::sampleWorkspace();
  e.world().bitness = bitness;
  return e;
}

int count(const model::Editor& e, const std::string& described) {
  int n = 0;
  for (const auto& c : e.calls()) n += c.describe() == described;
  return n;
}

bool calledEvents(const model::Editor& e) {
  for (const auto& c : e.calls())
    if (c.member == "Events" || c.target == "Events" || c.target == "CommandBarEvents") return true;
  return false;
}

TEST(ClickEvents, In64BitOfficeEachClickRunsOneCommandOnceAndForeignButtonsRunNothing) {
  Rig rig(editorOf(64));
  auto& e = rig.editor();
  auto untagged = e.addForeignButton("");
  auto sameTag = e.addForeignButton(toolbar::ClickRoute::tagFor(1));
  rig.connect();
  for (int position = 1; position <= 6; ++position)
    EXPECT_EQ(rig.bar()->controls[position - 1]->tag, "VBATessary.Connect." + std::to_string(position));

  e.world().log.clear();
  auto result = e.click(Bar, 1);
  EXPECT_TRUE(result.failures.empty());
  EXPECT_EQ(count(e, "CommandBarControl.Index()"), 1) << "one command for one click";
  EXPECT_TRUE(e.component("VBAProject", "Module1")->codeWindow->visible);

  for (const auto& foreign : {untagged, sameTag}) {
    e.world().log.clear();
    e.component("VBAProject", "Module1")->codeWindow->visible = false;
    auto r = e.click(foreign);
    EXPECT_TRUE(r.failures.empty());
    EXPECT_FALSE(r.cancelled) << "CancelDefault stays as it came";
    EXPECT_EQ(count(e, "CommandBarControl.Index()"), 0) << "tag " << foreign->tag;
    EXPECT_FALSE(e.component("VBAProject", "Module1")->codeWindow->visible);
  }
}

TEST(ClickEvents, AButtonsSinkAcceptsOnlyItsOwnPositionsTag) {
  using toolbar::ClickRoute;
  const struct {
    const char* tag;
    int position;
    bool ours;
  } rows[] = {{"VBATessary.Connect.5", 5, true},  {"VBATessary.Connect.5", 6, false},
              {"VBATessary.Connect.50", 5, false}, {"VBATessary.Connect5", 5, false},
              {"VBATessary.Connect.", 5, false},   {"", 1, false},
              {"XBATessary.Connect.1", 1, false},  {"VBATessary.Connect.1 ", 1, false}};
  for (const auto& r : rows) EXPECT_EQ(ClickRoute::isTagOf(r.tag, r.position), r.ours) << r.tag << " at " << r.position;
  for (int p = 1; p <= 6; ++p) EXPECT_TRUE(ClickRoute::isTagOf(ClickRoute::tagFor(p), p));
}

TEST(ClickEvents, A64BitHostIsNeverAskedForVBEEventsAndEveryCommandStillWorks) {
  Rig rig(editorOf(64));
  model::Host host = model::HostBuilder(rig.editor(), model::HostKind::Excel).file("Budget.xlsm").build();
  host.install(rig.h.hosts);
  auto& e = rig.editor();
  rig.connect();
  ASSERT_TRUE(rig.addin->FormDisplayed());
  auto references = e.world().bars[2]->controls[0];
  ASSERT_EQ(references->id, 942);
  EXPECT_EQ(references->buttonSubscribers.size(), 1u);
  EXPECT_EQ(references->tag, "") << "the editor's own control keeps its Tag";

  for (int position = 1; position <= 5; ++position) EXPECT_TRUE(e.click(Bar, position).failures.empty()) << position;
  auto refs = e.click(references);
  EXPECT_TRUE(refs.cancelled);
  EXPECT_FALSE(refs.builtInRan);
  EXPECT_NE(e.immediate()->text.find("Microsoft Scripting Runtime"), std::string::npos);
  EXPECT_TRUE(e.click(Bar, 6).failures.empty());
  EXPECT_TRUE(host.closed().size() == 1);

  rig.disconnect();
  EXPECT_FALSE(calledEvents(e));
  EXPECT_TRUE(e.world().crashes.empty());
  EXPECT_EQ(references->subscriptions(), 0u);
  EXPECT_FALSE(e.click(references).cancelled) << "the editor's dialog is back after disconnection";
  rig.unload();
  EXPECT_EQ(e.liveReferences(), 0);
}

TEST(ClickEvents, The32BitRouteKeepsTheEditorsEventsAndSetsNoTag) {
  Rig rig(editorOf(32));
  rig.connect();
  auto& e = rig.editor();
  EXPECT_EQ(count(e, "VBE.Events()"), 7);
  for (const auto& c : e.calls()) EXPECT_NE(c.member, "Tag") << c.describe();
  for (const auto& c : rig.bar()->controls) EXPECT_EQ(c->subscribers.size(), 1u);
  e.world().log.clear();
  e.click(Bar, 2);
  EXPECT_EQ(e.calls().front().describe(), "CommandBarControl.Index()") << "no check before the command";
}

// The model stands for a 64-bit host faithfully only if it notices the call that crashes one.
TEST(ClickEvents, TheModelOfA64BitHostRecordsVBEEventsAsACrash) {
  model::Harness h(editorOf(64));
  auto services = h.services();
  services.clicks = automation::ClickEvents::EditorControl;
  addin::Connect addin(services);
  addin.AddinInstance_OnConnection(h.editor.vbe(), 0);
  EXPECT_FALSE(h.editor.world().crashes.empty());
  EXPECT_FALSE(h.messageBox.shown.empty());
  addin.AddinInstance_OnDisconnection(1);
}

}  // namespace
