#pragma once

// A Windows test bed for the real vbatessary.dll: the add-in registered and created through COM,
// a real edit control that receives the keys it types, real message boxes answered by script,
// model hosts in the Running Object Table, and the settings it keeps in the registry.
//
// Everything here runs on the calling thread, which must be a single-threaded apartment
// (CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)). Objects are undone in their destructors.
#include <windows.h>
#include <oaidl.h>

#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "automation/object.h"
#include "com_ptr.h"
#include "extensibility.h"
#include "model/editor.h"
#include "model/hosts.h"

namespace testbed {

// A file next to the running program.
std::wstring besideProgram(const wchar_t* name);

// Dispatches this thread's messages until nothing has arrived for a few rounds: keys queued with
// SendInput reach the queue through the window server, not at once.
void pumpMessages();

// vbatessary.dll registered per user for the lifetime of this object, as regsvr32 would, plus
// what Wine needs for activation: the class and ProgID keys copied to HKLM\Software\Classes and
// the stand-in editor and Office type libraries (found beside the DLL) registered. The add-in is
// created with CoCreateInstance from its ProgID.
class Addin {
 public:
  explicit Addin(std::wstring dllPath = besideProgram(L"vbatessary.dll"));
  ~Addin();
  Addin(const Addin&) = delete;
  Addin& operator=(const Addin&) = delete;

  // Empty when registration succeeded; otherwise what failed.
  const std::string& problem() const { return problem_; }
  bool ready() const { return problem_.empty(); }

  // A new add-in object (the previous one, if any, released first).
  HRESULT create();
  // OnConnection(application, mode); creates the object first when there is none.
  HRESULT connect(IDispatch* application, int mode = 0);
  // The same with a model object exposed through this program's dispatch server.
  HRESULT connect(const automation::Object& application, int mode = 0);
  HRESULT disconnect(int mode = 0);
  // Final release of the add-in object (and of the application handed to it).
  void release();

  IDTExtensibility2* object() const { return addin_.get(); }
  // The add-in's own property through its _Connect dispatch interface.
  std::optional<bool> formDisplayed() const;

 private:
  std::wstring path_;
  HMODULE module_ = nullptr;
  std::string problem_;
  bool registered_ = false, standins_ = false;
  std::vector<std::wstring> machineCopies_;
  win32::ComPtr<IDTExtensibility2> addin_;
};

// A top-level window with a multi-line edit control standing in for the editor's windows. While
// it lives, whenever a model window takes the focus (World::onFocus), the edit control takes the
// real keyboard focus, so keys the DLL types with SendInput land in it.
class KeystrokeTarget {
 public:
  explicit KeystrokeTarget(const model::Editor& editor);
  ~KeystrokeTarget();
  KeystrokeTarget(const KeystrokeTarget&) = delete;
  KeystrokeTarget& operator=(const KeystrokeTarget&) = delete;

  bool ready() const { return edit_ != nullptr; }
  // Lets the typed keys be processed, then moves the edit control's text (each CR LF as "\n")
  // to the model window that last took the focus, so the model shows what a user saw, and
  // clears the control. Returns the text moved. Also done before the focus moves elsewhere.
  std::string collect();
  // How often a model window took the focus.
  int focusCount() const { return focusCount_; }
  HWND window() const { return window_; }
  HWND edit() const { return edit_; }

 private:
  void focus(model::WindowNode& node);

  std::weak_ptr<model::World> world_;
  model::WindowNode* target_ = nullptr;
  int focusCount_ = 0;
  HWND window_ = nullptr, edit_ = nullptr;
};

// One message box as the watcher saw it.
struct SeenBox {
  std::wstring title;
  std::wstring text;
  std::vector<int> buttons;  // IDOK, IDCANCEL, IDYES, IDNO, ... in window order
  int answer = 0;            // the button pressed
};

// Watches for message boxes (dialog class "#32770") of this process on a thread of its own,
// records each and presses its one button (a notice) or the next scripted answer (a question);
// when the script is exhausted, OK when the box has it, else Cancel.
class MessageBoxes {
 public:
  explicit MessageBoxes(std::deque<int> answers = {});
  ~MessageBoxes();
  MessageBoxes(const MessageBoxes&) = delete;
  MessageBoxes& operator=(const MessageBoxes&) = delete;

