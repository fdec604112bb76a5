// The checker's decisions over a machine described by a table: which key and view each bitness
// reads, what fails, and the verdict and exit status that follow.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <tuple>

#include "checker.h"

namespace check {
namespace {

const std::string List = "Software\\Microsoft\\VBA\\VBE\\6.0\\";
const std::string Record32 = List + "Addins\\VBATessary.Connect";
const std::string Record64 = List + "Addins64\\VBATessary.Connect";
const std::string ProgIdKey = "Software\\Classes\\VBATessary.Connect\\CLSID";
const std::string Server = "Software\\Classes\\CLSID\\{BF58B135-96A1-4809-BA5C-8B9637E56DAB}\\InprocServer32";
const std::string C2R = "SOFTWARE\\Microsoft\\Office\\ClickToRun\\Configuration";
const std::string Dll64 = "C:\\Users\\Jürgen\\AppData\\Local\\vbaTessary\\x64\\vbatessary.dll";
const std::string Dll32 = "C:\\Users\\Jürgen\\AppData\\Local\\vbaTessary\\x86\\vbatessary.dll";

RegValue text(std::string s) { return {RegValue::Kind::String, std::move(s), 0, 1}; }
RegValue dword(std::uint32_t d) { return {RegValue::Kind::Dword, "", d, 4}; }

class FakeMachine : public Machine {
 public:
  using Key = std::tuple<Hive, Bits, std::string>;
  Bits self = Bits::x64;
  bool win64 = true;
  std::map<Key, std::map<std::string, RegValue>> keys;
  std::map<std::string, std::uint16_t> files;  // path -> PE machine (0: not a PE image)
  std::map<std::string, std::string> zones;
  std::map<Bits, Creation> creations;
  std::vector<Process> running;
  std::optional<bool> elevatedSelf = false;
  std::vector<std::pair<Bits, std::string>> created;

  void set(Hive h, Bits view, const std::string& key, const std::string& name, RegValue v) { keys[{h, view, key}][name] = v; }
  // HKCU\Software outside Classes and the whole of a 32-bit Windows are one view.
  void shared(Hive h, const std::string& key, const std::string& name, RegValue v) {
    set(h, Bits::x86, key, name, v);
    set(h, Bits::x64, key, name, v);
  }
  void registerDll(Bits b, const std::string& dll) {
    const std::string record = b == Bits::x86 ? Record32 : Record64;
    shared(Hive::User, record, "FriendlyName", text("vba Tessary Ver. 1.01"));
    shared(Hive::User, record, "Description", text("for advance vba functionality"));
    shared(Hive::User, record, "LoadBehavior", dword(3));
    set(Hive::User, b, ProgIdKey, "", text("{BF58B135-96A1-4809-BA5C-8B9637E56DAB}"));
    set(Hive::User, b, Server, "", text(dll));
    set(Hive::User, b, Server, "ThreadingModel", text("Apartment"));
    files[dll] = b == Bits::x86 ? 0x14c : 0x8664;
    creations[b] = {Creation::Outcome::Created, 0, "vbatessary-check.exe"};
  }

