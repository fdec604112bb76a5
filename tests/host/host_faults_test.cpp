#include <gtest/gtest.h>

#include "host_rig.h"

namespace {

using model::HostBuilder;
using model::HostKind;

struct Scenario {
  HostKind kind;
  std::string file;
  std::function<void(HostBuilder&)> shape;
};

std::vector<Scenario> scenarios() {
  return {
      {HostKind::Excel, "Book.xlsm", [](HostBuilder& b) { b.file("Book.xlsm"); }},
      // Not open by name, so the comparison and the active-document close run as well.
      {HostKind::Word, "Report", [](HostBuilder& b) { b.file("Report.doc").addIn("Report"); }},
      {HostKind::Access, "Orders.accdb", [](HostBuilder& b) { b.file("Orders.accdb"); }},
      {HostKind::PowerPoint, "Deck.pptm", [](HostBuilder& b) { b.file("Deck.pptm", false); }},
  };
}

HostRig make(const Scenario& s) {
  auto e = hostedEditor(model::displayNameOf(s.kind), s.file);
  HostBuilder b(e, s.kind);
  s.shape(b);
  return HostRig(e, b.build());
}

size_t lookupIndex(const std::vector<model::Call>& calls) {
  for (size_t i = 0; i < calls.size(); ++i)
    if (calls[i].target == "RunningObjectTable") return i + 1;
  return 0;
}

// 1-based index of the host name's Caption (getappname's last call).
size_t hostNameIndex(const std::vector<model::Call>& calls) {
  for (size_t i = 1; i < calls.size(); ++i)
    if (calls[i].describe() == "CommandBarControl.Caption()" && calls[i - 1].member == "FindControl" &&
        calls[i - 1].args.size() > 1 && calls[i - 1].args[1] == automation::Value::i2(106))
      return i + 1;
  return 0;
}

// closewb: a failing call in the project count, the host name or the lookup reaches the caller
// with nothing closed; a failing call while reading the file name or after the lookup is
// absorbed. No reference outlives the command.
TEST(CloseFaultSweep, EachFailingCallIsReportedOrAbsorbedByItsStep) {
  for (const auto& s : scenarios()) {
    auto clean = make(s);
    clean.rig.h.messageBox.answers = {platform::MessageBoxes::Answer::Yes};
    clean.addin().closewb();
    const auto calls = clean.editor().calls();
    const size_t lookup = lookupIndex(calls);
    ASSERT_GT(lookup, 5u) << model::progIdOf(s.kind);
    ASSERT_EQ(clean.host.closed().size() + clean.host.state().docmdCloses, 1u)
        << "the clean run closes";

    for (size_t k = 1; k <= calls.size(); ++k) {
      auto r = make(s);
      r.rig.h.messageBox.answers = {platform::MessageBoxes::Answer::Yes};
      r.editor().faults().failCall(static_cast<int64_t>(k), "fault " + std::to_string(k));
      // Between the host's name and the table lookup, Excel and Word walk the editor for the host;
      // a failure there only sends the command on to the table.
      const size_t name = hostNameIndex(calls);
      const bool reported = k <= 2 || (k >= name - 2 && k <= name) || k == lookup;
      const std::string at = std::string(model::progIdOf(s.kind)) + " call " + std::to_string(k) +
                             " " + calls[k - 1].describe();
      ASSERT_GT(name, 2u);
      try {
        r.addin().closewb();
        EXPECT_FALSE(reported) << at << " was absorbed";
      } catch (const automation::Failure& f) {
        EXPECT_TRUE(reported) << at << " reached the caller";
        EXPECT_EQ(f.description(), "fault " + std::to_string(k)) << at;
        EXPECT_EQ(r.host.state().closed.size(), 0u) << at;
        EXPECT_EQ(r.host.state().docmdCloses, 0) << at;
      }
      EXPECT_LE(r.rig.h.messageBox.shown.size(), 1u) << at;
      EXPECT_FALSE(r.leaked()) << at;
    }
  }
}

// UseFileDialogOpen: before the host object exists, step R fails for want of it and that is the
// caller's failure; from the lookup's result on, step R shows the host and the command succeeds.
TEST(OpenFaultSweep, EachFailingCallEndsInStepRWithTheHostShown) {
  for (const auto& s : scenarios()) {
    auto clean = make(s);
    clean.addin().UseFileDialogOpen();
    const auto calls = clean.editor().calls();
    const size_t lookup = lookupIndex(calls);
    const size_t name = hostNameIndex(calls);
    ASSERT_GT(lookup, 0u);
    ASSERT_GT(name, 0u);

    for (size_t k = 1; k <= calls.size(); ++k) {
      auto r = make(s);
      r.editor().faults().failCall(static_cast<int64_t>(k));
      const bool walk = k > name && k < lookup;
      const std::string at = std::string(model::progIdOf(s.kind)) + " call " + std::to_string(k) +
                             " " + calls[k - 1].describe();
      try {
        r.addin().UseFileDialogOpen();
        EXPECT_TRUE(k > lookup || walk) << at << " was absorbed";
        EXPECT_TRUE(r.host.visible()) << at;
      } catch (const automation::Failure& f) {
        EXPECT_TRUE(k <= lookup && !walk) << at << " reached the caller";
        EXPECT_EQ(f.code(), automation::errors::ObjectNotSet) << at;
      }
      EXPECT_TRUE(r.rig.h.messageBox.shown.empty()) << at;
      EXPECT_FALSE(r.leaked()) << at;
    }
  }
}

}  // namespace
