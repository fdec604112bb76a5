// The Windows platform services on their own: registry settings, message boxes, SendInput typing
// into a real edit control, and the running-object lookup.
#include <windows.h>

#include <vector>

#include "check.h"
#include "model/hosts.h"
#include "model/platform.h"
#include "services.h"
#include "testbed.h"
#include "text.h"

namespace {

const wchar_t* const TestApp = L"Software\\VB and VBA Program Settings\\tessary services test";

void settingsLiveWhereSaveSettingKeepsThem() {
  RegDeleteTreeW(HKEY_CURRENT_USER, TestApp);
  win32::RegistrySettings settings;
  CHECK_EQ(settings.get("tessary services test", "Settings", "DisplayOnConnect", "fallback"), "fallback");

  settings.save("tessary services test", "Settings", "DisplayOnConnect", "1");
  settings.save("tessary services test", "Settings", "Caption", "\xC2\xAB" "caf\xC3\xA9 \xF0\x9F\x98\x80\xC2\xBB");
  CHECK_EQ(settings.get("tessary services test", "Settings", "DisplayOnConnect", "x"), "1");
  CHECK_EQ(settings.get("tessary services test", "Settings", "Caption", "x"),
           "\xC2\xAB" "caf\xC3\xA9 \xF0\x9F\x98\x80\xC2\xBB");
  // Another section or key of the same application falls back to the default.
  CHECK_EQ(settings.get("tessary services test", "Other", "DisplayOnConnect", "d"), "d");
  CHECK_EQ(settings.get("tessary services test", "Settings", "Missing", ""), "");

  // A string value, exactly where VB's GetSetting would read it.
  DWORD type = 0;
  wchar_t data[16] = {};
  DWORD size = sizeof data;
  CHECK_EQ(RegGetValueW(HKEY_CURRENT_USER, (std::wstring(TestApp) + L"\\Settings").c_str(), L"DisplayOnConnect",
                        RRF_RT_ANY, &type, data, &size),
           ERROR_SUCCESS);
  CHECK_EQ(type, static_cast<DWORD>(REG_SZ));
  CHECK(std::wstring(data) == L"1");

  // An overwrite replaces the value.
  settings.save("tessary services test", "Settings", "DisplayOnConnect", "0");
  CHECK_EQ(settings.get("tessary services test", "Settings", "DisplayOnConnect", "x"), "0");

  // Empty names are refused as VB refuses them; nothing is written.
  CHECK_FAILS(automation::errors::InvalidCall, settings.save("", "Settings", "k", "v"));
  CHECK_FAILS(automation::errors::InvalidCall, settings.save("tessary services test", "", "k", "v"));
  CHECK_FAILS(automation::errors::InvalidCall, settings.save("tessary services test", "Settings", "", "v"));
  RegDeleteTreeW(HKEY_CURRENT_USER, TestApp);

  // A key that cannot be written (a lasting key under a volatile one) is a failure, not silence.
  HKEY app = nullptr;
  CHECK_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, TestApp, 0, nullptr, REG_OPTION_VOLATILE, KEY_ALL_ACCESS, nullptr,
                           &app, nullptr),
           ERROR_SUCCESS);
  if (app) RegCloseKey(app);
  CHECK_FAILS(automation::errors::InvalidCall, settings.save("tessary services test", "Settings", "k", "v"));
  CHECK_EQ(settings.get("tessary services test", "Settings", "k", "unchanged"), "unchanged");
  RegDeleteTreeW(HKEY_CURRENT_USER, TestApp);
}

