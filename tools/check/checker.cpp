#include "checker.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>

#include "addin/identity.h"
#include "automation/failure.h"

namespace check {
namespace id = addin::identity;

const char* name(Bits b) { return b == Bits::x86 ? "x86" : "x64"; }
const char* office(Bits b) { return b == Bits::x86 ? "32-bit Office" : "64-bit Office"; }
const char* name(Status s) {
  switch (s) {
    case Status::Ok: return "ok";
    case Status::Warn: return "warn";
    case Status::Fail: return "fail";
    case Status::Skip: return "skip";
  }
  return "?";
}

namespace {

std::string hex(long v) { return automation::hresultText(static_cast<uint32_t>(v)); }

std::string lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

std::string quoted(const std::string& s) { return "\"" + s + "\""; }

std::string listKey(Bits b) {
  return std::string(id::AddinsRoot) + (b == Bits::x86 ? "\\Addins\\" : "\\Addins64\\") + id::ProgId;
}
std::string listName(Bits b) { return b == Bits::x86 ? "Addins" : "Addins64"; }

std::optional<Bits> bitsOf(const std::string& platform) {
  std::string p = lower(platform);
  if (p == "x86" || p == "win32") return Bits::x86;
  if (p == "x64" || p == "amd64") return Bits::x64;
  return std::nullopt;
}

std::vector<Bits> views(Machine& m) {
  if (m.windows64()) return {Bits::x64, Bits::x86};
  return {Bits::x86};
}

const std::string Classes = "Software\\Classes\\";
std::string clsidKey() { return Classes + "CLSID\\" + id::ConnectClsid; }
std::string serverKey() { return clsidKey() + "\\InprocServer32"; }

// A server's file as COM takes it: environment variables expanded, surrounding quotes removed.
std::string serverFile(Machine& m, const RegValue& path) {
  std::string file = path.kind == RegValue::Kind::ExpandString ? m.expand(path.text) : path.text;
  if (file.size() > 1 && file.front() == '"' && file.back() == '"') file = file.substr(1, file.size() - 2);
  return file;
}

// The per-user MSI hides Modify and Repair in Settings > Apps; this program asks Windows Installer.
const char* const MsiFix =
    "repair the MSI's installation: \"vbatessary-check.exe --repair\" (Windows Installer puts back its files and "
    "registry)";

const char* const EnableFix =
    "start \"Enable vba Tessary for me\" from the Start menu (or \"vbatessary-check.exe --enable-user\")";

// Office's own bitness: Click-to-Run's Platform, MSI Office's Outlook\Bitness, else the PE
// header of the programs App Paths names.
void addOffice(std::vector<Office>& offices, Office o) {
  for (const Office& have : offices)
    if (have.bits == o.bits && have.product == o.product) return;
  offices.push_back(std::move(o));
}

}  // namespace

Bits nativeView(Machine& m) { return m.windows64() ? Bits::x64 : Bits::x86; }

const std::string ActiveSetupInstall =
    std::string("SOFTWARE\\Microsoft\\Active Setup\\Installed Components\\") + id::ActiveSetupId;
const std::string ActiveSetupRemoval =
    std::string("SOFTWARE\\Microsoft\\Active Setup\\Installed Components\\") + id::RemovalSetupId;

bool validVersion(const std::string& v) {
  size_t fields = 0, digits = 0;
  for (char c : v + ",") {
    if (c == ',') {
      if (digits == 0 || ++fields > 4) return false;
      digits = 0;
    } else if (c < '0' || c > '9' || ++digits > 9) {
      return false;
    }
  }
  return true;
}

int compareVersions(const std::string& a, const std::string& b) {
  size_t i = 0, j = 0;
  while (i < a.size() || j < b.size()) {
    auto field = [](const std::string& s, size_t& at) {
      unsigned long long n = 0;
      while (at < s.size() && s[at] != ',') {
        if (s[at] >= '0' && s[at] <= '9' && n < 1000000000000ull) n = n * 10 + static_cast<unsigned>(s[at] - '0');
        ++at;
      }
      if (at < s.size()) ++at;
      return n;
    };
    unsigned long long x = field(a, i), y = field(b, j);
    if (x != y) return x < y ? -1 : 1;
  }
  return 0;
}

bool msiInstall(Machine& m) {
  return m.value(Hive::User, m.own(), "Software\\vba Tessary", "InstallFolder").present();
}

bool machineClass(Machine& m, Bits b) {
  RegValue path = m.value(Hive::Machine, b, serverKey(), "");
  return path.isText() && !path.text.empty();
}

bool machineInstall(Machine& m, const std::string& ownDll) {
  if (m.keyExists(Hive::Machine, nativeView(m), ActiveSetupInstall)) return true;
  RegValue path = m.value(Hive::Machine, m.own(), serverKey(), "");
  if (!path.isText() || lower(serverFile(m, path)) != lower(ownDll)) return false;
  for (const char* folder : {"%ProgramFiles%", "%ProgramFiles(x86)%", "%ProgramW6432%"}) {
    std::string dir = lower(m.expand(folder));
    if (dir.empty() || dir.find('%') != std::string::npos) continue;
    if (dir.back() != '\\') dir += '\\';
    if (lower(ownDll).rfind(dir, 0) == 0) return true;
  }
  return false;
}

std::vector<Enabled> enableUser(Machine& m) {
  std::vector<Enabled> done;
  std::vector<Bits> list = views(m);
  std::reverse(list.begin(), list.end());  // x86 first
  bool any = false;
  for (Bits b : list) any = any || machineClass(m, b);
  for (Bits b : list) {
    if (!any || !machineClass(m, b)) {
      done.push_back({b, Enabled::State::NoMachineClass});
      continue;
    }
    const std::string key = listKey(b);
    bool wrote = false, failed = false;
    auto ensure = [&](const char* name, const RegValue& want, bool differs) {
      if (!differs) return;
      wrote = true;
      failed = !m.setValue(Hive::User, b, key, name, want) || failed;
    };
    RegValue friendly = m.value(Hive::User, b, key, "FriendlyName");
    ensure("FriendlyName", {RegValue::Kind::String, id::FriendlyName, 0, 1},
           friendly.kind != RegValue::Kind::String || friendly.text != id::FriendlyName);
    RegValue description = m.value(Hive::User, b, key, "Description");
    ensure("Description", {RegValue::Kind::String, id::Description, 0, 1},
           description.kind != RegValue::Kind::String || description.text != id::Description);
    // A DWORD is the user's choice in the Add-In Manager (0 unticked): kept.
    ensure("LoadBehavior", {RegValue::Kind::Dword, "", id::LoadBehavior, 4},
           m.value(Hive::User, b, key, "LoadBehavior").kind != RegValue::Kind::Dword);
    done.push_back({b, failed ? Enabled::State::Failed : wrote ? Enabled::State::Written : Enabled::State::AlreadyThere});
  }
  // Enabled again: a later removal's clean-up must run again for this user.
  if (any && m.keyExists(Hive::User, nativeView(m), ActiveSetupRemoval)) m.deleteKey(Hive::User, nativeView(m), ActiveSetupRemoval);
  return done;
}

std::string line(const Enabled& e) {
  const std::string where = "HKCU\\" + listKey(e.bits);
  switch (e.state) {
    case Enabled::State::Written: return std::string(name(e.bits)) + ": written " + where + " for " + office(e.bits);
    case Enabled::State::AlreadyThere: return std::string(name(e.bits)) + ": already there " + where;
    case Enabled::State::NoMachineClass:
      return std::string(name(e.bits)) + ": no installation for all users for " + office(e.bits);
    case Enabled::State::Failed: return std::string(name(e.bits)) + ": could not write " + where;
  }
  return {};
}

int exitStatus(const std::vector<Enabled>& done) {
  bool enabled = false;
  for (const Enabled& e : done) {
    if (e.state == Enabled::State::Failed) return 1;
    enabled = enabled || e.state != Enabled::State::NoMachineClass;
  }
  return enabled ? 0 : 1;
}

// Only what every Windows has, since the add-in's files are gone by then. The user's marker of the
// install entry goes first, so a later install runs again. The records go only when this user has
// no per-user classes of the add-in in either view: a per-user installation owns them then. Each
// step follows the one before by `if errorlevel`, which cmd honours where `||` may not.
std::string removalStubPath(const std::string& systemFolder) {
  std::string folder = systemFolder;
  while (!folder.empty() && folder.back() == '\\') folder.pop_back();
  const std::string perUserClass = quoted(std::string("HKCU\\Software\\Classes\\CLSID\\") + id::ConnectClsid);
  return quoted(folder + "\\cmd.exe") + " /d /c reg delete " + quoted(std::string("HKCU\\") + ActiveSetupInstall) +
         " /f >nul 2>&1 & reg query " + perUserClass + " /reg:64 >nul 2>&1 & if errorlevel 1 reg query " +
         perUserClass + " /reg:32 >nul 2>&1 & if errorlevel 1 (reg delete " + quoted("HKCU\\" + listKey(Bits::x86)) +
         " /f & reg delete " + quoted("HKCU\\" + listKey(Bits::x64)) + " /f)";
}

bool markRemoved(Machine& m, const std::string& version, const std::string& systemFolder) {
  if (!validVersion(version)) return false;
  const Bits view = nativeView(m);
  auto text = [](std::string s) { return RegValue{RegValue::Kind::String, std::move(s), 0, 1}; };
  bool ok = m.setValue(Hive::Machine, view, ActiveSetupRemoval, "", text("vba Tessary (removed)"));
  ok = m.setValue(Hive::Machine, view, ActiveSetupRemoval, "IsInstalled", {RegValue::Kind::Dword, "", 1, 4}) && ok;
  ok = m.setValue(Hive::Machine, view, ActiveSetupRemoval, "Version", text(version)) && ok;
  return m.setValue(Hive::Machine, view, ActiveSetupRemoval, "StubPath", text(removalStubPath(systemFolder))) && ok;
}

std::vector<Office> findOffices(Machine& m) {
  std::vector<Office> found;
  for (Bits view : views(m)) {
    for (const char* key : {"SOFTWARE\\Microsoft\\Office\\ClickToRun\\Configuration",
                            "SOFTWARE\\Microsoft\\Office\\15.0\\ClickToRun\\Configuration"}) {
      RegValue platform = m.value(Hive::Machine, view, key, "Platform");
      if (!platform.isText()) continue;
      if (auto bits = bitsOf(platform.text)) {
        RegValue version = m.value(Hive::Machine, view, key, "VersionToReport");
        RegValue ids = m.value(Hive::Machine, view, key, "ProductReleaseIds");
        std::string product = "Microsoft Office (Click-to-Run";
        if (ids.isText() && !ids.text.empty()) product += ": " + ids.text;
        addOffice(found, {*bits, product + ")", version.isText() ? version.text : ""});
      }
    }
    for (const char* version : {"16.0", "15.0", "14.0"}) {
      RegValue bitness = m.value(Hive::Machine, view,
                                 std::string("SOFTWARE\\Microsoft\\Office\\") + version + "\\Outlook", "Bitness");
      if (!bitness.isText()) continue;
      if (auto bits = bitsOf(bitness.text)) addOffice(found, {*bits, "Microsoft Office (Windows Installer)", version});
    }
  }
  if (!found.empty()) return found;
  for (Bits view : views(m)) {
    for (const char* exe : {"excel.exe", "winword.exe", "msaccess.exe", "powerpnt.exe"}) {
      RegValue path = m.value(Hive::Machine, view,
                              std::string("SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\") + exe, "");
      if (!path.isText() || path.text.empty()) continue;
      std::string file = m.expand(path.text);
      if (file.size() > 1 && file.front() == '"') file = file.substr(1, file.find('"', 1) - 1);
      auto machine = m.peMachine(file);
      if (machine == 0x14c) addOffice(found, {Bits::x86, "Microsoft Office (" + file + ")", ""});
      if (machine == 0x8664) addOffice(found, {Bits::x64, "Microsoft Office (" + file + ")", ""});
    }
  }
  return found;
}

std::string meaning(long hresult) {
  switch (static_cast<unsigned long>(hresult) & 0xFFFFFFFFul) {
    case 0x8007007Eul: return "the module was not found: the file, or a DLL it needs, is missing (126)";
    case 0x800700C1ul: return "not a valid program for this bitness: a DLL of the other bitness (193)";
    case 0x80070005ul: return "access denied (5): often an antivirus program, or the file's permissions";
    case 0x8007007Ful: return "the file is no COM server: it has no DllGetClassObject (127)";
    case 0x8007045Aul: return "the DLL's initialisation failed (1114)";
    case 0x80040154ul: return "class not registered (REGDB_E_CLASSNOTREG)";
    case 0x80040111ul: return "the DLL does not serve this class (CLASS_E_CLASSNOTAVAILABLE)";
    case 0x800401F9ul: return "error in the DLL (CO_E_ERRORINDLL)";
    case 0x8007000Eul: return "out of memory";
    case 0xC0000005ul: return "the DLL crashed (access violation)";
    case 0x80070102ul: return "it did not return within the time allowed: the DLL hangs";
    default: return "unexpected failure";
  }
}

namespace {

// Where COM found the class's server, and whether a per-user key hides the machine's class.
struct Found {
  std::string file;
  Hive hive = Hive::User;
  bool shadows = false;
};

// The checks of one bitness, in their order; each later one may lean on what an earlier found.
class Checks {
 public:
  Checks(Machine& m, Bits b, const std::vector<Office>& offices, std::vector<Check>& out)
      : m_(m), b_(b), offices_(offices), out_(out),
        activeSetup_(m.keyExists(Hive::Machine, nativeView(m), ActiveSetupInstall)),
        machineClass_(machineClass(m, b)), msi_(msiInstall(m)) {}

  void run() {
    officeCheck();
    bool record = recordCheck();
    loadBehaviorCheck(record);
    activeSetupCheck();
    std::optional<Found> found = classCheck();
    bool file = fileCheck(found);
    bool machine = machineCheck(file ? found : std::nullopt);
    loadCheck(machine ? std::optional<std::string>(found->file) : std::nullopt);
    vbaCheck();
    runningCheck();
    elevatedCheck();
  }

 private:
  void add(const char* id, Status s, std::string detail, std::string fix = {}) {
    out_.push_back({b_, id, s, std::move(detail), std::move(fix)});
  }
  std::string repairFix() const {
    if (msi_) return MsiFix;
    return std::string("run install.cmd again, or \"") + name(b_) + "\\vbatessary-check.exe --repair\"";
  }
  // What mends a class or file that COM found: the per-user registration hiding the machine's
  // is removed, the machine's own is repaired as administrator, a per-user one registered again.
  std::string fixFor(const std::optional<Found>& f) const {
    if (f && f->shadows)
      return std::string("remove the per-user registration that hides the one for all users: uninstall the per-user "
                         "vba Tessary, or delete HKCU\\Software\\Classes\\") +
             id::ProgId + " and HKCU\\" + clsidKey();
    if (f && f->hive == Hive::Machine)
      return "repair vba Tessary for all users, as an administrator (Settings > Apps offers no repair): msiexec /fomus "
             "with the allusers MSI it was installed from";
    return repairFix();
  }
  static std::string shadowNote(const std::optional<Found>& f) {
    return f && f->shadows ? "; this per-user registration hides the one for all users" : "";
  }
  bool machineInstall() const { return activeSetup_ || machineClass_; }

  void officeCheck() {
    std::string seen;
    for (const Office& o : offices_) {
      if (o.bits != b_) continue;
      seen += (seen.empty() ? "" : "; ") + o.product + (o.version.empty() ? "" : " " + o.version);
    }
    if (!seen.empty())
      add("office", Status::Ok, seen + ", " + office(b_));
    else
      add("office", Status::Warn, std::string("no Office found; checking what ") + office(b_) + " would read",
          "install Office, or start this check again on the machine that has it");
  }

  bool recordCheck() {
    const std::string key = listKey(b_);
    const std::string where = "HKCU\\" + key;
    // An installation for all users writes each user's record at logon, or when asked.
    const std::string fix = machineInstall() ? std::string(EnableFix) : repairFix();
    if (m_.keyExists(Hive::User, b_, key)) {
      RegValue friendly = m_.value(Hive::User, b_, key, "FriendlyName");
      RegValue description = m_.value(Hive::User, b_, key, "Description");
      if (!friendly.isText() || friendly.text.empty()) {
        add("record", Status::Warn, where + " has no FriendlyName: the Add-In Manager lists it without a name", fix);
        return true;
      }
      std::string detail = where + ": " + quoted(friendly.text);
      detail += description.isText() ? ", with its description" : ", no description";
      add("record", Status::Ok, detail);
      return true;
    }
    for (Bits view : views(m_))
      if (m_.keyExists(Hive::Machine, view, key)) {
        add("record", Status::Fail,
            "only in HKEY_LOCAL_MACHINE\\" + key + ", which the editor never reads; it lists HKEY_CURRENT_USER's",
            "register it as the user who runs Office, without elevation: " + fix);
        return false;
      }
    if (m_.keyExists(Hive::User, other(b_), listKey(other(b_))) && !machineClass_) {
      add("record", Status::Fail,
          "listed only under " + listName(other(b_)) + ", which " + office(other(b_)) + " reads; " + office(b_) +
              " reads " + listName(b_),
          std::string("register the ") + name(b_) + " DLL: " + fix);
      return false;
    }
    if (machineInstall())
      add("record", Status::Fail,
          "no " + where + ": vba Tessary is installed for all users, but this user's record is not written yet", fix);
    else
      add("record", Status::Fail, "not registered: no " + where,
          msi_ ? repairFix() : "install vba Tessary (the MSI, or install.cmd from the zip)");
    return false;
  }

  void loadBehaviorCheck(bool record) {
    if (!record) {
      add("loadbehavior", Status::Skip, "no add-in record");
      return;
    }
    RegValue v = m_.value(Hive::User, b_, listKey(b_), "LoadBehavior");
    const std::string tick = "tick \"Loaded/Unloaded\" and \"Load on Startup\" in the editor's Add-Ins > Add-In Manager";
    if (!v.present()) {
      add("loadbehavior", Status::Warn, "no LoadBehavior: the editor does not load it when it starts", tick);
    } else if (v.kind != RegValue::Kind::Dword) {
      add("loadbehavior", Status::Warn,
          "LoadBehavior is of registry type " + std::to_string(v.type) + (v.isText() ? " (" + quoted(v.text) + ")" : "") +
              ", not a DWORD",
          tick);
    } else if (v.dword == 3) {
      add("loadbehavior", Status::Ok, "3: loaded when the editor starts");
    } else if (v.dword == 0) {
      add("loadbehavior", Status::Fail,
          "0: unticked in Add-Ins > Add-In Manager, or disabled by the editor after a failed start", tick);
    } else {
      add("loadbehavior", Status::Warn,
          std::to_string(v.dword) + ": not loaded when the editor starts (3 loads it then)", tick);
    }
  }

  // Windows runs the installation's entry once a user, at logon, when the user's copy of its
  // Version is missing or lower than the machine's.
  void activeSetupCheck() {
    if (!activeSetup_) return;
    const Bits view = nativeView(m_);
    RegValue want = m_.value(Hive::Machine, view, ActiveSetupInstall, "Version");
    RegValue have = m_.value(Hive::User, view, ActiveSetupInstall, "Version");
    const std::string wanted = want.isText() ? want.text : "";
    bool ran = m_.keyExists(Hive::User, view, ActiveSetupInstall) &&
               (wanted.empty() || (have.isText() && compareVersions(have.text, wanted) >= 0));
    if (ran)
      add("activesetup", Status::Ok,
          "the installation for all users has set up this user" + (have.isText() ? " (Version " + have.text + ")" : ""));
    else
      add("activesetup", Status::Warn,
          "not yet run for this user: it runs at the next logon" +
              (have.isText() ? " (this user has Version " + have.text + ", the machine " + wanted + ")" : ""),
          EnableFix);
  }

  // The class as COM finds it in this bitness's view: HKCU\Software\Classes over HKLM's, the
  // ProgID key from the hive that has it, then the CLSID key from the hive that has it.
  std::optional<Found> classCheck() {
    const std::string view = std::string(b_ == Bits::x86 && m_.windows64() ? "32-bit" : b_ == Bits::x86 ? "" : "64-bit");
    const std::string inView = view.empty() ? "" : " in the " + view + " registry view";
    auto hiveOf = [&](const std::string& key) { return m_.keyExists(Hive::User, b_, key) ? Hive::User : Hive::Machine; };
    const std::string progId = Classes + id::ProgId;
    Found found;
    found.hive = hiveOf(progId);
    // A per-user ProgID hides the machine's only when it leads elsewhere; below, the class key decides.
    found.shadows = found.hive == Hive::User && machineClass_;
    RegValue clsid = m_.value(found.hive, b_, progId + "\\CLSID", "");
    if (!clsid.present()) {
      add("class", Status::Fail,
          std::string(id::ProgId) + " is not registered" + inView + " (0x80040154: class not registered)" + shadowNote(found),
          fixFor(found));
      return std::nullopt;
    }
    if (!clsid.isText() || lower(clsid.text) != lower(id::ConnectClsid)) {
      add("class", Status::Fail,
          std::string(id::ProgId) + " leads to " + (clsid.isText() ? quoted(clsid.text) : "a value of the wrong type") +
              ", not " + id::ConnectClsid + shadowNote(found),
          fixFor(found));
      return std::nullopt;
    }
    found.hive = hiveOf(clsidKey());
    found.shadows = found.hive == Hive::User && machineClass_;
    RegValue path = m_.value(found.hive, b_, serverKey(), "");
    if (!path.isText() || path.text.empty()) {
      add("class", Status::Fail,
          std::string(id::ConnectClsid) + " has no InprocServer32 file" + inView + " (0x80040154: class not registered)" +
              shadowNote(found),
          fixFor(found));
      return std::nullopt;
    }
    found.file = serverFile(m_, path);
    RegValue threading = m_.value(found.hive, b_, serverKey(), "ThreadingModel");
    std::string detail = std::string(id::ProgId) + ", " + id::ConnectClsid + inView + ": the editor loads the one " +
                         (found.hive == Hive::User ? "registered per user" : "for all users (the machine)");
    if (found.shadows) detail += "; one for all users is there too, and the per-user one wins for this user";
    if (threading.isText() && lower(threading.text) == "apartment")
      add("class", Status::Ok, detail + ", ThreadingModel Apartment");
    else
      add("class", Status::Warn,
          detail + ", ThreadingModel " + (threading.isText() ? quoted(threading.text) : "missing") +
              ", not Apartment: the editor calls it from one thread only",
          fixFor(found));
    return found;
  }

  bool fileCheck(const std::optional<Found>& found) {
    if (!found) {
      add("file", Status::Skip, "no registered file");
      return false;
    }
    const std::string& path = found->file;
    if (!m_.fileExists(path)) {
      add("file", Status::Fail, "the registered file " + path + " does not exist (moved or deleted)" + shadowNote(found),
          found->shadows || found->hive == Hive::Machine || msi_ ? fixFor(found)
                                                                 : "run the check beside the DLL you keep: " + repairFix());
      return false;
    }
    if (auto zone = m_.zoneIdentifier(path)) {
      auto at = zone->find("ZoneId=");
      int id = at == std::string::npos ? -1 : std::atoi(zone->c_str() + at + 7);
      // LoadLibrary ignores the mark; only some security software acts on it.
      if (id >= 3) {
        add("file", Status::Warn,
            path + " is marked as downloaded from the Internet (Zone.Identifier, ZoneId=" + std::to_string(id) +
                "); Windows loads it all the same, but some security software may not",
            "unblock it: the file's Properties > General > Unblock, or Unblock-File in PowerShell");
        return true;
      }
    }
    add("file", Status::Ok, path);
    return true;
  }

  bool machineCheck(const std::optional<Found>& found) {
    if (!found) {
      add("machine", Status::Skip, "no file to read");
      return false;
    }
    const std::string& path = found->file;
    auto machine = m_.peMachine(path);
    std::uint16_t want = b_ == Bits::x86 ? 0x14c : 0x8664;
    if (!machine) {
      add("machine", Status::Fail, path + " is no Windows DLL" + shadowNote(found), fixFor(found));
      return false;
    }
    if (*machine == want) {
      add("machine", Status::Ok, std::string(b_ == Bits::x86 ? "a 32-bit" : "a 64-bit") + " DLL for " + office(b_));
      return true;
    }
    std::string kind = *machine == 0x14c    ? "a 32-bit (x86)"
                       : *machine == 0x8664 ? "a 64-bit (x64)"
                       : *machine == 0xAA64 ? "an ARM64"
                                            : "a foreign (machine " + hex(*machine).substr(6) + ")";
    add("machine", Status::Fail,
        path + " is " + kind + " DLL; " + office(b_) + " loads only " + (b_ == Bits::x86 ? "32-bit" : "64-bit") + " DLLs" +
            shadowNote(found),
        found->shadows || found->hive == Hive::Machine || msi_
            ? fixFor(found)
            : std::string("register the ") + name(b_) + " vbatessary.dll: " + repairFix());
    return false;
  }

  void loadCheck(const std::optional<std::string>& path) {
    if (!path) {
      add("load", Status::Skip, "not tried: an earlier check failed");
      return;
    }
    Creation c = m_.create(b_, *path);
    switch (c.outcome) {
      case Creation::Outcome::Created:
        add("load", Status::Ok, std::string(id::ProgId) + " created and released by " + c.how);
        break;
      case Creation::Outcome::NoProcess:
        add("load", Status::Skip,
            std::string("no ") + (b_ == Bits::x86 ? "32-bit" : "64-bit") + " process to create it in" +
                (c.how.empty() ? "" : ": " + c.how));
        break;
      case Creation::Outcome::Failed:
        add("load", Status::Fail, hex(c.hresult) + ": " + meaning(c.hresult) + (c.how.empty() ? "" : ", by " + c.how),
            (msi_ ? repairFix() : std::string("reinstall vba Tessary")) + "; if it persists, report this line");
        break;
    }
  }

  void vbaCheck() {
    struct Place {
      Bits view;
      std::string key;
    };
    std::vector<Place> places{{b_, "SOFTWARE\\Microsoft\\VBA"}};
    const std::string c2r = "SOFTWARE\\Microsoft\\Office\\ClickToRun\\REGISTRY\\MACHINE\\Software\\";
    // Click-to-Run keeps its registry in the native view, the 32-bit Office's part under Wow6432Node.
    places.push_back({m_.windows64() ? Bits::x64 : Bits::x86,
                      c2r + (b_ == Bits::x86 && m_.windows64() ? "Wow6432Node\\" : "") + "Microsoft\\VBA"});
    for (const Place& p : places) {
      RegValue dll = m_.value(Hive::Machine, p.view, p.key, "Vbe71DllPath");
      if (!dll.isText() || dll.text.empty()) continue;
      std::string file = dll.kind == RegValue::Kind::ExpandString ? m_.expand(dll.text) : dll.text;
      if (m_.fileExists(file))
        add("vba", Status::Ok, "the VBA runtime " + file);
      else
        add("vba", Status::Warn, "the VBA runtime " + file + " is registered but missing",
            "repair Office: Settings > Apps > Microsoft Office > Modify > Quick Repair");
      return;
    }
    add("vba", Status::Warn, std::string("no VBA runtime registered for ") + office(b_) + " (Vbe71DllPath)",
        "install VBA with Office (it is a shared feature of Office's setup), or repair Office");
  }

  void runningCheck() {
    static const char* const names[][2] = {
        {"excel.exe", "Excel"}, {"winword.exe", "Word"}, {"msaccess.exe", "Access"}, {"powerpnt.exe", "PowerPoint"}};
    std::string seen;
    for (const Process& p : m_.offices()) {
      if (p.bits && *p.bits != b_) continue;
      for (const auto& n : names)
        if (lower(p.name) == n[0]) seen += (seen.empty() ? "" : ", ") + std::string(n[1]) + " (" + std::to_string(p.pid) + ")";
    }
    if (seen.empty())
      add("running", Status::Ok, "no Excel, Word, Access or PowerPoint running");
    else
      add("running", Status::Warn, seen + " running: a new registration is seen when it starts again",
          "close them, then start again");
  }

  void elevatedCheck() {
    std::string seen, unread;
    for (const Process& p : m_.offices()) {
      if ((p.bits && *p.bits != b_) || p.elevated == false) continue;
      std::string& to = p.elevated ? seen : unread;
      to += (to.empty() ? "" : ", ") + p.name + " (" + std::to_string(p.pid) + ")";
    }
    auto self = m_.elevated();
    if (self.value_or(false))
      add("elevated", Status::Warn,
          "this check runs elevated: it reads the registry of the account that elevated it, and an elevated Office "
          "sees no per-user classes",
          "run it from a normal (not elevated) window, as the user who runs Office");
    else if (!seen.empty())
      add("elevated", Status::Warn, seen + " runs elevated (as administrator): it does not see classes registered per user",
          "start Office normally, not with \"Run as administrator\"");
    else if (!self)
      add("elevated", Status::Skip, "could not tell whether this process runs elevated");
    else if (!unread.empty())
      add("elevated", Status::Skip, "could not read whether " + unread + " runs elevated (its token could not be opened)");
    else
      add("elevated", Status::Ok, "neither this check nor a running Office is elevated");
  }

  Machine& m_;
  Bits b_;
  const std::vector<Office>& offices_;
  std::vector<Check>& out_;
  bool activeSetup_;
  bool machineClass_;
  bool msi_;
};

}  // namespace

bool Result::canLoad(Bits b) const {
  bool any = false;
  for (const Check& c : checks) {
    if (c.bits != b) continue;
    any = true;
    if (c.status == Status::Fail) return false;
  }
  return any;
}

bool Result::ok() const {
  return std::any_of(targets.begin(), targets.end(), [&](Bits b) { return canLoad(b); });
}

Result run(Machine& m) {
  Result r;
  r.offices = findOffices(m);
  for (Bits b : {Bits::x86, Bits::x64})
    if (std::any_of(r.offices.begin(), r.offices.end(), [&](const Office& o) { return o.bits == b; }))
      r.checked.push_back(b);
  if (r.checked.empty()) {
    r.checked = views(m);
    std::reverse(r.checked.begin(), r.checked.end());  // x86 first, as above
    r.targets = {m.own()};
  } else {
    r.targets = r.checked;
  }
  for (Bits b : r.checked) Checks(m, b, r.offices, r.checks).run();
  return r;
}

RepairPlan repairPlan(bool msiInstalled, bool dllBeside, bool machineInstall) {
  if (machineInstall) return {Repair::EnableUser, {}};
  if (msiInstalled) return {Repair::Msi, {}};
  if (dllBeside) return {Repair::Register, {}};
  return {std::nullopt, "there is no vbatessary.dll beside this program to register"};
}

// HKCU is the registry of the account the process runs as. After a UAC prompt where an
// administrator's password was typed, that is the administrator's, not the desktop user's.
AccountDecision accountDecision(const std::string& what, const std::optional<Account>& self,
                                const std::optional<Account>& desktop, std::optional<bool> elevated) {
  auto who = [](const Account& a) { return a.name.empty() ? a.sid : a.name; };
  if (!self || self->sid.empty())
    return {false, "could not tell which account this program runs as, so not whose registry " + what + " would change"};
  if (desktop && !desktop->sid.empty()) {
    if (desktop->sid == self->sid) return {true, {}};
    return {false, what + " would change the registry of " + who(*self) + ", the account this program runs as, not of " +
                       who(*desktop) + ", whose desktop this is; run it from a normal window as " + who(*desktop)};
  }
  // No shell to ask: only a program that is not elevated is surely its own user's.
  if (elevated.value_or(true))
    return {false, "no desktop shell tells whose desktop this is, and this program runs elevated as " + who(*self) +
                       ": " + what + " would change the registry of " + who(*self) +
                       ", perhaps not the user who runs Office; run it from a normal window, as that user"};
  return {true, "no desktop shell tells whose desktop this is; " + what + " changes the registry of " + who(*self) +
                    ", who runs this program"};
}

}  // namespace check
