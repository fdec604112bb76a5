#include "json_positions.h"

#include <cctype>

namespace sim {

TextPosition positionOf(std::string_view text, size_t offset) {
  TextPosition p;
  for (size_t i = 0; i < offset && i < text.size(); ++i) {
    if (text[i] == '\n') {
      ++p.line;
      p.column = 1;
    } else {
      ++p.column;
    }
  }
  return p;
}

std::string pointerToken(std::string_view key) {
  std::string s;
  for (char c : key) {
    if (c == '~') s += "~0";
    else if (c == '/') s += "~1";
    else s += c;
  }
  return s;
}

namespace {

// The walker trusts its input: it only runs on text that nlohmann has already accepted.
class Walker {
 public:
  Walker(std::string_view text, std::map<std::string, size_t>& out) : t_(text), out_(out) {}

  void value(const std::string& pointer) {
    skipSpace();
    out_[pointer] = i_;
    if (i_ >= t_.size()) return;
    char c = t_[i_];
    if (c == '{') {
      ++i_;
      skipSpace();
      if (peek() == '}') {
        ++i_;
        return;
      }
      for (;;) {
        skipSpace();
        size_t keyAt = i_;
        std::string key = string();
        out_[pointer + "/" + escape(key) + "#key"] = keyAt;
        skipSpace();
        ++i_;  // ':'
        value(pointer + "/" + escape(key));
        skipSpace();
        if (peek() == ',') {
          ++i_;
          continue;
        }
        ++i_;  // '}'
        return;
      }
    }
    if (c == '[') {
      ++i_;
      skipSpace();
      if (peek() == ']') {
        ++i_;
        return;
      }
      for (size_t n = 0;; ++n) {
        value(pointer + "/" + std::to_string(n));
        skipSpace();
        if (peek() == ',') {
          ++i_;
          continue;
        }
        ++i_;  // ']'
        return;
      }
    }
    if (c == '"') {
      string();
      return;
    }
    // Numbers and literals run to the next delimiter.
    while (i_ < t_.size() && !std::isspace(static_cast<unsigned char>(t_[i_])) && t_[i_] != ',' &&
           t_[i_] != '}' && t_[i_] != ']')
      ++i_;
  }

 private:
  char peek() const { return i_ < t_.size() ? t_[i_] : '\0'; }
  void skipSpace() {
    while (i_ < t_.size() && std::isspace(static_cast<unsigned char>(t_[i_]))) ++i_;
  }
  // A key as written; escapes other than \" and \\ stay as written, which is enough for the
  // plain ASCII field names a workspace has.
  std::string string() {
    std::string s;
    ++i_;  // opening quote
    while (i_ < t_.size() && t_[i_] != '"') {
      if (t_[i_] == '\\' && i_ + 1 < t_.size()) {
        char e = t_[i_ + 1];
        if (e == '"' || e == '\\' || e == '/') {
          s += e;
          i_ += 2;
          continue;
        }
        s += t_[i_++];
      }
      s += t_[i_++];
    }
    ++i_;  // closing quote
    return s;
  }
  static std::string escape(const std::string& key) { return pointerToken(key); }

  std::string_view t_;
  std::map<std::string, size_t>& out_;
  size_t i_ = 0;
};

}  // namespace

std::map<std::string, size_t> valueOffsets(std::string_view text) {
  std::map<std::string, size_t> out;
  // A UTF-8 byte order mark is accepted by nlohmann and skipped here alike.
  size_t start = text.substr(0, 3) == "\xEF\xBB\xBF" ? 3 : 0;
  Walker(text.substr(start), out).value("");
  if (start)
    for (auto& [k, v] : out) v += start;
  return out;
}

}  // namespace sim
