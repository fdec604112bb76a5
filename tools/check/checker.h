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
};

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
  std::string id;  // office, record, loadbehavior, class, file, machine, load, vba, running, elevated
  Status status;
  std::string detail;
  std::string fix;  // empty when there is nothing to do
};

// The add-in's log as the check found it.
struct Log {
  bool on = false;                 // the setting Log is "1"
  std::string path;                // where the add-in writes it
  bool found = false;              // the file exists
  std::vector<std::string> tail;   // its last lines
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

// Why --repair must not run, or nothing when it may.
std::optional<std::string> repairRefusal(bool msiInstalled, std::optional<bool> elevated,
                                         bool dllBeside);

// The report: one line a check and the verdict, or one JSON object.
std::string text(const Result& r, const std::string& version);
std::string json(const Result& r, const std::string& version);
std::string verdict(const Result& r);

// What an HRESULT of creating an in-process class usually means.
std::string meaning(long hresult);

}  // namespace check
