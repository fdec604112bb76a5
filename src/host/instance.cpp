#include "host/instance.h"

namespace host {

automation::Object ownInstance(platform::HostLookup& hosts, Kind kind, const std::string& appName) {
  platform::ActiveObject found = hosts.getActiveObject(row(kind).progId);
  if (!found.inThisProcess)
    throw OtherInstance("The running " + appName +
                            " found is another instance, not the one whose editor this is: nothing "
                            "was changed.",
                        automation::errors::CantCreateObject);
  return std::move(found.object);
}

}  // namespace host
