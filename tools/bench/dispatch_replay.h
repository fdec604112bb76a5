#pragma once

// Replays a recording straight through IDispatch (GetIDsOfNames, Invoke, IEnumVARIANT, the
// Running Object Table): what the editor's objects cost when called over COM with no add-in.
#include <windows.h>
#include <oaidl.h>

#include <string>
#include <utility>
#include <vector>

#include "com_ptr.h"
#include "platform/services.h"
#include "replay.h"

namespace bench {

class DispatchReplay {
 public:
  // The roots in the order Recorder::root was called; typed texts go to `keyboard`.
  DispatchReplay(const Recording& recording, std::vector<win32::ComPtr<IDispatch>> roots, platform::Keyboard& keyboard);
  void run();
  // The same, with another object in place of one root (a control the editor passed with a click).
  void run(size_t root, IDispatch* object);
  size_t failures() const { return failures_; }  // calls that failed in the last run

 private:
  DISPID idOf(int slot, const std::string& member);
  void invoke(const Op& op);

  const Recording& r_;
  std::vector<win32::ComPtr<IDispatch>> roots_;
  platform::Keyboard& keyboard_;
  std::vector<win32::ComPtr<IDispatch>> slots_;
  std::vector<std::vector<std::pair<std::string, DISPID>>> ids_;  // per slot, as a client caches them
  std::vector<win32::ComPtr<IEnumVARIANT>> enums_;
  size_t failures_ = 0;
};

}  // namespace bench
