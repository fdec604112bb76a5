#include <gtest/gtest.h>

#include <algorithm>

#include "model/sample.h"
#include "support.h"

namespace {

using Lines = std::vector<std::string>;

std::string repeat(const std::string& s, int n) {
  std::string out;
  for (int i = 0; i < n; ++i) out += s;
  return out;
}

const std::string Top = "~~" + repeat("\u00BB", 68);
const std::string Bottom = "~~" + repeat("\u00AB", 68);
const std::string Missing = "~~Missing Refernece found for below file :";
const std::string Signature = "~~Debug Window print by Brenwick";
const std::string Hint = "~~To Set References Press F2 (Object Browser) & right click & Select References...";

// What the Immediate window shows after these report lines have been typed (each line is the
// text after its two leading Enter keys).
std::string shown(const Lines& lines) {
  std::string out;
  for (const auto& l : lines) out += "\n\n" + l;
  return out;
}

const std::string VbePath = "C:\\Program Files\\Common Files\\Microsoft Shared\\VBA\\VBA7.1\\VBE7.DLL";
const std::string OcxPath = "C:\\Windows\\SysWOW64\\MSCOMCTL.OCX";
const std::string ScrrunPath = "C:\\Windows\\SysWOW64\\scrrun.dll";

model::Editor threeReferences() {
  return model::EditorBuilder()
      .project("VBAProject", "Book1.xlsm")
      .component("Module1", 1)
      .reference("VBA", "Visual Basic For Applications", VbePath, true)
      .reference("MSComctlLib", "Microsoft Windows Common Controls 6.0 (SP6)", OcxPath, false, true, {"Name"})
      .reference("Scripting", "Microsoft Scripting Runtime", ScrrunPath)
      .build();
}

struct Connected : Rig {
  explicit Connected(model::Editor e) : Rig(std::move(e)) { connect(); }
  const Lines& sent() { return h.keyboard.sent; }
  std::string immediateText() { return editor().immediate()->text; }
};

TEST(ReferenceReport, ThreeReferencesWithABrokenOneInTheMiddle) {
  Connected rig(threeReferences());
  rig.addin->reflist();

  EXPECT_EQ(rig.sent(), (Lines{
      Top,
      "~~References set in Book1.xlsm - [ VBAProject ] : 3",
      "~~VBA :   Visual Basic For Applications    Built-in Ref.: True   is Broken : False",
      "~~Path :      " + VbePath,
      Missing,
      "~~Path :      " + OcxPath,
      "~~Scripting :   Microsoft Scripting Runtime    Built-in Ref.: False   is Broken : False",
      "~~Path :      " + ScrrunPath,
      Signature,
      Hint,
      Bottom,
  }));
  EXPECT_EQ(rig.immediateText(), shown({
      repeat("\u00BB", 68),
      "References set in Book1.xlsm - [ VBAProject ] : 3",
      "VBA :   Visual Basic For Applications    Built-in Ref.: True   is Broken : False",
      "Path :      " + VbePath,
      "Missing Refernece found for below file :",
      "Path :      " + OcxPath,
      "Scripting :   Microsoft Scripting Runtime    Built-in Ref.: False   is Broken : False",
      "Path :      " + ScrrunPath,
      "Debug Window print by Brenwick",
      "To Set References Press F2 (Object Browser) & right click & Select References...",
      repeat("\u00AB", 68),
  }));
  auto immediate = rig.editor().immediate();
  EXPECT_EQ(rig.editor().world().focused, immediate.get());
  EXPECT_TRUE(immediate->visible);
  EXPECT_EQ(immediate->height, 150);
  rig.disconnect();
  rig.unload();
  EXPECT_EQ(rig.editor().liveReferences(), 0);
}

TEST(ReferenceReport, RulesAreSeventyCharactersOfWhichTwoAreEnter) {
  Connected rig(threeReferences());
  rig.addin->reflist();
  const std::string& text = rig.immediateText();
  ASSERT_EQ(text.rfind("\n\n", 0), 0u);
  auto firstLine = text.substr(2, text.find('\n', 2) - 2);
  EXPECT_EQ(firstLine, repeat("\u00BB", 68));
  EXPECT_EQ(text.substr(text.size() - 68 * 2), repeat("\u00AB", 68)) << "no Enter after the bottom rule";
}

TEST(ReferenceReport, NoReferencesGivesHeaderWithZeroAndHeightZero) {
  Connected rig(model::EditorBuilder().project("VBAProject", "Book1.xlsm").build());
  rig.addin->reflist();
  EXPECT_EQ(rig.sent(), (Lines{Top, "~~References set in Book1.xlsm - [ VBAProject ] : 0", Signature, Hint, Bottom}));
  EXPECT_TRUE(rig.editor().immediate()->visible);
  EXPECT_EQ(rig.editor().immediate()->height, 0);
}

TEST(ReferenceReport, UnreadableValuesOfAReference) {
  // A path that cannot be read loses only its path line; a detail read that fails brings the
  // missing-reference line for that reference alone, whichever read it was.
  Connected rig(model::EditorBuilder()
                    .project("VBAProject", "Book1.xlsm")
                    .reference("Office", "Microsoft Office 16.0 Object Library", "C:\\mso.dll", true, false, {"FullPath"})
                    .reference("Outlook", "Microsoft Outlook 16.0 Object Library", "C:\\msoutl.olb", false, false)
                    .reference("Forms", "Microsoft Forms 2.0 Object Library", "C:\\FM20.DLL", false, true, {"IsBroken"})
                    .reference("Gone", "Nothing", "", false, true, {"Description", "FullPath"})
                    .build());
  rig.addin->reflist();
  EXPECT_EQ(rig.sent(), (Lines{
      Top,
      "~~References set in Book1.xlsm - [ VBAProject ] : 4",
      "~~Office :   Microsoft Office 16.0 Object Library    Built-in Ref.: True   is Broken : False",
      "~~Outlook :   Microsoft Outlook 16.0 Object Library    Built-in Ref.: False   is Broken : False",
      "~~Path :      C:\\msoutl.olb",
      Missing,
      "~~Path :      C:\\FM20.DLL",
      Missing,
      Signature,
      Hint,
      Bottom,
  }));
  EXPECT_EQ(rig.editor().immediate()->height, 200);
}

TEST(ReferenceReport, EditorValuesWithTildesAndBracesArriveLiterally) {
  // 8.3 paths are full of "~"; typed as Enter keys they would run partial lines as statements.
  Connected rig(model::EditorBuilder()
                    .project("Proj~1", "Q1~2024 {draft}.xlsm")
                    .reference("Lib~A", "Desc ~ with {braces} and }{", "C:\\PROGRA~1\\COMMON~1\\MICROS~1\\x~.dll")
                    .build());
  rig.addin->reflist();
  EXPECT_EQ(rig.immediateText(), shown({
      repeat("\u00BB", 68),
      "References set in Q1~2024 {draft}.xlsm - [ Proj~1 ] : 1",
      "Lib~A :   Desc ~ with {braces} and }{    Built-in Ref.: False   is Broken : False",
      "Path :      C:\\PROGRA~1\\COMMON~1\\MICROS~1\\x~.dll",
      "Debug Window print by Brenwick",
      "To Set References Press F2 (Object Browser) & right click & Select References...",
      repeat("\u00AB", 68),
  }));
  const std::string& text = rig.immediateText();
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 14) << "two Enter keys per line and no more";
  // The fixed texts keep their Enter keys; only the values are written in brace notation.
  EXPECT_EQ(rig.sent().at(3), "~~Path :      C:\\PROGRA{~}1\\COMMON{~}1\\MICROS{~}1\\x{~}.dll");
}

