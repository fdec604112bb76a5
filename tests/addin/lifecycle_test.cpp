#include <gtest/gtest.h>

#include "model/sample.h"
#include "support.h"

namespace {

const std::string Bar = "Tessary Ver. 1.01";
const std::string SettingKey = "vbatessary\\Settings\\DisplayOnConnect=";

TEST(Lifecycle, ModesZeroOneThreeBuildTheBarAndDisconnectionRecordsOne) {
  for (int mode : {0, 1, 3}) {
    Rig rig(model::sampleWorkspace());
    rig.connect(mode);
    ASSERT_NE(rig.bar(), nullptr) << "mode " << mode;
    EXPECT_TRUE(rig.addin->FormDisplayed());
    EXPECT_TRUE(rig.h.messageBox.shown.empty());

    rig.disconnect();
    EXPECT_EQ(rig.bar(), nullptr) << "the bar is removed at disconnection";
    EXPECT_FALSE(rig.addin->FormDisplayed());
    EXPECT_EQ(rig.h.settings.writes, std::vector<std::string>{SettingKey + "1"});
    EXPECT_TRUE(rig.addin->VBInstance().empty());
  }
}

TEST(Lifecycle, ExternalModeBuildsNothingAndRecordsZero) {
  Rig rig(model::sampleWorkspace());
  rig.connect(2);
  EXPECT_FALSE(rig.addin->VBInstance().empty());
  EXPECT_EQ(rig.bar(), nullptr);
  rig.disconnect();
  EXPECT_EQ(rig.h.settings.writes, std::vector<std::string>{SettingKey + "0"});
  EXPECT_TRUE(rig.h.messageBox.shown.empty()) << "a missing bar at disconnection is silent";
}

TEST(Lifecycle, ExternalModeStillDeletesABarLeftByAnEarlierSession) {
  Rig rig(model::EditorBuilder().leftoverBar().build());
  rig.connect(2);
  ASSERT_EQ(rig.editor().barCount(Bar), 1);
  rig.disconnect();
  EXPECT_EQ(rig.editor().barCount(Bar), 0);
}

TEST(Lifecycle, ApplicationThatIsNotTheEditorShowsAMessageAndBuildsNothing) {
  Rig rig(model::EditorBuilder().notAnEditor().build());
  rig.connect(0);
  ASSERT_EQ(rig.h.messageBox.shown.size(), 1u);
  EXPECT_EQ(rig.h.messageBox.shown[0], "The Application object is not the VBA editor (VBE).");
  EXPECT_EQ(rig.bar(), nullptr);
  rig.disconnect();
  EXPECT_EQ(rig.h.settings.writes, std::vector<std::string>{SettingKey + "0"});
}

TEST(Lifecycle, UserDeletedTheBarBeforeUnloadStillReleasesEverythingSilently) {
  Rig rig(model::sampleWorkspace());
  rig.connect();
  rig.editor().world().bars.erase(
      std::find(rig.editor().world().bars.begin(), rig.editor().world().bars.end(), rig.bar()));
  rig.disconnect();
  EXPECT_TRUE(rig.h.messageBox.shown.empty());
  EXPECT_EQ(rig.h.settings.writes, std::vector<std::string>{SettingKey + "1"});
  for (int n = 1; n <= 6; ++n) EXPECT_TRUE(rig.addin->Btns(n).empty());
  EXPECT_TRUE(rig.addin->c().empty());
  EXPECT_TRUE(rig.addin->VBInstance().empty());
}

TEST(Lifecycle, SettingsStoreFailureDoesNotStopTheReleases) {
  Rig rig(model::sampleWorkspace());
  rig.connect();
  rig.h.settings.failWrites = true;
  rig.disconnect();
  EXPECT_EQ(rig.bar(), nullptr);
  EXPECT_FALSE(rig.addin->FormDisplayed());
  EXPECT_TRUE(rig.addin->VBInstance().empty());
  rig.unload();
  EXPECT_EQ(rig.editor().liveReferences(), 0);
}

TEST(Lifecycle, ButtonsStopReactingAndReferencesWorksAgainAfterDisconnection) {
  Rig rig(model::sampleWorkspace());
  rig.connect();
  auto button = rig.bar()->controls[0];
  auto references = rig.editor().world().bars[2]->controls[0];
  ASSERT_EQ(references->id, 942);
  EXPECT_TRUE(rig.editor().click(references).cancelled) << "hooked while connected";

  rig.disconnect();
  EXPECT_TRUE(button->subscriptions() == 0);
  auto after = rig.editor().click(references);
  EXPECT_FALSE(after.cancelled);
  EXPECT_EQ(rig.editor().world().referencesDialogOpened, 1) << "the editor's own dialog opens again";
}

// The add-in must hold nothing of the editor once unloaded: a leaked reference keeps Office alive.
TEST(Lifecycle, NoReferenceOutlivesDisconnectionAndRelease) {
  Rig rig(model::sampleWorkspace());
  rig.connect();
  bool h = false, cancel = false;
  rig.editor().click("Tessary Ver. 1.01", 1);
  (void)h, (void)cancel;
  EXPECT_GT(rig.editor().liveReferences(), 0);
  rig.disconnect();
  EXPECT_EQ(rig.editor().liveReferences(), 0) << "disconnection releases every member";
  rig.unload();
  EXPECT_EQ(rig.editor().liveReferences(), 0);
}

TEST(Lifecycle, DestroyingAConnectedAddinReleasesEverything) {
  Rig rig(model::sampleWorkspace());
  rig.connect();
  rig.unload();
  EXPECT_EQ(rig.editor().liveReferences(), 0);
  EXPECT_TRUE(rig.editor().world().bars[2]->controls[0]->subscriptions() == 0);
}

}  // namespace