void messageBoxesCarryTheTextAndTheAnswer() {
  win32::DialogMessageBox box;
  using Answer = platform::MessageBoxes::Answer;
  {
    testbed::MessageBoxes watch({IDYES, IDNO, IDCANCEL});
    box.show("Tessary could not connect:\nObject required");
    CHECK(box.ask("Do you want to save the changes you made to Deck.pptx?") == Answer::Yes);
    CHECK(box.ask("Second") == Answer::No);
    CHECK(box.ask("Third") == Answer::Cancel);
    auto seen = watch.seen();
    CHECK_EQ(seen.size(), 4u);
    if (seen.size() == 4) {
      CHECK(seen[0].text == L"Tessary could not connect:\nObject required");
      // No caption of our own: the system's default.
      CHECK(seen[0].title == L"Error");
      CHECK(seen[0].buttons == std::vector<int>{IDOK});
      CHECK(seen[1].text == L"Do you want to save the changes you made to Deck.pptx?");
      CHECK(seen[1].buttons == (std::vector<int>{IDYES, IDNO, IDCANCEL}));
      CHECK(seen[3].text == L"Third");
    }
    // The notice took none of the scripted answers.
  }
  {
    // Closing a question any other way (Escape, the close box) is Cancel.
    testbed::MessageBoxes watch;
    CHECK(box.ask("Close?") == Answer::Cancel);
    CHECK_EQ(watch.seen().size(), 1u);
  }
}

// Key-downs of Enter this thread dispatched: "~" must be the real key, not a typed carriage return.
// Their scan codes too: some windows read the key from the scan code, not the virtual key.
int enterKeys = 0;
std::vector<UINT> enterScanCodes;
LRESULT CALLBACK countEnter(int code, WPARAM w, LPARAM l) {
  auto* m = reinterpret_cast<MSG*>(l);
  if (code == HC_ACTION && w == PM_REMOVE && m->message == WM_KEYDOWN && m->wParam == VK_RETURN) {
    ++enterKeys;
    enterScanCodes.push_back((static_cast<UINT>(m->lParam) >> 16) & 0xFF);
  }
  return CallNextHookEx(nullptr, code, w, l);
}

// Types through SendInput and reads back what the edit control received.
std::string typed(win32::SendInputKeyboard& keys, testbed::KeystrokeTarget& target, const std::string& notation) {
  keys.type(notation);
  return target.collect();
}

void sendInputTypesIntoTheFocusedWindow() {
  model::Editor editor = model::EditorBuilder().build();
  testbed::KeystrokeTarget target(editor);
  CHECK(target.ready());
  if (!target.ready()) return;
  // The model's Immediate window takes the focus the way the add-in gives it.
  editor.vbe().get("Windows").asObject().call("Item", {"Immediate"}).asObject().call("SetFocus");
  CHECK_EQ(target.focusCount(), 1);
  CHECK(GetFocus() == target.edit());

  bool numLock = GetKeyState(VK_NUMLOCK) & 1, capsLock = GetKeyState(VK_CAPITAL) & 1;
  win32::SendInputKeyboard keys;
  // Unicode, a surrogate pair, "~" as Enter, escaped braces and tilde literally.
  CHECK_EQ(typed(keys, target, "\xC2\xBB\xC2\xBB caf\xC3\xA9 \xF0\x9F\x98\x80 \xC2\xAB~(x) [y] {{}{~}{}}~"),
           "\xC2\xBB\xC2\xBB caf\xC3\xA9 \xF0\x9F\x98\x80 \xC2\xAB\n(x) [y] {~}\n");
  CHECK_EQ(typed(keys, target, "C:\\PROGRA{~}1\\COMMON{~}1"), "C:\\PROGRA~1\\COMMON~1");
  HHOOK hook = SetWindowsHookExW(WH_GETMESSAGE, &countEnter, nullptr, GetCurrentThreadId());
  CHECK(hook != nullptr);
  CHECK_EQ(typed(keys, target, "~~"), "\n\n");
  CHECK_EQ(enterKeys, 2);
  const UINT enterScan = MapVirtualKeyW(VK_RETURN, MAPVK_VK_TO_VSC);
  CHECK(enterScan != 0);
  CHECK(enterScanCodes == std::vector<UINT>(2, enterScan));
  if (hook) UnhookWindowsHookEx(hook);
  // The text moved into the model window, as a user saw it.
  CHECK_EQ(editor.immediate()->text,
           "\xC2\xBB\xC2\xBB caf\xC3\xA9 \xF0\x9F\x98\x80 \xC2\xAB\n(x) [y] {~}\nC:\\PROGRA~1\\COMMON~1\n\n");

  // Malformed notation types nothing at all, not even its valid start.
  CHECK_FAILS(automation::errors::InvalidCall, keys.type("abc{~"));
  CHECK_FAILS(automation::errors::InvalidCall, keys.type("abc}"));
  CHECK_EQ(target.collect(), "");
  // Nothing to type sends nothing.
  keys.type("");
  CHECK_EQ(target.collect(), "");

  CHECK_EQ(static_cast<bool>(GetKeyState(VK_NUMLOCK) & 1), numLock);
  CHECK_EQ(static_cast<bool>(GetKeyState(VK_CAPITAL) & 1), capsLock);
}

