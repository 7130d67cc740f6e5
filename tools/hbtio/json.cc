#include "tools/hbtio/json.h"

#include <cmath>
#include <cstdio>

namespace hbt::hbtio {

std::string json_quote(std::string_view text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20) {
          char escape[8];
          std::snprintf(escape, sizeof escape, "\\u%04x", c);
          out += escape;
        } else {
          out.push_back(static_cast<char>(c));
        }
    }
  }
  out.push_back('"');
  return out;
}

void JsonLine::name(std::string_view n) {
  if (body_.size() > 1) body_ += ',';
  body_ += json_quote(n);
  body_ += ':';
}

JsonLine& JsonLine::field(std::string_view n, std::string_view text) {
  name(n);
  body_ += json_quote(text);
  return *this;
}

JsonLine& JsonLine::field(std::string_view n, std::int64_t number) {
  name(n);
  body_ += std::to_string(number);
  return *this;
}

JsonLine& JsonLine::field(std::string_view n, double number) {
  name(n);
  if (!std::isfinite(number)) {
    body_ += "null";  // JSON has no NaN or infinity
  } else {
    char text[40];
    std::snprintf(text, sizeof text, "%.9g", number);
    body_ += text;
  }
  return *this;
}

JsonLine& JsonLine::field(std::string_view n, bool value) {
  name(n);
  body_ += value ? "true" : "false";
  return *this;
}

JsonLine& JsonLine::raw(std::string_view n, std::string_view json) {
  name(n);
  body_ += json;
  return *this;
}

void JsonLine::print() const {
  std::string line = str() + "\n";
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fflush(stdout);
}

}  // namespace hbt::hbtio
