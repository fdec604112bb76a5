// The real DLL, created through COM after registration, driving the model editor through IDispatch
// exactly as the editor's add-in manager would.
#include <windows.h>
#include <oleauto.h>

#include "dispatch_server.h"
#include "dll.h"
#include "extensibility.h"
#include "iids.h"
#include "message_box_watch.h"
#include "model/editor.h"
#include "model/sample.h"
#include "standins.h"
#include "text.h"

using win32::ComPtr;

namespace {

const std::wstring ClassKey = L"Software\\Classes\\CLSID\\{BF58B135-96A1-4809-BA5C-8B9637E56DAB}";
const std::wstring ProgIdKey = L"Software\\Classes\\VBATessary.Connect";
const std::wstring SettingsKey = L"Software\\VB and VBA Program Settings\\vbatessary\\Settings";

// Wine does not merge per-user classes into HKCR: activation needs a machine-wide copy.
void copyToMachine(const std::wstring& key) {
  HKEY from = nullptr, to = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, key.c_str(), 0, KEY_READ, &from) == ERROR_SUCCESS &&
      RegCreateKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &to, nullptr) ==
          ERROR_SUCCESS)
    CHECK_EQ(RegCopyTreeW(from, nullptr, to), ERROR_SUCCESS);
  if (from) RegCloseKey(from);
  if (to) RegCloseKey(to);
}

std::wstring setting() {
  wchar_t data[64];
  DWORD size = sizeof data;
  if (RegGetValueW(HKEY_CURRENT_USER, SettingsKey.c_str(), L"DisplayOnConnect", RRF_RT_REG_SZ, nullptr, data,
                   &size) != ERROR_SUCCESS)
    return L"<absent>";
  return data;
}

ComPtr<IDTExtensibility2> createAddin() {
  CLSID clsid{};
  CHECK_HR(CLSIDFromProgID(L"VBATessary.Connect", &clsid), S_OK);
  CHECK(IsEqualCLSID(clsid, win32::iids::ConnectClass));
  ComPtr<IDTExtensibility2> addin;
  CHECK_HR(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, win32::iids::IDTExtensibility2, addin.putVoid()),
           S_OK);
  return addin;
}

bool formDisplayed(IUnknown* addin) {
  auto d = ComPtr<IUnknown>(addin).query<IDispatch>(win32::iids::Connect);
  LPOLESTR name[] = {const_cast<LPOLESTR>(L"FormDisplayed")};
  DISPID id = 0;
  if (!d || FAILED(d->GetIDsOfNames(IID_NULL, name, 1, 0, &id))) return false;
  VARIANT r;
  VariantInit(&r);
  DISPPARAMS none{};
  d->Invoke(id, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &r, nullptr, nullptr);
  return V_VT(&r) == VT_BOOL && V_BOOL(&r) == VARIANT_TRUE;
}

void connectsClicksAndDisconnects() {
  model::Editor editor = model::sampleWorkspace();
  {
    auto addin = createAddin();
    if (!addin) return;
    {
      auto app = win32::makeDispatchServer(editor.vbe());
      MessageBoxWatch watch;
      CHECK_HR(addin->OnConnection(app.get(), 0, nullptr, nullptr), S_OK);
      CHECK(watch.text().empty());
    }
    CHECK(formDisplayed(addin.get()));
    CHECK_EQ(editor.barCount("Tessary Ver. 1.01"), 1);
    auto bar = editor.bar("Tessary Ver. 1.01");
    const char* captions[] = {"Open Active Project's All Modules", "Close Active Project's All Modules",
                              "Open All Modules", "Close All Modules", "Open Projects", "Close Active Project"};
    CHECK(bar && bar->controls.size() == 6);
    if (bar && bar->controls.size() == 6) {
      for (int i = 0; i < 6; ++i) CHECK_EQ(bar->controls[i]->caption, std::string(captions[i]));
      CHECK(bar->visible);
      CHECK_EQ(bar->position, 1);
    }

    // A click on button 1 travels through the connection point into the add-in and back.
    model::ClickResult r = editor.click("Tessary Ver. 1.01", 1);
    CHECK(r.failures.empty());
    for (const auto& f : r.failures) std::printf("    click failure: %s\n", f.c_str());
    int shown = 0, expected = 0;
    if (auto* p = editor.world().activeProject)
      for (const auto& c : p->components)
        if (c->type != 100 && c->codeWindow) {
          ++expected;
          shown += c->codeWindow->visible ? 1 : 0;
        }
    CHECK(expected > 0);
    CHECK_EQ(shown, expected);

    // Tools > References... is taken over: the editor's own dialog does not open.
    std::shared_ptr<model::ControlNode> references;
    if (auto tools = editor.bar("Tools"))
      for (const auto& c : tools->controls)
        if (c->id == 942) references = c;
    CHECK(references != nullptr);
    if (references) {
      model::ClickResult rr = editor.click(references);
      CHECK(rr.cancelled);
      CHECK(!rr.builtInRan);
    }

    RegDeleteTreeW(HKEY_CURRENT_USER, SettingsKey.c_str());
    CHECK_HR(addin->OnDisconnection(0, nullptr), S_OK);
    CHECK(setting() == L"1");
    CHECK_EQ(editor.barCount("Tessary Ver. 1.01"), 0);
    CHECK(!formDisplayed(addin.get()));
  }
  CHECK_EQ(editor.liveReferences(), 0);
}

