// Another instance of a host, for the Wine tests: a second process that registers a model host of
// its own in the Running Object Table, sets the ready event, serves COM calls until the quit event
// and then writes what was done to its host into the report file.
//   usage: tessary_host_process <kind 0-3> <file> <ready event> <quit event> <report file>
// Exit code: 0 when nothing was called on the host and it is as it was, 1 when it was driven,
// 2 when never told to quit, 3 when it could not be set up.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "model/hosts.h"
#include "testbed.h"
#include "text.h"

int main(int argc, char** argv) {
  if (argc != 6) return 3;
  const int index = std::atoi(argv[1]);
  if (index < 0 || index > 3) return 3;
  const auto kind = static_cast<model::HostKind>(index);
  const std::string file = argv[2];
  HANDLE ready = OpenEventW(EVENT_MODIFY_STATE, FALSE, win32::widen(argv[3]).c_str());
  HANDLE quit = OpenEventW(SYNCHRONIZE, FALSE, win32::widen(argv[4]).c_str());
  if (!ready || !quit) return 3;
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);

  int code = 0;
  std::string report;
  {
    model::Editor editor = model::EditorBuilder().build();
    model::Host host = model::HostBuilder(editor, kind).file(file).addIn(file).build();
    {
      testbed::RunningObject running(model::progIdOf(kind), host.application());
      if (!running.ready()) return 3;
      SetEvent(ready);
      // An apartment serves calls from other processes through its message queue.
      bool told = false;
      const DWORD begin = GetTickCount();
      while (!told && GetTickCount() - begin < 60000) {
        DWORD w = MsgWaitForMultipleObjects(1, &quit, FALSE, 100, QS_ALLINPUT);
        if (w == WAIT_OBJECT_0) told = true;
        MSG m;
        while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
          TranslateMessage(&m);
          DispatchMessageW(&m);
        }
      }
      if (!told) code = 2;
    }
    for (const auto& c : editor.calls()) report += "call " + c.describe() + "\n";
    report += std::string("file ") + (host.isOpen(file) ? "open" : "closed") + "\n";
    report += std::string("add-in ") + (host.addInInstalled(file) ? "installed" : "removed") + "\n";
    report += std::string("window ") + (host.visible() ? "visible" : "hidden") + "\n";
    report += "visible written " + std::to_string(host.state().visibleWrites.size()) + "x\n";
    // What the other process held of it came back when it let go.
    report += "references " + std::to_string(editor.liveReferences()) + "\n";
    if (code == 0 && (!editor.calls().empty() || !host.isOpen(file) || !host.visible() ||
                      !host.state().visibleWrites.empty() || !host.addInInstalled(file)))
      code = 1;
  }
  CoUninitialize();
  if (FILE* out = _wfopen(win32::widen(argv[5]).c_str(), L"wb")) {
    std::fputs(report.c_str(), out);
    std::fclose(out);
  }
  CloseHandle(ready);
  CloseHandle(quit);
  return code;
}
