// The checker's decisions over a machine described by a table: which key and view each bitness
// reads, what fails, and the verdict and exit status that follow.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <tuple>

#include "addin/identity.h"
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
const std::string MachineDll64 = "C:\\Program Files\\vba Tessary\\vbatessary.dll";
const std::string MachineDll32 = "C:\\Program Files (x86)\\vba Tessary\\vbatessary.dll";

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
  std::vector<std::string> writes;  // "HKCU x64 key\\name", "delete HKCU x64 key"

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
    for (const auto& [k, values] : keys)  // a key exists when it, or a key under it, has values
      if (std::get<0>(k) == h && std::get<1>(k) == (win64 ? view : Bits::x86) &&
          (std::get<2>(k) == key || std::get<2>(k).rfind(key + "\\", 0) == 0))
        return true;
    return false;
  }
  static std::string where(Hive h, Bits view, const std::string& key) {
    return std::string(h == Hive::User ? "HKCU " : "HKLM ") + name(view) + " " + key;
  }
  bool setValue(Hive h, Bits view, const std::string& key, const std::string& name, const RegValue& v) override {
    writes.push_back(where(h, view, key) + "\\" + name);
    set(h, win64 ? view : Bits::x86, key, name, v);
    return true;
  }
  bool deleteKey(Hive h, Bits view, const std::string& key) override {
    writes.push_back("delete " + where(h, view, key));
    keys.erase({h, win64 ? view : Bits::x86, key});
    return true;
  }
  std::string expand(const std::string& s) override {
    std::string out = s;
    if (auto at = out.find("%LOCALAPPDATA%"); at != std::string::npos) out.replace(at, 14, "C:\\Users\\Jürgen\\AppData\\Local");
    return out == "%ProgramFiles%" ? "C:\\Program Files" : out;
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

// healthy()'s Office with vba Tessary installed for all users: both classes in HKLM, and Active
// Setup has written this user's records.
FakeMachine machineWide() {
  FakeMachine m = healthy();
  m.keys.erase({Hive::User, Bits::x64, ProgIdKey});
  m.keys.erase({Hive::User, Bits::x64, Server});
  for (auto [b, dll] : {std::pair(Bits::x64, MachineDll64), std::pair(Bits::x86, MachineDll32)}) {
    m.set(Hive::Machine, b, ProgIdKey, "", text("{BF58B135-96A1-4809-BA5C-8B9637E56DAB}"));
    m.set(Hive::Machine, b, Server, "", text(dll));
    m.set(Hive::Machine, b, Server, "ThreadingModel", text("Apartment"));
    m.files[dll] = b == Bits::x86 ? 0x14c : 0x8664;
    const std::string record = b == Bits::x86 ? Record32 : Record64;
    m.shared(Hive::User, record, "FriendlyName", text(addin::identity::FriendlyName));
    m.shared(Hive::User, record, "Description", text(addin::identity::Description));
  }
  m.set(Hive::Machine, Bits::x64, ActiveSetupInstall, "Version", text("1,0,57"));
  m.set(Hive::User, Bits::x64, ActiveSetupInstall, "Version", text("1,0,57"));
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

// What a check must show: a row cannot leave it out (no default constructor).
struct Says {
  Says(const char* s) : text(s) {}
  Says(std::string s) : text(std::move(s)) {}
  std::string text;
};

// Each fault a user meets, the check it fails or warns, and whether the add-in can still load.
TEST(Checker, EachFaultIsNamedByItsCheck) {
  struct Case {
    const char* what;
    std::function<void(FakeMachine&)> change;
    const char* id;
    Status status;
    Says says;  // in the check's detail or fix
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
       Status::Fail, "0: unticked in Add-Ins > Add-In Manager"},
      {"LoadBehavior 1", [](FakeMachine& m) { m.shared(Hive::User, Record64, "LoadBehavior", dword(1)); }, "loadbehavior",
       Status::Warn, "1: not loaded when the editor starts"},
      {"LoadBehavior as text", [](FakeMachine& m) { m.shared(Hive::User, Record64, "LoadBehavior", text("3")); },
       "loadbehavior", Status::Warn, "LoadBehavior is of registry type 1 (\"3\"), not a DWORD"},
      {"class only in the 32-bit view",
       [](FakeMachine& m) {
         m.keys[{Hive::User, Bits::x86, ProgIdKey}] = m.keys[{Hive::User, Bits::x64, ProgIdKey}];
         m.keys.erase({Hive::User, Bits::x64, ProgIdKey});
       },
       "class", Status::Fail, "VBATessary.Connect is not registered in the 64-bit registry view"},
      {"ProgID leads to another class",
       [](FakeMachine& m) { m.set(Hive::User, Bits::x64, ProgIdKey, "", text("{00000000-0000-0000-0000-000000000001}")); },
       "class", Status::Fail, "leads to \"{00000000-0000-0000-0000-000000000001}\", not {BF58B135"},
      {"ThreadingModel missing", [](FakeMachine& m) { m.keys[{Hive::User, Bits::x64, Server}].erase("ThreadingModel"); },
       "class", Status::Warn, "ThreadingModel missing, not Apartment"},
      {"registered file missing", [](FakeMachine& m) { m.files.erase(Dll64); }, "file", Status::Fail,
       "the registered file " + Dll64 + " does not exist"},
      // LoadLibrary ignores the mark: a warning, and the add-in can load (exit status 0).
      {"file downloaded from the Internet", [](FakeMachine& m) { m.zones[Dll64] = "[ZoneTransfer]\r\nZoneId=3\r\n"; },
       "file", Status::Warn, "(Zone.Identifier, ZoneId=3); Windows loads it all the same"},
      {"file from the intranet", [](FakeMachine& m) { m.zones[Dll64] = "[ZoneTransfer]\r\nZoneId=1\r\n"; }, "file",
       Status::Ok, Dll64},
      {"the other bitness's DLL",
       [](FakeMachine& m) {
         m.set(Hive::User, Bits::x64, Server, "", text(Dll32));
         m.files[Dll32] = 0x14c;
       },
       "machine", Status::Fail, "is a 32-bit (x86) DLL; 64-bit Office loads only 64-bit DLLs"},
      {"not a PE image", [](FakeMachine& m) { m.files[Dll64] = 0; }, "machine", Status::Fail, Dll64 + " is no Windows DLL"},
      {"creation fails", [](FakeMachine& m) { m.creations[Bits::x64] = {Creation::Outcome::Failed, long(0x8007007E), "x"}; },
       "load", Status::Fail, "0x8007007E"},
      {"no VBA runtime", [](FakeMachine& m) { m.keys.erase({Hive::Machine, Bits::x64, "SOFTWARE\\Microsoft\\VBA"}); },
       "vba", Status::Warn, "no VBA runtime registered for 64-bit Office"},
      {"Excel running", [](FakeMachine& m) { m.running.push_back({"EXCEL.EXE", 42, Bits::x64, false}); }, "running",
       Status::Warn, "Excel (42) running"},
      {"Excel running elevated", [](FakeMachine& m) { m.running.push_back({"EXCEL.EXE", 42, Bits::x64, true}); },
       "elevated", Status::Warn, "EXCEL.EXE (42) runs elevated"},
      {"Excel's token cannot be read", [](FakeMachine& m) { m.running.push_back({"EXCEL.EXE", 42, Bits::x64, std::nullopt}); },
       "elevated", Status::Skip, "could not read whether EXCEL.EXE (42) runs elevated"},
      {"this check elevated", [](FakeMachine& m) { m.elevatedSelf = true; }, "elevated", Status::Warn,
       "this check runs elevated"},
      {"this check's token cannot be read", [](FakeMachine& m) { m.elevatedSelf = std::nullopt; }, "elevated", Status::Skip,
       "could not tell whether this process runs elevated"},
      {"a per-user ProgID leads to the machine's class",
       [](FakeMachine& m) {
         m = machineWide();
         m.set(Hive::User, Bits::x64, ProgIdKey, "", text("{BF58B135-96A1-4809-BA5C-8B9637E56DAB}"));
       },
       "class", Status::Ok, "the editor loads the one for all users (the machine), ThreadingModel Apartment"},
      {"installed for all users", [](FakeMachine& m) { m = machineWide(); }, "class", Status::Ok,
       "the editor loads the one for all users (the machine)"},
      {"installed for all users and per user", [](FakeMachine& m) { m = machineWide(), m.registerDll(Bits::x64, Dll64); },
       "class", Status::Ok, "registered per user; one for all users is there too, and the per-user one wins"},
      {"installed for all users, this user not yet set up",
       [](FakeMachine& m) {
         m = machineWide();
         m.keys.erase({Hive::User, Bits::x64, ActiveSetupInstall});
         m.keys.erase({Hive::User, Bits::x64, Record64}), m.keys.erase({Hive::User, Bits::x86, Record64});
       },
       "record", Status::Fail, "-> start \"Enable vba Tessary for me\" from the Start menu"},
      {"set up by an older version (1,0,9 < 1,0,57)",
       [](FakeMachine& m) { m = machineWide(), m.set(Hive::User, Bits::x64, ActiveSetupInstall, "Version", text("1,0,9")); },
       "activesetup", Status::Warn, "not yet run for this user: it runs at the next logon"},
      {"a per-user registration hides the machine's and names a missing file",
       [](FakeMachine& m) {
         m = machineWide();
         m.set(Hive::User, Bits::x64, ProgIdKey, "", text("{BF58B135-96A1-4809-BA5C-8B9637E56DAB}"));
         m.set(Hive::User, Bits::x64, Server, "", text(Dll64));
         m.files.erase(Dll64);
       },
       "file", Status::Fail, "this per-user registration hides the one for all users"},
  };
  for (const Case& c : cases) {
    FakeMachine m = healthy();
    c.change(m);
    Result r = run(m);
    EXPECT_EQ(statusOf(r, Bits::x64, c.id), c.status) << c.what;
    EXPECT_FALSE(c.says.text.empty()) << c.what << ": a row names the text its check shows";
    for (const Check& k : r.checks)
      if (k.id == c.id) {
        EXPECT_NE((k.detail + " -> " + k.fix).find(c.says.text), std::string::npos)
            << c.what << ": " << k.detail << " -> " << k.fix;
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

// --repair takes the route of the installation there is: the per-user MSI's through Windows
// Installer (a deleted DLL too), the zip's by registering the DLL beside it.
TEST(Checker, RepairTakesTheInstallationsOwnRoute) {
  EXPECT_EQ(repairPlan(true, true).route, Repair::Msi);
  EXPECT_EQ(repairPlan(true, false).route, Repair::Msi);
  EXPECT_EQ(repairPlan(false, true).route, Repair::Register);
  EXPECT_FALSE(repairPlan(false, false).route);
  EXPECT_NE(repairPlan(false, false).refusal.find("no vbatessary.dll"), std::string::npos);
  // For all users: only this user's records are written, no DLL registered.
  EXPECT_EQ(repairPlan(false, false, true).route, Repair::EnableUser);
  FakeMachine m = machineWide();
  m.keys.erase({Hive::Machine, Bits::x64, ActiveSetupInstall});
  EXPECT_TRUE(machineInstall(m, MachineDll64));
  EXPECT_FALSE(machineInstall(m, Dll64));
}

// With the per-user MSI's marker every fix that mends the installation names the repair that works
// (Settings > Apps hides the MSI's Modify and Repair); the zip's keeps install.cmd.
TEST(Checker, AnMsiInstallationIsMendedThroughWindowsInstaller) {
  const std::function<void(FakeMachine&)> faults[] = {
      [](FakeMachine& m) { m.keys.erase({Hive::User, Bits::x64, Record64}), m.keys.erase({Hive::User, Bits::x86, Record64}); },
      [](FakeMachine& m) { m.files.erase(Dll64); },
      [](FakeMachine& m) { m.files[Dll64] = 0x14c; },
      [](FakeMachine& m) { m.files[Dll64] = 0; },
      [](FakeMachine& m) { m.keys[{Hive::User, Bits::x64, Server}].erase("ThreadingModel"); },
      [](FakeMachine& m) { m.creations[Bits::x64] = {Creation::Outcome::Failed, long(0x8007007E), "x"}; },
  };
  for (bool msi : {true, false})
    for (size_t i = 0; i < std::size(faults); ++i) {
      FakeMachine m = healthy();
      if (msi) m.shared(Hive::User, "Software\\vba Tessary", "InstallFolder", text("C:\\Users\\J\\AppData\\Local\\Programs\\vbaTessary\\"));
      faults[i](m);
      Result r = run(m);
      int mended = 0;
      for (const Check& k : r.checks) {
        if (k.status != Status::Fail && k.status != Status::Warn) continue;
        if (k.id == "running" || k.id == "vba") continue;
        ++mended;
        if (msi) {
          EXPECT_NE(k.fix.find("\"vbatessary-check.exe --repair\""), std::string::npos) << i << " " << k.id << ": " << k.fix;
          EXPECT_EQ(k.fix.find("install.cmd"), std::string::npos) << i << " " << k.id << ": " << k.fix;
        } else if (k.id != "load") {
          EXPECT_NE(k.fix.find("install.cmd"), std::string::npos) << i << " " << k.id << ": " << k.fix;
        }
      }
      EXPECT_EQ(mended, 1) << i;
    }
}

// --repair and --log change HKCU, the registry of the account this program runs as: only when
// that is the user at the desktop.
TEST(Checker, OnlyTheDesktopUsersRegistryIsChanged) {
  const Account ann{"S-1-5-21-7-1001", "PC\\ann"}, admin{"S-1-5-21-7-500", "PC\\admin"},
      system{"S-1-5-18", "NT AUTHORITY\\SYSTEM"}, unnamed{"S-1-5-21-7-1002", ""};
  struct Case {
    const char* what;
    std::optional<Account> self, desktop;
    std::optional<bool> elevated;
    bool proceed;
    std::vector<std::string> says;  // in why; nothing said when the desktop's user is this one
  };
  const Case cases[] = {
      {"ann at her own desktop", ann, ann, false, true, {}},
      {"ann elevated as herself", ann, ann, true, true, {}},
      {"an administrator's password typed at the prompt", admin, ann, true, false,
       {"--repair would change the registry of PC\\admin", "not of PC\\ann, whose desktop this is"}},
      {"another account, not elevated", admin, ann, false, false, {"PC\\admin", "PC\\ann"}},
      {"an account without a name", unnamed, ann, true, false, {"S-1-5-21-7-1002", "PC\\ann"}},
      {"no desktop, SYSTEM in a service", system, std::nullopt, true, false,
       {"whose desktop this is", "runs elevated as NT AUTHORITY\\SYSTEM"}},
      {"no desktop, elevation unknown", ann, std::nullopt, std::nullopt, false, {"whose desktop this is"}},
      {"no desktop, not elevated", ann, std::nullopt, false, true, {"changes the registry of PC\\ann"}},
      {"this program's account unreadable", std::nullopt, ann, false, false, {"could not tell which account"}},
  };
  for (const Case& c : cases) {
    AccountDecision d = accountDecision("--repair", c.self, c.desktop, c.elevated);
    EXPECT_EQ(d.proceed, c.proceed) << c.what << ": " << d.why;
    if (c.says.empty()) {
      EXPECT_EQ(d.why, "") << c.what;
    }
    for (const std::string& s : c.says) EXPECT_NE(d.why.find(s), std::string::npos) << c.what << ": " << d.why;
  }
}

// --enable-user: what it writes for this user, and that a second run writes nothing.
TEST(Checker, EnableUserWritesOnlyWhatIsMissing) {
  auto record = [](Bits b, std::vector<const char*> names) {
    std::vector<std::string> w;
    for (const char* n : names) w.push_back(std::string("HKCU ") + name(b) + " " + (b == Bits::x86 ? Record32 : Record64) + "\\" + n);
    return w;
  };
  auto join = [](std::vector<std::string> a, const std::vector<std::string>& b) { return a.insert(a.end(), b.begin(), b.end()), a; };
  const std::string unmark = std::string("delete HKCU x64 ") + ActiveSetupRemoval;
  struct Case {
    const char* what;
    std::function<void(FakeMachine&)> setup;
    std::vector<std::string> writes;
    std::string lines;
    int exit;
  };
  const Case cases[] = {
      {"no records yet, a removal's marker left",
       [](FakeMachine& m) {
         for (auto key : {Record32, Record64}) m.keys.erase({Hive::User, Bits::x86, key}), m.keys.erase({Hive::User, Bits::x64, key});
         m.set(Hive::User, Bits::x64, ActiveSetupRemoval, "Version", text("1,0,50"));
       },
       join(join(record(Bits::x86, {"FriendlyName", "Description", "LoadBehavior"}),
                 record(Bits::x64, {"FriendlyName", "Description", "LoadBehavior"})), {unmark}),
       "x86: written HKCU\\" + Record32 + " for 32-bit Office\nx64: written HKCU\\" + Record64 + " for 64-bit Office\n", 0},
      {"the user unticked it: LoadBehavior 0 kept", [](FakeMachine& m) { m.shared(Hive::User, Record32, "LoadBehavior", dword(0)); },
       record(Bits::x86, {}), "x86: already there HKCU\\" + Record32 + "\nx64: already there HKCU\\" + Record64 + "\n", 0},
      {"LoadBehavior as text, an old description",
       [](FakeMachine& m) {
         m.shared(Hive::User, Record64, "LoadBehavior", text("3"));
         m.shared(Hive::User, Record32, "Description", text("old"));
       },
       join(record(Bits::x86, {"Description"}), record(Bits::x64, {"LoadBehavior"})),
       "x86: written HKCU\\" + Record32 + " for 32-bit Office\nx64: written HKCU\\" + Record64 + " for 64-bit Office\n", 0},
      {"installed per user only", [](FakeMachine& m) { m = healthy(), m.set(Hive::User, Bits::x64, ActiveSetupRemoval, "", text("")); },
       {}, "x86: no installation for all users for 32-bit Office\nx64: no installation for all users for 64-bit Office\n", 1},
      {"32-bit Windows: x86 only",
       [](FakeMachine& m) {
         FakeMachine full = m;
         m = FakeMachine{};
         m.win64 = false;
         m.keys[{Hive::Machine, Bits::x86, Server}] = full.keys[{Hive::Machine, Bits::x86, Server}];
       },
       record(Bits::x86, {"FriendlyName", "Description", "LoadBehavior"}),
       "x86: written HKCU\\" + Record32 + " for 32-bit Office\n", 0},
  };
  for (const Case& c : cases) {
    FakeMachine m = machineWide();
    for (Bits b : {Bits::x86, Bits::x64}) m.shared(Hive::User, b == Bits::x86 ? Record32 : Record64, "LoadBehavior", dword(3));
    c.setup(m);
    std::vector<Enabled> done = enableUser(m);
    std::string lines;
    for (const Enabled& e : done) lines += line(e) + "\n";
    EXPECT_EQ(m.writes, c.writes) << c.what;
    EXPECT_EQ(lines, c.lines) << c.what;
    EXPECT_EQ(exitStatus(done), c.exit) << c.what;
    m.writes.clear();
    enableUser(m);
    EXPECT_TRUE(m.writes.empty()) << c.what << ": a second run writes nothing";
    if (c.exit == 0) {
      Result r = run(m);
      for (Bits b : r.checked) EXPECT_EQ(statusOf(r, b, "record"), Status::Ok) << c.what;
    }
  }
}

// The clean-up a removal leaves for each user deletes exactly both records and the user's marker.
TEST(Checker, RemovalEntryDeletesExactlyTheRecordsAndTheMarker) {
  FakeMachine m = healthy();
  for (const char* bad : {"", "1,0,x", "1,,2", "1,2,3,4,5", "1.0.57"}) EXPECT_FALSE(markRemoved(m, bad, "C:\\Windows\\system32")) << bad;
  EXPECT_TRUE(m.writes.empty());
  ASSERT_TRUE(markRemoved(m, "1,0,57", "C:\\Windows\\system32\\"));
  EXPECT_EQ(m.value(Hive::Machine, Bits::x64, ActiveSetupRemoval, "").text, "vba Tessary (removed)");
  EXPECT_EQ(m.value(Hive::Machine, Bits::x64, ActiveSetupRemoval, "IsInstalled").dword, 1u);
  EXPECT_EQ(m.value(Hive::Machine, Bits::x64, ActiveSetupRemoval, "Version").text, "1,0,57");
  std::string stub = m.value(Hive::Machine, Bits::x64, ActiveSetupRemoval, "StubPath").text;
  const std::string head = "\"C:\\Windows\\system32\\cmd.exe\" /d /c ";
  ASSERT_EQ(stub.rfind(head, 0), 0u) << stub;
  // Every key it deletes, and whether the per-user class was asked for in both views before it.
  std::vector<std::pair<std::string, bool>> deleted;
  const std::string perUser = "reg query \"HKCU\\Software\\Classes\\CLSID\\{BF58B135-96A1-4809-BA5C-8B9637E56DAB}\"";
  for (size_t at = stub.find("reg delete \"HKCU\\"); at != std::string::npos; at = stub.find("reg delete \"HKCU\\", at + 1)) {
    size_t end = stub.find("\" /f", at);
    ASSERT_NE(end, std::string::npos) << stub;
    std::string before = stub.substr(0, at);
    bool guarded = before.find(perUser + " /reg:64") != std::string::npos &&
                   before.find(perUser + " /reg:32") != std::string::npos &&
                   before.rfind("if errorlevel 1 (") != std::string::npos;
    deleted.emplace_back(stub.substr(at + 17, end - at - 17), guarded);
  }
  EXPECT_EQ(deleted, (std::vector<std::pair<std::string, bool>>{{ActiveSetupInstall, false}, {Record32, true}, {Record64, true}}))
      << stub;
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
