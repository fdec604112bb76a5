// Keystroke notation under fuzzing. Every input is used twice:
//  - as notation: parse either fails cleanly or yields keys that print back to the same keys;
//  - as a value read from the editor (a name, a description, a path): escaped and typed, it must
//    arrive as exactly its own characters (a line break as a space) with no Enter key; text that
//    is not UTF-8 must be refused whole, so nothing of it reaches the window.
// Any violated property aborts, which libFuzzer reports with the input that caused it.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "addin/connect.h"
#include "model/platform.h"
#include "platform/keystrokes.h"

namespace {

namespace keys = platform::keystrokes;

[[noreturn]] void violated(const char* what) {
  std::fprintf(stderr, "property violated: %s\n", what);
  std::abort();
}

void require(bool ok, const char* what) {
  if (!ok) violated(what);
}

// Well-formed UTF-8 after the Unicode standard's table of byte ranges, written independently of
// the decoder under test.
std::optional<std::vector<char32_t>> codePoints(std::string_view s) {
  std::vector<char32_t> out;
  auto at = [&](size_t i) { return static_cast<unsigned char>(s[i]); };
  size_t i = 0;
  while (i < s.size()) {
    unsigned b = at(i);
    size_t n;
    unsigned lo = 0x80, hi = 0xBF;
    if (b <= 0x7F) n = 0;
    else if (b >= 0xC2 && b <= 0xDF) n = 1;
    else if (b == 0xE0) n = 2, lo = 0xA0;
    else if (b == 0xED) n = 2, hi = 0x9F;
    else if (b >= 0xE1 && b <= 0xEF) n = 2;
    else if (b == 0xF0) n = 3, lo = 0x90;
    else if (b == 0xF4) n = 3, hi = 0x8F;
    else if (b >= 0xF1 && b <= 0xF3) n = 3;
    else return std::nullopt;
    if (n > 0 && i + n >= s.size()) return std::nullopt;
    char32_t c = n == 0 ? b : n == 1 ? (b & 0x1F) : n == 2 ? (b & 0x0F) : (b & 0x07);
    for (size_t k = 1; k <= n; ++k) {
      unsigned t = at(i + k);
      if (t < (k == 1 ? lo : 0x80) || t > (k == 1 ? hi : 0xBF)) return std::nullopt;
      c = (c << 6) | (t & 0x3F);
    }
    out.push_back(c);
    i += n + 1;
  }
  return out;
}

std::optional<std::vector<keys::Key>> tryParse(std::string_view notation) {
  try {
    return keys::parse(notation);
  } catch (const automation::Failure&) {
    return std::nullopt;
  }
}

void asNotation(std::string_view input) {
  auto parsed = tryParse(input);
  if (!parsed) return;
  std::string printed;
  for (const auto& k : *parsed) printed += k.enter ? std::string("~") : keys::escape(keys::toUtf8(k.ch));
  auto again = tryParse(printed);
  require(again && *again == *parsed, "parsed keys do not print back to the same keys");
}

// A line break inside an editor value cannot be typed into one line: it arrives as a space.
std::string flattened(std::string_view value) {
  std::string s(value);
  for (char& c : s)
    if (c == '\r' || c == '\n') c = ' ';
  return s;
}

void asValue(std::string_view value) {
  const auto expected = codePoints(flattened(value));
  auto parsed = tryParse(keys::escape(value));
  if (!expected) {
    require(!parsed, "a value that is not UTF-8 was accepted");
    return;
  }
  require(parsed.has_value(), "an escaped UTF-8 value was refused");
  require(parsed->size() == expected->size(), "escaped value yields another number of keys");
  for (size_t i = 0; i < parsed->size(); ++i) {
    require(!(*parsed)[i].enter, "an escaped value produced an Enter key");
    require((*parsed)[i].ch == (*expected)[i], "an escaped value produced another character");
  }
}

std::string rule(const char* utf8Char) {
  std::string s = "\n\n";
  for (int i = 0; i < 68; ++i) s += utf8Char;
  return s;
}

// The same value as the file and project name of the workspace, through the whole reference
// report into the model's Immediate window.
void throughTheReport(std::string_view value) {
  const std::string v(value);
  model::Harness h(model::EditorBuilder().project(v, v).build());
  auto immediate = h.editor.immediate();
  addin::Connect addin(h.services());
  addin.AddinInstance_OnConnection(h.editor.vbe(), 2);
  bool failed = false;
  try {
    addin.reflist();
  } catch (const automation::Failure&) {
    failed = true;
  }
  addin.AddinInstance_OnDisconnection(1);

  std::string expected = rule("\xC2\xBB");
  if (codePoints(value)) {
    require(!failed, "the report failed on a UTF-8 name");
    expected += "\n\nReferences set in " + flattened(v) + " - [ " + flattened(v) + " ] : 0";
    expected += "\n\nDebug Window print by Brenwick";
    expected += "\n\nTo Set References Press F2 (Object Browser) & right click & Select References...";
    expected += rule("\xC2\xAB");
  } else {
    require(failed, "the report succeeded with a name that cannot be typed");
  }
  require(immediate->text == expected, "the Immediate window received other text than the report");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  asNotation(input);
  asValue(input);
  throughTheReport(input);
  return 0;
}
