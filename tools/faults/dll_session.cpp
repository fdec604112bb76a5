#include "dll_session.h"

#include <oleauto.h>

#include <cstdio>
#include <memory>
#include <optional>

#include "dispatch_server.h"
#include "iids.h"
#include "locations.h"
#include "services.h"
#include "model/editor.h"
#include "model/hosts.h"
#include "text.h"

namespace faults::dll {

namespace {

using win32::ComPtr;

std::string hex(HRESULT hr) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%08lX", static_cast<unsigned long>(hr));
  return buf;
}

// The host as GetObject finds it in the Running Object Table. Handing out its IDispatch is the
// lookup: it goes into the editor's call log as RunningObjectTable.GetActiveObject, like the
// native sweep's lookup, so fault injection fails it there and the add-in finds no host.
class RegisteredHost final : public IUnknown {
 public:
  RegisteredHost(std::shared_ptr<model::World> world, std::string progId, ComPtr<IDispatch> server)
      : world_(std::move(world)), progId_(std::move(progId)), server_(std::move(server)) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (IsEqualIID(iid, IID_IUnknown)) {
      *out = static_cast<IUnknown*>(this);
      AddRef();
      return S_OK;
    }
    if (!IsEqualIID(iid, IID_IDispatch)) return E_NOINTERFACE;
    try {
      automation::Value id(progId_);
      world_->enter("RunningObjectTable", "GetActiveObject", automation::Invoke::Get, std::span(&id, 1), {});
    } catch (const automation::Failure&) {
      return E_NOINTERFACE;
    }
    return server_->QueryInterface(iid, out);
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&refs_)); }
  ULONG STDMETHODCALLTYPE Release() override {
    LONG n = InterlockedDecrement(&refs_);
    if (n == 0) delete this;
    return static_cast<ULONG>(n);
  }

 private:
  LONG refs_ = 1;
  std::shared_ptr<model::World> world_;
  std::string progId_;
  ComPtr<IDispatch> server_;
};

std::deque<int> buttonsFor(const std::deque<platform::MessageBoxes::Answer>& answers) {
  std::deque<int> out;
  for (auto a : answers)
    out.push_back(a == platform::MessageBoxes::Answer::Yes  ? IDYES
                  : a == platform::MessageBoxes::Answer::No ? IDNO
                                                          : IDCANCEL);
  return out;
}

// A workspace, its host running in the table, the stand-in Immediate window and the message box
// watcher; the add-in object is created fresh for the session.
struct Session {
  Session(testbed::Addin& a, const Scenario& s)
      : addin(a),
        editor(s.editor()),
        host(s.host(editor)),
        hostClass(host.progId()),
        keys(editor),
        boxes(buttonsFor(s.answers)) {
    startProject = editor.world().activeProject;
    if (hostClass.ready()) {
      auto* registered =
          new RegisteredHost(editor.shared(), host.progId(), win32::makeDispatchServer(host.application()));
      hostStatus = RegisterActiveObject(registered, hostClass.clsid(), ACTIVEOBJECT_STRONG, &cookie);
      registered->Release();
    }
    created = addin.create();
  }
  ~Session() {
    addin.release();
    if (SUCCEEDED(hostStatus)) RevokeActiveObject(cookie, nullptr);
  }
  // What stands in the way of running the session at all.
  std::string problem() const {
    if (!keys.ready()) return "no edit control for the keys";
    if (FAILED(hostStatus)) return "the host is not in the running object table: " + hex(hostStatus);
    if (FAILED(created)) return "CoCreateInstance failed: " + hex(created);
    return {};
  }

  HRESULT connect() { return addin.connect(editor.vbe(), 0); }

  std::vector<std::string> boxTexts() const {
    std::vector<std::string> out;
    for (const auto& t : boxes.texts()) out.push_back(win32::narrow(t));
    return out;
  }

  testbed::Addin& addin;
  model::Editor editor;
  model::Host host;
  testbed::ProgIdClass hostClass;
  testbed::KeystrokeTarget keys;
  testbed::MessageBoxes boxes;
  DWORD cookie = 0;
  HRESULT hostStatus = E_FAIL;
  HRESULT created = E_FAIL;
  model::ProjectNode* startProject = nullptr;
};

