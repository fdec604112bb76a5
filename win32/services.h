#pragma once

#include <windows.h>

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

class DialogMessageBox final : public platform::MessageBox {
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

// GetObject(, progId): the running object table, nothing is started. An object of another
// process is reported as such and not handed out.
class RunningObjectLookup final : public platform::HostLookup {
 public:
  platform::ActiveObject getActiveObject(const std::string& progId) override;
  bool inThisProcess(const automation::Object& object) override;
};

}  // namespace win32
