#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "input_error.h"
#include "render_text.h"
#include "session.h"

namespace sim {
namespace {

using nlohmann::ordered_json;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

ordered_json run(Session& s, const std::string& line) {
  auto commands = parseLine(line);
  EXPECT_EQ(commands.size(), 1u) << line;
  return s.run(commands.at(0));
}

std::vector<std::string> strings(const ordered_json& a) { return a.get<std::vector<std::string>>(); }

TEST(SimSession, SampleTourShowsTheBarAndWhatEachCommandChanged) {
  Session s(sampleWorkspace(), nativeRuntime());
  auto start = run(s, "state");
  EXPECT_TRUE(start["bar"].is_null());
  EXPECT_THAT(strings(start["windows"]["visible"]), ElementsAre("VBAProject - EntryForm (UserForm)"));

  auto connected = run(s, "connect");
  const auto& bar = connected["bar"];
  ASSERT_TRUE(bar.is_object());
  EXPECT_EQ(bar["position"], "docked top");
  EXPECT_EQ(bar["visible"], true);
  EXPECT_EQ(bar["count"], 1);
  std::vector<std::string> captions;
  for (auto& b : bar["buttons"]) captions.push_back(b["caption"]);
  EXPECT_THAT(captions, ElementsAre("Open Active Project's All Modules", "Close Active Project's All Modules",
                                    "Open All Modules", "Close All Modules", "Open Projects",
                                    "Close Active Project"));
  EXPECT_EQ(bar["buttons"][0]["tooltip"], "Opens all the modules\r\nexcept Document Modules");
  EXPECT_TRUE(connected["messageBoxes"].empty());

  auto opened = run(s, "click 1");
  EXPECT_THAT(strings(opened["windows"]["opened"]),
              ElementsAre("VBAProject - Module1 (Code)", "VBAProject - Ledger (Code)", "VBAProject - EntryForm (Code)"));
  EXPECT_EQ(opened["mainWindow"], "visible");
  EXPECT_EQ(opened["activeProject"], "VBAProject");
  EXPECT_TRUE(opened["hostCalls"].empty());

  auto closed = run(s, "click \"Close Active Project's All Modules\"");
  EXPECT_EQ(closed["clicked"]["position"], 2);
  EXPECT_TRUE(closed["windows"]["visible"].empty());
  EXPECT_EQ(closed["windows"]["closed"].size(), 4u);  // the open designer too

  // The lookup in the Running Object Table is not a call the host receives.
  auto dialog = run(s, "click 5");
  EXPECT_THAT(strings(dialog["hostCalls"]),
              ElementsAre("Excel.Application.Application()", "Excel.Application.Visible = (Bool False)",
                          "Excel.Application.dialogs(I2 1)", "Dialog.Show()",
                          "Excel.Application.Visible = (Bool True)"));
  EXPECT_TRUE(dialog["failure"].is_null());

  auto refs = run(s, "references");
  std::string added = refs["immediate"]["added"];
  EXPECT_THAT(added, HasSubstr("\n\nReferences set in Budget.xlsm - [ VBAProject ] : 4"));
  EXPECT_THAT(added, HasSubstr("\n\nMissing Refernece found for below file :\n\nPath :      C:\\Tools\\Legacy\\OldCharts.ocx"));
  EXPECT_EQ(refs["immediate"]["height"], 200);
  EXPECT_EQ(refs["objectBrowser"], "visible");
  EXPECT_EQ(refs["referencesDialog"], false);

  auto closedFile = run(s, "click 6");
  EXPECT_THAT(strings(closedFile["host"]["openFiles"]), ElementsAre("LockedTools.xlam"));
  ASSERT_EQ(closedFile["projects"].size(), 1u);
  EXPECT_EQ(closedFile["activeProject"], "LockedTools");

  auto locked = run(s, "click 1");
  std::string notice = locked["immediate"]["added"];
  EXPECT_EQ(notice.rfind("\n\nLockedTools.xlam  is protected but you can see the reference set here.\n\n", 0), 0u);
  EXPECT_TRUE(locked["windows"]["opened"].empty());

  auto gone = run(s, "disconnect");
  EXPECT_TRUE(gone["bar"].is_null());
  EXPECT_THAT(strings(gone["settingsWritten"]), ElementsAre("vbatessary\\Settings\\DisplayOnConnect=1"));
  EXPECT_EQ(gone["referencesLeft"], 0);

  // Unloaded, the References command is the editor's own again.
  auto own = run(s, "references");
  EXPECT_EQ(own["referencesDialog"], true);
  EXPECT_EQ(own["immediate"]["added"], "");
}

TEST(SimSession, RefusedCommandsChangeNothing) {
  Session s(sampleWorkspace(), nativeRuntime());
  auto before = run(s, "state");
  EXPECT_THROW(run(s, "click 1"), InputError);
  EXPECT_THROW(run(s, "disconnect"), InputError);
  EXPECT_THROW(run(s, "move 1 2"), InputError);
  run(s, "connect");
  EXPECT_THROW(run(s, "connect"), InputError);
  try {
    run(s, "click 7");
    ADD_FAILURE() << "click 7 accepted";
  } catch (const InputError& e) {
    EXPECT_STREQ(e.what(), "click 7: the bar has 6 buttons");
  }
  EXPECT_THROW(run(s, "click \"Open Everything\""), InputError);
  EXPECT_THROW(run(s, "move 6 7"), InputError);
  auto after = run(s, "state");
  EXPECT_EQ(after["windows"], before["windows"]);
  EXPECT_TRUE(after["hostCalls"].empty());
  EXPECT_EQ(after["bar"]["buttons"][5]["caption"], "Close Active Project");

  Session noTools(parseWorkspace(R"({"host": {"name": "Microsoft Excel"}, "projects": [],
                                     "editor": {"toolsBar": false}})", "w.json"),
                  nativeRuntime());
  EXPECT_THROW(run(noTools, "references"), InputError);
}

std::vector<ordered_json> perform(Session& s, const std::string& line) {
  std::vector<ordered_json> out;
  for (auto& c : parseLine(line)) s.perform(c, [&](const ordered_json& r) { out.push_back(r); });
  return out;
}

TEST(SimSession, ACommandTypedBeforeAnyConnectionConnectsFirst) {
  for (auto line : {"click 1", "click \"Open All Modules\"", "references", "move 1 2", "disconnect"}) {
    Session s(sampleWorkspace(), nativeRuntime());
    auto docs = perform(s, line);
    ASSERT_EQ(docs.size(), 2u) << line;
    EXPECT_EQ(docs[0]["command"], "connect (implied)") << line;
    EXPECT_FALSE(docs[0]["bar"].is_null()) << line;
    EXPECT_EQ(docs[1]["command"], parseLine(line)[0].text) << line;
    EXPECT_TRUE(docs[1]["failure"].is_null()) << line;
  }

  Session s(sampleWorkspace(), nativeRuntime());
  EXPECT_EQ(perform(s, "state").size(), 1u);
  EXPECT_EQ(perform(s, "click 1").size(), 2u);
  EXPECT_EQ(perform(s, "click 2").size(), 1u);
  EXPECT_EQ(perform(s, "disconnect").size(), 1u);
  // Unloaded by the user: a click finds no bar, and nothing is connected behind their back.
  EXPECT_THROW(perform(s, "click 1"), InputError);
  EXPECT_TRUE(perform(s, "state")[0]["bar"].is_null());

  // Connected in mode 2 there is no bar; the connection is not made again.
  Session external(sampleWorkspace(), nativeRuntime());
  perform(external, "connect 2");
  EXPECT_THROW(perform(external, "click 1"), InputError);
}

TEST(SimSession, AnImpliedConnectionIsOneLineOfTextUnlessItShowedAMessageBox) {
  Session s(sampleWorkspace(), nativeRuntime());
  TextRenderer text(false);
  EXPECT_EQ(text.render(perform(s, "click 1")[0]), "== connect (implied)\n");

  auto ws = parseWorkspace(R"({"host": {"name": "Microsoft Excel"}, "projects": []})", "w.json");
  ws.editor.faults().failMember("CommandBars.Add", "Method 'Add' of object 'CommandBars' failed");
  Session failing(std::move(ws), nativeRuntime());
  std::vector<ordered_json> docs;
  EXPECT_THROW(failing.perform(parseLine("click 1")[0], [&](const ordered_json& r) { docs.push_back(r); }),
               InputError);  // no bar to click
  ASSERT_EQ(docs.size(), 1u);
  EXPECT_EQ(text.render(docs[0]),
            "== connect (implied)\nmessage box [OK]: \"Method 'Add' of object 'CommandBars' failed\"\n");
}

TEST(SimSession, AMovedButtonRunsTheActionOfItsNewPosition) {
  Session s(sampleWorkspace(), nativeRuntime());
  run(s, "connect");
  auto moved = run(s, "move 6 1");
  EXPECT_EQ(moved["bar"]["buttons"][0]["caption"], "Close Active Project");
  auto clicked = run(s, "click \"Close Active Project\"");
  EXPECT_EQ(clicked["clicked"]["position"], 1);
  EXPECT_EQ(clicked["windows"]["opened"].size(), 3u);  // button 1's action, not closing the file
  EXPECT_TRUE(clicked["hostCalls"].empty());
}

const char* unsavedDeck = R"({"host": {"name": "Microsoft PowerPoint",
                                       "files": [{"name": "Deck.pptm", "saved": false}]},
                              "projects": [{"name": "Deck", "file": "Deck.pptm"}]})";

