// Runs the tessary-sim program itself: exit statuses, standard output and error, the examples.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>

namespace {

using ::testing::HasSubstr;
using ::testing::Not;

struct Run {
  int status = -1;
  std::string out, err;
};

std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

Run sim(const std::string& args, const std::string& input = "") {
  auto dir = std::filesystem::temp_directory_path() / ("tessary-sim-test-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  std::string in = (dir / "in").string(), out = (dir / "out").string(), err = (dir / "err").string();
  std::ofstream(in) << input;
  std::string cmd = std::string("'") + TESSARY_SIM + "' " + args + " <'" + in + "' >'" + out + "' 2>'" + err + "'";
  Run r;
  int raw = std::system(cmd.c_str());
  r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  r.out = slurp(out);
  r.err = slurp(err);
  std::filesystem::remove_all(dir);
  return r;
}

std::vector<nlohmann::json> lines(const std::string& out) {
  std::vector<nlohmann::json> docs;
  std::istringstream in(out);
  for (std::string line; std::getline(in, line);) docs.push_back(nlohmann::json::parse(line));
  return docs;
}

std::string example(const std::string& name) { return std::string(EXAMPLES_DIR) + "/" + name; }

TEST(SimProgram, TheTourRunsEveryCommandOnTheSample) {
  auto r = sim("");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  for (auto heading : {"== connect\n", "== click 1  (button 1", "== click 5  (button 5", "== click 6  (button 6",
                       "== references\n", "== disconnect\n"})
    EXPECT_THAT(r.out, HasSubstr(heading));
  EXPECT_THAT(r.out, HasSubstr("  | Open Active Project's All Modules   Close Active Project's All Modules   "
                               "Open All Modules   Close All Modules   Open Projects   Close Active Project \n"));
  EXPECT_THAT(r.out, HasSubstr("  opened: VBAProject - Module1 (Code), VBAProject - Ledger (Code), "
                               "VBAProject - EntryForm (Code)\n"));
  EXPECT_THAT(r.out, HasSubstr("  |LockedTools.xlam  is protected but you can see the reference set here.\n"));
  EXPECT_THAT(r.out, HasSubstr("references to editor and host objects still held: 0\n"));

  auto json = sim("--json");
  ASSERT_EQ(json.status, 0);
  auto docs = lines(json.out);
  ASSERT_EQ(docs.size(), 11u);  // state, connect, 5 clicks, references, 2 clicks, disconnect
  EXPECT_EQ(docs[1]["bar"]["buttons"].size(), 6u);
  EXPECT_EQ(sim("--json").out, json.out);  // nothing varies from run to run
}

TEST(SimProgram, EveryExampleRunsTheTourCleanly) {
  int examples = 0;
  for (auto& entry : std::filesystem::directory_iterator(EXAMPLES_DIR)) {
    if (entry.path().extension() != ".json") continue;
    ++examples;
    auto r = sim("--json --workspace '" + entry.path().string() + "'");
    ASSERT_EQ(r.status, 0) << entry.path() << ": " << r.err;
    auto docs = lines(r.out);
    ASSERT_EQ(docs.size(), 11u) << entry.path();
    EXPECT_EQ(docs.back()["referencesLeft"], 0) << entry.path();
    EXPECT_FALSE(docs[1]["bar"].is_null()) << entry.path();
  }
  EXPECT_GE(examples, 3);
}

TEST(SimProgram, ClickOneOnTheWordExampleShowsTheCodeWindowsOpened) {
  auto r = sim("--workspace '" + example("word-report.json") + "' connect click 1");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_THAT(r.out, HasSubstr("  opened: ReportProject - Formatting (Code), ReportProject - TableBuilder (Code), "
                               "ReportProject - OptionsForm (Code), ReportProject - ExportForm (Code)\n"));
}

// The log's lines come with each report only when asked for; the reports are otherwise the same.
TEST(SimProgram, LogOnShowsEachCommandsLinesAndOffLeavesTheReportsAsTheyWere) {
  const std::string commands = " connect click 1 references click 6 disconnect";
  auto off = sim("--json" + commands), on = sim("--json --log" + commands);
  ASSERT_EQ(off.status, 0) << off.err;
  ASSERT_EQ(on.status, 0) << on.err;
  auto offDocs = lines(off.out), onDocs = lines(on.out);
  ASSERT_EQ(onDocs.size(), 5u);
  ASSERT_EQ(offDocs.size(), 5u);
  const char* first[] = {"INFO  connect: vba Tessary ", "INFO  click: button 1 ",
                         "INFO  click: References...: ran reflist",
                         "INFO  host: Microsoft Excel 16.0, found through the editor",
                         "INFO  disconnect: mode 1, DisplayOnConnect \"1\" written"};
  for (size_t i = 0; i < onDocs.size(); ++i) {
    EXPECT_FALSE(offDocs[i].contains("log"));
    ASSERT_TRUE(onDocs[i]["log"].is_array()) << onDocs[i].dump();
    bool found = false;
    for (auto& line : onDocs[i]["log"])
      found = found || line.get<std::string>().starts_with(first[i]);
    EXPECT_TRUE(found) << onDocs[i]["log"].dump();
    onDocs[i].erase("log");
    // The host's and the editor's versions are read for the log: the only calls it adds.
    auto& calls = onDocs[i]["hostCalls"];
    calls.erase(std::remove(calls.begin(), calls.end(), "Excel.Application.Version()"),
                calls.end());
    EXPECT_EQ(onDocs[i], offDocs[i]);
  }
  auto text = sim("--log connect");
  EXPECT_THAT(text.out, HasSubstr("log:\n  INFO  connect: vba Tessary "));
}

TEST(SimProgram, ACommandBeforeAnyConnectionConnectsFirst) {
  auto r = sim("--workspace '" + example("word-report.json") + "' click 1");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  // One line for the connection; the click's report shows the whole bar, seen for the first time.
  EXPECT_EQ(r.out.rfind("== connect (implied)\n== click 1  (button 1, \"Open Active Project's All Modules\")\n"
                        "bar \"Tessary Ver. 1.01\": docked top, visible\n", 0),
            0u)
      << r.out;
  EXPECT_THAT(r.out, HasSubstr("\n  6. \"Close Active Project\"  caption, tooltip \"Close selected project file\"\n"));
  EXPECT_THAT(r.out, HasSubstr("  opened: ReportProject - Formatting (Code), ReportProject - TableBuilder (Code), "
                               "ReportProject - OptionsForm (Code), ReportProject - ExportForm (Code)\n"));

  auto json = lines(sim("--json click 1").out);
  ASSERT_EQ(json.size(), 2u);
  EXPECT_EQ(json[0]["command"], "connect (implied)");
  EXPECT_EQ(json[0]["bar"]["buttons"].size(), 6u);
  EXPECT_EQ(json[1]["command"], "click 1");
  EXPECT_EQ(json[1]["windows"]["opened"].size(), 3u);

  auto refs = lines(sim("--json references").out);
  ASSERT_EQ(refs.size(), 2u);
  EXPECT_EQ(refs[0]["command"], "connect (implied)");
  EXPECT_THAT(refs[1]["immediate"]["added"].get<std::string>(), HasSubstr("References set in Budget.xlsm"));
  EXPECT_EQ(refs[1]["referencesDialog"], false);  // the add-in's report, not the editor's dialog

  // The same as connecting by hand, but for the command's name.
  auto typed = lines(sim("--json connect references").out);
  ASSERT_EQ(typed.size(), 2u);
  typed[0]["command"] = "connect (implied)";
  EXPECT_EQ(typed, refs);

  // One implied connection only: the next commands find the add-in loaded.
  auto two = lines(sim("--json state click 1 click 2 disconnect").out);
  ASSERT_EQ(two.size(), 5u);
  EXPECT_TRUE(two[0]["bar"].is_null());
  EXPECT_EQ(two[1]["command"], "connect (implied)");
  EXPECT_EQ(two[4]["referencesLeft"], 0);
}

TEST(SimProgram, StateAloneDoesNotConnect) {
  auto r = sim("--json state");
  ASSERT_EQ(r.status, 0) << r.err;
  auto docs = lines(r.out);
  ASSERT_EQ(docs.size(), 1u);
  EXPECT_EQ(docs[0]["command"], "state");
  EXPECT_TRUE(docs[0]["bar"].is_null());
  EXPECT_THAT(sim("state").out, Not(HasSubstr("implied")));
}

TEST(SimProgram, BadInputGetsStatusTwoAMessageAndNoOutput) {
  auto dir = std::filesystem::temp_directory_path() / ("tessary-sim-bad-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  auto bad = (dir / "bad.json").string();
  std::ofstream(bad) << "{\n  \"host\": {\"name\": \"Microsoft Excel\"},\n  \"projects\": [\n    {\"name\": \"A\",,}\n  ]\n}\n";
  struct Case {
    std::string args, message;
  };
  std::vector<Case> cases = {
      {"--workspace '" + bad + "' connect", bad + ":4:18: not valid JSON: "},
      {"--workspace '" + (dir / "absent.json").string() + "'", "cannot read the workspace file"},
      {"connect click 1 dance", "unknown command \"dance\""},
      {"connect click 1 click 9", "click 9: the bar has 6 buttons"},
      {"connect disconnect click 1", "is not in the editor (connect first)"},
      {"click 9", "click 9: the bar has 6 buttons"},  // refused after its implied connection
      {"--answer perhaps", "--answer: expected yes, no or cancel"},
      {"--frobnicate", "unknown option --frobnicate"},
      {"--workspace", "--workspace: missing its value"},
      {"--dll vbatessary.dll", "native build"},
  };
  for (auto& c : cases) {
    auto r = sim(c.args);
    EXPECT_EQ(r.status, 2) << c.args;
    EXPECT_THAT(r.err, HasSubstr(c.message)) << c.args;
    EXPECT_EQ(r.out, "") << c.args;  // a refused run prints nothing half-done
  }
  std::filesystem::remove_all(dir);
}

TEST(SimProgram, ThePromptReadsCommandsAndGoesOnAfterARefusal) {
  auto r = sim("--json -i", "connect\nclick 8\nclick \"Open All Modules\"\nquit\nstate\n");
  EXPECT_EQ(r.status, 2);  // one line was refused
  EXPECT_THAT(r.err, HasSubstr("click 8: the bar has 6 buttons"));
  auto docs = lines(r.out);
  ASSERT_EQ(docs.size(), 2u);  // nothing after quit
  EXPECT_EQ(docs[1]["clicked"]["position"], 3);

  // At the prompt too, a first click connects; a refused one keeps the connection it made.
  auto first = sim("--json -i", "click 9\nclick 1\n");
  EXPECT_EQ(first.status, 2);
  EXPECT_THAT(first.err, HasSubstr("click 9: the bar has 6 buttons"));
  auto firstDocs = lines(first.out);
  ASSERT_EQ(firstDocs.size(), 2u);
  EXPECT_EQ(firstDocs[0]["command"], "connect (implied)");
  EXPECT_EQ(firstDocs[1]["command"], "click 1");

  auto clean = sim("-i", "connect\n\nstate\n");
  EXPECT_EQ(clean.status, 0) << clean.err;
  EXPECT_THAT(clean.out, HasSubstr("== state\n"));
}

}  // namespace
