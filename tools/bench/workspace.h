#pragma once

#include <string>

#include "model/editor.h"

namespace bench {

constexpr int ComponentsPerProject = 1000;
constexpr int ReferencesPerProject = 1000;
inline const int Sizes[] = {1, 10, 100};

// Projects of 1,000 components (documents, modules, classes, forms with designers) and 1,000
// references, one in a hundred of them broken; Project1 active.
inline model::Editor workspace(int projects) {
  model::EditorBuilder b;
  b.host("Microsoft Excel");
  for (int p = 1; p <= projects; ++p) {
    std::string name = "Project" + std::to_string(p);
    b.project(name, name + ".xlsm");
    for (int i = 0; i < ComponentsPerProject; ++i) {
      std::string c = "Component" + std::to_string(i);
      if (i % 10 == 0) b.component(c, 100);
      else if (i % 20 == 1) b.component(c, 3, i % 40 == 1);
      else b.component(c, i % 2 ? 2 : 1);
    }
    for (int i = 0; i < ReferencesPerProject; ++i) {
      std::string r = "Library" + std::to_string(i);
      if (i % 100 == 99) b.reference("", "", "C:\\Legacy\\" + r + ".ocx", false, true, {"Name"});
      else b.reference(r, "Library number " + std::to_string(i), "C:\\PROGRA~1\\Libraries\\" + r + ".dll", i < 2);
    }
  }
  return b.active("Project1").build();
}

}  // namespace bench
