#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "input_error.h"
#include "json_positions.h"
#include "workspace.h"

namespace sim {
namespace {

using ::testing::HasSubstr;
using ::testing::StartsWith;

std::string refusal(const std::string& text) {
  try {
    parseWorkspace(text, "w.json");
  } catch (const InputError& e) {
    return e.what();
  }
  return "accepted";
}

TEST(WorkspaceFile, MalformedJsonIsPlacedAtTheOffendingCharacter) {
  // The stray comma on line 4 makes the "}" at column 36 unexpected.
  std::string text = "{\n  \"host\": {\"name\": \"Microsoft Excel\"},\n  \"projects\": [\n"
                     "    {\"name\": \"A\", \"file\": \"a.xlsm\",}\n  ]\n}\n";
  auto message = refusal(text);
  EXPECT_THAT(message, StartsWith("w.json:4:36: not valid JSON: "));
  EXPECT_THAT(message, HasSubstr("expected string literal"));
  EXPECT_THAT(message, ::testing::Not(HasSubstr("json.exception")));

  EXPECT_THAT(refusal(""), StartsWith("w.json:1:1: not valid JSON"));
  EXPECT_THAT(refusal("{\"host\": {\"name\": \"x\"}, \"projects\": [] } trailing"),
              StartsWith("w.json:1:44: not valid JSON"));  // "tra" is no literal
  // A Windows-edited file: CR LF line ends count as one line each.
  EXPECT_THAT(refusal("{\r\n\"host\": {\"name\": \"x\"},\r\n\"projects\": [}\r\n"),
              StartsWith("w.json:3:14: not valid JSON"));
}

// A number beyond any double is refused like other malformed JSON, at its place, instead of
// escaping as an exception that ends the simulator.
TEST(WorkspaceFile, ANumberOutOfRangeIsRefusedAtItsPlace) {
  EXPECT_EQ(refusal("{\n  \"title\": 1e999\n}"), "w.json:2:12: not valid JSON: number overflow parsing '1e999'");
}

TEST(WorkspaceFile, MissingAndMisspeltFieldsNameTheField) {
  EXPECT_EQ(refusal("{\"projects\": []}"),
            "w.json:1:1: the workspace misses the field \"host\": expected {\"name\": the host's display name, ...}");
  EXPECT_EQ(refusal("{\n \"host\": {\"name\": \"Microsoft Excel\"},\n \"projects\": [\n  {\"name\": \"A\"}]}"),
            "w.json:4:3: project \"A\" misses the field \"file\": expected the name of the file that holds the "
            "project (a string)");
  EXPECT_EQ(refusal(R"({"host": {"name": "Microsoft Excel"}, "projects": [{"name": "A", "file": "a", "protecton": 1}]})"),
            "w.json:1:79: unknown field \"protecton\" in a project (expected \"name\", \"file\", \"folder\", "
            "\"saved\", \"protection\", \"components\", \"references\")");
  EXPECT_THAT(refusal(R"({"host": {"name": "Microsoft Excel"}, "projects": [{"name": "A", "file": "a",
                         "references": [{"name": "R"}]}]})"),
              StartsWith("w.json:2:41: reference \"R\" misses the field \"path\""));
}

TEST(WorkspaceFile, ValuesOfTheWrongKindOrUnknownNamesAreRefused) {
  EXPECT_EQ(refusal(R"({"host": {"name": 7}, "projects": []})"),
            "w.json:1:19: expected the host's display name (a string), found a number");
  EXPECT_EQ(refusal(R"({"host": {"name": "Microsoft Excel"}, "projects": {}})"),
            "w.json:1:51: expected an array of projects, found an object");
  EXPECT_THAT(refusal(R"({"host": {"name": "Microsoft Excel"}, "projects": [{"name": "A", "file": "a",
                         "components": [{"name": "M", "type": "modul"}]}]})"),
              StartsWith("w.json:2:63: unknown component type \"modul\""));
  EXPECT_THAT(refusal(R"({"host": {"name": "Microsoft Excel"}, "projects": [{"name": "A", "file": "a",
                         "components": [{"name": "M", "type": "standard", "designer": "open"}]}]})"),
              HasSubstr("only a form (type \"form\") has a designer"));
  EXPECT_THAT(refusal(R"({"host": {"name": "Microsoft Excel"}, "projects": [], "active": "Nope"})"),
              StartsWith("w.json:1:65: no project is named \"Nope\""));
  EXPECT_THAT(refusal(R"({"host": {"name": "Microsoft Excel"}, "projects": [{"name": "A", "file": "a"},
                         {"name": "A", "file": "b"}]})"),
              HasSubstr("a second project named \"A\""));
  EXPECT_THAT(refusal(R"({"host": {"name": "Microsoft Excel", "activeDocument": "x"}, "projects": []})"),
              HasSubstr("only Microsoft Word has an active document"));
  EXPECT_THAT(refusal(R"({"host": {"name": "Microsoft Visio", "files": ["a.vsdm"]}, "projects": []})"),
              HasSubstr("\"Microsoft Visio\" is not Microsoft Excel"));
  EXPECT_THAT(refusal(R"({"host": {"name": "Microsoft Excel"}, "projects": [], "answers": ["maybe"]})"),
              HasSubstr("expected \"yes\", \"no\" or \"cancel\", found \"maybe\""));
}

