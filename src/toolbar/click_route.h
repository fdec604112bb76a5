#pragma once

#include <string>
#include <string_view>

#include "automation/object.h"

namespace toolbar {

using automation::Object;

// How the bar's clicks reach the add-in: the one place that knows the two ways apart. The platform
// chooses (platform::Services::clicks); everything else asks the route.
//
// - EditorControl: the editor's CommandBarEvents of each control (VBE.Events), as 32-bit Office
//   has always delivered them. Each source is tied to its own control.
// - OfficeButton: the button is its own event source (_CommandBarButtonEvents). Office ties those
//   sinks to controls by Id and Tag, and every custom button has Id 1, so each of the six buttons
//   carries a Tag of its own, and a sink runs only for a click on its own button of this bar.
class ClickRoute {
 public:
  explicit ClickRoute(automation::ClickEvents events) : events_(events) {}
  automation::ClickEvents events() const noexcept { return events_; }

  // The object whose Click event `control` raises.
  Object source(const Object& vbe, const Object& control) const;
  // Makes button `position` (1..6) tell its clicks apart before it is subscribed.
  void prepare(const Object& button, int position) const;
  // Whether a click delivered to the sink of button `position` is on that button of this bar.
  bool accepts(const Object& clicked, int position) const;

  // The Tag of button `position`: the ProgID, so another add-in's buttons never share it.
  static std::string tagFor(int position);
  static bool isTagOf(std::string_view tag, int position);

 private:
  automation::ClickEvents events_;
};

}  // namespace toolbar
