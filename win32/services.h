#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "platform/keystrokes.h"
#include "platform/services.h"

namespace win32 {

// Which events this build takes clicks through. 64-bit hosts are reported to crash on VBE.Events
// (see docs/design.md, "Clicks"), so the 64-bit DLL never touches it and takes Office's own button
// events; the 32-bit DLL keeps the editor's, its known-good way.
inline constexpr automation::ClickEvents ClickEventsOfThisBuild =
    sizeof(void*) == 8 ? automation::ClickEvents::OfficeButton : automation::ClickEvents::EditorControl;

// Where VB's SaveSetting keeps its values: HKCU\Software\VB and VBA Program Settings.
class RegistrySettings final : public platform::Settings {
 public:
  void save(const std::string& app, const std::string& section, const std::string& key,
            const std::string& value) override;
  std::string get(const std::string& app, const std::string& section, const std::string& key,
                  const std::string& defaultValue) override;
};

class DialogMessageBox final : public platform::MessageBoxes {
 public:
  void show(const std::string& text) override;
  Answer ask(const std::string& text) override;
};

class SendInputKeyboard final : public platform::Keyboard {
 public:
  void type(const std::string& notation) override;
};
// The input events for parsed keys: Unicode characters as UTF-16 units, Enter as VK_RETURN.
std::vector<INPUT> inputsFor(const std::vector<platform::keystrokes::Key>& keys);

// %LOCALAPPDATA%\vbaTessary\vbatessary.log, UTF-8. Each line is opened, appended and closed: it
// is the system's before the write returns (a crash of the host loses nothing), and several
// Offices share the file. Past 1 MiB it becomes vbatessary.log.1 (the older .1 goes) and a new one
// starts; one process writes or rotates at a time. A folder that cannot be made turns the log off
// until the next connection; a line that cannot be opened or written is skipped, and only a run of
// such lines turns it off. It never reaches the user.
class FileLog final : public platform::Log {
 public:
  static constexpr unsigned long long RotateAt = 1ull << 20;
  static constexpr int FailuresToStop = 5;
  static constexpr unsigned long LockWaitMs = 250;
  // `folder` empty: %LOCALAPPDATA%\vbaTessary (no log when that cannot be formed).
  explicit FileLog(std::wstring folder = {}) : folder_(std::move(folder)) {}
  FileLog(const FileLog&) = delete;
  FileLog& operator=(const FileLog&) = delete;
  ~FileLog() override { closeLock(); }
  void start(bool on) noexcept override;
  bool on() const noexcept override { return on_; }
  void stop() noexcept override {
    on_ = false;
    closeLock();
  }

 protected:
  void append(Level level, std::string_view line) noexcept override;

 private:
  HANDLE open() const noexcept;
  void failed() noexcept;
  void closeLock() noexcept;
  std::wstring folder_;
  std::wstring path_, rotated_;
  HANDLE lock_ = nullptr;  // the named mutex every writer of path_ writes and rotates under
  bool on_ = false;
  bool rotationFailed_ = false;
  int failures_ = 0;  // lines lost in a row
};

// GetObject(, progId): the running object table, nothing is started. An object of another
// process is reported as such and not handed out.
class RunningObjectLookup final : public platform::HostLookup {
 public:
  platform::ActiveObject getActiveObject(const std::string& progId) override;
  bool inThisProcess(const automation::Object& object) override;
  // A program id's class is read from the registry once per connection: a repair of Office
  // between two connections is seen at the next.
  void forget() noexcept { progId_.clear(); }

 private:
  std::string progId_;  // whose class clsid_ is; empty: none known
  CLSID clsid_{};
};

}  // namespace win32
