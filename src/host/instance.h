#pragma once

#include "automation/object.h"
#include "editor/vbe.h"
#include "host/hosts.h"
#include "platform/services.h"

namespace host {

// Refusal to drive a host instance that is not the editor's own. Recovery steps let it through:
// they would drive that same instance.
class OtherInstance : public automation::Failure {
 public:
  using automation::Failure::Failure;
};

// The host's Application as the editor leads to it: the first document component (ThisWorkbook,
// a sheet, ThisDocument) of an unlocked project, the active one first, whose Properties hold
// "Application". Empty when none does; no failure of the walk escapes it.
automation::Object applicationFromEditor(const editor::VBE& vbe);

// The running host of this kind that the editor belongs to. Excel and Word are found through the
// editor first: the Running Object Table holds one instance per program, the one started first,
// and only once it has lost the focus. Otherwise, and for Access and PowerPoint, the table's
// instance, which must live in the add-in's own process: when it is another one, OtherInstance
// (naming the host as the editor does, `appName`) is thrown before anything is called on it. The
// table's own failure (none running) propagates unchanged.
// `how`, when given, says which way it was found.
enum class Found { ThroughEditor, RunningObjectTable };
automation::Object ownInstance(const editor::VBE& vbe, platform::HostLookup& hosts, Kind kind,
                               const std::string& appName, Found* how = nullptr);

}  // namespace host
