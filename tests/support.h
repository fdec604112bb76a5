#pragma once

#include <memory>

#include "addin/connect.h"
#include "model/platform.h"

// A model editor, its platform stand-ins and the add-in, connected or not.
struct Rig {
  explicit Rig(model::Editor e) : h(std::move(e)), addin(std::make_unique<addin::Connect>(h.services())) {}
  model::Harness h;
  std::unique_ptr<addin::Connect> addin;

  model::Editor& editor() { return h.editor; }
  void connect(int mode = 0) { addin->AddinInstance_OnConnection(h.editor.vbe(), mode); }
  void disconnect() { addin->AddinInstance_OnDisconnection(1); }
  // Disconnects (if asked) and destroys the add-in, as the manager does when unloading it.
  void unload() { addin.reset(); }
  std::shared_ptr<model::BarNode> bar() { return h.editor.bar("Tessary Ver. 1.01"); }
};