TEST(ReferenceReport, EmptyFileNameRunsStraightIntoTheProjectName) {
  for (bool withoutFileBar : {false, true}) {
    SCOPED_TRACE(withoutFileBar ? "no File bar" : "caption without a name");
    auto builder = model::EditorBuilder();
    if (withoutFileBar) builder.withoutFileBar();
    Connected rig(builder.project("VBAProject", "").build());
    rig.addin->reflist();
    ASSERT_GE(rig.sent().size(), 2u);
    EXPECT_EQ(rig.sent()[1], "~~References set in  - [ VBAProject ] : 0");
  }
}

TEST(ReferenceReport, FailuresBeforeTheHeaderReachTheCallerAndLeaveWhatWasTyped) {
  {
    SCOPED_TRACE("no active project");
    Connected rig(threeReferences());
    rig.editor().world().activeProject = nullptr;
    EXPECT_THROW(rig.addin->reflist(), automation::Failure);
    EXPECT_EQ(rig.sent(), Lines{Top});
    EXPECT_EQ(rig.immediateText(), "\n\n" + repeat("\u00BB", 68));
    EXPECT_EQ(rig.editor().immediate()->height, 100) << "nothing after the failure runs";
  }
  {
    SCOPED_TRACE("the count cannot be read");
    Connected rig(threeReferences());
    rig.editor().faults().failMember("References.Count", "Automation error", 440);
    try {
      rig.addin->reflist();
      ADD_FAILURE() << "the failure must reach the caller";
    } catch (const automation::Failure& f) {
      EXPECT_EQ(f.description(), "Automation error");
    }
    EXPECT_EQ(rig.sent(), Lines{Top});
  }
  {
    SCOPED_TRACE("no Immediate window");
    Connected rig(threeReferences());
    auto& windows = rig.editor().world().windows;
    std::erase(windows, rig.editor().immediate());
    EXPECT_THROW(rig.addin->reflist(), automation::Failure);
    EXPECT_TRUE(rig.sent().empty());
  }
}

