#include "tools/hbtio/json.h"

#include <cmath>
#include <cstdio>

namespace hbt::hbtio {

namespace {

// Length of the well-formed UTF-8 sequence starting at text[i], or 0 when there is none.
std::size_t utf8_sequence(std::string_view text, std::size_t i) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char lead = byte(i);
  std::size_t length = lead >= 0xF0 && lead <= 0xF4 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC2 && lead <= 0xDF ? 2 : 0;
  if (length == 0 || i + length > text.size()) return 0;
  for (std::size_t k = 1; k < length; ++k)
    if ((byte(i + k) & 0xC0) != 0x80) return 0;
  if (lead == 0xE0 && byte(i + 1) < 0xA0) return 0;  // overlong
  if (lead == 0xED && byte(i + 1) >= 0xA0) return 0;  // surrogate
  if (lead == 0xF0 && byte(i + 1) < 0x90) return 0;  // overlong
  if (lead == 0xF4 && byte(i + 1) >= 0x90) return 0;  // beyond U+10FFFF
  return length;
}

void append_escape(std::string& out, unsigned code) {
  char escape[8];
  std::snprintf(escape, sizeof escape, "\\u%04x", code);
  out += escape;
}

}  // namespace

// Texts from the driver are UTF-8 (host values) or single bytes of the PLC's code page (names,
// messages): well-formed UTF-8 passes through, any other byte is taken as Latin-1, so that
// the output is always valid JSON.
std::string json_quote(std::string_view text) {
  std::string out = "\"";
  for (std::size_t i = 0; i < text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20 || c == 0x7F) {
          append_escape(out, c);
        } else if (c < 0x80) {
          out.push_back(static_cast<char>(c));
        } else if (std::size_t n = utf8_sequence(text, i)) {
          out.append(text.substr(i, n));
          i += n - 1;
        } else {
          append_escape(out, c);
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
