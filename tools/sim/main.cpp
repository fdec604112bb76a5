// tessary-sim: connects the add-in to a model editor and shows what a user would see.
#include <iostream>

#include "addin/connect.h"
#include "model/platform.h"
#include "model/sample.h"

namespace {

const char* styleName(int32_t style) {
  switch (style) {
    case 0: return "automatic";
    case 1: return "icon";
    case 2: return "caption only";
    case 3: return "icon and caption";
    default: return "other";
  }
}

std::string oneLine(std::string s) {
  for (size_t i = 0; (i = s.find("\r\n", i)) != std::string::npos;) s.replace(i, 2, " / ");
  return s;
}

void printBar(const model::Editor& editor, const std::string& name) {
  auto bar = editor.bar(name);
  if (!bar) {
    std::cout << "bar \"" << name << "\": not present\n";
    return;
  }
  std::cout << "bar \"" << bar->name << "\": position " << bar->position
            << (bar->position == 1 ? " (docked top)" : "") << ", "
            << (bar->visible ? "visible" : "hidden") << ", " << bar->controls.size() << " controls\n";
  for (size_t i = 0; i < bar->controls.size(); ++i) {
    const auto& c = bar->controls[i];
    std::cout << "  " << (i + 1) << ". " << (c->beginGroup ? "| " : "  ") << "\"" << c->caption
              << "\"  [" << styleName(c->style) << "]  tooltip: \"" << oneLine(c->tooltip) << "\"\n";
  }
}

}  // namespace

int main() {
  model::Harness h(model::sampleWorkspace());
  {
    addin::Connect connect(h.services());
    std::cout << "== connect (mode 0: after startup)\n";
    connect.AddinInstance_OnConnection(h.editor.vbe(), 0);
    for (auto& text : h.messageBox.shown) std::cout << "message box: " << text << "\n";
    printBar(h.editor, "Tessary Ver. 1.01");
    std::cout << "Tools > References... hooked: " << (connect.CmdReferenceSet().empty() ? "no" : "yes")
              << "\n";
    std::cout << "== disconnect\n";
    connect.AddinInstance_OnDisconnection(1);
    printBar(h.editor, "Tessary Ver. 1.01");
    for (auto& w : h.settings.writes) std::cout << "setting written: " << w << "\n";
  }
  std::cout << "references still held by the add-in: " << h.editor.liveReferences() << "\n";
  return 0;
}
