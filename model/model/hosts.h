#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "model/editor.h"

// In-memory Office hosts (Excel, Word, Access, PowerPoint) reached by program identifier. Their
// objects share the editor's call log, fault injection and reference count, so a test sees the
// editor's calls and the host's in one order. Member names match case-insensitively, as the
// hosts' own dispatch interfaces do; files are found by name regardless of case, as the hosts'
// collections find them.
namespace model {

class ModelHostLookup;

// Whether a model object belongs to a host instance of another process.
bool inAnotherProcess(const Object& object);

enum class HostKind { Excel, Word, Access, PowerPoint };

const char* progIdOf(HostKind kind);
const char* displayNameOf(HostKind kind);
// The host whose display name this is, exactly (Access answers to its 2007 name and its later
// one); none for any other text.
std::optional<HostKind> hostKindOf(const std::string& displayName);

// Everything a host holds and a test inspects afterwards.
struct HostState {
  HostKind kind = HostKind::Excel;
  std::string progId;
  bool running = true;  // false: neither the lookup nor the editor finds an instance
  bool otherProcess = false;  // true: the instance found runs in another process
  bool inTable = true;        // false: only the editor leads to it
  bool visible = true;
  std::vector<bool> visibleWrites;  // every value put on "Visible", in order

  struct File {
    std::string name;
    bool open = true;
    bool saved = true;  // PowerPoint's "Saved"
    int saves = 0;
    bool closeFails = false;
  };
  std::vector<File> files;          // in the order opened
  std::vector<std::string> closed;  // names of closed files, in order
  std::string activeDocument;       // Word: name of the active document, empty when none

  struct AddIn {
    std::string name;
    bool installed = true;
  };
  std::vector<AddIn> addIns;  // Word

  struct Dialog {
    int shown = 0;
    bool showFails = false;
  };
  std::map<int32_t, Dialog> dialogs;  // by built-in dialog number (Excel, Word)

  struct Control {
    int executed = 0;
    bool executeFails = false;
  };
  std::map<int32_t, Control> controls;  // host command bar controls by Id

  int docmdCloses = 0;  // Access: "Close" on "DoCmd" (closes the active window)

  // Runs inside the calls during which a real host waits for the user (a dialog's Show, an Open
  // control's Execute, a file's Close, DoCmd.Close) and the editor still delivers clicks; the
  // argument names the call ("Show"). A test re-enters the add-in from here.
  std::function<void(const std::string& call)> whileWaiting;
  void waiting(const std::string& call) const {
    if (auto hook = whileWaiting) hook(call);
  }

  File* file(const std::string& name);
  AddIn* addIn(const std::string& name);
};

// A running model host. Copies share one host.
class Host {
 public:
  Host(std::shared_ptr<World> world, std::shared_ptr<HostState> state);

  // A new counted reference to the host application object, as GetObject would hand it out.
  Object application() const;
  // Registers the host in the lookup under its program identifier. Each lookup is logged as
  // "RunningObjectTable.GetActiveObject" (so fault injection can fail it) and hands out a fresh
  // reference; a host built notRunning() fails it like GetObject does, and one built
  // inAnotherProcess() is reported as living outside the caller's process (still handed out, so
  // a test sees whether anything is called on it).
  void install(ModelHostLookup& lookup) const;

  HostState& state() const { return *state_; }
  HostKind kind() const { return state_->kind; }
  const std::string& progId() const { return state_->progId; }

  // Inspection.
  bool isOpen(const std::string& name) const;
  std::vector<std::string> openFiles() const;
  const std::vector<std::string>& closed() const { return state_->closed; }
  bool visible() const { return state_->visible; }
  int shown(int32_t dialog) const;
  int executed(int32_t controlId) const;
  bool addInInstalled(const std::string& name) const;

 private:
  std::shared_ptr<World> world_;
  std::shared_ptr<HostState> state_;
};

// Builds a host scenario in a few lines. A new host has the built-in Open command of its kind:
// dialog 1 (Excel), dialog 80 (Word), command bar control 2937 (Access) or 23 (PowerPoint).
class HostBuilder {
 public:
  HostBuilder(const Editor& editor, HostKind kind);

  HostBuilder& file(std::string name, bool saved = true);
  HostBuilder& fileCloseFails(std::string name);
  // Word: the active document; opened if it is not open yet.
  HostBuilder& activeDocument(std::string name);
  HostBuilder& addIn(std::string name, bool installed = true);
  HostBuilder& dialog(int32_t number, bool showFails = false);
  HostBuilder& control(int32_t id, bool executeFails = false);
  HostBuilder& withoutOpenCommand();
  HostBuilder& hidden();
  HostBuilder& notRunning();
  // Another instance of the program, started first: the table finds it, in another process.
  HostBuilder& inAnotherProcess();
  // Not (yet) in the Running Object Table, as Office is until its window first loses the focus:
  // the editor's document components still lead to it.
  HostBuilder& notInTable();
  Host build();

 private:
  std::shared_ptr<World> world_;
  std::shared_ptr<HostState> state_;
};

}  // namespace model
