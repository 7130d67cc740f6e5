// A small streaming JSON writer for the tool's --json output.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace hbt::hbtcfg {

class JsonWriter {
 public:
  void begin_object();
  void end_object();
  void begin_array();
  void end_array();
  void key(std::string_view name);
  void value(std::string_view text);
  void value(const char* text) { value(std::string_view(text)); }
  void value(std::int64_t number);
  void value(int number) { value(static_cast<std::int64_t>(number)); }
  void value(unsigned number) { value(static_cast<std::int64_t>(number)); }
  void value(unsigned long number) { value(static_cast<std::int64_t>(number)); }
  void value(bool flag);
  template <typename T>
  void field(std::string_view name, const T& v) {
    key(name);
    value(v);
  }
  const std::string& text() const { return out_; }

 private:
  void separate();
  std::string out_;
  std::vector<bool> first_;  // per open container: no member written yet
  bool after_key_ = false;
};

std::string json_quote(std::string_view text);

}  // namespace hbt::hbtcfg