void hostLookupFindsOnlyRunningObjects() {
  model::Editor editor = model::EditorBuilder().build();
  model::Host host = model::HostBuilder(editor, model::HostKind::Excel).file("Budget.xlsm").build();
  win32::RunningObjectLookup lookup;
  model::ModelHostLookup modelLookup;
  auto failureOf = [](platform::HostLookup& l, const std::string& progId) {
    try {
      l.getActiveObject(progId);
    } catch (const automation::Failure& f) {
      return f;
    }
    return automation::Failure("found", 0);
  };
  {
    testbed::RunningObject running("Tessary.ServicesTestHost", host.application());
    CHECK(running.ready());
    platform::ActiveObject active = lookup.getActiveObject("Tessary.ServicesTestHost");
    CHECK(active.inThisProcess);
    automation::Object& found = active.object;
    CHECK(!found.empty());
    // The object found is the running host: calls on it reach it.
    if (!found.empty()) {
      found.put("Visible", automation::Value::boolean(false));
      CHECK(!host.visible());
    }
  }
  // Never registered, registered but not running, and revoked: the failure the model reports too.
  {
    testbed::ProgIdClass registeredOnly("Tessary.ServicesTestIdle");
    CHECK(registeredOnly.ready());
    for (const char* progId : {"Tessary.ServicesTestNowhere", "Tessary.ServicesTestIdle", "Tessary.ServicesTestHost"}) {
      automation::Failure real = failureOf(lookup, progId), modelled = failureOf(modelLookup, progId);
      CHECK_EQ(real.code(), automation::errors::CantCreateObject);
      CHECK_EQ(real.description(), std::string("ActiveX component can't create object: no running ") + progId);
      CHECK_EQ(real.description(), modelled.description());
      CHECK_EQ(real.code(), modelled.code());
    }
  }
  CHECK_EQ(editor.liveReferences(), 0);
}

// An object registered by a second process is found as a proxy: reported as another process's
// and not handed out, and that process saw no call on its host.
void hostLookupTellsAnObjectOfAnotherProcess() {
  win32::RunningObjectLookup lookup;
  testbed::HostInAnotherProcess other(model::HostKind::Word, "Report.docm");
  CHECK(other.ready());
  if (other.ready()) {
    platform::ActiveObject found = lookup.getActiveObject("Word.Application");
    CHECK(!found.inThisProcess);
    CHECK(found.object.empty());
  }
  int code = other.finish();
  CHECK_EQ(code, 0);
  if (!CHECK_EQ(other.report(), "file open\nadd-in installed\nwindow visible\nvisible written 0x\nreferences 0\n"))
    std::printf("    exit code %d, report:\n%s", code, other.report().c_str());
}

}  // namespace

int main() {
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  settingsLiveWhereSaveSettingKeepsThem();
  messageBoxesCarryTheTextAndTheAnswer();
  sendInputTypesIntoTheFocusedWindow();
  hostLookupFindsOnlyRunningObjects();
  hostLookupTellsAnObjectOfAnotherProcess();
  CoUninitialize();
  return check::finish("services");
}
