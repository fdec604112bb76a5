#include <gtest/gtest.h>

#include <optional>

#include "host/instance.h"
#include "host_rig.h"

// The host found from inside the editor: a document component's Properties hold its Application.
// The Running Object Table holds one instance per program (the first started, and only once it
// lost the focus), so Excel and Word are reached this way first.
namespace {

using model::HostBuilder;
using model::HostKind;

struct Case {
  HostKind kind;
  const char* file;
  const char* document;  // the document component the host gives each file
};
const Case Cases[] = {{HostKind::Excel, "Budget.xlsm", "ThisWorkbook"}, {HostKind::Word, "Report.docm", "ThisDocument"}};

model::Editor documentEditor(const Case& c) {
  return model::EditorBuilder()
      .host(model::displayNameOf(c.kind))
      .project("VBAProject", c.file)
      .component(c.document, 100)
      .component("Module1", 1)
      .build();
}

int count(const model::Editor& e, const std::string& target) {
  int n = 0;
  for (const auto& call : e.calls()) n += call.target == target;
  return n;
}

// The editor's own host, not in the table; the table holds another process's instance, or nothing.
struct TwoInstances {
  TwoInstances(const Case& c, bool otherInTable)
      : own(HostBuilder(editor(c), c.kind).file(c.file).notInTable().build()),
        other(HostBuilder(editor(c), c.kind).file(c.file).inAnotherProcess().build()),
        rig(editor(c), own) {
    if (otherInTable) other.install(rig.rig.h.hosts);
  }
  model::Editor& editor(const Case& c) {
    if (!e) e = documentEditor(c);
    return *e;
  }
  std::optional<model::Editor> e;
  model::Host own, other;
  HostRig rig;

  void expectOtherUntouched() {
    EXPECT_TRUE(other.isOpen(other.state().files.front().name));
    EXPECT_TRUE(other.state().visibleWrites.empty());
    EXPECT_TRUE(other.state().dialogs.empty() || other.state().dialogs.begin()->second.shown == 0);
  }
};

TEST(HostThroughTheEditor, ButtonsFiveAndSixActOnTheOwnHostWhateverTheTableHolds) {
  for (const Case& c : Cases)
    for (bool otherInTable : {true, false}) {
      SCOPED_TRACE(std::string(c.file) + (otherInTable ? ", another process in the table" : ", table empty"));
      {
        TwoInstances t(c, otherInTable);
        t.rig.addin().closewb();
        EXPECT_EQ(t.own.closed(), std::vector<std::string>{c.file});
        t.expectOtherUntouched();
        EXPECT_EQ(count(t.rig.editor(), "RunningObjectTable"), 0) << "the table is not asked";
        EXPECT_FALSE(t.rig.leaked());
      }
      {
        TwoInstances t(c, otherInTable);
        t.rig.addin().UseFileDialogOpen();
        EXPECT_EQ(t.own.shown(c.kind == HostKind::Excel ? 1 : 80), 1);
        EXPECT_EQ(t.own.state().visibleWrites, (std::vector<bool>{false, true}));
        t.expectOtherUntouched();
        EXPECT_FALSE(t.rig.leaked());
      }
    }
}

TEST(HostThroughTheEditor, TheActiveProjectsFirstDocumentLeadsThereInAHandfulOfCalls) {
  auto e = model::EditorBuilder()
               .host("Microsoft Excel")
               .project("VBAProject", "Budget.xlsm").component("ThisWorkbook", 100).component("Sheet1", 100)
               .project("Other", "Other.xlsm").component("ThisWorkbook", 100)
               .project("More", "More.xlsm").component("ThisWorkbook", 100)
               .active("VBAProject")
               .build();
  HostRig r(e, HostBuilder(e, HostKind::Excel).file("Budget.xlsm").build());
  const auto app = host::applicationFromEditor(editor::VBE(r.editor().vbe()));
  EXPECT_FALSE(app.empty());
  std::vector<std::string> calls;
  for (const auto& c : r.editor().calls()) calls.push_back(c.describe());
  EXPECT_EQ(calls, (std::vector<std::string>{"VBE.ActiveVBProject()", "VBProject.Protection()", "VBProject.VBComponents()",
                                              "VBComponents._NewEnum()", "VBComponents.Next()", "VBComponent.Type()",
                                              "VBComponent.Properties()", "Properties.Count()",
                                              "Properties.Item(Str \"Application\")", "Property.Object()"}));
}

TEST(HostThroughTheEditor, ALockedActiveProjectLeavesTheWayToAnotherUnlockedProject) {
  auto e = model::EditorBuilder()
               .host("Microsoft Excel")
               .project("Locked", "Locked.xlam", 1).component("ThisWorkbook", 100)
               .project("Open", "Open.xlsm").component("Module1", 1).component("Sheet1", 100)
               .active("Locked")
               .build();
  HostRig r(e, HostBuilder(e, HostKind::Excel).file("Locked.xlam").notInTable().build());
  r.addin().UseFileDialogOpen();
  EXPECT_EQ(r.host.shown(1), 1);
  // Locked components are never asked for: only the unlocked project's are walked.
  int components = 0;
  for (const auto& c : r.editor().calls()) components += c.describe() == "VBProject.VBComponents()";
  EXPECT_EQ(components, 1);
}

// Any step of the walk may fail; the walk goes on, and only the table's own failure is reported.
TEST(HostThroughTheEditor, FailuresOfTheWalkFallBackToTheTableAndOnlyItsFailureIsReported) {
  const Case& c = Cases[0];
  {
    auto e = documentEditor(c);
    HostRig r(e, HostBuilder(e, c.kind).file(c.file).build());
    r.editor().faults().failMember("VBComponent.Properties", "document not loaded");
    r.addin().closewb();
    EXPECT_EQ(r.host.closed(), std::vector<std::string>{c.file}) << "through the table";
    EXPECT_EQ(count(r.editor(), "RunningObjectTable"), 1);
    EXPECT_FALSE(r.leaked());
  }
  {
    auto e = documentEditor(c);
    HostRig r(e, HostBuilder(e, c.kind).file(c.file).notInTable().build());
    r.editor().faults().failMember("Property.Object", "no object");
    try {
      r.addin().closewb();
      ADD_FAILURE() << "closed without a host";
    } catch (const automation::Failure& f) {
      EXPECT_EQ(f.description(), "ActiveX component can't create object: no running Excel.Application");
    }
    EXPECT_FALSE(r.leaked());
  }
}

// Access keeps the table's way, and PowerPoint has no document components: nothing is walked.
TEST(HostThroughTheEditor, AccessAndPowerPointGoStraightToTheTable) {
  for (auto [kind, file] : {std::pair{HostKind::Access, "Orders.accdb"}, std::pair{HostKind::PowerPoint, "Deck.pptm"}}) {
    auto e = model::EditorBuilder().host(model::displayNameOf(kind)).project("VBAProject", file).component("Doc", 100).build();
    HostRig r(e, HostBuilder(e, kind).file(file).build());
    r.addin().UseFileDialogOpen();
    EXPECT_EQ(count(r.editor(), "Properties"), 0);
    EXPECT_EQ(count(r.editor(), "RunningObjectTable"), 1);
  }
}

}  // namespace
