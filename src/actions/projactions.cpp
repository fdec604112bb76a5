#include "addin/connect.h"
#include "editor/vbe.h"
#include "platform/keystrokes.h"

namespace addin {

namespace {

using editor::VBComponent;

// Shows the main window and makes the start project active again. After a loop that ended
// normally a failing restore is tried once more from the start; any other failure goes on.
void restore(const editor::VBE& vbe, const editor::VBProject& start, bool retry) {
  try {
    vbe.MainWindow().setVisible(true);
    vbe.setActiveVBProject(start);
  } catch (const automation::Failure&) {
    if (!retry) throw;
    vbe.MainWindow().setVisible(true);
    vbe.setActiveVBProject(start);
  }
}

void setCodeWindow(const VBComponent& component, bool visible) {
  component.CodeModule().CodePane().Window().setVisible(visible);
}

}  // namespace

void Connect::activeprojaction(bool& bflag) {
  editor::VBE vbe(VBInstance_);
  const bool open = bflag;
  if (vbe.VBProjects().Count() == 0) return;
  auto start = vbe.ActiveVBProject();

  if (start.Protection() == editor::VBProject::Locked) {
    if (!open) return;
    vbe.Windows().Find("immediate", editor::ImmediateWindow).SetFocus();
    services_.keyboard.type("~~" + platform::keystrokes::escape(getwbname().asString()) +
                            "  is protected but you can see the reference set here.");
    reflist();
    return;
  }

  vbe.MainWindow().setVisible(false);
  bool loopCompleted = false;
  try {
    auto components = start.VBComponents().enumerate();
    while (auto item = components.next()) {
      VBComponent component(item->asObject());
      if (open && component.Type() == VBComponent::Document) continue;
      setCodeWindow(component, open);
      if (component.HasOpenDesigner()) component.DesignerWindow().setVisible(open);
    }
    loopCompleted = true;
  } catch (const automation::Failure&) {
  }
  restore(vbe, start, loopCompleted);
}

void Connect::allprojaction(bool& bflag) {
  editor::VBE vbe(VBInstance_);
  const bool open = bflag;
  if (vbe.VBProjects().Count() == 0) return;
  auto start = vbe.ActiveVBProject();
  vbe.MainWindow().setVisible(false);

  bool loopCompleted = false;
  try {
    auto projects = vbe.VBProjects().enumerate();
    while (auto p = projects.next()) {
      editor::VBProject project(p->asObject());
      if (project.Protection() != editor::VBProject::Unprotected) continue;
      auto components = project.VBComponents().enumerate();
      while (auto item = components.next()) {
        VBComponent component(item->asObject());
        if (open && component.Type() == VBComponent::Document) continue;
        setCodeWindow(component, open);
        if (component.Type() == VBComponent::MSForm) component.DesignerWindow().setVisible(open);
      }
    }
    loopCompleted = true;
  } catch (const automation::Failure&) {
  }
  restore(vbe, start, loopCompleted);
}

}  // namespace addin
