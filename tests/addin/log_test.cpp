#include "platform/log.h"

#include <gtest/gtest.h>

#include "addin/identity.h"
#include "model/hosts.h"
#include "support.h"
#include "toolbar/click_route.h"

namespace {

using Level = platform::Log::Level;

const std::string Bar = "Tessary Ver. 1.01";

model::Editor workspace() {
  return model::EditorBuilder()
      .host("Microsoft Excel")
      .project("Budget", "Budget.xlsm")
      .component("ThisWorkbook", 100)
      .component("Module1", 1)
      .component("Entry", 3)
      .reference("VBA", "Visual Basic For Applications", "C:\\VBE7.DLL", true)
      .project("Tools", "Tools.xlam")
      .component("Module2", 1)
      .active("Budget")
      .build();
}

// The editor with Excel running, and the log turned on in the settings (or left alone).
struct LogRig {
  explicit LogRig(bool on)
      : editor(workspace()),
        host(model::HostBuilder(editor, model::HostKind::Excel)
                 .file("Budget.xlsm")
                 .file("Tools.xlam")
                 .build()),
        rig(editor) {
    host.install(rig.h.hosts);
    if (on) rig.h.settings.values[{"vbatessary", "Settings", "Log"}] = "1";
  }
  model::Editor editor;
  model::Host host;
  Rig rig;