TEST(SimSession, TheUsersAnswerDecidesWhetherAnUnsavedPresentationCloses) {
  for (auto [answer, saved, open] : {std::tuple{"yes", true, false}, std::tuple{"no", false, false},
                                     std::tuple{"cancel", false, true}}) {
    auto ws = parseWorkspace(unsavedDeck, "w.json");
    ws.answers = {*answerNamed(answer)};
    Session s(std::move(ws), nativeRuntime());
    run(s, "connect");
    auto r = run(s, "click 6");
    ASSERT_EQ(r["messageBoxes"].size(), 1u) << answer;
    EXPECT_EQ(r["messageBoxes"][0]["text"], "Do you want to save the changes you made to Deck.pptm?");
    EXPECT_EQ(r["messageBoxes"][0]["answer"], answer);
    bool sawSave = false;
    for (auto& c : r["hostCalls"]) sawSave = sawSave || c == "Presentation.Save()";
    EXPECT_EQ(sawSave, saved) << answer;
    EXPECT_EQ(!r["host"]["openFiles"].empty(), open) << answer;
    EXPECT_EQ(r["projects"].size(), open ? 1u : 0u) << answer;
  }
}

TEST(SimSession, FailuresOfAnUnreachableHostGoBackToTheEditor) {
  Session s(parseWorkspace(R"({"host": {"name": "Microsoft Word", "running": false},
                               "projects": [{"name": "P", "file": "P"}]})", "w.json"),
            nativeRuntime());
  run(s, "connect");
  auto r = run(s, "click 6");
  EXPECT_EQ(r["failure"], "ActiveX component can't create object: no running Word.Application");
  EXPECT_EQ(r["projects"].size(), 1u);
  // The next click starts afresh: no stale failure is reported for it.
  EXPECT_TRUE(run(s, "click 1")["failure"].is_null());
}

