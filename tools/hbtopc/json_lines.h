// Reading back the JSON lines hbtopc prints (flat objects whose values are strings, numbers,
// booleans, null or arrays of those), for the tests and tools that check its output.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace hbt::hbtopc {

struct JsonValue {
  enum class Kind { kNull, kBool, kNumber, kString, kArray } kind = Kind::kNull;
  bool boolean = false;
  std::string text;  // a string's characters, or a number as written
  std::vector<JsonValue> elements;

  double number() const;
  float number_as_float() const;  // read as a float directly, so a float's shortest text is exact
};

using JsonObject = std::map<std::string, JsonValue>;

// One line; nullopt when it is not such an object.
std::optional<JsonObject> parse_json_line(const std::string& line);

// Every line of `text` that is such an object, in order.
std::vector<JsonObject> parse_json_lines(const std::string& text);

}  // namespace hbt::hbtopc