Result run(const Command& command, Session& s) {
  Result r;
  auto click = [&](const model::ClickResult& c) {
    r.failures = c.failures;
    r.cancelled = c.cancelled;
  };
  switch (command.kind) {
    case CommandKind::Connection: {
      size_t before = s.boxTexts().size();
      HRESULT hr = s.connect();
      auto texts = s.boxTexts();
      r.failures.assign(texts.begin() + static_cast<std::ptrdiff_t>(before), texts.end());
      if (hr != S_OK) r.failures.push_back("OnConnection returned " + hex(hr));
      break;
    }
    case CommandKind::Disconnection:
      if (HRESULT hr = s.addin.disconnect(1); hr != S_OK) r.failures.push_back("OnDisconnection returned " + hex(hr));
      break;
    case CommandKind::Button: click(s.editor.click("Tessary Ver. 1.01", command.button)); break;
    case CommandKind::References: {
      auto tools = s.editor.bar("Tools");
      for (auto& control : tools->controls)
        if (control->id == 942) {
          auto c = s.editor.click(control);
          click(c);
          if (c.builtInRan) r.failures.push_back("the editor's own References dialog opened");
        }
      break;
    }
  }
  return r;
}

// Brings the session to where the command starts: connected, for everything but connection.
std::string prepare(const Command& command, Session& s) {
  if (command.kind == CommandKind::Connection) return {};
  HRESULT hr = s.connect();
  if (hr != S_OK) return "OnConnection returned " + hex(hr);
  if (!s.boxes.seen().empty()) return "connecting showed \"" + s.boxTexts().front() + "\"";
  return {};
}

// A member of the add-in's _Connect interface read through IDispatch: "set" when it holds an
// object, "unreadable" when the read fails.
std::string memberState(IDTExtensibility2* addin, const wchar_t* name) {
  auto d = ComPtr<IUnknown>(addin).query<IDispatch>(win32::iids::Connect);
  LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
  DISPID id = 0;
  if (!d || FAILED(d->GetIDsOfNames(IID_NULL, names, 1, 0, &id))) return "unreadable";
  VARIANT v;
  VariantInit(&v);
  DISPPARAMS none{};
  HRESULT hr = d->Invoke(id, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &v, nullptr, nullptr);
  std::string state = FAILED(hr) ? "unreadable" : (V_VT(&v) == VT_DISPATCH && V_DISPATCH(&v)) ? "set" : "";
  VariantClear(&v);
  return state;
}

// The add-in's log, where the DLL appends it: what was added since `from` (a rotation meanwhile
// moved the earlier part to .1).
class LogFile {
 public:
  LogFile() : path_(win32::logLocation().file), from_(size(path_)) {}
  std::string added() const {
    const auto now = size(path_);
    if (now >= from_) return read(path_, from_);
    return read(path_ + L".1", from_) + read(path_, 0);
  }

 private:
  static unsigned long long size(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA a{};
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &a)) return 0;
    return (static_cast<unsigned long long>(a.nFileSizeHigh) << 32) | a.nFileSizeLow;
  }
  static std::string read(const std::wstring& path, unsigned long long from) {
    std::string text;
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return text;
    LARGE_INTEGER at{};
    at.QuadPart = static_cast<LONGLONG>(from);
    char buf[4096];
    DWORD got = 0;
    if (SetFilePointerEx(h, at, nullptr, FILE_BEGIN))
      while (ReadFile(h, buf, sizeof buf, &got, nullptr) && got) text.append(buf, got);
    CloseHandle(h);
    return text;
  }
  std::wstring path_;
  unsigned long long from_;
};

// With the log on (tessary-faults --log), the injected failure must be in it: a failed call with
// its member and code (a subscription's two calls as its Advise), a failed lookup as the host's
// line. The injected description crosses only where the callee can hand it over (EXCEPINFO, error
// info): IEnumVARIANT::Next and Unadvise return a bare HRESULT.
void checkLogged(const std::string& log, const model::Call& call, const std::string& injected,
                 const std::function<void(const std::string&)>& say) {
  // The test bed's connection point ends the model's subscription itself and keeps an injected
  // refusal of Unadvise to itself: the DLL never hears of it.
  if (call.member == "Unadvise") return;
  const std::string member = call.member == "FindConnectionPoint" ? "Advise" : call.member;
  const bool found = call.target == "RunningObjectTable"
                         ? log.find("WARN  host: ") != std::string::npos
                         : log.find(member + ": 0x800A01B8 ") != std::string::npos;
  // One line: the child's reports are read line by line.
  if (!found) say("mismatch: the log does not name " + call.describe() + " failing");
}

}  // namespace