// A second Excel whose first instance holds the Running Object Table: the editor's own workbook
// leads to its own Excel, and the other process is never called.
TEST(SimSession, TheHostIsFoundThroughTheEditorBeforeTheTable) {
  const char* twoExcels = R"({"host": {"name": "Microsoft Excel", "table": "another process", "files": ["Two.xlsm"]},
                              "projects": [{"name": "Two", "file": "Two.xlsm",
                                            "components": [{"name": "ThisWorkbook", "type": "document"}]}]})";
  Session s(parseWorkspace(twoExcels, "w.json"), nativeRuntime());
  run(s, "connect");
  auto r = run(s, "click 6");
  EXPECT_TRUE(r["failure"].is_null()) << r["failure"];
  EXPECT_EQ(r["hostFoundThrough"], "editor");
  EXPECT_TRUE(s.workspace().host->openFiles().empty());
  EXPECT_EQ(s.workspace().otherHost->openFiles(), std::vector<std::string>{"Two.xlsm"});
  EXPECT_THAT(TextRenderer(false).render(r), HasSubstr("the host received (found through the editor):"));

  // Not in the table yet: a locked active project hands over to the next unlocked one; with no
  // document component anywhere, the table's failure is the one the editor gets.
  const char* notYetInTable = R"({"host": {"name": "Microsoft Excel", "table": "empty", "files": ["A.xlsm", "B.xlsm"]},
      "projects": [{"name": "A", "file": "A.xlsm", "protection": "locked", "components": [{"name": "D", "type": "document"}]},
                   {"name": "B", "file": "B.xlsm", "components": [{"name": "D", "type": "document"}]}]})";
  Session locked(parseWorkspace(notYetInTable, "w.json"), nativeRuntime());
  run(locked, "connect");
  r = run(locked, "click 5");
  EXPECT_TRUE(r["failure"].is_null()) << r["failure"];
  EXPECT_EQ(r["hostFoundThrough"], "editor");

  Session bare(parseWorkspace(R"({"host": {"name": "Microsoft Excel", "table": "empty"},
                                  "projects": [{"name": "M", "file": "M.xlsm"}]})", "w.json"),
               nativeRuntime());
  run(bare, "connect");
  r = run(bare, "click 6");
  EXPECT_EQ(r["failure"], "ActiveX component can't create object: no running Excel.Application");
  EXPECT_TRUE(r["hostFoundThrough"].is_null());
}

