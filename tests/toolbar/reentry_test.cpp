// Clicks and an unload that arrive while a command waits for the user in a host's dialog, a host's
// Close or the add-in's own question: the editor goes on delivering them then.
#include <gtest/gtest.h>

#include <functional>
#include <memory>

#include "addin/connect.h"
#include "model/hosts.h"
#include "model/platform.h"

namespace {

using model::HostBuilder;
using model::HostKind;

const char* const Bar = "Tessary Ver. 1.01";

// The add-in owned as COM owns it: counted references, destroyed at the last release.
class CountedAddin final : public platform::Lifetime {
 public:
  explicit CountedAddin(platform::Services s) : connect_(std::make_unique<addin::Connect>(s, this)) {}
  addin::Connect& operator*() const { return *connect_; }
  addin::Connect* operator->() const { return connect_.get(); }
  bool alive() const { return connect_ != nullptr; }
  int references() const { return refs_; }
  void hold() noexcept override { ++refs_; }
  void release() noexcept override {
    if (--refs_ == 0) connect_.reset();
  }

 private:
  int refs_ = 1;  // the add-in manager's
  std::unique_ptr<addin::Connect> connect_;
};

// A command that waits: which button starts it, in which host, and how the wait is reached.
struct Wait {
  const char* name;
  HostKind kind;
  const char* file;
  int button;
  bool question = false;  // the wait is the add-in's own message box, not a host call
};

const Wait Waits[] = {
    {"Excel's Open dialog", HostKind::Excel, "Book.xlsm", 5},
    {"Word's Open dialog", HostKind::Word, "Report.docm", 5},
    {"Access's Open command", HostKind::Access, "Orders.accdb", 5},
    {"PowerPoint's Open command", HostKind::PowerPoint, "Deck.pptm", 5},
    {"Excel closing a workbook", HostKind::Excel, "Book.xlsm", 6},
    {"Access's DoCmd.Close", HostKind::Access, "Orders.accdb", 6},
    {"the question before PowerPoint closes", HostKind::PowerPoint, "Deck.pptm", 6, true},
};

struct Scene {
  explicit Scene(const Wait& w)
      : wait(w),
        h(model::EditorBuilder()
              .host(model::displayNameOf(w.kind))
              .project("VBAProject", w.file)
              .component("Module1", 1)
              .component("Sheet1", 100)
              .build()),
        host(make(h.editor, w)),
        addin(h.services()) {
    host.install(h.hosts);
    h.messageBox.answers = {platform::MessageBoxes::Answer::No};
    addin->AddinInstance_OnConnection(h.editor.vbe(), 0);
  }
  static model::Host make(const model::Editor& e, const Wait& w) {
    HostBuilder b(e, w.kind);
    b.file(w.file, /*saved=*/!w.question);
    return b.build();
  }

  // Runs `during` once, inside the wait of the command that the button starts.
  model::ClickResult run(std::function<void()> during) {
    auto once = [this, during](auto&&...) {
      host.state().whileWaiting = nullptr;
      h.messageBox.whileShown = nullptr;
      during();
    };
    if (wait.question) h.messageBox.whileShown = once;
    else host.state().whileWaiting = once;
    return h.editor.click(Bar, wait.button);
  }

  bool codeWindowShown() const { return h.editor.component("VBAProject", "Module1")->codeWindow->visible; }
  // What the wait's command leaves when it runs to its end.
  void expectCommandFinished() const {
    EXPECT_TRUE(h.editor.world().mainWindow->visible);
    EXPECT_TRUE(host.visible());
    const bool hides = wait.kind == HostKind::Excel || wait.kind == HostKind::Word;
    const std::vector<bool> hiddenAndShown = hides ? std::vector<bool>{false, true} : std::vector<bool>{};
    if (wait.button == 5)
      EXPECT_EQ(host.state().visibleWrites, hiddenAndShown);
    else if (wait.kind == HostKind::Access)
      EXPECT_EQ(host.state().docmdCloses, 1);
    else
      EXPECT_FALSE(host.isOpen(wait.file));
  }
  int opened() const {
    switch (wait.kind) {
      case HostKind::Excel: return host.shown(1);
      case HostKind::Word: return host.shown(80);
      case HostKind::Access: return host.executed(2937);
      case HostKind::PowerPoint: return host.executed(23);
    }
    return -1;
  }

