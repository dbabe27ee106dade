// json - a small JSON reader for the trees that `fixhost write` reads. It keeps what a tree
// needs and a general reader may drop: the order of object members and members of the same name.
// Numbers keep their text. Nesting is limited (kMaxDepth) so that hostile input cannot exhaust
// the stack.
#ifndef CORVALE_HOST_JSON_H
#define CORVALE_HOST_JSON_H

#include <cstddef>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace fixhost {

struct JsonValue {
  enum class Type { Null, Boolean, Number, String, Array, Object };
  Type type = Type::Null;
  std::string text;  // String: the UTF-8 text; Number: its JSON text; Boolean: "true"/"false"
  std::vector<JsonValue> items;                            // Array
  std::vector<std::pair<std::string, JsonValue>> members;  // Object, in document order
  size_t line = 0;                                         // 1-based line where it starts
};

// A syntax error: what() says what and where ("line L, column C: ...").
struct JsonError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

constexpr int kMaxDepth = 256;

// Reads a sequence of JSON values separated by blank space (one document, or JSON lines).
std::vector<JsonValue> parseJsonSequence(std::string_view text);

}  // namespace fixhost

#endif  // CORVALE_HOST_JSON_H
