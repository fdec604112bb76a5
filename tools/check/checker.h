#pragma once

// vbatessary-check: why the add-in does or does not load, read from outside Office. The checks
// and their verdict are plain C++ over a Machine (registry, files, processes); the Windows program
// supplies the real one, the tests a table.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace check {

enum class Bits { x86, x64 };
const char* name(Bits b);    // "x86", "x64"
const char* office(Bits b);  // "32-bit Office", "64-bit Office"
inline Bits other(Bits b) { return b == Bits::x86 ? Bits::x64 : Bits::x86; }

enum class Hive { User, Machine };

struct RegValue {
  enum class Kind { Absent, String, ExpandString, Dword, Other } kind = Kind::Absent;
  std::string text;      // String, ExpandString: UTF-8
  std::uint32_t dword = 0;
  unsigned long type = 0;  // the registry's own type number
  bool present() const { return kind != Kind::Absent; }
  bool isText() const { return kind == Kind::String || kind == Kind::ExpandString; }
};

// How creating the class went in a process of one bitness.
struct Creation {
  enum class Outcome { Created, Failed, NoProcess } outcome = Outcome::NoProcess;
  long hresult = 0;  // Failed: the HRESULT, or the process's exit code when it crashed
  std::string how;   // which program created it
};

struct Process {
  std::string name;  // as the system lists it, "EXCEL.EXE"
  unsigned long pid = 0;
  std::optional<Bits> bits;
  std::optional<bool> elevated;
};

class Machine {
 public:
  virtual ~Machine() = default;
  virtual Bits own() const = 0;
  virtual bool windows64() const = 0;
  // A value ("" the key's default) of a key under HKCU or HKLM, in the registry view of `view`
  // (on 32-bit Windows there is one view).
  virtual RegValue value(Hive hive, Bits view, const std::string& key, const std::string& name) = 0;
  virtual bool keyExists(Hive hive, Bits view, const std::string& key) = 0;
  virtual std::string expand(const std::string& text) = 0;  // %VARIABLES% of REG_EXPAND_SZ
  virtual bool fileExists(const std::string& path) = 0;
  // The text of the file's Zone.Identifier stream, when it has one.
  virtual std::optional<std::string> zoneIdentifier(const std::string& path) = 0;
  // The PE header's machine field; nullopt when the file is no PE image or cannot be read.
  virtual std::optional<std::uint16_t> peMachine(const std::string& path) = 0;
  // Creates the add-in class from `path` in a separate process of that bitness and releases it.
  virtual Creation create(Bits bits, const std::string& path) = 0;
  // The running Excel, Word, Access and PowerPoint processes.
  virtual std::vector<Process> offices() = 0;
  virtual std::optional<bool> elevated() = 0;  // this process
  // Writes a String or Dword value, creating its key; false when the registry refused.
  virtual bool setValue(Hive hive, Bits view, const std::string& key, const std::string& name, const RegValue& v) = 0;
  // Deletes a key and its subkeys; true when it is gone (or was never there).
  virtual bool deleteKey(Hive hive, Bits view, const std::string& key) = 0;
};

// The registry view Windows' own components (Active Setup) read: 64-bit on 64-bit Windows.
Bits nativeView(Machine& m);

// Active Setup, which writes each user's add-in records for an installation for all users: the
// entry that runs --enable-user at logon, and the one a removal leaves to delete them again.
extern const std::string ActiveSetupInstall;  // SOFTWARE\Microsoft\Active Setup\Installed Components\{...40}
extern const std::string ActiveSetupRemoval;  // ...\{...41}
// "1,0,57": one to four comma-separated decimal fields.
bool validVersion(const std::string& v);
// Field by field, numerically; a missing field counts as 0. <0, 0, >0.
int compareVersions(const std::string& a, const std::string& b);

// The class registered for all users in that bitness's view (HKLM\Software\Classes).
bool machineClass(Machine& m, Bits b);
// An installation for all users: its Active Setup entry, or the machine's class of this program's
// bitness naming `ownDll` (the DLL beside this program) under a Program Files folder.
bool machineInstall(Machine& m, const std::string& ownDll);

// --enable-user: this user's add-in records for each bitness the machine has a class for.
struct Enabled {
  Bits bits;
  enum class State { Written, AlreadyThere, NoMachineClass, Failed } state;
};
std::vector<Enabled> enableUser(Machine& m);
std::string line(const Enabled& e);  // what --enable-user prints for it
int exitStatus(const std::vector<Enabled>& done);  // 0 written or there, 1 otherwise

// The command the removal's Active Setup entry runs as each user: deletes both records and the
// user's marker of the install entry. `systemFolder` holds cmd.exe.
std::string removalStubPath(const std::string& systemFolder);
// --machine-uninstalled: writes the removal entry in HKLM's native view; false when it could not.
bool markRemoved(Machine& m, const std::string& version, const std::string& systemFolder);

struct Office {
  Bits bits;
  std::string product;  // "Microsoft Office (Click-to-Run)"
  std::string version;  // may be empty
};
std::vector<Office> findOffices(Machine& m);

enum class Status { Ok, Warn, Fail, Skip };
const char* name(Status s);

struct Check {
  Bits bits;
  std::string id;  // office, record, loadbehavior, activesetup, class, file, machine, load, vba, running, elevated
  Status status;
  std::string detail;
  std::string fix;  // empty when there is nothing to do
};

// The add-in's log as the check found it.
struct Log {
  bool on = false;                 // the setting Log is "1"
  std::string path;                // where the add-in writes it; empty when it writes none
  bool found = false;              // the file exists
  std::vector<std::string> tail;   // its last lines
  std::string why = {};            // no path: why (LOCALAPPDATA unset, empty or too long)
};
// The last `count` lines of a log's text, without their line ends.
std::vector<std::string> lastLines(const std::string& text, size_t count);

struct Result {
  std::vector<Office> offices;
  std::vector<Bits> checked;  // in order
  std::vector<Bits> targets;  // the bitnesses the verdict is about
  std::vector<Check> checks;
  Log log;
  bool canLoad(Bits b) const;  // no check of that bitness failed
  bool ok() const;             // some target can load
};

Result run(Machine& m);

// The per-user MSI's marker, HKCU\Software\vba Tessary\InstallFolder.
bool msiInstall(Machine& m);

// What --repair does: writes this user's records for an installation for all users, has Windows
// Installer repair the per-user MSI's product, or registers the DLL beside the program.
enum class Repair { EnableUser, Msi, Register };
struct RepairPlan {
  std::optional<Repair> route;
  std::string refusal;  // without a route: why not
};
RepairPlan repairPlan(bool msiInstalled, bool dllBeside, bool machineInstall = false);

// An account as its token names it.
struct Account {
  std::string sid;   // "S-1-5-21-..."
  std::string name;  // "DOMAIN\ann"
};
// Whether a change to HKCU (`what`: "--repair", "--log on") made by this process lands in the
// registry of the user at the desktop: `self` this process's account, `desktop` the owner of the
// shell's process (nullopt when there is no shell or it cannot be read).
struct AccountDecision {
  bool proceed = false;
  std::string why;  // refused: why; went ahead without knowing the desktop's user: what was assumed
};
AccountDecision accountDecision(const std::string& what, const std::optional<Account>& self,
                                const std::optional<Account>& desktop, std::optional<bool> elevated);

// The report: one line a check and the verdict, or one JSON object.
std::string text(const Result& r, const std::string& version);
std::string json(const Result& r, const std::string& version);
std::string verdict(const Result& r);

// What an HRESULT of creating an in-process class usually means.
std::string meaning(long hresult);

}  // namespace check