TEST(WorkspaceFile, DescribesTheEditorAndTheHost) {
  auto ws = parseWorkspace(R"({
    "host": {"name": "Microsoft Word", "files": ["Letter.docx", {"name": "Report.doc", "saved": false}],
             "activeDocument": "Letter.docx", "addIns": [{"name": "T.dotm", "installed": false}]},
    "editor": {"referencesControl": false},
    "projects": [
      {"name": "Normal", "file": "Normal.dotm"},
      {"name": "Report", "file": "Report", "protection": "locked",
       "components": [{"name": "F", "type": "form", "designer": "open"}, {"name": "D", "type": 100}],
       "references": [{"name": "X", "path": "C:\\x.dll", "broken": true, "unreadable": ["Name"]}]}],
    "active": "Report", "answers": ["no", "yes"]})",
                           "w.json");
  auto& w = ws.editor.world();
  EXPECT_EQ(w.hostName, "Microsoft Word");
  ASSERT_EQ(w.projects.size(), 2u);
  auto report = ws.editor.project("Report");
  EXPECT_EQ(w.activeProject, report.get());
  EXPECT_EQ(report->protection, 1);
  ASSERT_EQ(report->components.size(), 2u);
  EXPECT_TRUE(report->components[0]->designerWindow->visible);
  EXPECT_EQ(report->components[1]->type, 100);
  ASSERT_EQ(report->references.size(), 1u);
  EXPECT_TRUE(report->references[0]->isBroken);
  EXPECT_EQ(report->references[0]->unreadable, std::vector<std::string>{"Name"});
  EXPECT_EQ(ws.editor.bar("Tools")->controls.size(), 1u);  // no References... control
  ASSERT_TRUE(ws.host);
  EXPECT_EQ(ws.host->openFiles(), (std::vector<std::string>{"Letter.docx", "Report.doc"}));
  EXPECT_EQ(ws.host->state().activeDocument, "Letter.docx");
  EXPECT_FALSE(ws.host->addInInstalled("T.dotm"));
  EXPECT_EQ(ws.answers.size(), 2u);

  auto none = parseWorkspace(R"({"host": {"name": "Microsoft Excel"}, "projects": [{"name": "A", "file": "a"}],
                                 "active": null})", "w.json");
  EXPECT_EQ(none.editor.world().activeProject, nullptr);
  auto unknownHost = parseWorkspace(R"({"host": {"name": "Microsoft Visio"}, "projects": []})", "w.json");
  EXPECT_FALSE(unknownHost.host);
}

TEST(WorkspaceFile, AGermanEditorAndAccessUnderItsLaterName) {
  auto ws = parseWorkspace(R"({
    "host": {"name": "Microsoft Access", "files": ["Lager.accdb"]},
    "editor": {"language": "de"},
    "projects": [{"name": "Lager", "file": "Lager.accdb", "folder": "D:\\Daten\\"},
                 {"name": "Neu", "file": "Datenbank1", "saved": false}]})",
                           "w.json");
  ASSERT_TRUE(ws.host);
  EXPECT_EQ(ws.host->kind(), model::HostKind::Access);
  EXPECT_EQ(ws.editor.immediate()->caption, "Direktbereich");
  EXPECT_EQ(ws.editor.objectBrowser()->caption, "Objektkatalog");
  auto project = [&](const char* name) { return ws.editor.vbe().get("VBProjects").asObject().call("Item", {name}).asObject(); };
  EXPECT_EQ(project("Lager").get("FileName").asString(), "D:\\Daten\\Lager.accdb");
  EXPECT_THROW(project("Neu").get("FileName"), automation::Failure);
  EXPECT_THAT(refusal(R"({"host": {"name": "x"}, "editor": {"language": "fr"}, "projects": []})"),
              StartsWith("w.json:1:48: unknown language \"fr\""));
}

TEST(JsonPositions, ValuesAndKeysAreFoundByPointer) {
  std::string text = "\xEF\xBB\xBF{\"a\": [1, {\"b/c\": \"x\"}],\n \"d~\": true}";
  auto at = valueOffsets(text);
  EXPECT_EQ(at.at(""), 3u);
  EXPECT_EQ(text.substr(at.at("/a/1/b~1c"), 3), "\"x\"");
  EXPECT_EQ(text.substr(at.at("/d~0"), 4), "true");
  EXPECT_EQ(text.substr(at.at("/d~0#key"), 4), "\"d~\"");
  auto p = positionOf(text, at.at("/d~0"));
  EXPECT_EQ(p.line, 2u);
  EXPECT_EQ(p.column, 8u);
}

}  // namespace
}  // namespace sim
