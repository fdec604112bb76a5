#include <limits>

#include "addin/connect.h"
#include "editor/vbe.h"
#include "platform/keystrokes.h"

namespace addin {

namespace {

using platform::keystrokes::appendEscaped;
using platform::keystrokes::escape;

// Two Enter keys, then 68 « or » characters.
std::string rule(const char* utf8Char) {
  std::string s = "~~";
  for (int i = 0; i < 68; ++i) s += utf8Char;
  return s;
}

const char* word(bool v) { return v ? "True" : "False"; }

using automation::attempt;

}  // namespace

// Everything read from the editor is escaped before it is typed: a "~" in an 8.3 path would
// otherwise be an Enter key, and the Immediate window runs every line it is given.
void Connect::reflist() {
  editor::VBE vbe(VBInstance_);
  auto& keys = services_.keyboard;

  vbe.Windows().Find("immediate", editor::ImmediateWindow).SetFocus();
  keys.type(rule("\xC2\xBB"));

  {
    std::string file = getwbname().asString();
    std::string name = vbe.ActiveVBProject().Name();
    int32_t count = vbe.ActiveVBProject().References().Count();
    keys.type("~~References set in " + escape(file) + " - [ " + escape(name) + " ] : " +
              std::to_string(count));
  }

  attempt([&] {
    std::optional<automation::Object::Enumerator> refs;
    try {
      refs.emplace(vbe.ActiveVBProject().References().enumerate());
    } catch (const automation::Failure&) {
    }
    // Without an enumeration the body still runs once, for a reference that cannot be read.
    bool once = !refs.has_value();
    std::string line;
    line.reserve(256);
    while (true) {
      editor::Reference ref;
      if (refs) {
        auto next = refs->next();  // a failure here ends the loop (caught by the outer guard)
        if (!next) break;
        ref = editor::Reference(next->asObject());
      }
      bool detailSent = false;
      // One buffer per line: a project can hold hundreds of references.
      attempt([&] {
        line.assign("~~");
        appendEscaped(line, ref.Name());
        line += " :   ";
        appendEscaped(line, ref.Description());
        line += "    Built-in Ref.: ";
        line += word(ref.BuiltIn());
        line += "   is Broken : ";
        line += word(ref.IsBroken());
        keys.type(line);
        detailSent = true;
      });
      if (!detailSent) attempt([&] { keys.type("~~Missing Refernece found for below file :"); });
      attempt([&] {
        line.assign("~~Path :      ");
        appendEscaped(line, ref.FullPath());
        keys.type(line);
      });
      if (once) break;
    }
  });

  attempt([&] { keys.type("~~Debug Window print by Brenwick"); });
  attempt([&] {
    keys.type("~~To Set References Press F2 (Object Browser) & right click & Select References...");
  });
  attempt([&] { keys.type(rule("\xC2\xAB")); });

  attempt([&] {
    auto immediate = vbe.Windows().Find("immediate", editor::ImmediateWindow);
    attempt([&] { immediate.setVisible(true); });
    attempt([&] {
      int64_t height = 50LL * vbe.ActiveVBProject().References().Count();
      if (height <= std::numeric_limits<int32_t>::max() && height >= std::numeric_limits<int32_t>::min())
        immediate.setHeight(static_cast<int32_t>(height));
    });
  });
}

}  // namespace addin
