// The soak: each command clicked many times through the real DLL on the sample workspace, with
// what the process holds read at intervals after a warm-up: private bytes, the bytes in use on its
// heaps, handles, and GDI and USER objects. The same clicks delivered to the replay first show
// what this program, the model editor and COM keep by themselves; what the add-in's clicks keep
// beyond that is the DLL's. Nothing per click is stored: the samples are the only data kept.
#include "fixture.h"

#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>

#include "model/sample.h"

namespace bench {

namespace {

constexpr int Intervals = 10;

struct Usage {
  double privateBytes = 0, heapBytes = 0, handles = 0, gdi = 0, user = 0;
};

// The bytes of the busy blocks on every heap of the process: what is allocated and not freed,
// whichever module allocated it.
double heapInUse() {
  HANDLE heaps[256];
  const DWORD n = GetProcessHeaps(256, heaps);
  double total = 0;
  for (DWORD i = 0; i < n && i < 256; ++i) {
    if (!HeapLock(heaps[i])) continue;
    PROCESS_HEAP_ENTRY e{};
    while (HeapWalk(heaps[i], &e))
      if (e.wFlags & PROCESS_HEAP_ENTRY_BUSY) total += e.cbData;
    HeapUnlock(heaps[i]);
  }
  return total;
}

// Wine reports no private bytes and no handle count; there the figures come from the Linux
// process it runs in (its anonymous resident memory) and from the system's handle list.
bool underWine() {
  static const bool wine = GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
  return wine;
}

double anonymousResident() {
  FILE* f = std::fopen("Z:\\proc\\self\\status", "r");
  if (!f) return 0;
  char line[256];
  double kib = 0;
  while (std::fgets(line, sizeof line, f))
    if (std::sscanf(line, "RssAnon: %lf", &kib) == 1) break;
  std::fclose(f);
  return kib * 1024;
}

double handlesFromSystemList() {
  struct Entry {
    ULONG pid;
    BYTE type, flags;
    USHORT value;
    PVOID object;
    ULONG access;
  };
  using Query = LONG(WINAPI*)(ULONG, PVOID, ULONG, PULONG);
  static const auto query = reinterpret_cast<Query>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
  if (!query) return 0;
  static std::vector<unsigned char> buffer(1 << 16);
  ULONG needed = 0;
  LONG status;
  while ((status = query(16 /* SystemHandleInformation */, buffer.data(), static_cast<ULONG>(buffer.size()), &needed)) ==
         static_cast<LONG>(0xC0000004))  // STATUS_INFO_LENGTH_MISMATCH
    buffer.resize(std::max<size_t>(buffer.size() * 2, needed));
  if (status < 0) return 0;
  const ULONG count = *reinterpret_cast<const ULONG*>(buffer.data());
  const auto* entries = reinterpret_cast<const Entry*>(buffer.data() + sizeof(void*));
  const ULONG self = GetCurrentProcessId();
  double n = 0;
  for (ULONG i = 0; i < count; ++i) n += entries[i].pid == self;
  return n;
}

Usage usage() {
  Usage u;
  PROCESS_MEMORY_COUNTERS_EX m{};
  m.cb = sizeof m;
  if (GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&m), sizeof m))
    u.privateBytes = static_cast<double>(m.PrivateUsage);
  if (underWine() && u.privateBytes == 0) u.privateBytes = anonymousResident();
  u.heapBytes = heapInUse();
  DWORD handles = 0;
  if (GetProcessHandleCount(GetCurrentProcess(), &handles)) u.handles = handles;
  if (underWine() && u.handles == 0) u.handles = handlesFromSystemList();
  u.gdi = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);
  u.user = GetGuiResources(GetCurrentProcess(), GR_USEROBJECTS);
  return u;
}

struct Series {
  std::vector<Usage> samples;  // after the warm-up, then after each tenth of the clicks
  long clicks = 0;
  double seconds = 0;
  double growth(double Usage::*field) const { return samples.back().*field - samples.front().*field; }
  double perClick(double Usage::*field) const { return clicks ? growth(field) / static_cast<double>(clicks) : 0; }
};

