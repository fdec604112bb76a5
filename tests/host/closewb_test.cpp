#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "host_rig.h"

namespace {

using model::HostBuilder;
using model::HostKind;
using testing::ElementsAre;
using V = std::vector<std::string>;

HostRig excel(const std::string& file, std::vector<std::string> open) {
  auto e = hostedEditor("Microsoft Excel", file);
  HostBuilder b(e, HostKind::Excel);
  for (auto& f : open) b.file(f);
  return HostRig(e, b.build());
}

TEST(CloseExcel, ClosesTheNamedWorkbookThroughApplicationWithTheNameAsAString) {
  auto r = excel("Budget.xlsm", {"Other.xlsx", "Budget.xlsm"});
  r.addin().closewb();
  EXPECT_THAT(r.fromLookup(),
              ElementsAre(lookupCall("Excel.Application"), "Excel.Application.Application()",
                          "Excel.Application.workbooks(Str \"Budget.xlsm\")", "Workbook.Close()"));
  EXPECT_EQ(r.host.openFiles(), V{"Other.xlsx"});
  EXPECT_TRUE(r.rig.h.messageBox.shown.empty());
  EXPECT_FALSE(r.leaked());
}

TEST(CloseExcel, AnUnknownOrEmptyNameClosesNothingAndSucceedsSilently) {
  for (std::string file : {"Missing.xlsm", ""}) {
    auto r = excel(file, {"Budget.xlsm"});
    EXPECT_NO_THROW(r.addin().closewb()) << file;
    EXPECT_THAT(r.hostCalls(), ElementsAre("Excel.Application.Application()",
                                           "Excel.Application.workbooks(Str \"" + file + "\")"));
    EXPECT_EQ(r.host.openFiles(), V{"Budget.xlsm"});
    EXPECT_TRUE(r.rig.h.messageBox.shown.empty());
    EXPECT_FALSE(r.leaked());
  }
}

TEST(CloseExcel, AWorkbookThatRefusesToCloseIsAbsorbed) {
  auto e = hostedEditor("Microsoft Excel", "Budget.xlsm");
  auto r = HostRig(
      e, HostBuilder(e, HostKind::Excel).file("Budget.xlsm").fileCloseFails("Budget.xlsm").build());
  EXPECT_NO_THROW(r.addin().closewb());
  EXPECT_TRUE(r.host.isOpen("Budget.xlsm"));
  EXPECT_FALSE(r.leaked());
}

TEST(CloseAnyHost, NoProjectLoadedReadsNothingAndLooksNothingUp) {
  auto e = model::EditorBuilder().host("Microsoft Excel").build();
  auto r = HostRig(e, HostBuilder(e, HostKind::Excel).file("Budget.xlsm").build());
  r.addin().closewb();
  EXPECT_THAT(r.fromLookup(), ElementsAre());
  EXPECT_TRUE(r.rig.h.hosts.lookups.empty());
  for (const auto& c : r.editor().calls()) EXPECT_NE(c.target, "CommandBars") << c.describe();
  EXPECT_TRUE(r.host.isOpen("Budget.xlsm"));
}

TEST(CloseAnyHost, ADisplayNameOfNoRowCallsNoHostAndSucceeds) {
  for (std::string name :
       {"Microsoft Visio", "microsoft excel", "Microsoft Excel ", "Microsoft &Excel", ""}) {
    auto e = hostedEditor(name, "Budget.xlsm");
    auto r = HostRig(e, HostBuilder(e, HostKind::Excel).file("Budget.xlsm").build());
    EXPECT_NO_THROW(r.addin().closewb()) << name;
    EXPECT_TRUE(r.rig.h.hosts.lookups.empty()) << name;
    EXPECT_TRUE(r.host.isOpen("Budget.xlsm"));
    EXPECT_TRUE(r.rig.h.messageBox.shown.empty());
  }
}

TEST(CloseAnyHost, AHostThatIsNotRunningIsAFailureForTheCaller) {
  // Not registered at all, and registered but refusing: both are GetObject's error 429.
  for (bool registered : {false, true}) {
    auto e = hostedEditor("Microsoft Word", "Report.docm");
    HostBuilder b(e, HostKind::Word);
    b.file("Report.docm").notRunning();
    auto host = b.build();
    Rig rig(e);
    if (registered) host.install(rig.h.hosts);
    rig.connect(2);
    try {
      rig.addin->closewb();
      ADD_FAILURE() << "closewb succeeded without a host";
    } catch (const automation::Failure& f) {
      EXPECT_EQ(f.code(), automation::errors::CantCreateObject);
    }
    EXPECT_EQ(rig.h.hosts.lookups, V{"Word.Application"});
    EXPECT_TRUE(host.isOpen("Report.docm"));
    EXPECT_TRUE(rig.h.messageBox.shown.empty());
  }
}

TEST(CloseAnyHost, NoHostNameControlIsAFailureForTheCallerBeforeAnyLookup) {
  auto e =
      model::EditorBuilder().withoutHostNameControl().project("VBAProject", "Budget.xlsm").build();
  auto r = HostRig(e, HostBuilder(e, HostKind::Excel).file("Budget.xlsm").build());
  EXPECT_THROW(r.addin().closewb(), automation::Failure);
  EXPECT_TRUE(r.rig.h.hosts.lookups.empty());
  EXPECT_TRUE(r.host.isOpen("Budget.xlsm"));
}

// Word: by name, then the active document when it is the file, then the add-in of that name.
struct WordCase {
  std::string file;
  std::vector<std::string> open;
  std::string active;  // "" keeps the last opened
  std::vector<std::string> addIns;
};

HostRig word(const WordCase& c) {
  auto e = hostedEditor("Microsoft Word", c.file);
  HostBuilder b(e, HostKind::Word);
  for (auto& f : c.open) b.file(f);
  if (!c.active.empty()) b.activeDocument(c.active);
  for (auto& a : c.addIns) b.addIn(a);
  return HostRig(e, b.build());
}

TEST(CloseWord, ADocumentOpenUnderTheNameIsClosedAndNothingElseIsTried) {
  auto r = word({"Report.docm", {"Report.docm", "Letter.docx"}, "Letter.docx", {"Report.docm"}});
  r.addin().closewb();
  EXPECT_THAT(r.fromLookup(),
              ElementsAre(lookupCall("Word.Application"), "Word.Application.Application()",
                          "Word.Application.documents(Str \"Report.docm\")", "Document.Close()"));
  EXPECT_EQ(r.host.openFiles(), V{"Letter.docx"});
  EXPECT_TRUE(r.host.addInInstalled("Report.docm"));
  EXPECT_FALSE(r.leaked());
}

TEST(CloseWord, TheActiveDocumentIsClosedWhenItIsTheFileWithAFourCharacterEnding) {
  auto r = word({"Report", {"Letter.docx", "Report.doc"}, "Report.doc", {}});
  r.addin().closewb();
  EXPECT_THAT(
      r.hostCalls(),
      ElementsAre("Word.Application.Application()", "Word.Application.documents(Str \"Report\")",
                  "Word.Application.Application()", "Word.Application.activedocument()",
                  "Document.Name()", "Word.Application.Application()",
                  "Word.Application.activedocument()", "Document.Close()"));
  EXPECT_EQ(r.host.closed(), V{"Report.doc"});
  EXPECT_EQ(r.host.openFiles(), V{"Letter.docx"});
  EXPECT_FALSE(r.leaked());
}

TEST(CloseWord, NeitherOpenNorActiveUninstallsTheAddInOfThatName) {
  auto r = word({"Tools.dotm", {"Letter.docx"}, "", {"Tools.dotm"}});
  r.addin().closewb();
  EXPECT_THAT(
      r.hostCalls(),
      ElementsAre("Word.Application.Application()",
                  "Word.Application.documents(Str \"Tools.dotm\")",
                  "Word.Application.Application()", "Word.Application.activedocument()",
                  "Document.Name()", "Word.Application.Application()",
                  "Word.Application.AddIns(Str \"Tools.dotm\")", "AddIn.Installed = (Bool False)"));
  EXPECT_FALSE(r.host.addInInstalled("Tools.dotm"));
  EXPECT_EQ(r.host.openFiles(), V{"Letter.docx"});
  EXPECT_FALSE(r.leaked());
}

TEST(CloseWord, NoSuchAddInEitherLeavesEverythingAsItWasAndSucceeds) {
  auto r = word({"Tools.dotm", {"Letter.docx"}, "", {"Other.dotm"}});
  EXPECT_NO_THROW(r.addin().closewb());
  EXPECT_EQ(r.host.openFiles(), V{"Letter.docx"});
  EXPECT_TRUE(r.host.addInInstalled("Other.dotm"));
  EXPECT_TRUE(r.rig.h.messageBox.shown.empty());
  EXPECT_FALSE(r.leaked());
}

// An active document whose name is too short to carry an ending is not the project's file:
// closing it would close somebody else's work. The add-in of that name is tried instead.
TEST(CloseWord, AnActiveNameShorterThanFourCharactersNeverClosesTheActiveDocument) {
  auto r = word({"Tools.dotm", {"Doc"}, "Doc", {"Tools.dotm"}});
  r.addin().closewb();
  EXPECT_TRUE(r.host.isOpen("Doc"));
  EXPECT_TRUE(r.host.closed().empty());
  EXPECT_FALSE(r.host.addInInstalled("Tools.dotm"));
  EXPECT_THAT(r.hostCalls(), testing::Not(testing::Contains("Document.Close()")));
}

TEST(CloseWord, NoActiveDocumentGoesToTheAddIn) {
  auto r = word({"Tools.dotm", {}, "", {"Tools.dotm"}});
  EXPECT_NO_THROW(r.addin().closewb());
  EXPECT_FALSE(r.host.addInInstalled("Tools.dotm"));
  EXPECT_THAT(r.hostCalls(), testing::Contains("Word.Application.AddIns(Str \"Tools.dotm\")"));
}

// Without a file name there is nothing to compare: a four-character active document ("Doc1",
// whose name less four characters is empty) must not be taken for the project's file.
TEST(CloseWord, AnEmptyFileNameNeverClosesTheActiveDocument) {
  auto r = word({"", {"Doc1"}, "Doc1", {}});
  EXPECT_NO_THROW(r.addin().closewb());
  EXPECT_TRUE(r.host.isOpen("Doc1"));
}

TEST(CloseWord, TheActiveDocumentRefusingToCloseEndsTheCommandWithoutTheAddInStep) {
  auto e = hostedEditor("Microsoft Word", "Report");
  auto r = HostRig(e, HostBuilder(e, HostKind::Word)
                          .file("Report.doc")
                          .fileCloseFails("Report.doc")
                          .addIn("Report")
                          .build());
  EXPECT_NO_THROW(r.addin().closewb());
  EXPECT_EQ(r.hostCalls().back(), "Document.Close()");
  EXPECT_TRUE(r.host.addInInstalled("Report"));
  EXPECT_FALSE(r.leaked());
}

TEST(CloseAccess, DoCmdCloseRunsWhateverTheFileName) {
  for (std::string file : {"Orders.accdb", "", "Something else"}) {
    auto e = hostedEditor("Microsoft Office Access", file);
    auto r = HostRig(e, HostBuilder(e, HostKind::Access).file("Orders.accdb").build());
    r.addin().closewb();
    EXPECT_THAT(r.fromLookup(), ElementsAre(lookupCall("Access.Application"),
                                            "Access.Application.docmd()", "DoCmd.Close()"))
        << file;
    EXPECT_EQ(r.host.state().docmdCloses, 1);
    EXPECT_FALSE(r.leaked());
  }
}

// PowerPoint closes without asking, so the add-in asks first; nothing unsaved is lost without
// the user's word.
struct PowerPointRig {
  explicit PowerPointRig(bool saved) : r(make(saved)) {}
  static HostRig make(bool saved) {
    auto e = hostedEditor("Microsoft PowerPoint", "Deck.pptm");
    return HostRig(
        e,
        HostBuilder(e, HostKind::PowerPoint).file("Other.pptx").file("Deck.pptm", saved).build());
  }
  HostRig r;
  const std::string question = "Do you want to save the changes you made to Deck.pptm?";
};

TEST(ClosePowerPoint, ASavedPresentationClosesWithoutAQuestion) {
  PowerPointRig p(true);
  p.r.addin().closewb();
  EXPECT_THAT(p.r.fromLookup(),
              ElementsAre(lookupCall("PowerPoint.Application"),
                          "PowerPoint.Application.Presentations(Str \"Deck.pptm\")",
                          "Presentation.Saved()", "Presentation.Close()"));
  EXPECT_TRUE(p.r.rig.h.messageBox.shown.empty());
  EXPECT_EQ(p.r.host.openFiles(), V{"Other.pptx"});
  EXPECT_FALSE(p.r.leaked());
}

TEST(ClosePowerPoint, UnsavedChangesAskAndYesSavesBeforeClosing) {
  PowerPointRig p(false);
  p.r.rig.h.messageBox.answers = {platform::MessageBoxes::Answer::Yes};
  p.r.addin().closewb();
  EXPECT_EQ(p.r.rig.h.messageBox.shown, V{p.question});
  EXPECT_THAT(p.r.hostCalls(),
              ElementsAre("PowerPoint.Application.Presentations(Str \"Deck.pptm\")",
                          "Presentation.Saved()", "Presentation.Save()", "Presentation.Close()"));
  EXPECT_EQ(p.r.host.state().file("Deck.pptm")->saves, 1);
  EXPECT_FALSE(p.r.host.isOpen("Deck.pptm"));
}

TEST(ClosePowerPoint, UnsavedChangesAndNoClosesWithoutSaving) {
  PowerPointRig p(false);
  p.r.rig.h.messageBox.answers = {platform::MessageBoxes::Answer::No};
  p.r.addin().closewb();
  EXPECT_EQ(p.r.rig.h.messageBox.shown, V{p.question});
  EXPECT_EQ(p.r.host.state().file("Deck.pptm")->saves, 0);
  EXPECT_FALSE(p.r.host.isOpen("Deck.pptm"));
}

TEST(ClosePowerPoint, UnsavedChangesAndCancelKeepThePresentationOpen) {
  PowerPointRig p(false);
  p.r.rig.h.messageBox.answers = {platform::MessageBoxes::Answer::Cancel};
  EXPECT_NO_THROW(p.r.addin().closewb());
  EXPECT_EQ(p.r.rig.h.messageBox.shown, V{p.question});
  EXPECT_EQ(p.r.hostCalls().back(), "Presentation.Saved()");
  EXPECT_TRUE(p.r.host.isOpen("Deck.pptm"));
  EXPECT_FALSE(p.r.leaked());
}

TEST(ClosePowerPoint, ASavedFlagThatCannotBeReadClosesNothingAndAsksNothing) {
  PowerPointRig p(false);
  p.r.editor().faults().failMember("Presentation.Saved",
                                   "Presentation (unknown member) : Invalid request.");
  EXPECT_NO_THROW(p.r.addin().closewb());
  EXPECT_TRUE(p.r.rig.h.messageBox.shown.empty());
  EXPECT_TRUE(p.r.host.isOpen("Deck.pptm"));
  EXPECT_FALSE(p.r.leaked());
}

TEST(ClosePowerPoint, ASaveThatFailsLeavesThePresentationOpen) {
  PowerPointRig p(false);
  p.r.rig.h.messageBox.answers = {platform::MessageBoxes::Answer::Yes};
  p.r.editor().faults().failMember("Presentation.Save", "The disk is full.");
  EXPECT_NO_THROW(p.r.addin().closewb());
  EXPECT_TRUE(p.r.host.isOpen("Deck.pptm"));
}

TEST(ClosePowerPoint, AnUnknownNameAsksNothingAndClosesNothing) {
  auto e = hostedEditor("Microsoft PowerPoint", "Gone.pptm");
  auto r = HostRig(e, HostBuilder(e, HostKind::PowerPoint).file("Deck.pptm", false).build());
  EXPECT_NO_THROW(r.addin().closewb());
  EXPECT_TRUE(r.rig.h.messageBox.shown.empty());
  EXPECT_TRUE(r.host.isOpen("Deck.pptm"));
}

}  // namespace
