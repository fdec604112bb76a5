#include "addin/connect.h"
#include "editor/vbe.h"
#include "host/hosts.h"

namespace addin {

void Connect::UseFileDialogOpen() {
  Object app;
  try {
    const auto kind = host::find(getappname());
    if (kind == host::Kind::None) return;
    const auto& row = host::row(kind);
    app = services_.hosts.getActiveObject(row.progId);
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
    editor::VBE(VBInstance_).MainWindow().setVisible(true);
  } catch (const automation::Failure&) {
    // Recovery: show the host again. Without a host object this fails too, and that failure,
    // not a crash, is what the caller receives.
    app.get("Application").asObject().put("Visible", Value::boolean(true));
  }
}

}  // namespace addin
