#pragma once

// What the Windows bench and its soak share: a workspace with the real DLL connected to it, the
// replay of a click delivered as the editor delivers clicks, and the clock.
#include <windows.h>
#include <ocidl.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "com_ptr.h"
#include "dispatch_replay.h"
#include "dispatch_server.h"
#include "editor/vbe.h"
#include "extensibility.h"
#include "iids.h"
#include "model/editor.h"
#include "model/hosts.h"
#include "module_objects.h"
#include "replay.h"
#include "services.h"
#include "testbed.h"
#include "toolbar/click_route.h"
#include "workspace.h"

namespace bench {

using automation::Object;
using win32::ComPtr;

// Seconds, from the performance counter.
double now();

struct Command {
  const char* name;
  int button;  // 1..6, or 0 for Tools > References...
};
inline const Command Commands[] = {{"button1_open_active", 1}, {"button2_close_active", 2}, {"button3_open_all", 3},
                            {"button4_close_all", 4},   {"button5_open_dialog", 5},  {"button6_close_file", 6},
                            {"references", 0}};

class NullKeyboard : public platform::Keyboard {
 public:
  void type(const std::string&) override {}
};

// The replay's half of a click. The editor raises Click on a button of its own bar over COM, as it
// does to the add-in's sink, and this sink replays the add-in's calls with the control it was
// passed as the clicked one: what the editor spends raising the event counts on both sides.
class ReplaySink final : public win32::DispatchObject<> {
 public:
  explicit ReplaySink(automation::ClickEvents events) : events_(events) {}
  DispatchReplay* replay = nullptr;

  void* interfaceFor(REFIID iid) noexcept override {
    return IsEqualIID(iid, IID_IDispatch) || IsEqualIID(iid, win32::iids::eventsOf(events_))
               ? static_cast<IDispatch*>(this)
               : nullptr;
  }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
    return DISP_E_UNKNOWNNAME;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*,
                                   EXCEPINFO*, UINT*) override {
    if (id != 1 || !params || params->cArgs < 2) return DISP_E_MEMBERNOTFOUND;
    const VARIANT& control = params->rgvarg[params->cArgs - 1];
    if (V_VT(&control) != VT_DISPATCH || !replay) return DISP_E_TYPEMISMATCH;
    replay->run(1, V_DISPATCH(&control));
    return S_OK;
  }

 private:
  automation::ClickEvents events_;
};

// A workspace, its host and an add-in object of the DLL connected to it. The workspaces of every
// size live side by side, so their host enters the Running Object Table only while they are
// measured (`Hosting`).
struct Fixture {
  explicit Fixture(int projects) : Fixture(workspace(projects), "Project1.xlsm") {}
  // `file`: the active project's workbook, which the host holds open.
  Fixture(model::Editor workspace, const std::string& file)
      : editor(std::move(workspace)),
        host(model::HostBuilder(editor, model::HostKind::Excel).file(file).build()) {
    editor.world().logging = false;
    CLSID clsid{};
    HRESULT hr = CLSIDFromProgID(L"VBATessary.Connect", &clsid);
    if (SUCCEEDED(hr))
      hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, win32::iids::IDTExtensibility2,
                            addin.putVoid());
    if (SUCCEEDED(hr))
      hr = addin->OnConnection(win32::makeDispatchServer(editor.vbe()).get(), 0, nullptr, nullptr);
    if (hr != S_OK) throw std::runtime_error("OnConnection failed");
    if (editor.barCount("Tessary Ver. 1.01") != 1)
      throw std::runtime_error("the toolbar was not built");
    // The replay's button: another Tag, so that Office's button events do not reach the add-in.
    editor::VBE vbe(editor.vbe());
    vbe.CommandBars().Add().setName("Replay");
    editor::CommandBarControl button(vbe.CommandBars().Item("Replay").Controls().Add().object());
    button.setTag("bench.replay");
    const auto source = toolbar::ClickRoute(win32::ClickEventsOfThisBuild).source(editor.vbe(), button.object());
    auto container = win32::makeDispatchServer(source).query<IConnectionPointContainer>(IID_IConnectionPointContainer);
    if (!container ||
        FAILED(container->FindConnectionPoint(win32::iids::eventsOf(win32::ClickEventsOfThisBuild), point.put())) ||
        FAILED(point->Advise(sink.get(), &cookie)))
      throw std::runtime_error("the replay's button cannot be subscribed");
  }
  ~Fixture() {
    if (point) point->Unadvise(cookie);
    if (addin) addin->OnDisconnection(1, nullptr);
  }
  struct Hosting {
    explicit Hosting(Fixture& f) : running(f.host.progId(), f.host.application()) {
      if (!running.ready()) throw std::runtime_error("the host is not in the running object table");
    }
    testbed::RunningObject running;
  };
  Object control(int button) const {
    auto bars = editor::VBE(editor.vbe()).CommandBars();
    if (button == 0) return bars.Item("Tools").FindControl(942).object();
    return bars.Item("Tessary Ver. 1.01").Controls().Item(automation::Value::i2(static_cast<int16_t>(button))).object();
  }
  // A click as the user makes it: the editor raises the event, the DLL handles it.
  void click(int button) {
    model::ClickResult r;
    if (button == 0) {
      for (auto& c : editor.bar("Tools")->controls)
        if (c->id == 942) r = editor.click(c);
    } else {
      r = editor.click("Tessary Ver. 1.01", button);
    }
    if (!r.failures.empty()) throw std::runtime_error("the click failed: " + r.failures.front());
  }
  // The replay, started by a click of the replay's button.
  void clickReplay(DispatchReplay& replay) {
    sink->replay = &replay;
    auto r = editor.click("Replay", 1);
    sink->replay = nullptr;
    if (!r.failures.empty()) throw std::runtime_error("the replay's click failed: " + r.failures.front());
  }
  void reset() {
    for (auto& f : host.state().files) f.open = true;
    host.state().closed.clear();
    host.state().visibleWrites.clear();  // kept by the model host for tests: not the add-in's
  }
  std::vector<std::string> logged(const std::function<void()>& run) {
    editor.world().log.clear();
    editor.world().logging = true;
    run();
    editor.world().logging = false;
    std::vector<std::string> out;
    for (const auto& c : editor.world().log) out.push_back(c.describe());
    editor.world().log.clear();
    return out;
  }

  model::Editor editor;
  model::Host host;
  ComPtr<IDTExtensibility2> addin;
  ComPtr<ReplaySink> sink = ComPtr<ReplaySink>::attach(new ReplaySink(win32::ClickEventsOfThisBuild));
  ComPtr<IConnectionPoint> point;
  DWORD cookie = 0;
};

// Records one click with the core linked in (the same code the DLL runs), on the fixture's own
// objects, so the replay can make the same calls.
Recording record(Fixture& f, int button);

double median(std::vector<double> v);

// One command on one workspace: its recording, the replay of it, and the times of each round.
struct Cell {
  Fixture* f = nullptr;
  Recording recording;
  std::unique_ptr<DispatchReplay> replay;
  size_t calls = 0;
  std::vector<double> addin, replayed;
};

// Prepares a cell: the steady state, the recording, and the check that the replay makes the
// DLL's calls.
void prepare(Cell& cell, Fixture& f, const Command& c, platform::Keyboard& keys);

// Clicks each command whose name contains `only` `clicks` times after `warmup` clicks, through the
// replay and then through the DLL, and prints what the process holds meanwhile; with `focus`, a
// window of the program receives the typed keys. Returns 0, or 1 when a command could not be run.
int soak(long clicks, long warmup, const std::string& only, bool focus);

}  // namespace bench