  const Wait& wait;
  model::Harness h;
  model::Host host;
  CountedAddin addin;
};

TEST(ClickDuringACommand, AnotherButtonIsIgnoredAndTheCommandEndsAsItShould) {
  for (const Wait& w : Waits) {
    SCOPED_TRACE(w.name);
    Scene s(w);
    model::ClickResult inner;
    auto outer = s.run([&] {
      EXPECT_TRUE(s.addin->busy());
      inner = s.h.editor.click(Bar, 1);
    });
    EXPECT_TRUE(inner.failures.empty());
    EXPECT_FALSE(s.codeWindowShown()) << "the click that arrived meanwhile ran";
    EXPECT_TRUE(outer.failures.empty());
    s.expectCommandFinished();
    // The next click, after the command, runs as usual.
    EXPECT_FALSE(s.addin->busy());
    s.h.editor.click(Bar, 1);
    EXPECT_TRUE(s.codeWindowShown());
  }
}

TEST(ClickDuringACommand, TheSameButtonAgainDoesNotStartTheCommandTwice) {
  for (const Wait& w : Waits) {
    SCOPED_TRACE(w.name);
    Scene s(w);
    auto outer = s.run([&] { EXPECT_TRUE(s.h.editor.click(Bar, w.button).failures.empty()); });
    EXPECT_TRUE(outer.failures.empty());
    if (w.button == 5) {
      EXPECT_EQ(s.opened(), 1);
    }
    if (w.question) {
      EXPECT_EQ(s.h.messageBox.shown.size(), 1u);
    }
    s.expectCommandFinished();
  }
}

TEST(ClickDuringACommand, AnIgnoredReferencesClickLeavesTheEditorsOwnDialogToOpen) {
  for (const Wait& w : Waits) {
    SCOPED_TRACE(w.name);
    Scene s(w);
    model::ClickResult inner;
    s.run([&] {
      for (const auto& c : s.h.editor.bar("Tools")->controls)
        if (c->id == 942) inner = s.h.editor.click(c);
    });
    EXPECT_FALSE(inner.cancelled);
    EXPECT_TRUE(inner.builtInRan);
    EXPECT_EQ(s.h.editor.world().referencesDialogOpened, 1);
    EXPECT_TRUE(s.h.editor.immediate()->text.empty());
    s.expectCommandFinished();
  }
}

TEST(ClickDuringACommand, UnloadedMeanwhileTheCommandFinishesAndTheAddinGoesAfterIt) {
  for (const Wait& w : Waits) {
    SCOPED_TRACE(w.name);
    Scene s(w);
    auto outer = s.run([&] {
      // The Add-In Manager unloads it: disconnection, then its last reference goes.
      s.addin->AddinInstance_OnDisconnection(0);
      s.addin.release();
      EXPECT_TRUE(s.addin.alive()) << "destroyed under the running command";
    });
    EXPECT_TRUE(outer.failures.empty()) << (outer.failures.empty() ? "" : outer.failures[0]);
    EXPECT_FALSE(s.addin.alive());
    EXPECT_EQ(s.h.editor.bar(Bar), nullptr);
    s.expectCommandFinished();
    EXPECT_EQ(s.h.editor.liveReferences(), 0);
  }
}

TEST(ClickDuringACommand, AFailedConnectionsMessageBoxLetsNoClickThroughAndSurvivesAnUnload) {
  // The third button's Add fails: two buttons stand, subscribed, while the box is up.
  auto editor = [] { return model::EditorBuilder().project("VBAProject", "Book.xlsm").component("Module1", 1).build(); };
  int64_t thirdAdd = 0;
  {
    model::Harness clean(editor());
    addin::Connect(clean.services()).AddinInstance_OnConnection(clean.editor.vbe(), 0);
    int adds = 0;
    const auto& calls = clean.editor.calls();
    for (size_t i = 0; i < calls.size() && !thirdAdd; ++i)
      if (calls[i].target == "CommandBarControls" && calls[i].member == "Add" && ++adds == 3)
        thirdAdd = static_cast<int64_t>(i + 1);
    ASSERT_GT(thirdAdd, 0);
  }
  for (bool unload : {false, true}) {
    model::Harness h(editor());
    CountedAddin addin(h.services());
    h.editor.faults().failCall(thirdAdd);
    model::ClickResult inner;
    h.messageBox.whileShown = [&](const std::string&) {
      h.messageBox.whileShown = nullptr;
      inner = h.editor.click(Bar, 1);
      if (unload) {
        addin->AddinInstance_OnDisconnection(0);
        addin.release();
      }
    };
    addin->AddinInstance_OnConnection(h.editor.vbe(), 0);
    ASSERT_EQ(h.messageBox.shown.size(), 1u);
    EXPECT_TRUE(inner.failures.empty());
    EXPECT_FALSE(h.editor.component("VBAProject", "Module1")->codeWindow->visible);
    EXPECT_EQ(addin.alive(), !unload);
    if (unload) {
      EXPECT_EQ(h.editor.liveReferences(), 0);
    }
  }
}

}  // namespace
