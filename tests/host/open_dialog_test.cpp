#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "host_rig.h"

namespace {

using model::HostBuilder;
using model::HostKind;
using testing::ElementsAre;

const std::string MainWindowShown = "Window.Visible = (Bool True)";

HostRig rigFor(HostKind kind, std::function<void(HostBuilder&)> shape = {}) {
  auto e = hostedEditor(model::displayNameOf(kind), "Book.xlsm");
  HostBuilder b(e, kind);
  if (shape) shape(b);
  return HostRig(e, b.build());
}

TEST(OpenDialog, ExcelHidesItselfShowsDialogOneAndShowsBothWindowsAgain) {
  auto r = rigFor(HostKind::Excel);
  r.editor().world().mainWindow->visible = false;
  r.addin().UseFileDialogOpen();
  EXPECT_THAT(
      r.fromLookup(),
      ElementsAre(lookupCall("Excel.Application"), "Excel.Application.Application()",
                  "Excel.Application.Visible = (Bool False)", "Excel.Application.dialogs(I2 1)",
                  "Dialog.Show()", "Excel.Application.Visible = (Bool True)", "VBE.MainWindow()",
                  MainWindowShown));
  EXPECT_EQ(r.host.shown(1), 1);
  EXPECT_EQ(r.host.state().visibleWrites, (std::vector<bool>{false, true}));
  EXPECT_TRUE(r.editor().world().mainWindow->visible);
  EXPECT_FALSE(r.leaked());
}

TEST(OpenDialog, WordDoesTheSameWithDialogEighty) {
  auto r = rigFor(HostKind::Word);
  r.addin().UseFileDialogOpen();
  EXPECT_THAT(
      r.fromLookup(),
      ElementsAre(lookupCall("Word.Application"), "Word.Application.Application()",
                  "Word.Application.Visible = (Bool False)", "Word.Application.dialogs(I2 80)",
                  "Dialog.Show()", "Word.Application.Visible = (Bool True)", "VBE.MainWindow()",
                  MainWindowShown));
  EXPECT_EQ(r.host.shown(80), 1);
  EXPECT_FALSE(r.leaked());
}

TEST(OpenDialog, AccessAndPowerPointExecuteTheirOpenControlFoundByNamedId) {
  for (auto [kind, id] : {std::pair{HostKind::Access, 2937}, std::pair{HostKind::PowerPoint, 23}}) {
    auto r = rigFor(kind);
    r.addin().UseFileDialogOpen();
    std::string app = model::progIdOf(kind);
    EXPECT_THAT(r.fromLookup(),
                ElementsAre(lookupCall(app.c_str()), app + ".CommandBars()",
                            "CommandBars.FindControl(Id:=I2 " + std::to_string(id) + ")",
                            "CommandBarControl.Execute()", "VBE.MainWindow()", MainWindowShown));
    EXPECT_EQ(r.host.executed(id), 1) << app;
    EXPECT_TRUE(r.host.state().visibleWrites.empty()) << "the host is never hidden on this path";
    EXPECT_FALSE(r.leaked());
  }
}

TEST(OpenDialog, ADisplayNameOfNoRowTouchesNeitherHostNorMainWindow) {
  for (std::string name : {"Microsoft Visio", "Microsoft Excel ", "MICROSOFT WORD"}) {
    auto e = hostedEditor(name, "Book.xlsm");
    auto r = HostRig(e, HostBuilder(e, HostKind::Excel).build());
    r.editor().world().mainWindow->visible = false;
    EXPECT_NO_THROW(r.addin().UseFileDialogOpen());
    EXPECT_TRUE(r.rig.h.hosts.lookups.empty()) << name;
    EXPECT_FALSE(r.editor().world().mainWindow->visible) << name;
    for (const auto& c : r.editor().calls()) EXPECT_NE(c.member, "MainWindow") << name;
  }
}

// Step R: show the host again whether or not it was hidden, and report success.
TEST(OpenDialog, NoOpenControlInAccessOrPowerPointShowsTheHostAndSucceeds) {
  for (auto kind : {HostKind::Access, HostKind::PowerPoint}) {
    auto r = rigFor(kind, [](HostBuilder& b) { b.withoutOpenCommand().hidden(); });
    r.editor().world().mainWindow->visible = false;
    EXPECT_NO_THROW(r.addin().UseFileDialogOpen());
    std::string app = model::progIdOf(kind);
    int id = kind == HostKind::Access ? 2937 : 23;
    // "Execute" on Nothing fails before it reaches any host object.
    EXPECT_THAT(r.fromLookup(),
                ElementsAre(lookupCall(app.c_str()), app + ".CommandBars()",
                            "CommandBars.FindControl(Id:=I2 " + std::to_string(id) + ")",
                            app + ".Application()", app + ".Visible = (Bool True)"));
    EXPECT_TRUE(r.host.visible());
    EXPECT_FALSE(r.editor().world().mainWindow->visible) << "the main window is not touched";
    EXPECT_FALSE(r.leaked());
  }
}

TEST(OpenDialog, ExcelShowFailingShowsTheHostAgainLeavesTheMainWindowAndSucceeds) {
  auto r = rigFor(HostKind::Excel, [](HostBuilder& b) { b.dialog(1, true); });
  r.editor().world().mainWindow->visible = false;
  EXPECT_NO_THROW(r.addin().UseFileDialogOpen());
  EXPECT_EQ(r.host.state().visibleWrites, (std::vector<bool>{false, true}));
  EXPECT_TRUE(r.host.visible());
  EXPECT_THAT(
      r.hostCalls(),
      ElementsAre("Excel.Application.Application()", "Excel.Application.Visible = (Bool False)",
                  "Excel.Application.dialogs(I2 1)", "Dialog.Show()",
                  "Excel.Application.Application()", "Excel.Application.Visible = (Bool True)"));
  EXPECT_FALSE(r.editor().world().mainWindow->visible);
  EXPECT_FALSE(r.leaked());
}

TEST(OpenDialog, ARejectedDialogNumberAlsoRecovers) {
  auto r = rigFor(HostKind::Word, [](HostBuilder& b) { b.withoutOpenCommand(); });
  EXPECT_NO_THROW(r.addin().UseFileDialogOpen());
  EXPECT_TRUE(r.host.visible());
  EXPECT_EQ(r.host.state().visibleWrites, (std::vector<bool>{false, true}));
}

TEST(OpenDialog, AMainWindowThatRefusesIsRecoveredAsWell) {
  auto r = rigFor(HostKind::PowerPoint);
  r.editor().world().mainWindow->refuse = true;
  EXPECT_NO_THROW(r.addin().UseFileDialogOpen());
  EXPECT_EQ(r.host.executed(23), 1);
  EXPECT_EQ(r.host.state().visibleWrites, std::vector<bool>{true});
}

// Without a host object, step R has nothing to work on: its failure is what the caller gets.
TEST(OpenDialog, NoRunningHostIsAFailureForTheCallerNotACrash) {
  auto e = hostedEditor("Microsoft Excel", "Book.xlsm");
  Rig rig(e);
  rig.connect(2);
  try {
    rig.addin->UseFileDialogOpen();
    ADD_FAILURE() << "succeeded without a host";
  } catch (const automation::Failure& f) {
    EXPECT_EQ(f.code(), automation::errors::ObjectNotSet) << f.description();
  }
  EXPECT_EQ(rig.h.hosts.lookups, std::vector<std::string>{"Excel.Application"});
  EXPECT_TRUE(rig.h.messageBox.shown.empty());
  rig.disconnect();
  EXPECT_EQ(rig.editor().liveReferences(), 0);
}

TEST(OpenDialog, NoHostNameControlIsAFailureForTheCallerWithoutAnyLookup) {
  auto e =
      model::EditorBuilder().withoutHostNameControl().project("VBAProject", "Book.xlsm").build();
  auto r = HostRig(e, HostBuilder(e, HostKind::Excel).build());
  EXPECT_THROW(r.addin().UseFileDialogOpen(), automation::Failure);
  EXPECT_TRUE(r.rig.h.hosts.lookups.empty());
  EXPECT_EQ(r.host.shown(1), 0);
  EXPECT_FALSE(r.leaked());
}

}  // namespace