TEST(ReferenceReport, ReferencesThatCannotBeEnumeratedGiveOneMissingLine) {
  Connected rig(threeReferences());
  rig.editor().project("VBAProject")->referencesEnumerable = false;
  EXPECT_NO_THROW(rig.addin->reflist());
  EXPECT_EQ(rig.sent(), (Lines{Top, "~~References set in Book1.xlsm - [ VBAProject ] : 3", Missing, Signature, Hint, Bottom}));
  EXPECT_EQ(rig.editor().immediate()->height, 150);
}

// The call number, in a clean run of `action` on a fresh editor, of the n-th call matching.
template <class Make, class Action, class Match>
int64_t callNumber(Make make, Action action, Match match, int n = 1) {
  Connected rig(make());
  action(rig);
  const auto& log = rig.editor().calls();
  for (size_t i = 0; i < log.size(); ++i)
    if (match(log[i]) && --n == 0) return static_cast<int64_t>(i + 1);
  ADD_FAILURE() << "no such call";
  return 0;
}

TEST(ReferenceReport, FailingToMoveOnEndsTheListButNotTheReport) {
  auto run = [](Connected& r) { r.addin->reflist(); };
  auto isNext = [](const model::Call& c) { return c.target == "References" && c.member == "Next"; };
  {
    SCOPED_TRACE("the first move fails");
    Connected rig(threeReferences());
    rig.editor().faults().failMember("References.Next", "Automation error");
    EXPECT_NO_THROW(rig.addin->reflist());
    EXPECT_EQ(rig.sent(), (Lines{Top, "~~References set in Book1.xlsm - [ VBAProject ] : 3", Signature, Hint, Bottom}));
  }
  {
    SCOPED_TRACE("the move past the first reference fails");
    Connected rig(threeReferences());
    rig.editor().faults().failAt = callNumber(threeReferences, run, isNext, 2);
    EXPECT_NO_THROW(rig.addin->reflist());
    EXPECT_EQ(rig.sent(), (Lines{
        Top,
        "~~References set in Book1.xlsm - [ VBAProject ] : 3",
        "~~VBA :   Visual Basic For Applications    Built-in Ref.: True   is Broken : False",
        "~~Path :      " + VbePath,
        Signature,
        Hint,
        Bottom,
    }));
    EXPECT_EQ(rig.editor().immediate()->height, 150);
    rig.disconnect();
    rig.unload();
    EXPECT_EQ(rig.editor().liveReferences(), 0) << "the enumeration is released";
  }
}

TEST(ReferenceReport, HeightIsLeftAloneWhenFiftyTimesTheCountOverflows) {
  struct Case {
    int32_t count;
    int32_t height;
  };
  // 50 * 42949672 = 2147483600 fits a 32-bit integer; one more does not.
  for (auto c : {Case{42949672, 2147483600}, Case{42949673, 100}, Case{-42949672, -2147483600},
                 Case{-42949673, 100}}) {
    SCOPED_TRACE("count " + std::to_string(c.count));
    Connected rig(threeReferences());
    rig.editor().project("VBAProject")->referencesCount = c.count;
    EXPECT_NO_THROW(rig.addin->reflist());
    EXPECT_EQ(rig.sent().at(1), "~~References set in Book1.xlsm - [ VBAProject ] : " + std::to_string(c.count));
    EXPECT_TRUE(rig.editor().immediate()->visible) << "visibility is set even when the height is not";
    EXPECT_EQ(rig.editor().immediate()->height, c.height);
  }
}

// A keystroke service that refuses chosen texts (as a real one may refuse a text it cannot type).
class RefusingKeyboard : public platform::Keyboard {
 public:
  RefusingKeyboard(model::ModelKeyboard& inner, std::function<bool(const std::string&)> refuse)
      : inner_(inner), refuse_(std::move(refuse)) {}
  void type(const std::string& notation) override {
    if (refuse_(notation)) automation::fail("Keystrokes refused", 5);
    inner_.type(notation);
  }

 private:
  model::ModelKeyboard& inner_;
  std::function<bool(const std::string&)> refuse_;
};

