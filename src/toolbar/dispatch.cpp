#include "addin/connect.h"
#include "editor/vbe.h"

namespace addin {

// Every button runs the action of the position it stands at now, whichever subscription fired.
void Connect::BtnsN_Click(const Object& cmdbar, bool& /*handled*/, bool& /*CancelDefault*/) {
  Value index = editor::CommandBarControl(cmdbar).Index();
  cmdclick(index);
}

void Connect::cmdclick(Value& cID) {
  const Value id = cID;
  int row = 0;
  for (int16_t n = 1; n <= 6 && row == 0; ++n)
    if (Value::numericEquals(id, Value::i2(n))) row = n;
  dispatched_ = row;
  bool flag = row == 1 || row == 3;
  switch (row) {
    case 1:
    case 2: activeprojaction(flag); break;
    case 3:
    case 4: allprojaction(flag); break;
    case 5: UseFileDialogOpen(); break;
    case 6: closewb(); break;
    default: break;
  }
}

void Connect::CmdReferenceSet_Click(const Object& /*cmdbar*/, bool& /*handled*/, bool& CancelDefault) {
  CancelDefault = true;  // first, so the editor's dialog never opens whatever fails below
  editor::VBE(VBInstance_).Windows().Find("Object Browser", editor::BrowserWindow).setVisible(true);
  reflist();
}

}  // namespace addin
