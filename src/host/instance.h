#pragma once

#include "automation/object.h"
#include "host/hosts.h"
#include "platform/services.h"

namespace host {

// Refusal to drive a host instance that is not the editor's own. Recovery steps let it through:
// they would drive that same instance.
class OtherInstance : public automation::Failure {
 public:
  using automation::Failure::Failure;
};

// The running host of this kind, when it lives in the add-in's own process. The table holds the
// instance started first; when that is another one, OtherInstance (naming the host as the editor
// does, `appName`) is thrown before anything is called on it. The lookup's own failure (none
// running) propagates unchanged.
automation::Object ownInstance(platform::HostLookup& hosts, Kind kind, const std::string& appName);

}  // namespace host
