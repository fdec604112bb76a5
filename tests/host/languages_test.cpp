// Offices that are not the English Office 2007: Access under its later name, and an editor in
// German, whose windows and Save control carry translated captions.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "host_rig.h"

namespace {

using model::HostBuilder;
using model::HostKind;

const char* const Bar = "Tessary Ver. 1.01";

model::Editor excel(const std::string& language, std::function<void(model::EditorBuilder&)> file) {
  model::EditorBuilder b;
  b.host("Microsoft Excel").language(language).project("VBAProject", "Mappe1.xlsx");
  file(b);
  b.component("Tabelle1", 100)
      .component("Modul1", 1)
      .reference("VBA", "Visual Basic For Applications", "C:\\PROGRA~1\\COMMON~1\\MICROS~1\\VBA\\VBA7.1\\VBE7.DLL", true)
      .reference("Excel", "Microsoft Excel 16.0 Object Library",
                 "C:\\Program Files\\Microsoft Office\\root\\Office16\\EXCEL.EXE", true)
      .project("Werkzeuge", "Werkzeuge.xlam", 1)
      .component("Intern", 1)
      .reference("VBA", "Visual Basic For Applications", "C:\\PROGRA~1\\COMMON~1\\MICROS~1\\VBA\\VBA7.1\\VBE7.DLL", true)
      .active("VBAProject");
  return b.build();
}

void savedInDocuments(model::EditorBuilder& b) { b.savedIn("C:\\Users\\Anna\\Documents\\"); }

std::string wbname(model::Editor e) {
  Rig rig(std::move(e));
  rig.connect(2);
  return rig.addin->getwbname().asString();
}

TEST(Languages, AccessIsKnownByItsLaterNameAsByItsFirst) {
  std::vector<std::vector<std::string>> closeCalls, openCalls;
  for (const char* name : {"Microsoft Office Access", "Microsoft Access"}) {
    SCOPED_TRACE(name);
    auto e = hostedEditor(name, "Orders.accdb");
    HostRig r(e, HostBuilder(e, HostKind::Access).file("Orders.accdb").build());
    EXPECT_EQ(r.addin().getappname(), name);
    r.addin().closewb();
    EXPECT_EQ(r.host.state().docmdCloses, 1);
    closeCalls.push_back(r.fromLookup());
    r.editor().world().log.clear();
    r.addin().UseFileDialogOpen();
    EXPECT_EQ(r.host.executed(2937), 1);
    openCalls.push_back(r.fromLookup());
    EXPECT_FALSE(r.leaked());
  }
  EXPECT_EQ(closeCalls[0], closeCalls[1]);
  EXPECT_EQ(openCalls[0], openCalls[1]);
  // Refused as another instance, it is named as the editor names it.
  {
    auto e = hostedEditor("Microsoft Access", "Orders.accdb");
    HostRig r(e, HostBuilder(e, HostKind::Access).file("Orders.accdb").inAnotherProcess().build());
    try {
      r.addin().closewb();
      ADD_FAILURE() << "another instance was driven";
    } catch (const automation::Failure& f) {
      EXPECT_THAT(f.description(), testing::StartsWith("The running Microsoft Access found is another instance"));
    }
  }
  // The comparison stays exact.
  for (const char* name : {"microsoft access", "Microsoft Access ", "Access"}) {
    auto e = hostedEditor(name, "Orders.accdb");
    HostRig r(e, HostBuilder(e, HostKind::Access).file("Orders.accdb").build());
    r.addin().closewb();
    EXPECT_EQ(r.host.state().docmdCloses, 0) << name;
    EXPECT_TRUE(r.hostCalls().empty()) << name;
  }
}

TEST(Languages, AGermanSaveCaptionGivesTheFilesOwnName) {
  // Saved: the last part of the project's FileName.
  EXPECT_EQ(wbname(excel("de", savedInDocuments)), "Mappe1.xlsx");
  // Never saved: FileName fails; the caption's last word is the new file's name.
  EXPECT_EQ(wbname(model::EditorBuilder().language("de").project("VBAProject", "Mappe1").unsaved().build()),
            "Mappe1");
  // Nothing after the last blank either: the English rule, whatever it gives.
  EXPECT_EQ(wbname(model::EditorBuilder().language("de").project("VBAProject", "").unsaved().build()),
            "hern ");
  // FileName without a folder is the name itself.
  EXPECT_EQ(wbname(excel("de", [](auto&) {})), "Mappe1.xlsx");
}

TEST(Languages, AnEnglishSaveCaptionNeverReadsTheFileName) {
  Rig rig(excel("en", savedInDocuments));
  rig.connect(2);
  rig.editor().world().log.clear();
  EXPECT_EQ(rig.addin->getwbname().asString(), "Mappe1.xlsx");
  for (const auto& c : rig.editor().calls()) EXPECT_NE(c.member, "FileName");
  EXPECT_EQ(rig.editor().calls().size(), 4u);  // CommandBars, Item("File"), FindControl(3), Caption
}

TEST(Languages, AGermanEditorGetsTheSameReportAndNoticeAsAnEnglishOne) {
  std::string typed[2], notice[2];
  const char* languages[] = {"en", "de"};
  for (int i = 0; i < 2; ++i) {
    SCOPED_TRACE(languages[i]);
    Rig rig(excel(languages[i], savedInDocuments));
    rig.connect();
    auto refs = [&] {
      for (const auto& c : rig.editor().bar("Tools")->controls)
        if (c->id == 942) return rig.editor().click(c);
      return model::ClickResult{};
    }();
    EXPECT_TRUE(refs.failures.empty());
    EXPECT_TRUE(refs.cancelled);
    EXPECT_TRUE(rig.editor().objectBrowser()->visible);
    typed[i] = rig.editor().immediate()->text;

    rig.editor().immediate()->text.clear();
    rig.editor().setActiveProject("Werkzeuge");
    auto locked = rig.editor().click(Bar, 1);
    EXPECT_TRUE(locked.failures.empty());
    notice[i] = rig.editor().immediate()->text;
  }
  EXPECT_THAT(typed[1], testing::HasSubstr("References set in Mappe1.xlsx - [ VBAProject ] : 2"));
  EXPECT_THAT(typed[1], testing::HasSubstr("Debug Window print by Brenwick"));
  EXPECT_EQ(typed[0], typed[1]);
  EXPECT_THAT(notice[1], testing::HasSubstr("Werkzeuge.xlam  is protected but you can see the reference set here."));
  EXPECT_EQ(notice[0], notice[1]);
}

TEST(Languages, WithoutAWindowOfTheTypeTheFailureByNameStands) {
  Rig rig(excel("de", savedInDocuments));
  rig.connect(2);
  std::erase(rig.editor().world().windows, rig.editor().immediate());
  try {
    rig.addin->reflist();
    ADD_FAILURE() << "no Immediate window, yet the report ran";
  } catch (const automation::Failure& f) {
    EXPECT_EQ(f.code(), automation::errors::InvalidCall) << f.description();
  }
  EXPECT_TRUE(rig.h.keyboard.sent.empty());
}

}  // namespace