Series run(Fixture& f, const std::function<void()>& click, long clicks, long warmup) {
  auto once = [&] {
    click();
    f.reset();
    // Keys typed are queued to this thread: left there, they would pile up.
    MSG m;
    while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&m);
  };
  usage();  // what reading the figures allocates once is there before the first sample
  for (long i = 0; i < warmup; ++i) once();
  Series s;
  s.samples.reserve(Intervals + 1);
  s.samples.push_back(usage());
  const double t0 = now();
  const long each = clicks / Intervals;
  for (int k = 0; k < Intervals; ++k) {
    for (long i = 0; i < each; ++i) once();
    s.samples.push_back(usage());
  }
  s.clicks = each * Intervals;
  s.seconds = now() - t0;
  return s;
}

void print(const char* command, const char* side, const Series& s) {
  const Usage &a = s.samples.front(), &b = s.samples.back();
  std::printf("%-22s %-7s %7ld clicks %6.0f s | private %8.0f -> %8.0f KiB %+7.2f B/click | heap %8.0f -> %8.0f KiB %+7.2f B/click"
              " | handles %4.0f -> %4.0f | GDI %3.0f -> %3.0f | USER %3.0f -> %3.0f\n",
              command, side, s.clicks, s.seconds, a.privateBytes / 1024, b.privateBytes / 1024,
              s.perClick(&Usage::privateBytes), a.heapBytes / 1024, b.heapBytes / 1024,
              s.perClick(&Usage::heapBytes), a.handles, b.handles, a.gdi, b.gdi, a.user, b.user);
  std::printf("%-22s %-7s private KiB at each tenth:", "", "");
  for (const auto& u : s.samples) std::printf(" %.0f", u.privateBytes / 1024);
  std::printf("\n");
  std::fflush(stdout);
}

}  // namespace

int soak(long clicks, long warmup, const std::string& only, bool focus) {
  std::printf("soak: %ld clicks of each command after %ld, the sample workspace; growth per click is "
              "(last sample - first) / clicks\n", clicks, warmup);
  if (underWine())
    std::printf("Wine: private = RssAnon of the Linux process, handles = its entries in the system's handle "
                "list; GDI and USER objects are not counted by Wine (0)\n");
  int status = 0;
  win32::SendInputKeyboard keys;
  // Keys typed while no window has the focus go elsewhere; under Wine they then pile up in this
  // process's memory. A window of its own that has the focus receives them, and the pump drains them.
  HWND window = nullptr;
  if (focus) {
    window = CreateWindowExW(0, L"STATIC", L"tessary-bench soak", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0,
                             320, 80, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    if (window) {
      SetForegroundWindow(window);
      SetFocus(window);
    }
    std::printf("keys go to a window of this program: %s\n", window && GetFocus() == window ? "yes" : "NO");
  }
  for (const auto& c : Commands) {
    if (!std::strstr(c.name, only.c_str())) continue;
    try {
      Fixture f(model::sampleWorkspace(), "Budget.xlsm");
      Cell cell;
      prepare(cell, f, c, keys);
      Fixture::Hosting hosting(f);
      const Series tool = run(f, [&] { f.clickReplay(*cell.replay); }, clicks, warmup);
      print(c.name, "replay", tool);
      const Series addin = run(f, [&] { f.click(c.button); }, clicks, warmup);
      print(c.name, "add-in", addin);
      std::printf("%-22s beyond the replay: private %+.2f B/click, heap %+.2f B/click, handles %+.0f, GDI %+.0f, USER %+.0f\n\n",
                  c.name, addin.perClick(&Usage::privateBytes) - tool.perClick(&Usage::privateBytes),
                  addin.perClick(&Usage::heapBytes) - tool.perClick(&Usage::heapBytes),
                  addin.growth(&Usage::handles) - tool.growth(&Usage::handles),
                  addin.growth(&Usage::gdi) - tool.growth(&Usage::gdi), addin.growth(&Usage::user) - tool.growth(&Usage::user));
      std::fflush(stdout);
    } catch (const std::exception& e) {
      std::printf("%s: %s\n", c.name, e.what());
      status = 1;
    }
  }
  if (window) DestroyWindow(window);
  return status;
}

}  // namespace bench
