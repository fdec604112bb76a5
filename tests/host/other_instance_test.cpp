#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "host_rig.h"

// The running-object table holds the instance of a program started first. When that is another
// instance than the one whose editor this is, the host commands leave it alone.
namespace {

using model::HostBuilder;
using model::HostKind;
using testing::ElementsAre;

struct Case {
  HostKind kind;
  std::string file;
};

const Case Cases[] = {{HostKind::Excel, "Budget.xlsm"},
                      {HostKind::Word, "Report.docm"},
                      {HostKind::Access, "Orders.accdb"},
                      {HostKind::PowerPoint, "Deck.pptm"}};

HostRig rigFor(const Case& c, bool otherProcess) {
  auto e = hostedEditor(model::displayNameOf(c.kind), c.file);
  HostBuilder b(e, c.kind);
  // Word also has the add-in and active document its fallback would close.
  b.file(c.file, false).addIn(c.file);
  if (otherProcess) b.inAnotherProcess();
  return HostRig(e, b.build());
}

std::string refusal(HostKind kind) {
  return std::string("The running ") + model::displayNameOf(kind) +
         " found is another instance, not the one whose editor this is: nothing was changed.";
}

template <class Command>
void expectRefused(HostRig& r, HostKind kind, Command command) {
  std::string progId = model::progIdOf(kind);
  try {
    command();
    ADD_FAILURE() << progId << ": the command succeeded";
  } catch (const automation::Failure& f) {
    EXPECT_EQ(f.description(), refusal(kind));
    EXPECT_EQ(f.code(), automation::errors::CantCreateObject);
  }
  // The lookup, and not one call after it: neither on the host nor on the editor.
  EXPECT_THAT(r.fromLookup(), ElementsAre(lookupCall(progId.c_str()))) << progId;
  EXPECT_TRUE(r.host.isOpen(r.host.state().files.front().name)) << progId;
  EXPECT_TRUE(r.host.closed().empty()) << progId;
  EXPECT_TRUE(r.host.visible()) << progId;
  EXPECT_TRUE(r.host.state().visibleWrites.empty()) << progId;
  EXPECT_TRUE(r.host.addInInstalled(r.host.state().files.front().name)) << progId;
  EXPECT_EQ(r.host.state().docmdCloses, 0) << progId;
  EXPECT_TRUE(r.rig.h.messageBox.shown.empty()) << progId;
  EXPECT_FALSE(r.leaked()) << progId;
}

TEST(OtherInstance, CloseLeavesTheFileOfAnotherInstanceOpenAndSaysWhy) {
  for (const auto& c : Cases) {
    auto r = rigFor(c, true);
    expectRefused(r, c.kind, [&] { r.addin().closewb(); });
  }
}

TEST(OtherInstance, OpenNeitherHidesNorShowsAnotherInstanceAndSkipsTheRecovery) {
  for (const auto& c : Cases) {
    auto r = rigFor(c, true);
    r.editor().world().mainWindow->visible = false;
    expectRefused(r, c.kind, [&] { r.addin().UseFileDialogOpen(); });
    EXPECT_EQ(r.host.shown(1) + r.host.shown(80) + r.host.executed(2937) + r.host.executed(23), 0);
    EXPECT_FALSE(r.editor().world().mainWindow->visible) << "the editor is left as it was";
  }
}

TEST(OtherInstance, TheFailureReachesTheEditorFromTheButtons) {
  for (int button : {5, 6}) {
    auto e = model::EditorBuilder()
                 .host("Microsoft Excel")
                 .project("VBAProject", "Budget.xlsm")
                 .component("Module1", 1)
                 .build();
    auto host = HostBuilder(e, HostKind::Excel).file("Budget.xlsm").inAnotherProcess().build();
    Rig rig(e);
    host.install(rig.h.hosts);
    rig.connect(0);
    auto result = rig.editor().click("Tessary Ver. 1.01", button);
    EXPECT_THAT(result.failures, ElementsAre(refusal(HostKind::Excel))) << button;
    EXPECT_TRUE(host.isOpen("Budget.xlsm"));
    EXPECT_TRUE(host.state().visibleWrites.empty());
    rig.disconnect();
    rig.unload();
    EXPECT_EQ(rig.editor().liveReferences(), 0);
  }
}

// The editor's own instance, the usual case: the same file is closed and the same dialog shown.
TEST(OtherInstance, TheEditorsOwnInstanceIsDrivenAsAlways) {
  for (const auto& c : {Cases[0], Cases[1]}) {
    auto r = rigFor(c, false);
    r.addin().closewb();
    EXPECT_EQ(r.host.closed(), std::vector<std::string>{c.file});
    auto o = rigFor(c, false);
    o.addin().UseFileDialogOpen();
    EXPECT_EQ(o.host.state().visibleWrites, (std::vector<bool>{false, true}));
    EXPECT_EQ(o.host.shown(c.kind == HostKind::Excel ? 1 : 80), 1);
  }
}

}  // namespace