  // The boxes answered so far. A box shown by this thread has been recorded once its
  // MessageBoxW call has returned.
  std::vector<SeenBox> seen() const;
  std::vector<std::wstring> texts() const;

 private:
  static DWORD WINAPI start(void* self);
  void run();
  int nextAnswer(const std::vector<int>& buttons);

  mutable CRITICAL_SECTION lock_;
  std::deque<int> answers_;
  std::vector<SeenBox> seen_;
  volatile LONG stop_ = 0;
  HANDLE thread_ = nullptr;
};

// A program id with a class id of its own in HKLM\Software\Classes (where Wine's CLSIDFromProgID
// looks): ProgID\CLSID and CLSID\{...}\ProgID. Removed again unless they were there before.
class ProgIdClass {
 public:
  explicit ProgIdClass(std::string progId);
  ~ProgIdClass();
  ProgIdClass(const ProgIdClass&) = delete;
  ProgIdClass& operator=(const ProgIdClass&) = delete;

  bool ready() const { return ready_; }
  const CLSID& clsid() const { return clsid_; }
  const std::string& progId() const { return progId_; }

 private:
  std::string progId_;
  CLSID clsid_{};
  bool ready_ = false, created_ = false;
};

// A model host (or any automation object) running under a program id: its class keys as above
// and the object in the Running Object Table (RegisterActiveObject, ACTIVEOBJECT_STRONG), where
// GetObject finds it. Revoked at the end.
class RunningObject {
 public:
  RunningObject(std::string progId, const automation::Object& object);
  ~RunningObject();
  RunningObject(const RunningObject&) = delete;
  RunningObject& operator=(const RunningObject&) = delete;

  HRESULT status() const { return status_; }
  bool ready() const { return SUCCEEDED(status_); }
  const CLSID& clsid() const { return class_.clsid(); }

 private:
  ProgIdClass class_;
  win32::ComPtr<IDispatch> server_;
  DWORD cookie_ = 0;
  HRESULT status_ = E_FAIL;
};

// Another instance of a host: a model host of the given kind with one file open, registered in the
// Running Object Table by a second process (tessary_host_process, beside this program), which
// this process reaches only through COM's proxies. Told to quit at the latest when destroyed.
class HostInAnotherProcess {
 public:
  HostInAnotherProcess(model::HostKind kind, const std::string& file);
  ~HostInAnotherProcess();
  HostInAnotherProcess(const HostInAnotherProcess&) = delete;
  HostInAnotherProcess& operator=(const HostInAnotherProcess&) = delete;

  // Its host is registered and it serves calls.
  bool ready() const { return ready_; }
  // Tells it to quit and waits. Its exit code: 0 when nothing was called on its host and the host
  // is as it was, 1 when it was driven, other values when the process failed. report() then
  // holds what it saw: "call ..." lines, then the file, the add-in, the window, the references.
  int finish();
  const std::string& report() const { return report_; }

 private:
  HANDLE readyEvent_ = nullptr, quitEvent_ = nullptr;
  PROCESS_INFORMATION process_{};
  std::wstring reportPath_;
  std::string report_;
  bool ready_ = false;
  int exitCode_ = -1;
};

// The add-in's DisplayOnConnect setting where VB's SaveSetting keeps it
// (HKCU\Software\VB and VBA Program Settings\vbatessary\Settings); none when absent.
std::optional<std::string> displayOnConnect();
// Removes the add-in's settings key.
void clearSettings();

}  // namespace testbed
