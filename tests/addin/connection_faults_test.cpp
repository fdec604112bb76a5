#include <gtest/gtest.h>

#include "support.h"

namespace {

const std::string Bar = "Tessary Ver. 1.01";

model::Editor workspace() {
  return model::EditorBuilder().leftoverBar().project("VBAProject", "Book1.xlsm").component("Module1", 1).build();
}

bool isCall(const model::Call& c, const char* target, const char* member) {
  return c.target == target && c.member == member;
}

enum class Regime { Reported, OlderBarDeletion, ReferencesHook };

// Which calls of a clean connection have their failure absorbed: deleting an older bar, and the
// whole References hook. Every other failure must reach the user in the message box.
std::vector<Regime> regimes(const std::vector<model::Call>& log) {
  std::vector<Regime> absorbed(log.size(), Regime::Reported);
  size_t secondBars = 0, seen = 0;
  for (size_t i = 0; i < log.size() && !secondBars; ++i)
    if (isCall(log[i], "VBE", "CommandBars") && ++seen == 2) secondBars = i;
  for (size_t i = 0; i < secondBars; ++i) absorbed[i] = Regime::OlderBarDeletion;

  for (size_t i = 1; i < log.size(); ++i) {
    if (isCall(log[i], "CommandBars", "Item") && log[i].args.at(0) == automation::Value("Tools")) {
      for (size_t j = i - 1; j < log.size() && !(j > i && isCall(log[j], "VBE", "CommandBars")); ++j)
        absorbed[j] = Regime::ReferencesHook;
      break;
    }
  }
  return absorbed;
}

TEST(ConnectionFaultSweep, EveryFailingCallIsReportedOnceOrAbsorbedAndNothingLeaks) {
  std::vector<model::Call> clean;
  {
    Rig rig(workspace());
    rig.connect();
    ASSERT_TRUE(rig.addin->FormDisplayed());
    clean = rig.editor().calls();
  }
  auto regime = regimes(clean);
  ASSERT_GT(clean.size(), 40u);
  int reported = 0, swallowed = 0;

  for (size_t k = 1; k <= clean.size(); ++k) {
    SCOPED_TRACE("failing call " + std::to_string(k) + ": " + clean[k - 1].describe());
    Rig rig(workspace());
    std::string description = "Injected failure at call " + std::to_string(k);
    rig.editor().faults().failCall(static_cast<int64_t>(k), description);
    rig.connect();

    const Regime r = regime[k - 1];
    if (r != Regime::Reported) {
      ++swallowed;
      EXPECT_TRUE(rig.h.messageBox.shown.empty());
      EXPECT_TRUE(rig.addin->FormDisplayed());
      ASSERT_NE(rig.bar(), nullptr);
      // When the older bar survives, the buttons land on the first bar of that name.
      EXPECT_EQ(rig.bar()->controls.size(), r == Regime::ReferencesHook ? 6u : 7u);
    } else {
      ++reported;
      EXPECT_EQ(rig.h.messageBox.shown, std::vector<std::string>{description});
      EXPECT_FALSE(rig.addin->FormDisplayed());
    }

    rig.disconnect();
    EXPECT_EQ(rig.h.settings.writes.back(),
              std::string("vbatessary\\Settings\\DisplayOnConnect=") + (r == Regime::Reported ? "0" : "1"));
    // Disconnection deletes one bar by name: a bar built in part goes, an undeletable older one
    // (the one whose deletion failed) can stay.
    EXPECT_LE(rig.editor().barCount(Bar), r == Regime::OlderBarDeletion ? 1 : 0);
    rig.unload();
    EXPECT_EQ(rig.editor().liveReferences(), 0);
  }
  EXPECT_GT(reported, 0);
  EXPECT_GT(swallowed, 0);
}

TEST(ConnectionFaultSweep, EveryFailingCallOfDisconnectionIsSkippedAndNothingLeaks) {
  size_t n = 0;
  {
    Rig rig(workspace());
    rig.connect();
    size_t before = rig.editor().calls().size();
    rig.disconnect();
    n = rig.editor().calls().size() - before;
  }
  ASSERT_GT(n, 0u);
  for (size_t k = 1; k <= n; ++k) {
    Rig rig(workspace());
    rig.connect();
    rig.editor().faults().failCall(static_cast<int64_t>(k));
    rig.disconnect();
    EXPECT_TRUE(rig.h.messageBox.shown.empty());
    EXPECT_TRUE(rig.addin->VBInstance().empty());
    for (int b = 1; b <= 6; ++b) EXPECT_TRUE(rig.addin->Btns(b).empty());
    rig.unload();
    EXPECT_EQ(rig.editor().liveReferences(), 0) << "failing call " << k;
  }
}

}  // namespace
