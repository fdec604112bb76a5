#include <gtest/gtest.h>

#include "model/hosts.h"
#include "model/platform.h"

// The model hosts stand in for Office in every host test and under Wine; these are the host
// behaviours the add-in relies on.
namespace {

using automation::Value;
using model::HostBuilder;
using model::HostKind;

TEST(ModelHosts, MemberNamesAndNamedArgumentsMatchWithoutRegardToCase) {
  model::Editor e;
  auto excel = HostBuilder(e, HostKind::Excel).file("Book.xlsm").build();
  auto app = excel.application();
  for (const char* name : {"Workbooks", "workbooks", "WORKBOOKS"})
    EXPECT_EQ(app.call(name, {Value("book.XLSM")}).asObject().get("name").asString(), "Book.xlsm");

  auto access = HostBuilder(e, HostKind::Access).build();
  auto bars = access.application().get("commandbars").asObject();
  EXPECT_FALSE(bars.call("FindControl", {}, {{"id", Value::i2(2937)}}).asObject().empty());
  EXPECT_TRUE(bars.call("FindControl", {}, {{"Id", Value::i2(1)}}).asObject().empty()) << "Nothing";
  EXPECT_THROW(bars.call("FindControl", {}, {{"Ident", Value::i2(2937)}}), automation::Failure);
}

TEST(ModelHosts, AClosedFileIsGoneAndRefusesFurtherCalls) {
  model::Editor e;
  auto word = HostBuilder(e, HostKind::Word).file("A.docx").file("B.docx").build();
  auto app = word.application();
  auto b = app.call("Documents", {Value("B.docx")}).asObject();
  b.call("Close");
  EXPECT_THROW(b.get("Name"), automation::Failure);
  EXPECT_THROW(app.call("Documents", {Value("B.docx")}), automation::Failure);
  EXPECT_EQ(app.get("ActiveDocument").asObject().get("Name").asString(), "A.docx");
  app.call("Documents", {Value("A.docx")}).asObject().call("Close");
  EXPECT_THROW(app.get("ActiveDocument"), automation::Failure);
  EXPECT_EQ(word.closed(), (std::vector<std::string>{"B.docx", "A.docx"}));
}

TEST(ModelHosts, LookupsAreLoggedAndHandOutReferencesThatAreCounted) {
  model::Editor e;
  model::ModelHostLookup lookup;
  auto pp = HostBuilder(e, HostKind::PowerPoint).build();
  pp.install(lookup);
  {
    auto found = lookup.getActiveObject("PowerPoint.Application");
    EXPECT_TRUE(found.inThisProcess);
    auto& app = found.object;
    EXPECT_EQ(e.liveReferences(), 1);
    EXPECT_FALSE(app.get("Application").asObject().empty());
  }
  EXPECT_EQ(e.liveReferences(), 0);
  EXPECT_EQ(e.calls().front().describe(),
            "RunningObjectTable.GetActiveObject(Str \"PowerPoint.Application\")");
  pp.state().running = false;
  EXPECT_THROW(lookup.getActiveObject("PowerPoint.Application"), automation::Failure);
  EXPECT_EQ(model::hostKindOf("Microsoft Office Access"), HostKind::Access);
  EXPECT_EQ(model::hostKindOf("Microsoft Access"), HostKind::Access);
  EXPECT_FALSE(model::hostKindOf("microsoft access").has_value());
}

TEST(ModelHosts, AHostOfAnotherProcessIsFoundAndSaysSo) {
  model::Editor e;
  model::ModelHostLookup lookup;
  HostBuilder(e, HostKind::Excel).build().install(lookup);
  HostBuilder(e, HostKind::Word).inAnotherProcess().build().install(lookup);
  EXPECT_TRUE(lookup.getActiveObject("Excel.Application").inThisProcess);
  auto other = lookup.getActiveObject("Word.Application");
  EXPECT_FALSE(other.inThisProcess);
  EXPECT_FALSE(other.object.empty()) << "handed out, so that a test sees what is called on it";
}

}  // namespace
