#include <gtest/gtest.h>

#include "model/platform.h"
#include "platform/keystrokes.h"

namespace {

namespace ks = platform::keystrokes;

// What a user would see from these keys in an edit window: Enter as a line break.
std::string typed(const std::vector<ks::Key>& keys) {
  std::string out;
  for (const auto& k : keys) out += k.enter ? std::string("\n") : ks::toUtf8(k.ch);
  return out;
}

TEST(KeystrokeNotation, TildeIsEnterAndBracesMakeLiterals) {
  EXPECT_EQ(typed(ks::parse("~~ab~c")), "\n\nab\nc");
  EXPECT_EQ(typed(ks::parse("{~}{{}{}}")), "~{}");
  auto keys = ks::parse("a~{~}");
  ASSERT_EQ(keys.size(), 3u);
  EXPECT_EQ(keys[1], (ks::Key{true, 0}));
  EXPECT_EQ(keys[2], (ks::Key{false, U'~'}));
  // Characters that other notations treat specially are plain here.
  EXPECT_EQ(typed(ks::parse("(F2) & [x] + ^%")), "(F2) & [x] + ^%");
  EXPECT_TRUE(ks::parse("").empty());
}

TEST(KeystrokeNotation, EscapedTextArrivesExactlyAsItWas) {
  const std::vector<std::string> samples = {
      "C:\\PROGRA~1\\COMMON~1\\MICROS~1\\VBA\\VBA7.1\\VBE7.DLL",
      "~",
      "~~",
      "{~}",
      "{",
      "}",
      "}{",
      "{{}}",
      "Report \u00BB\u00AB caf\u00E9 \u65E5\u672C \U0001F600",
      "",
  };
  for (const auto& s : samples) {
    SCOPED_TRACE(s);
    auto keys = ks::parse(ks::escape(s));
    EXPECT_EQ(typed(keys), s);
    for (const auto& k : keys) EXPECT_FALSE(k.enter);
  }
  // A line break inside a value would run the partial line in the Immediate window.
  auto flat = ks::parse(ks::escape("first line\r\nsecond\nthird"));
  EXPECT_EQ(typed(flat), "first line  second third");
  for (const auto& k : flat) EXPECT_FALSE(k.enter);
  // Escaped values can sit between fixed Enter keys without changing them.
  EXPECT_EQ(typed(ks::parse("~~Path : " + ks::escape("A~1") + "~")), "\n\nPath : A~1\n");
}

TEST(KeystrokeNotation, MalformedTextIsRejected) {
  for (std::string bad : {"a\rb", "a\nb", "{", "}", "{x}", "{~", "{~x", "a{~}b}", "{}", "\xC3", "\xC0\x80", "\xED\xA0\x80",
                          "\xF8\x88\x80\x80\x80", "ok\xFF"}) {
    SCOPED_TRACE(bad);
    EXPECT_THROW(ks::parse(bad), automation::Failure);
  }
}

TEST(ModelKeyboard, TypesIntoTheFocusedWindowAndNothingOfARejectedText) {
  auto editor = model::EditorBuilder().build();
  model::ModelKeyboard keyboard(editor.shared());
  auto immediate = editor.immediate();
  editor.world().focused = immediate.get();

  keyboard.type("~~one{~}");
  EXPECT_THROW(keyboard.type("~~two}"), automation::Failure);
  keyboard.type("~three");
  EXPECT_EQ(immediate->text, "\n\none~\nthree");
  EXPECT_EQ(keyboard.sent, (std::vector<std::string>{"~~one{~}", "~three"}));
}

}  // namespace