  const std::vector<model::RecordingLog::Line>& lines() const { return rig.h.log.lines; }
  // Every command once, the way the guided tour runs them, then the unload.
  void everything() {
    rig.connect();
    for (int position = 1; position <= 5; ++position) editor.click(Bar, position);
    editor.click(references());
    editor.click(Bar, 6);
    rig.disconnect();
  }
  std::shared_ptr<model::ControlNode> references() const {
    for (auto& b : editor.world().bars)
      for (auto& c : b->controls)
        if (c->id == 942) return c;
    return nullptr;
  }
  // The first line at or after `from` that starts with `start` and holds `also`; lines.size() if
  // none.
  size_t find(size_t from, const std::string& start, const std::string& also = "") const {
    for (size_t i = from; i < lines().size(); ++i)
      if (lines()[i].event.starts_with(start) && lines()[i].event.find(also) != std::string::npos)
        return i;
    return lines().size();
  }
  std::string dump() const {
    std::string all;
    for (const auto& line : rig.h.log.text()) all += line + "\n";
    return all;
  }
};

std::string route() {
  return model::hostBitness() == 64 ? "Office button events" : "editor events (VBE.Events)";
}

TEST(Log, ARunWritesConnectionEachSubscriptionEachClickAndDisconnectionInOrder) {
  LogRig r(true);
  r.everything();
  const std::string bits = std::to_string(sizeof(void*) * 8) + "-bit";
  struct Expected {
    Level level;
    std::string start, also;
  };
  const Expected expected[] = {
      {Level::Info, "connect: vba Tessary ",
       "(" + bits + "), mode 0, clicks through " + route() + ", editor 7.01"},
      {Level::Info, "subscribed: button 1 \"Open Active Project's All Modules\"", ""},
      {Level::Info, "subscribed: button 6 \"Close Active Project\"", ""},
      {Level::Info, "subscribed: Tools > References... (taken over)", ""},
      {Level::Info, "connected in ", " ms, bar built"},
      {Level::Info,
       "click: button 1 \"Open Active Project's All Modules\": ran activeprojaction(True), ended "
       "in ",
       ""},
      {Level::Info,
       "click: button 2 \"Close Active Project's All Modules\": ran activeprojaction(False)", ""},
      {Level::Info, "click: button 3 \"Open All Modules\": ran allprojaction(True)", ""},
      {Level::Info, "click: button 4 \"Close All Modules\": ran allprojaction(False)", ""},
      {Level::Info, "host: Microsoft Excel 16.0, found through the editor", ""},
      {Level::Info, "click: button 5 \"Open Projects\": ran UseFileDialogOpen", ""},
      {Level::Info, "click: References...: ran reflist (the References takeover), ended in ",
       " ms"},
      {Level::Info, "host: Microsoft Excel 16.0, found through the editor", ""},
      {Level::Info, "click: button 6 \"Close Active Project\": ran closewb", ""},
      {Level::Info,
       "disconnect: mode 1, DisplayOnConnect \"1\" written, bar deleted, released c, Btns1 to "
       "Btns6",
       ""},
  };
  size_t at = 0;
  for (const auto& e : expected) {
    at = r.find(at, e.start, e.also);
    ASSERT_LT(at, r.lines().size()) << "missing in order: " << e.start << "\n" << r.dump();
    EXPECT_EQ(r.lines()[at].level, e.level) << e.start;
    ++at;
  }
  int clicks = 0;
  for (const auto& line : r.lines()) {
    clicks += line.event.starts_with("click: ");
    EXPECT_EQ(line.event.find_first_of("\r\n"), std::string::npos) << line.event;
  }
  EXPECT_EQ(clicks, 7) << "one line per click\n" << r.dump();
  EXPECT_EQ(r.rig.h.log.on(), false) << "closed at disconnection";
}

// What the add-in does is the same with the log on: the only calls it adds are the two versions.
TEST(Log, OffWritesNothingAndOnChangesNothingTheAddinDoes) {
  LogRig off(false), on(true);
  off.everything();
  on.everything();
  EXPECT_TRUE(off.lines().empty());
  EXPECT_EQ(off.rig.h.log.starts, 1) << "the setting is read at connection";
  EXPECT_FALSE(on.lines().empty());

  std::vector<std::string> offCalls, onCalls;
  for (const auto& c : off.editor.calls()) offCalls.push_back(c.describe());
  for (const auto& c : on.editor.calls())
    if (c.member != "Version") onCalls.push_back(c.describe());
  EXPECT_EQ(onCalls, offCalls);
  EXPECT_EQ(on.rig.h.settings.writes, off.rig.h.settings.writes);
  EXPECT_EQ(on.rig.h.messageBox.shown, off.rig.h.messageBox.shown);
  EXPECT_EQ(on.editor.immediate()->text, off.editor.immediate()->text);
  EXPECT_EQ(on.host.closed(), off.host.closed());
  on.rig.unload();
  EXPECT_EQ(on.editor.liveReferences(), 0);
}

// Each failure a command meets is written where it was met, recovered or not, and the click's own
// line says how the click ended.
TEST(Log, AFailureNamesObjectMemberAndHresultAndTheClickSaysHowItEnded) {
  struct Case {
    int button;
    std::string member;   // the injected failure's rule
    std::string failure;  // how the log names the failed call
    std::string ending;   // how the click's line ends
    Level level;
  };
  const Case cases[] = {
      // A guarded stretch: the window is shown again and the click ends normally.
      {1, "VBComponent.CodeModule",
       "call failed: VBComponent.CodeModule: 0x800A01B8 Injected failure", "ended in ",
       Level::Info},
      // The failure goes back to the editor.
      {2, "CommandBarControl.Index",
       "call failed: CommandBarControl.Index: 0x800A01B8 Injected failure", "failed after ",
       Level::Error},
      // The host's Close fails inside its own guarded step.
      {6, "Workbook.Close", "call failed: Close: 0x800A01B8 Injected failure",
       "ran closewb, ended in ", Level::Info},
  };
  for (const auto& c : cases) {
    LogRig r(true);
    r.rig.connect();
    r.editor.faults().failMember(c.member, "Injected failure");
    r.editor.click(Bar, c.button);
    const size_t failed = r.find(0, c.failure);
    ASSERT_LT(failed, r.lines().size()) << c.member << "\n" << r.dump();
    EXPECT_EQ(r.lines()[failed].level, Level::Warning);
    const size_t click = r.find(failed, "click: button " + std::to_string(c.button), c.ending);
    ASSERT_LT(click, r.lines().size()) << c.member << "\n" << r.dump();
    EXPECT_EQ(r.lines()[click].level, c.level) << c.member;
  }
}

TEST(Log, IgnoredClicksSayWhy) {
  {
    LogRig r(true);
    r.rig.connect();
    r.rig.bar()->addControl(1, "Extra");
    r.editor.move(Bar, 6, 7);
    r.editor.click(Bar, 7);
    EXPECT_LT(
        r.find(0, "click: button 6 \"Close Active Project\": ignored, past the sixth position"),
        r.lines().size())
        << r.dump();
  }
  {
    // A click while the connection's failure waits in its message box.
    LogRig r(true);
    r.editor.faults().failMember("CommandBar.Visible", "Injected failure");
    r.rig.h.messageBox.whileShown = [&](const std::string&) {
      r.rig.h.messageBox.whileShown = nullptr;
      r.editor.click(Bar, 1);
    };
    r.rig.connect();
    ASSERT_EQ(r.rig.h.messageBox.shown.size(), 1u);
    EXPECT_LT(
        r.find(
            0,
            "click: button 1 \"Open Active Project's All Modules\": ignored, a command is running"),
        r.lines().size())
        << r.dump();
    EXPECT_LT(r.find(0, "connection failed after ",
                     "shown in a message box: 0x800A01B8 Injected failure"),
              r.lines().size())
        << r.dump();
  }
  if (model::hostBitness() == 64) {
    LogRig r(true);
    auto foreign = r.editor.addForeignButton(toolbar::ClickRoute::tagFor(2));
    r.rig.connect();
    r.editor.click(foreign);
    EXPECT_LT(r.find(0,
                     "click: button 2 \"Close Active Project's All Modules\": ignored, not this "
                     "bar's button"),
              r.lines().size())
        << r.dump();
  }
}

TEST(Log, LineBreaksInsideAnEventAreEscapedAndTheLineHasTimeProcessAndLevel) {
  struct Case {
    std::string event, line;
  };
  const Case cases[] = {
      {"plain", "plain"},
      {"two\r\nlines", "two\\r\\nlines"},
      {"lf\nonly", "lf\\nonly"},
      {"tab\tbell\a", "tab\\x09bell\\x07"},
      {"C:\\Path\\Wörk.xlsm", "C:\\Path\\Wörk.xlsm"},
  };
  for (const auto& c : cases) EXPECT_EQ(platform::logline::escape(c.event), c.line);
  EXPECT_EQ(platform::logline::format({2026, 1, 2, 3, 4, 5, 6}, 4242, Level::Warning, "x"),
            "2026-01-02 03:04:05.006 4242 WARN  x");

  // Editor data reaches the log as it is: a description with a line break stays one line.
  LogRig r(true);
  r.rig.connect();
  r.editor.faults().failMember("CommandBarControl.Index", "first\r\nsecond");
  r.editor.click(Bar, 1);
  EXPECT_LT(r.find(0, "call failed: CommandBarControl.Index: 0x800A01B8 first\\r\\nsecond"),
            r.lines().size())
      << r.dump();
}

}  // namespace
