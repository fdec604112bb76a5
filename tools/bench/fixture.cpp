#include "fixture.h"

#include <algorithm>

#include "addin/connect.h"
#include "model/platform.h"

namespace bench {

double now() {
  static const double perSecond = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return static_cast<double>(f.QuadPart);
  }();
  LARGE_INTEGER t;
  QueryPerformanceCounter(&t);
  return static_cast<double>(t.QuadPart) / perSecond;
}

Recording record(Fixture& f, int button) {
  model::RecordingSettings settings;
  model::RecordingMessageBox boxes;
  NullKeyboard keys;
  model::ModelHostLookup hosts;
  model::RecordingLog log;
  f.host.install(hosts);
  Recorder recorder;
  Object vbe = recorder.root(f.editor.vbe());
  Object clicked = recorder.root(f.control(button));
  {
    addin::Connect recording(
        {settings, boxes, recorder.keyboard(keys), recorder.lookup(hosts), log});
    recording.AddinInstance_OnConnection(vbe, 2);  // no bar of its own
    recorder.ops().clear();
    bool handled = false, cancel = false;
    if (button == 0) {
      recording.CmdReferenceSet_Click(clicked, handled, cancel);
    } else {
      // The DLL's sink checks the clicked control first where Office's button events deliver.
      toolbar::ClickRoute(win32::ClickEventsOfThisBuild).accepts(clicked, button);
      recording.BtnsN_Click(clicked, handled, cancel);
    }
  }
  return recorder.finish();
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

void prepare(Cell& cell, Fixture& f, const Command& c, platform::Keyboard& keys) {
  Fixture::Hosting hosting(f);
  cell.f = &f;
  f.click(c.button);  // the steady state: a first close changes what the next run asks
  f.reset();
  cell.recording = record(f, c.button);
  f.reset();
  cell.replay = std::make_unique<DispatchReplay>(
      cell.recording,
      std::vector{win32::makeDispatchServer(f.editor.vbe()),
                  win32::makeDispatchServer(f.control(c.button))},
      keys);
  auto direct = f.logged([&] { f.click(c.button); });
  f.reset();
  auto replayed = f.logged([&] { f.clickReplay(*cell.replay); });
  f.reset();
  if (direct != replayed)
    throw std::runtime_error(std::string(c.name) + ": the replay does not make the DLL's calls (" +
                             std::to_string(direct.size()) + " against " + std::to_string(replayed.size()) + ")");
  cell.calls = direct.size();
}
}  // namespace bench