void failingConnectionShowsTheFailure() {
  model::Editor editor = model::EditorBuilder().notAnEditor().build();
  {
    auto addin = createAddin();
    if (!addin) return;
    {
      auto app = win32::makeDispatchServer(editor.vbe());
      MessageBoxWatch watch;
      CHECK_HR(addin->OnConnection(app.get(), 0, nullptr, nullptr), S_OK);
      std::wstring text = watch.text();
      CHECK(watch.seen());
      CHECK(!text.empty());
      std::printf("    message box: %s\n", win32::narrow(text).c_str());
    }
    CHECK(!formDisplayed(addin.get()));
    CHECK_EQ(editor.barCount("Tessary Ver. 1.01"), 0);
    CHECK_HR(addin->OnDisconnection(1, nullptr), S_OK);
    CHECK(setting() == L"0");
  }
  CHECK_EQ(editor.liveReferences(), 0);
}

void externalModeBuildsNothing() {
  model::Editor editor = model::sampleWorkspace();
  {
    auto addin = createAddin();
    if (!addin) return;
    auto app = win32::makeDispatchServer(editor.vbe());
    // Through IDispatch this time: dispid 1 with four arguments, reversed.
    VARIANT args[4];
    for (auto& a : args) VariantInit(&a);
    V_VT(&args[3]) = VT_DISPATCH;
    V_DISPATCH(&args[3]) = app.get();
    V_VT(&args[2]) = VT_I4;
    V_I4(&args[2]) = 2;
    V_VT(&args[1]) = VT_DISPATCH;
    V_DISPATCH(&args[1]) = nullptr;
    DISPPARAMS params{args, nullptr, 4, 0};
    CHECK_HR(addin->Invoke(1, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr), S_OK);
    CHECK_EQ(editor.barCount("Tessary Ver. 1.01"), 0);
    CHECK(!formDisplayed(addin.get()));
    CHECK_HR(addin->OnDisconnection(0, nullptr), S_OK);
  }
  CHECK_EQ(editor.liveReferences(), 0);
}

}  // namespace

int main() {
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  {
    standins::Registration imports;
    dll::Module m;
    CHECK(m.loaded());
    if (m.loaded() && SUCCEEDED(m.registerServer())) {
      copyToMachine(ClassKey);
      copyToMachine(ProgIdKey);
      connectsClicksAndDisconnects();
      failingConnectionShowsTheFailure();
      externalModeBuildsNothing();
      RegDeleteTreeW(HKEY_LOCAL_MACHINE, ClassKey.c_str());
      RegDeleteTreeW(HKEY_LOCAL_MACHINE, ProgIdKey.c_str());
      CHECK_HR(m.unregisterServer(), S_OK);
      CoFreeUnusedLibraries();
    } else {
      CHECK(!"registration");
    }
  }
  CoUninitialize();
  return check::finish("end to end");
}
