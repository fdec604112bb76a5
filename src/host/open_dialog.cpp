#include "addin/connect.h"
#include "editor/vbe.h"
#include "host/hosts.h"
#include "host/instance.h"

namespace addin {

void Connect::UseFileDialogOpen() {
  // The dialog waits for the user, who may unload the add-in meanwhile: the editor is shown again
  // through this handle, not through the member that the unload empties.
  const editor::VBE vbe(VBInstance_);
  Object app;
  try {
    const std::string appName = getappname();
    const auto kind = host::find(appName);
    if (kind == host::Kind::None) return;
    const auto& row = host::row(kind);
    app = hostApplication(vbe, kind, appName);
    if (kind == host::Kind::Excel || kind == host::Kind::Word) {
      Object dialogHost = app.get("Application").asObject();
      dialogHost.put("Visible", Value::boolean(false));
      dialogHost.call("dialogs", {Value::i2(row.openNumber)}).asObject().call("Show");
      dialogHost.put("Visible", Value::boolean(true));
    } else {
      app.get("CommandBars")
          .asObject()
          .call("FindControl", {}, {{"Id", Value::i2(row.openNumber)}})
          .asObject()
          .call("Execute");
    }
    vbe.MainWindow().setVisible(true);
  } catch (const host::OtherInstance&) {
    throw;  // that instance is not ours to show again
  } catch (const automation::Failure&) {
    // Recovery: show the host again. Without a host object this fails too, and that failure,
    // not a crash, is what the caller receives.
    app.get("Application").asObject().put("Visible", Value::boolean(true));
  }
}

}  // namespace addin