TEST(ReferenceReport, ATextTheKeyboardRefuses) {
  auto refusing = [](std::function<bool(const std::string&)> refuse, auto check) {
    model::Harness h(threeReferences());
    RefusingKeyboard keyboard(h.keyboard, std::move(refuse));
    addin::Connect addin({h.settings, h.messageBox, keyboard, h.hosts, h.log});
    addin.setVBInstance(h.editor.vbe());
    check(addin, h.keyboard.sent);
  };
  // A refused detail line counts as a failed detail line: the missing-reference line follows.
  refusing([](const std::string& s) { return s.rfind("~~Scripting", 0) == 0; },
           [](addin::Connect& addin, const Lines& sent) {
             EXPECT_NO_THROW(addin.reflist());
             ASSERT_EQ(sent.size(), 11u);
             EXPECT_EQ(sent[6], Missing);
             EXPECT_EQ(sent[7], "~~Path :      " + ScrrunPath);
           });
  // Closing lines are skipped one by one.
  refusing([](const std::string& s) { return s == Signature; },
           [](addin::Connect& addin, const Lines& sent) {
             EXPECT_NO_THROW(addin.reflist());
             EXPECT_EQ(Lines(sent.end() - 3, sent.end()), (Lines{"~~Path :      " + ScrrunPath, Hint, Bottom}));
           });
  // Before the list, a refused text is the caller's failure.
  refusing([](const std::string& s) { return s.rfind("~~References set in", 0) == 0; },
           [](addin::Connect& addin, const Lines& sent) {
             EXPECT_THROW(addin.reflist(), automation::Failure);
             EXPECT_EQ(sent, Lines{Top});
           });
}

TEST(ReferenceReport, SampleWorkspaceReportsItsShortPathsLiterally) {
  Connected rig(model::sampleWorkspace());
  rig.addin->reflist();
  EXPECT_NE(rig.immediateText().find("\n\nPath :      C:\\PROGRA~1\\COMMON~1\\MICROS~1\\VBA\\VBA7.1\\VBE7.DLL\n\n"),
            std::string::npos);
  EXPECT_EQ(rig.editor().immediate()->height, 200);
}

// Each call of a clean report is made to fail in turn. Up to the header's count the failure
// reaches the caller (except inside getwbname, which gives an empty name); after it the report
// always runs to its bottom rule and succeeds. Nothing leaks either way.
TEST(ReferenceReportFaultSweep, EachFailingCallLandsInItsRegime) {
  Lines cleanSent;
  std::vector<model::Call> clean;
  size_t base = 0;
  {
    Connected rig(threeReferences());
    base = rig.editor().calls().size();
    rig.addin->reflist();
    clean = rig.editor().calls();
    cleanSent = rig.sent();
  }
  size_t headerCount = 0, secondWindows = 0;
  int windowsSeen = 0;
  for (size_t i = base; i < clean.size(); ++i) {
    if (!headerCount && clean[i].target == "References" && clean[i].member == "Count") headerCount = i;
    if (clean[i].target == "VBE" && clean[i].member == "Windows" && ++windowsSeen == 2) secondWindows = i;
  }
  ASSERT_TRUE(headerCount && secondWindows);

  for (size_t i = base; i < clean.size(); ++i) {
    const auto& call = clean[i];
    SCOPED_TRACE("failing call " + std::to_string(i + 1) + ": " + call.describe());
    Connected rig(threeReferences());
    const int64_t live = rig.editor().liveReferences();
    rig.editor().faults().failAt = static_cast<int64_t>(i + 1);
    bool inFileName = call.target.rfind("CommandBar", 0) == 0 || call.member == "CommandBars";
    // The window not found by its name is found by its type: the report runs as if nothing failed.
    bool byType = call.target == "Windows" && call.member == "Item";

    if (i <= headerCount && !inFileName && !byType) {
      EXPECT_THROW(rig.addin->reflist(), automation::Failure);
      EXPECT_LE(rig.sent().size(), 1u);
    } else {
      EXPECT_NO_THROW(rig.addin->reflist());
      ASSERT_GE(rig.sent().size(), 5u);
      EXPECT_EQ(rig.sent().front(), Top);
      EXPECT_EQ(Lines(rig.sent().end() - 3, rig.sent().end()), (Lines{Signature, Hint, Bottom}));
      if (inFileName) {
        EXPECT_EQ(rig.sent()[1], "~~References set in  - [ VBAProject ] : 3");
      }
      auto immediate = rig.editor().immediate();
      bool fetchOrShow = i >= secondWindows && i <= secondWindows + 2 && !byType;
      EXPECT_EQ(immediate->visible, !fetchOrShow);
      EXPECT_EQ(immediate->height, (i >= secondWindows && i != secondWindows + 2 && !byType) ? 100 : 150);
      if (i > secondWindows || byType) {
        EXPECT_EQ(rig.sent(), cleanSent);
      }
    }
    EXPECT_EQ(rig.editor().liveReferences(), live);
  }
}

}  // namespace
