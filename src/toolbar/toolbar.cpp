#include "addin/connect.h"
#include "addin/identity.h"
#include "editor/vbe.h"
#include "toolbar/buttons.h"

using addin::identity::BarName;

namespace addin {

void Connect::ToolbarAdd() {
  Value name(BarName);
  cmdbaradd(name);
  cmdbarbtnadd(name);
  {
    auto bar = editor::VBE(VBInstance_).CommandBars().Item(BarName);
    for (int16_t position = 1; position <= 6; ++position)
      bar.Controls().Item(Value::i2(position)).setTooltipText(toolbar::Buttons[position - 1].tooltip);
    bar.setPosition(toolbar::DockedTop);
    bar.setVisible(true);
  }
  FormDisplayed_ = true;
}

void Connect::cmdbaradd(Value& cmdbarname) {
  editor::VBE vbe(VBInstance_);
  try {
    // A bar left over from an earlier session (or a crash) would otherwise double the buttons.
    vbe.CommandBars().Item(BarName).Delete();
  } catch (const automation::Failure&) {
  }
  auto bar = vbe.CommandBars().Add();
  bar.setName(cmdbarname.asString());
}

void Connect::btncreate(Value& /*cmdbarname*/, Value& caption) {
  btncaption_ = caption.asString();
  c_ = editor::VBE(VBInstance_).CommandBars().Item(BarName).Controls().Add().object();
  editor::CommandBarControl control(c_);
  control.setCaption(btncaption_);
  control.setStyle(toolbar::CaptionOnlyStyle);
}

Object Connect::eventset(Object& cmd) { return route_.source(VBInstance_, cmd); }

void Connect::cmdbarbtnadd(Value& cmdbarname) {
  for (int position = 1; position <= 6; ++position) {
    Value caption(toolbar::Buttons[position - 1].caption);
    btncreate(cmdbarname, caption);
    route_.prepare(c_, position);
    setBtns(position, eventset(c_));
    if (logging_.on())
      logging_.info("subscribed: button " + std::to_string(position) + " \"" + btncaption_ + "\"");
    if (position == 1) {
      editor::VBE(VBInstance_)
          .CommandBars()
          .Item(BarName)
          .Controls()
          .Item(Value(btncaption_))
          .setBeginGroup(true);
    }
  }
  // The References hook is optional: an editor without it keeps its own dialog.
  try {
    c_ = editor::VBE(VBInstance_).CommandBars().Item("Tools").FindControl(toolbar::ReferencesControlId).object();
    setCmdReferenceSet(eventset(c_));
    if (logging_.on()) logging_.info("subscribed: Tools > References... (taken over)");
  } catch (const automation::Failure& f) {
    if (logging_.on())
      logging_.warning("not subscribed: Tools > References..., the editor keeps its dialog: " +
                       Logging::describe(f));
  }
}

}  // namespace addin
