#pragma once

#include <string>
#include <vector>

#include "model/hosts.h"
#include "support.h"

// An editor whose active project lives in `file`, hosted by `displayName`, with the add-in
// attached (external mode: VBInstance set, no bar, so the log holds only the command's calls).
inline model::Editor hostedEditor(const std::string& displayName, const std::string& file) {
  return model::EditorBuilder()
      .host(displayName)
      .project("VBAProject", file)
      .component("Module1", 1)
      .build();
}

struct HostRig {
  HostRig(model::Editor e, model::Host h) : host(std::move(h)), rig(std::move(e)) {
    host.install(rig.h.hosts);
    rig.connect(2);
    rig.editor().world().log.clear();
    baseline = rig.editor().liveReferences();
  }
  model::Host host;
  Rig rig;
  int64_t baseline = 0;

  model::Editor& editor() { return rig.editor(); }
  addin::Connect& addin() { return *rig.addin; }
  bool leaked() { return rig.editor().liveReferences() != baseline; }

  // Every call from the first host lookup on, described ("Workbook.Close()").
  std::vector<std::string> fromLookup() const {
    std::vector<std::string> out;
    bool seen = false;
    for (const auto& c : rig.h.editor.calls()) {
      seen = seen || c.target == "RunningObjectTable";
      if (seen) out.push_back(c.describe());
    }
    return out;
  }
  // Every call made on a host object (targets the editor does not have).
  std::vector<std::string> hostCalls() const {
    std::vector<std::string> out;
    for (const auto& c : rig.h.editor.calls())
      if (c.target != "RunningObjectTable" && isHostTarget(c.target)) out.push_back(c.describe());
    return out;
  }
  static bool isHostTarget(const std::string& t) {
    for (const char* k :
         {"Excel.Application", "Word.Application", "Access.Application", "PowerPoint.Application",
          "Workbooks", "Workbook", "Documents", "Document", "Presentations", "Presentation",
          "Dialogs", "Dialog", "AddIns", "AddIn", "DoCmd"})
      if (t == k) return true;
    return false;
  }
};

inline std::string lookupCall(const char* progId) {
  return std::string("RunningObjectTable.GetActiveObject(Str \"") + progId + "\")";
}
