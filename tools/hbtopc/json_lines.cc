#include "json_lines.h"

#include <cstdlib>
#include <sstream>

namespace hbt::hbtopc {

namespace {

class Reader {
 public:
  explicit Reader(const std::string& s) : s_(s) {}

  bool object(JsonObject* out) {
    skip();
    if (!take('{')) return false;
    skip();
    if (take('}')) return at_end();
    for (;;) {
      std::string name;
      JsonValue value;
      skip();
      if (!string(&name)) return false;
      skip();
      if (!take(':') || !this->value(&value, 0)) return false;
      (*out)[name] = std::move(value);
      skip();
      if (take('}')) return at_end();
      if (!take(',')) return false;
    }
  }

 private:
  bool value(JsonValue* v, int depth) {
    skip();
    if (i_ >= s_.size()) return false;
    const char c = s_[i_];
    if (c == '"') {
      v->kind = JsonValue::Kind::kString;
      return string(&v->text);
    }
    if (c == '[' && depth == 0) {
      ++i_;
      v->kind = JsonValue::Kind::kArray;
      skip();
      if (take(']')) return true;
      for (;;) {
        JsonValue e;
        if (!value(&e, depth + 1)) return false;
        v->elements.push_back(std::move(e));
        skip();
        if (take(']')) return true;
        if (!take(',')) return false;
      }
    }
    if (word("true")) return v->kind = JsonValue::Kind::kBool, v->boolean = true, true;
    if (word("false")) return v->kind = JsonValue::Kind::kBool, v->boolean = false, true;
    if (word("null")) return v->kind = JsonValue::Kind::kNull, true;
    const std::size_t start = i_;
    while (i_ < s_.size() && std::string_view("+-.0123456789eE").find(s_[i_]) != std::string_view::npos) ++i_;
    if (i_ == start) return false;
    v->kind = JsonValue::Kind::kNumber;
    v->text = s_.substr(start, i_ - start);
    return true;
  }

  bool string(std::string* out) {
    if (!take('"')) return false;
    while (i_ < s_.size() && s_[i_] != '"') {
      char c = s_[i_++];
      if (c != '\\') {
        out->push_back(c);
        continue;
      }
      if (i_ >= s_.size()) return false;
      c = s_[i_++];
      switch (c) {
        case 'n': out->push_back('\n'); break;
        case 'r': out->push_back('\r'); break;
        case 't': out->push_back('\t'); break;
        case 'u': {
          if (i_ + 4 > s_.size()) return false;
          const unsigned code = static_cast<unsigned>(std::strtoul(s_.substr(i_, 4).c_str(), nullptr, 16));
          i_ += 4;
          // The writer escapes control characters and bytes that are no UTF-8 (as Latin-1).
          if (code < 0x80) {
            out->push_back(static_cast<char>(code));
          } else {
            out->push_back(static_cast<char>(0xC0 | (code >> 6)));
            out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
          }
          break;
        }
        default: out->push_back(c);
      }
    }
    return take('"');
  }

  bool word(std::string_view w) {
    if (s_.compare(i_, w.size(), w) != 0) return false;
    i_ += w.size();
    return true;
  }
  bool take(char c) {
    if (i_ < s_.size() && s_[i_] == c) return ++i_, true;
    return false;
  }
  void skip() {
    while (i_ < s_.size() && (s_[i_] == ' ' || s_[i_] == '\t' || s_[i_] == '\r')) ++i_;
  }
  bool at_end() {
    skip();
    return i_ == s_.size();
  }

  const std::string& s_;
  std::size_t i_ = 0;
};

}  // namespace

double JsonValue::number() const { return std::strtod(text.c_str(), nullptr); }
float JsonValue::number_as_float() const { return std::strtof(text.c_str(), nullptr); }

std::optional<JsonObject> parse_json_line(const std::string& line) {
  JsonObject out;
  Reader r(line);
  if (!r.object(&out)) return std::nullopt;
  return out;
}

std::vector<JsonObject> parse_json_lines(const std::string& text) {
  std::vector<JsonObject> out;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line))
    if (auto o = parse_json_line(line)) out.push_back(std::move(*o));
  return out;
}

}  // namespace hbt::hbtopc
