// One JSON object per line, built field by field.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace hbt::hbtio {

std::string json_quote(std::string_view text);

class JsonLine {
 public:
  JsonLine& field(std::string_view name, std::string_view text);
  JsonLine& field(std::string_view name, const char* text) { return field(name, std::string_view(text)); }
  JsonLine& field(std::string_view name, std::int64_t number);
  JsonLine& field(std::string_view name, double number);
  JsonLine& field(std::string_view name, bool value);
  JsonLine& raw(std::string_view name, std::string_view json);  // an already formatted value
  std::string str() const { return body_ + "}"; }
  void print() const;  // to standard output, with a newline, flushed

 private:
  void name(std::string_view n);
  std::string body_ = "{";
};

}  // namespace hbt::hbtio
