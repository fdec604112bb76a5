#include "host/instance.h"

namespace host {

namespace {

using automation::attempt;

// A locked project hides its components, and a document that is not loaded may refuse its
// Properties: either way this project leads nowhere and the walk goes on.
automation::Object fromProject(const editor::VBProject& project) {
  automation::Object found;
  if (project.Protection() == editor::VBProject::Locked) return found;
  auto components = project.VBComponents().enumerate();
  while (auto item = components.next()) {
    attempt([&] {
      editor::VBComponent component(item->asObject());
      if (component.Type() != editor::VBComponent::Document) return;
      auto properties = component.Properties();
      if (properties.Count() > 1) found = properties.Item("Application").Object();
    });
    if (!found.empty()) break;
  }
  return found;
}

}  // namespace

automation::Object applicationFromEditor(const editor::VBE& vbe) {
  automation::Object found;
  attempt([&] { found = fromProject(vbe.ActiveVBProject()); });
  if (!found.empty()) return found;
  // The active project is walked again among the others: the editor hands out a new object per
  // call, so it cannot be told apart from another project of the same name.
  attempt([&] {
    auto projects = vbe.VBProjects().enumerate();
    while (found.empty()) {
      auto item = projects.next();
      if (!item) break;
      attempt([&] { found = fromProject(editor::VBProject(item->asObject())); });
    }
  });
  return found;
}

automation::Object ownInstance(const editor::VBE& vbe, platform::HostLookup& hosts, Kind kind,
                               const std::string& appName, Found* how) {
  // PowerPoint has no document components and runs one instance; Access keeps the table's way.
  if (kind == Kind::Excel || kind == Kind::Word) {
    automation::Object app = applicationFromEditor(vbe);
    if (!app.empty() && hosts.inThisProcess(app)) {
      if (how) *how = Found::ThroughEditor;
      app.setKind(row(kind).progId);
      return app;
    }
  }
  if (how) *how = Found::RunningObjectTable;
  platform::ActiveObject found = hosts.getActiveObject(row(kind).progId);
  if (!found.inThisProcess)
    throw OtherInstance("The running " + appName +
                            " found is another instance, not the one whose editor this is: nothing "
                            "was changed.",
                        automation::errors::CantCreateObject);
  found.object.setKind(row(kind).progId);
  return std::move(found.object);
}

}  // namespace host