CleanRun cleanRun(testbed::Addin& addin, const Scenario& scenario, const Command& command) {
  Session s(addin, scenario);
  if (auto p = s.problem(); !p.empty()) throw std::runtime_error(p);
  if (auto p = prepare(command, s); !p.empty()) throw std::runtime_error(p);
  const size_t from = s.editor.calls().size();
  run(command, s);
  s.keys.collect();
  const auto& log = s.editor.calls();
  CleanRun clean;
  clean.calls.assign(log.begin() + static_cast<std::ptrdiff_t>(from), log.end());
  clean.missingLines = count(s.editor.immediate()->text, MissingLine);
  clean.messageBoxes = s.boxes.seen().size();
  if (command.kind != CommandKind::Disconnection) s.addin.disconnect(1);
  return clean;
}

void checkedRun(testbed::Addin& addin, const Scenario& scenario, const Command& command, const CleanRun& clean,
                size_t k, const Expectation& expected, const std::function<void(const std::string&)>& say) {
  Session s(addin, scenario);
  if (auto p = s.problem(); !p.empty()) {
    say("mismatch: " + p);
    return;
  }
  const int64_t baseline = s.editor.liveReferences();
  std::optional<LogFile> logged;
  if (win32::RegistrySettings().get("vbatessary", "Settings", "Log", "0") == "1") logged.emplace();
  if (auto p = prepare(command, s); !p.empty()) {
    say("mismatch: " + p);
    return;
  }
  const std::string injected = "Injected failure at call " + std::to_string(k);
  if (k > 0) s.editor.faults().failCall(static_cast<int64_t>(k), injected);
  const auto result = run(command, s);
  s.editor.faults().clear();
  s.keys.collect();
  if (k > 0 && logged.has_value()) checkLogged(logged->added(), clean.calls[k - 1], injected, say);

  const auto& world = s.editor.world();
  Observation seen;
  seen.failures = result.failures;
  seen.cancelled = result.cancelled;
  seen.messageBoxes = s.boxTexts();
  seen.formDisplayed = s.addin.formDisplayed().value_or(false);
  if (command.kind == CommandKind::Disconnection) {
    const wchar_t* members[] = {L"VBInstance", L"c", L"Btns1", L"Btns2", L"Btns3", L"Btns4", L"Btns5", L"Btns6"};
    for (const wchar_t* m : members)
      if (auto state = memberState(s.addin.object(), m); !state.empty())
        seen.stillHeld.push_back(win32::narrow(m) + (state == "set" ? "" : " (unreadable)"));
  }
  seen.mainWindowVisible = world.mainWindow->visible;
  seen.startProjectActive = world.activeProject == s.startProject;
  seen.hostVisible = s.host.visible();
  seen.hostClosedSomething = !s.host.closed().empty() || s.host.state().docmdCloses > 0;
  seen.immediateText = s.editor.immediate()->text;
  // A failed lookup is GetObject finding no host: the editor hears the platform's own words.
  std::string arrives = injected;
  if (k > 0 && clean.calls[k - 1].target == "RunningObjectTable")
    arrives = "ActiveX component can't create object: no running " + s.host.progId();
  for (const auto& m : judge(command, clean, expected, arrives, seen)) say("mismatch: " + m);

  if (command.kind != CommandKind::Disconnection) s.addin.disconnect(1);
  if (int64_t held = s.editor.liveReferences() - baseline; held != 0)
    say("leak: " + std::to_string(held) + " references held after disconnection");
  s.addin.release();
  if (int64_t held = s.editor.liveReferences() - baseline; held != 0)
    say("leak: " + std::to_string(held) + " references held after the final release");
}

}  // namespace faults::dll
