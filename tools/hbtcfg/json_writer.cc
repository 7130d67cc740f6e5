// A small streaming JSON writer.
#include "tools/hbtcfg/json_writer.h"

#include <cstdio>

namespace hbt::hbtcfg {

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
        if (c < 0x20 || c >= 0x7F) {
          // Configuration texts are single bytes of unknown code page: keep them as code points.
          char buffer[8];
          std::snprintf(buffer, sizeof buffer, "\\u%04x", c);
          out += buffer;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  return out + "\"";
}

void JsonWriter::separate() {
  if (after_key_) {
    after_key_ = false;
    return;
  }
  if (!first_.empty()) {
    if (!first_.back()) out_ += ',';
    first_.back() = false;
  }
}

void JsonWriter::begin_object() {
  separate();
  out_ += '{';
  first_.push_back(true);
}
void JsonWriter::end_object() {
  first_.pop_back();
  out_ += '}';
}
void JsonWriter::begin_array() {
  separate();
  out_ += '[';
  first_.push_back(true);
}
void JsonWriter::end_array() {
  first_.pop_back();
  out_ += ']';
}
void JsonWriter::key(std::string_view name) {
  separate();
  out_ += json_quote(name);
  out_ += ':';
  after_key_ = true;
}
void JsonWriter::value(std::string_view text) {
  separate();
  out_ += json_quote(text);
}
void JsonWriter::value(std::int64_t number) {
  separate();
  out_ += std::to_string(number);
}
void JsonWriter::value(bool flag) {
  separate();
  out_ += flag ? "true" : "false";
}

}  // namespace hbt::hbtcfg
