#include "addin/connect.h"
#include "editor/vbe.h"
#include "host/hosts.h"
#include "host/instance.h"
#include "platform/text.h"

namespace addin {

namespace {

using automation::attempt;

// Word: closing by name failed. Close the active document only when it is the project's file
// (its name less a four-character ending equals the file name); when that cannot be told (no
// active document, a name too short to carry an ending, or no file name at all) the active
// document is some other file, so go on to the add-in of that name instead.
void closeWordFallback(const Object& app, const std::string& file) {
  bool isActive = false;
  attempt([&] {
    std::string name = app.get("Application").asObject().get("activedocument").asObject().get("Name").asString();
    size_t length = text::length(name);
    isActive = !file.empty() && length >= 4 && text::takeFirst(name, length - 4) == file;
  });
  if (isActive) {
    attempt([&] { app.get("Application").asObject().get("activedocument").asObject().call("Close"); });
    return;
  }
  attempt([&] {
    app.get("Application").asObject().call("AddIns", {Value(file)}).asObject().put("Installed", Value::boolean(false));
  });
}

// PowerPoint closes without asking, unlike Excel and Word: ask the user's question ourselves.
void closePresentation(const Object& presentation, const std::string& file, platform::MessageBoxes& box) {
  if (!presentation.get("Saved").asBool()) {
    switch (box.ask("Do you want to save the changes you made to " + file + "?")) {
      case platform::MessageBoxes::Answer::Yes: presentation.call("Save"); break;
      case platform::MessageBoxes::Answer::No: break;
      case platform::MessageBoxes::Answer::Cancel: return;
    }
  }
  presentation.call("Close");
}

}  // namespace

void Connect::closewb() {
  editor::VBE vbe(VBInstance_);
  if (vbe.VBProjects().Count() == 0) return;
  const std::string file = getwbname().asString();
  const std::string appName = getappname();
  const auto kind = host::find(appName);
  if (kind == host::Kind::None) return;

  Object app = hostApplication(vbe, kind, appName);
  switch (kind) {
    case host::Kind::Excel:
      attempt([&] {
        app.get("Application").asObject().call("workbooks", {Value(file)}).asObject().call("Close");
      });
      break;
    case host::Kind::Word: {
      bool closed = attempt([&] {
        app.get("Application").asObject().call("documents", {Value(file)}).asObject().call("Close");
      });
      if (!closed) closeWordFallback(app, file);
      break;
    }
    case host::Kind::Access:
      attempt([&] { app.get("docmd").asObject().call("Close"); });
      break;
    case host::Kind::PowerPoint:
      attempt([&] {
        closePresentation(app.call("Presentations", {Value(file)}).asObject(), file,
                          services_.messageBox);
      });
      break;
    case host::Kind::None: break;
  }
}

}  // namespace addin