TEST(SimSession, AFailedConnectionShowsItsMessageBox) {
  auto ws = parseWorkspace(R"({"host": {"name": "Microsoft Excel"}, "projects": []})", "w.json");
  ws.editor.faults().failMember("CommandBars.Add", "Method 'Add' of object 'CommandBars' failed");
  Session s(std::move(ws), nativeRuntime());
  auto r = run(s, "connect");
  ASSERT_EQ(r["messageBoxes"].size(), 1u);
  EXPECT_EQ(r["messageBoxes"][0]["text"], "Method 'Add' of object 'CommandBars' failed");
  EXPECT_EQ(r["messageBoxes"][0]["buttons"], "OK");
  EXPECT_TRUE(r["bar"].is_null());
  EXPECT_THAT(strings(run(s, "disconnect")["settingsWritten"]),
              ElementsAre("vbatessary\\Settings\\DisplayOnConnect=0"));
}

// Several sessions in one run, with a host object referenced from before the first (as the
// Running Object Table does when the DLL is loaded): each disconnection reports its own setting,
// even one written before with the same value, and only the references the add-in took.
TEST(SimSession, EachSessionReportsItsOwnSettingAndReferences) {
  auto ws = sampleWorkspace();
  automation::Object heldByTheDesktop = ws.host->application();
  Session s(std::move(ws), nativeRuntime());
  for (auto [mode, value] : {std::pair{"connect", "1"}, {"connect 2", "0"}, {"connect", "1"}}) {
    run(s, mode);
    auto gone = run(s, "disconnect");
    EXPECT_THAT(strings(gone["settingsWritten"]), ElementsAre(std::string("vbatessary\\Settings\\DisplayOnConnect=") + value))
        << mode;
    EXPECT_EQ(gone["referencesLeft"], 0) << mode;
  }
  EXPECT_TRUE(run(s, "state")["settingsWritten"].empty());
}

TEST(SimCommands, ArgumentsAndPromptLinesParseAlike) {
  auto a = parseArguments({"connect", "external", "click", "Open All Modules", "move", "2", "5", "state"});
  ASSERT_EQ(a.size(), 4u);
  EXPECT_EQ(a[0].mode, 2);
  EXPECT_EQ(a[1].caption, "Open All Modules");
  EXPECT_EQ(a[1].text, "click \"Open All Modules\"");
  EXPECT_EQ(a[2].position, 2);
  EXPECT_EQ(a[2].to, 5);
  auto b = parseLine("connect 2 click \"Open All Modules\"  move 2 5\tstate");
  ASSERT_EQ(b.size(), 4u);
  EXPECT_EQ(b[1].caption, a[1].caption);
  EXPECT_EQ(parseArguments({"connect", "click", "3"})[0].mode, 0);
  EXPECT_TRUE(parseLine("   ").empty());

  for (auto bad : {"clik 1", "click", "click 0", "move 1", "move a b", "connect 5", "connect later",
                   "click \"unterminated", "click 99999999999"})
    EXPECT_THROW(parseLine(bad), InputError) << bad;
}

}  // namespace
}  // namespace sim
