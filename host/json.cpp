#include "host/json.h"

namespace fixhost {

namespace {

class Reader {
 public:
  explicit Reader(std::string_view text) : text_(text) {}

  std::vector<JsonValue> sequence() {
    std::vector<JsonValue> values;
    for (skipBlank(); pos_ < text_.size(); skipBlank()) values.push_back(value(0));
    return values;
  }

 private:
  [[noreturn]] void fail(const std::string& what) const {
    size_t line = 1;
    size_t column = 1;
    for (size_t i = 0; i < pos_ && i < text_.size(); ++i) {
      if (text_[i] == '\n') {
        ++line;
        column = 1;
      } else {
        ++column;
      }
    }
    throw JsonError("line " + std::to_string(line) + ", column " + std::to_string(column) + ": " +
                    what);
  }

  void skipBlank() {
    while (pos_ < text_.size()) {
      char c = text_[pos_];
      if (c == '\n') {
        ++line_;
      } else if (c != ' ' && c != '\t' && c != '\r') {
        break;
      }
      ++pos_;
    }
  }

  bool take(char c) {
    skipBlank();
    if (pos_ < text_.size() && text_[pos_] == c) {
      ++pos_;
      return true;
    }
    return false;
  }

  void expect(char c) {
    if (!take(c)) fail(std::string("expected '") + c + "'");
  }

  JsonValue value(int depth) {
    if (depth > kMaxDepth) fail("nesting deeper than " + std::to_string(kMaxDepth));
    skipBlank();
    if (pos_ >= text_.size()) fail("unexpected end of input");
    JsonValue v;
    v.line = line_;
    char c = text_[pos_];
    if (c == '{') {
      ++pos_;
      v.type = JsonValue::Type::Object;
      if (take('}')) return v;
      do {
        skipBlank();
        if (pos_ >= text_.size() || text_[pos_] != '"') fail("expected a member name");
        std::string name = string();
        expect(':');
        v.members.emplace_back(std::move(name), value(depth + 1));
      } while (take(','));
      expect('}');
    } else if (c == '[') {
      ++pos_;
      v.type = JsonValue::Type::Array;
      if (take(']')) return v;
      do {
        v.items.push_back(value(depth + 1));
      } while (take(','));
      expect(']');
    } else if (c == '"') {
      v.type = JsonValue::Type::String;
      v.text = string();
    } else if (c == '-' || (c >= '0' && c <= '9')) {
      v.type = JsonValue::Type::Number;
      v.text = number();
    } else if (word("true")) {
      v.type = JsonValue::Type::Boolean;
      v.text = "true";
    } else if (word("false")) {
      v.type = JsonValue::Type::Boolean;
      v.text = "false";
    } else if (word("null")) {
      v.type = JsonValue::Type::Null;
    } else {
      fail("unexpected character");
    }
    return v;
  }

  bool word(std::string_view w) {
    if (text_.substr(pos_, w.size()) != w) return false;
    pos_ += w.size();
    return true;
  }

  static bool digit(char c) { return c >= '0' && c <= '9'; }

  std::string number() {
    size_t start = pos_;
    auto digits = [&] {
      size_t first = pos_;
      while (pos_ < text_.size() && digit(text_[pos_])) ++pos_;
      if (pos_ == first) fail("malformed number");
    };
    if (text_[pos_] == '-') ++pos_;
    if (pos_ < text_.size() && text_[pos_] == '0') {
      ++pos_;
    } else {
      digits();
    }
    if (pos_ < text_.size() && text_[pos_] == '.') {
      ++pos_;
      digits();
    }
    if (pos_ < text_.size() && (text_[pos_] == 'e' || text_[pos_] == 'E')) {
      ++pos_;
      if (pos_ < text_.size() && (text_[pos_] == '+' || text_[pos_] == '-')) ++pos_;
      digits();
    }
    return std::string(text_.substr(start, pos_ - start));
  }

  unsigned hex4() {
    if (text_.size() - pos_ < 4) fail("truncated \\u escape");
    unsigned v = 0;
    for (int i = 0; i < 4; ++i) {
      char c = text_[pos_++];
      v <<= 4;
      if (digit(c)) {
        v |= static_cast<unsigned>(c - '0');
      } else if (c >= 'a' && c <= 'f') {
        v |= static_cast<unsigned>(c - 'a' + 10);
      } else if (c >= 'A' && c <= 'F') {
        v |= static_cast<unsigned>(c - 'A' + 10);
      } else {
        fail("malformed \\u escape");
      }
    }
    return v;
  }

  static void appendUtf8(std::string& out, unsigned cp) {
    if (cp < 0x80) {
      out += static_cast<char>(cp);
    } else if (cp < 0x800) {
      out += static_cast<char>(0xC0 | cp >> 6);
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      out += static_cast<char>(0xE0 | cp >> 12);
      out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | cp >> 18);
      out += static_cast<char>(0x80 | (cp >> 12 & 0x3F));
      out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    }
  }

  // pos_ is on the opening quote.
  std::string string() {
    ++pos_;
    std::string out;
    for (;;) {
      if (pos_ >= text_.size()) fail("unterminated string");
      char c = text_[pos_++];
      if (c == '"') return out;
      if (static_cast<unsigned char>(c) < 0x20) fail("control character in a string");
      if (c != '\\') {
        out += c;
        continue;
      }
      if (pos_ >= text_.size()) fail("unterminated string");
      switch (text_[pos_++]) {
        case '"':
          out += '"';
          break;
        case '\\':
          out += '\\';
          break;
        case '/':
          out += '/';
          break;
        case 'b':
          out += '\b';
          break;
        case 'f':
          out += '\f';
          break;
        case 'n':
          out += '\n';
          break;
        case 'r':
          out += '\r';
          break;
        case 't':
          out += '\t';
          break;
        case 'u': {
          unsigned cp = hex4();
          if (cp >= 0xD800 && cp < 0xDC00) {
            // A high surrogate must be followed by an escaped low one.
            if (text_.substr(pos_, 2) != "\\u") fail("unpaired surrogate");
            pos_ += 2;
            unsigned low = hex4();
            if (low < 0xDC00 || low >= 0xE000) fail("unpaired surrogate");
            cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
          } else if (cp >= 0xDC00 && cp < 0xE000) {
            fail("unpaired surrogate");
          }
          appendUtf8(out, cp);
          break;
        }
        default:
          fail("unknown escape");
      }
    }
  }

  std::string_view text_;
  size_t pos_ = 0;
  size_t line_ = 1;
};

}  // namespace

std::vector<JsonValue> parseJsonSequence(std::string_view text) {
  return Reader(text).sequence();
}

}  // namespace fixhost
