#include "toolbar/click_route.h"

#include <charconv>

#include "addin/identity.h"
#include "editor/vbe.h"

namespace toolbar {

using automation::ClickEvents;

Object ClickRoute::source(const Object& vbe, const Object& control) const {
  if (events_ == ClickEvents::OfficeButton) {
    // Nothing reached through VBE.Events is touched here: 64-bit hosts crash on it.
    if (control.empty())
      automation::fail("Object variable or With block variable not set", automation::errors::ObjectNotSet);
    return control;
  }
  return editor::VBE(vbe).Events().CommandBarEvents(control);
}

void ClickRoute::prepare(const Object& button, int position) const {
  if (events_ == ClickEvents::OfficeButton) editor::CommandBarControl(button).setTag(tagFor(position));
}

bool ClickRoute::accepts(const Object& clicked, int position) const {
  if (events_ != ClickEvents::OfficeButton) return true;
  // Another add-in's control with the same Id and Tag reaches this sink too.
  editor::CommandBarControl control(clicked);
  return isTagOf(control.Tag(), position) && control.Parent().Name() == addin::identity::BarName;
}

bool ClickRoute::isTagOf(std::string_view tag, int position) {
  // Compared in place: a click composes no text.
  const std::string_view progId = addin::identity::ProgId;
  char digits[12];
  const auto end = std::to_chars(digits, digits + sizeof digits, position).ptr;
  const std::string_view number(digits, static_cast<size_t>(end - digits));
  return tag.size() == progId.size() + 1 + number.size() && tag.starts_with(progId) &&
         tag[progId.size()] == '.' && tag.ends_with(number);
}

std::string ClickRoute::tagFor(int position) {
  return std::string(addin::identity::ProgId) + "." + std::to_string(position);
}

}  // namespace toolbar