  Bits own() const override { return self; }
  bool windows64() const override { return win64; }
  RegValue value(Hive h, Bits view, const std::string& key, const std::string& name) override {
    auto k = keys.find({h, win64 ? view : Bits::x86, key});
    if (k == keys.end()) return {};
    auto v = k->second.find(name);
    return v == k->second.end() ? RegValue{} : v->second;
  }
  bool keyExists(Hive h, Bits view, const std::string& key) override {
    return keys.count({h, win64 ? view : Bits::x86, key}) != 0;
  }
  std::string expand(const std::string& s) override {
    std::string out = s;
    if (auto at = out.find("%LOCALAPPDATA%"); at != std::string::npos) out.replace(at, 14, "C:\\Users\\Jürgen\\AppData\\Local");
    return out;
  }
  bool fileExists(const std::string& path) override { return files.count(path) != 0; }
  std::optional<std::string> zoneIdentifier(const std::string& path) override {
    auto z = zones.find(path);
    return z == zones.end() ? std::nullopt : std::optional<std::string>(z->second);
  }
  std::optional<std::uint16_t> peMachine(const std::string& path) override {
    auto f = files.find(path);
    if (f == files.end() || f->second == 0) return std::nullopt;
    return f->second;
  }
  Creation create(Bits b, const std::string& path) override {
    created.push_back({b, path});
    return creations.count(b) ? creations[b] : Creation{};
  }
  std::vector<Process> offices() override { return running; }
  std::optional<bool> elevated() override { return elevatedSelf; }
};

// A 64-bit Windows with 64-bit Click-to-Run Office, VBA, and the add-in registered for it.
FakeMachine healthy() {
  FakeMachine m;
  m.set(Hive::Machine, Bits::x64, C2R, "Platform", text("x64"));
  m.set(Hive::Machine, Bits::x64, C2R, "VersionToReport", text("16.0.17928.20114"));
  m.set(Hive::Machine, Bits::x64, "SOFTWARE\\Microsoft\\VBA", "Vbe71DllPath", text("C:\\VBA\\VBE7.DLL"));
  m.files["C:\\VBA\\VBE7.DLL"] = 0x8664;
  m.registerDll(Bits::x64, Dll64);
  return m;
}

Status statusOf(const Result& r, Bits b, const std::string& id) {
  for (const Check& c : r.checks)
    if (c.bits == b && c.id == id) return c.status;
  ADD_FAILURE() << "no check " << id << " for " << name(b);
  return Status::Skip;
}

TEST(Checker, HealthyInstallationPassesEveryCheckInOrder) {
  FakeMachine m = healthy();
  Result r = run(m);
  std::vector<std::string> ids;
  for (const Check& c : r.checks) {
    EXPECT_EQ(c.bits, Bits::x64);
    EXPECT_EQ(c.status, Status::Ok) << c.id << ": " << c.detail;
    ids.push_back(c.id);
  }
  EXPECT_EQ(ids, (std::vector<std::string>{"office", "record", "loadbehavior", "class", "file", "machine", "load", "vba",
                                           "running", "elevated"}));
  EXPECT_TRUE(r.ok());
  ASSERT_EQ(m.created.size(), 1u);
  EXPECT_EQ(m.created[0], std::make_pair(Bits::x64, Dll64));
  EXPECT_EQ(verdict(r), "vba Tessary can load in 64-bit Office.");
}

// Each fault a user meets, the check it fails or warns, and whether the add-in can still load.
TEST(Checker, EachFaultIsNamedByItsCheck) {
  struct Case {
    const char* what;
    std::function<void(FakeMachine&)> change;
    const char* id;
    Status status;
    const char* says = "";  // in the check's detail
  };
  const Case cases[] = {
      {"nothing registered", [](FakeMachine& m) { m = healthy(), m.keys.erase({Hive::User, Bits::x64, Record64}),
                                                  m.keys.erase({Hive::User, Bits::x86, Record64}); },
       "record", Status::Fail, "not registered: no HKCU\\Software\\Microsoft\\VBA\\VBE\\6.0\\Addins64\\"},
      {"record under the other bitness's key only",
       [](FakeMachine& m) {
         auto rec = m.keys[{Hive::User, Bits::x64, Record64}];
         m.keys.erase({Hive::User, Bits::x64, Record64});
         m.keys.erase({Hive::User, Bits::x86, Record64});
         m.keys[{Hive::User, Bits::x64, Record32}] = m.keys[{Hive::User, Bits::x86, Record32}] = rec;
       },
       "record", Status::Fail, "listed only under Addins, which 32-bit Office reads"},
      {"record only in HKLM",
       [](FakeMachine& m) {
         auto rec = m.keys[{Hive::User, Bits::x64, Record64}];
         m.keys.erase({Hive::User, Bits::x64, Record64});
         m.keys.erase({Hive::User, Bits::x86, Record64});
         m.keys[{Hive::Machine, Bits::x64, Record64}] = rec;
       },
       "record", Status::Fail, "only in HKEY_LOCAL_MACHINE"},
      {"LoadBehavior 0", [](FakeMachine& m) { m.shared(Hive::User, Record64, "LoadBehavior", dword(0)); }, "loadbehavior",
       Status::Fail},
      {"LoadBehavior 1", [](FakeMachine& m) { m.shared(Hive::User, Record64, "LoadBehavior", dword(1)); }, "loadbehavior",
       Status::Warn},
      {"LoadBehavior as text", [](FakeMachine& m) { m.shared(Hive::User, Record64, "LoadBehavior", text("3")); },
       "loadbehavior", Status::Warn},
      {"class only in the 32-bit view",
       [](FakeMachine& m) {
         m.keys[{Hive::User, Bits::x86, ProgIdKey}] = m.keys[{Hive::User, Bits::x64, ProgIdKey}];
         m.keys.erase({Hive::User, Bits::x64, ProgIdKey});
       },
       "class", Status::Fail},
      {"ProgID leads to another class",
       [](FakeMachine& m) { m.set(Hive::User, Bits::x64, ProgIdKey, "", text("{00000000-0000-0000-0000-000000000001}")); },
       "class", Status::Fail},
      {"ThreadingModel missing", [](FakeMachine& m) { m.keys[{Hive::User, Bits::x64, Server}].erase("ThreadingModel"); },
       "class", Status::Warn},
      {"registered file missing", [](FakeMachine& m) { m.files.erase(Dll64); }, "file", Status::Fail},
      {"file downloaded and blocked", [](FakeMachine& m) { m.zones[Dll64] = "[ZoneTransfer]\r\nZoneId=3\r\n"; }, "file",
       Status::Fail},
      {"file from the intranet", [](FakeMachine& m) { m.zones[Dll64] = "[ZoneTransfer]\r\nZoneId=1\r\n"; }, "file",
       Status::Ok},
      {"the other bitness's DLL",
       [](FakeMachine& m) {
         m.set(Hive::User, Bits::x64, Server, "", text(Dll32));
         m.files[Dll32] = 0x14c;
       },
       "machine", Status::Fail, "is a 32-bit (x86) DLL; 64-bit Office loads only 64-bit DLLs"},
      {"not a PE image", [](FakeMachine& m) { m.files[Dll64] = 0; }, "machine", Status::Fail},
      {"creation fails", [](FakeMachine& m) { m.creations[Bits::x64] = {Creation::Outcome::Failed, long(0x8007007E), "x"}; },
       "load", Status::Fail},
      {"no VBA runtime", [](FakeMachine& m) { m.keys.erase({Hive::Machine, Bits::x64, "SOFTWARE\\Microsoft\\VBA"}); },
       "vba", Status::Warn},
      {"Excel running", [](FakeMachine& m) { m.running.push_back({"EXCEL.EXE", 42, Bits::x64, false}); }, "running",
       Status::Warn},
      {"Excel running elevated", [](FakeMachine& m) { m.running.push_back({"EXCEL.EXE", 42, Bits::x64, true}); },
       "elevated", Status::Warn},
      {"this check elevated", [](FakeMachine& m) { m.elevatedSelf = true; }, "elevated", Status::Warn},
  };
  for (const Case& c : cases) {
    FakeMachine m = healthy();
    c.change(m);
    Result r = run(m);
    EXPECT_EQ(statusOf(r, Bits::x64, c.id), c.status) << c.what;
    for (const Check& k : r.checks)
      if (k.id == c.id) {
        EXPECT_NE(k.detail.find(c.says), std::string::npos) << c.what << ": " << k.detail;
      }
    int failed = 0;
    for (const Check& k : r.checks) {
      failed += k.status == Status::Fail;
      if (k.status == Status::Fail || k.status == Status::Warn) {
        EXPECT_FALSE(k.fix.empty()) << c.what << ": " << k.id;
      }
    }
    EXPECT_EQ(r.ok(), c.status != Status::Fail) << c.what;
    EXPECT_EQ(failed, c.status == Status::Fail ? 1 : 0) << c.what << ": a failure is reported once, later checks skip";
  }
}

// Which Office is found, which bitnesses are checked, and what the verdict is about.
TEST(Checker, OfficeBitnessDecidesWhatIsChecked) {
  struct Case {
    const char* what;
    std::function<void(FakeMachine&)> setup;
    std::vector<Bits> checked;
    bool ok;
  };
  const Case cases[] = {
      {"32-bit Click-to-Run Office on 64-bit Windows, only the x64 DLL registered",
       [](FakeMachine& m) { m.set(Hive::Machine, Bits::x64, C2R, "Platform", text("x86")); }, {Bits::x86}, false},
      {"32-bit MSI Office in the 32-bit view, x86 DLL registered",
       [](FakeMachine& m) {
         m.keys.erase({Hive::Machine, Bits::x64, C2R});
         m.set(Hive::Machine, Bits::x86, "SOFTWARE\\Microsoft\\Office\\16.0\\Outlook", "Bitness", text("x86"));
         m.registerDll(Bits::x86, Dll32);
       },
       {Bits::x86}, true},
      {"both bitnesses installed, one of them can load",
       [](FakeMachine& m) { m.set(Hive::Machine, Bits::x86, "SOFTWARE\\Microsoft\\Office\\15.0\\Outlook", "Bitness", text("x86")); },
       {Bits::x86, Bits::x64}, true},
      {"no Office: both checked, the verdict is this program's bitness",
       [](FakeMachine& m) { m.keys.erase({Hive::Machine, Bits::x64, C2R}); }, {Bits::x86, Bits::x64}, true},
      {"no Office, 32-bit checker, only x64 registered",
       [](FakeMachine& m) {
         m.keys.erase({Hive::Machine, Bits::x64, C2R});
         m.self = Bits::x86;
       },
       {Bits::x86, Bits::x64}, false},
      {"Office found by its program's PE header",
       [](FakeMachine& m) {
         m.keys.erase({Hive::Machine, Bits::x64, C2R});
         m.set(Hive::Machine, Bits::x64, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\excel.exe", "",
               text("\"C:\\Office\\EXCEL.EXE\""));
         m.files["C:\\Office\\EXCEL.EXE"] = 0x8664;
       },
       {Bits::x64}, true},
      {"32-bit Windows: one view, x86 only",
       [](FakeMachine& m) {
         m = FakeMachine{};
         m.win64 = false;
         m.self = Bits::x86;
         m.registerDll(Bits::x86, "%LOCALAPPDATA%\\vbaTessary\\x86\\vbatessary.dll");
         m.set(Hive::User, Bits::x86, Server, "", {RegValue::Kind::ExpandString, "%LOCALAPPDATA%\\vbaTessary\\x86\\vbatessary.dll", 0, 2});
         m.files[Dll32] = 0x14c;
       },
       {Bits::x86}, true},
  };
  for (const Case& c : cases) {
    FakeMachine m = healthy();
    c.setup(m);
    Result r = run(m);
    EXPECT_EQ(r.checked, c.checked) << c.what;
    EXPECT_EQ(r.ok(), c.ok) << c.what << "\n" << text(r, "1.00");
  }
}

TEST(Checker, ReportsAreOneLineEachAndValidJson) {
  FakeMachine m = healthy();
  m.shared(Hive::User, Record64, "FriendlyName", text("two\r\nlines \"quoted\" \\ Jürgen"));
  m.shared(Hive::User, Record64, "LoadBehavior", dword(0));
  Result r = run(m);
  std::string t = text(r, "1.00");
  EXPECT_EQ(std::count(t.begin(), t.end(), '\n'), static_cast<long>(r.checks.size()) + 3);
  EXPECT_NE(t.find("x64 fail loadbehavior 0: unticked in Add-Ins > Add-In Manager, or disabled by the editor after a "
                   "failed start -> tick"),
            std::string::npos)
      << t;
  EXPECT_NE(t.find("vba Tessary cannot load in 64-bit Office"), std::string::npos);
  std::string j = json(r, "1.00");
  EXPECT_EQ(j.rfind("{\"version\": \"1.00\", \"checks\": [", 0), 0u);
  EXPECT_NE(j.find("two\\r\\nlines \\\"quoted\\\" \\\\ Jürgen"), std::string::npos) << j;
  EXPECT_NE(j.find("{\"bitness\": \"x64\", \"id\": \"loadbehavior\", \"status\": \"fail\""), std::string::npos);
  EXPECT_NE(j.find("\"verdict\": \"fail\"}"), std::string::npos);
}

TEST(Checker, TheLogsLastLinesFollowTheChecks) {
  EXPECT_EQ(lastLines("a\r\nb\nc\n", 2), (std::vector<std::string>{"b", "c"}));
  EXPECT_EQ(lastLines("a\nb", 5), (std::vector<std::string>{"a", "b"}));
  FakeMachine m = healthy();
  Result r = run(m);
  r.log = {true, "C:\\log", true, {"12:00:00.000 42 info connected", "12:00:01.000 42 info click 1"}};
  std::string t = text(r, "1.00");
  EXPECT_NE(t.find("vba Tessary can load in 64-bit Office.\nlog C:\\log, its last 2 lines:\n  12:00:00.000 42 info "
                   "connected\n  12:00:01.000 42 info click 1\n"),
            std::string::npos)
      << t;
  EXPECT_NE(json(r, "1.00").find("\"log\": {\"on\": true, \"path\": \"C:\\\\log\", \"tail\": [\"12:00:00.000"), std::string::npos);
}

TEST(Checker, RepairRefusesWhatItMustNotTouch) {
  EXPECT_NE(repairRefusal(true, false, true)->find("MSI"), std::string::npos);
  EXPECT_NE(repairRefusal(false, true, true)->find("elevated"), std::string::npos);
  EXPECT_NE(repairRefusal(false, false, false)->find("no vbatessary.dll"), std::string::npos);
  EXPECT_FALSE(repairRefusal(false, false, true));
  EXPECT_FALSE(repairRefusal(false, std::nullopt, true));
}

TEST(Checker, LoadFailuresSayWhatTheirCodeMeans) {
  EXPECT_NE(meaning(long(0x800700C1)).find("(193)"), std::string::npos);
  EXPECT_NE(meaning(long(0x8007007E)).find("(126)"), std::string::npos);
  EXPECT_NE(meaning(long(0x80040154)).find("class not registered"), std::string::npos);
  FakeMachine m = healthy();
  m.creations[Bits::x64] = {Creation::Outcome::Failed, long(0x800700C1), "vbatessary-check.exe"};
  Result r = run(m);
  EXPECT_NE(text(r, "1.00").find("x64 fail load         0x800700C1: not a valid program"), std::string::npos)
      << text(r, "1.00");
}

}  // namespace
}  // namespace check
