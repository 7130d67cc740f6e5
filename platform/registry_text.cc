#include "platform/registry_text.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace hbt::platform::registry {

namespace {

char lower(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }

bool starts_with_path(std::string_view path, std::string_view prefix) {
  if (prefix.empty()) return true;
  if (path.size() <= prefix.size()) return false;
  return path[prefix.size()] == '\\' && equal_ignoring_case(path.substr(0, prefix.size()), prefix);
}

struct RootName {
  const char* long_name;
  const char* short_name;
  Hive hive;
};
constexpr RootName kRoots[] = {
    {"HKEY_LOCAL_MACHINE", "HKLM", Hive::LocalMachine},
    {"HKEY_CURRENT_USER", "HKCU", Hive::CurrentUser},
    {"HKEY_CLASSES_ROOT", "HKCR", Hive::ClassesRoot},
};

std::string_view trim(std::string_view s) {
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
  return s;
}

// Reads a quoted string starting at s[0] == '"'; returns characters consumed or 0 on error.
std::size_t read_quoted(std::string_view s, std::string* out) {
  out->clear();
  for (std::size_t i = 1; i < s.size(); ++i) {
    char c = s[i];
    if (c == '"') return i + 1;
    if (c == '\\') {
      if (i + 1 >= s.size()) return 0;
      char n = s[++i];
      out->push_back(n == 'n' ? '\n' : n == 'r' ? '\r' : n);
    } else {
      out->push_back(c);
    }
  }
  return 0;
}

std::string quote(std::string_view s) {
  std::string out = "\"";
  for (char c : s) {
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '"': out += "\\\""; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      default: out.push_back(c);
    }
  }
  out.push_back('"');
  return out;
}

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  c = lower(c);
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

bool parse_data(std::string_view data, Value* value) {
  if (!data.empty() && data.front() == '"') {
    std::size_t used = read_quoted(data, &value->text);
    if (used == 0 || !trim(data.substr(used)).empty()) return false;
    value->type = ValueType::String;
    return true;
  }
  if (data.substr(0, 6) == "dword:") {
    std::string_view digits = trim(data.substr(6));
    if (digits.empty() || digits.size() > 8) return false;
    std::uint32_t v = 0;
    for (char c : digits) {
      int d = hex_digit(c);
      if (d < 0) return false;
      v = v * 16 + static_cast<std::uint32_t>(d);
    }
    value->type = ValueType::Dword;
    value->dword = v;
    return true;
  }
  if (data.substr(0, 4) == "hex:") {
    value->type = ValueType::Binary;
    value->bytes.clear();
    std::string_view rest = data.substr(4);
    while (!rest.empty()) {
      std::size_t comma = rest.find(',');
      std::string_view item = trim(rest.substr(0, comma));
      if (item.size() != 2 || hex_digit(item[0]) < 0 || hex_digit(item[1]) < 0) return false;
      value->bytes.push_back(static_cast<std::uint8_t>(hex_digit(item[0]) * 16 + hex_digit(item[1])));
      if (comma == std::string_view::npos) break;
      rest.remove_prefix(comma + 1);
    }
    return true;
  }
  return false;
}

}  // namespace

bool equal_ignoring_case(std::string_view a, std::string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return lower(x) == lower(y); });
}

std::string_view hive_root_name(Hive hive) {
  for (const auto& root : kRoots)
    if (root.hive == hive) return root.long_name;
  return "HKEY_LOCAL_MACHINE";
}

std::string normalise_key_path(std::string_view path) {
  std::string out;
  for (char c : trim(path)) {
    if (c == '/') c = '\\';
    if (c == '\\' && (out.empty() || out.back() == '\\')) continue;
    out.push_back(c);
  }
  // Separators at either end and the white space next to them go together, so that a key
  // given as "a \\" (blank, backslash) is stored as "a", which is what its saved form reads
  // back as.
  auto edge = [](char c) { return c == '\\' || std::isspace(static_cast<unsigned char>(c)); };
  while (!out.empty() && edge(out.back())) out.pop_back();
  std::size_t first = 0;
  while (first < out.size() && edge(out[first])) ++first;
  return out.substr(first);
}

bool split_root(std::string_view full_key, Hive* hive, std::string* key) {
  std::string normal = normalise_key_path(full_key);
  std::string_view view = normal;
  std::size_t slash = view.find('\\');
  std::string_view root = view.substr(0, slash);
  for (const auto& r : kRoots) {
    if (equal_ignoring_case(root, r.long_name) || equal_ignoring_case(root, r.short_name)) {
      *hive = r.hive;
      // The key alone is normalised again, as a key given without its root would be: blanks
      // after the root's separator belong to neither.
      *key = slash == std::string_view::npos ? std::string() : normalise_key_path(view.substr(slash + 1));
      return true;
    }
  }
  return false;
}

Key* HiveData::find(std::string_view path) {
  for (auto& k : keys)
    if (equal_ignoring_case(k.path, path)) return &k;
  return nullptr;
}

const Key* HiveData::find(std::string_view path) const {
  return const_cast<HiveData*>(this)->find(path);
}

Key& HiveData::find_or_add(std::string_view path) {
  if (Key* k = find(path)) return *k;
  keys.push_back(Key{std::string(path), {}});
  return keys.back();
}

bool HiveData::exists(std::string_view path) const {
  if (path.empty()) return true;
  return std::any_of(keys.begin(), keys.end(), [&](const Key& k) {
    return equal_ignoring_case(k.path, path) || starts_with_path(k.path, path);
  });
}

void HiveData::erase_tree(std::string_view path) {
  std::string p(path);
  std::erase_if(keys, [&](const Key& k) {
    return equal_ignoring_case(k.path, p) || starts_with_path(k.path, p);
  });
}

bool parse_text(std::string_view text, std::vector<TextEntry>* entries, std::string* error) {
  entries->clear();
  bool have_key = false;
  bool key_deleted = false;
  Hive hive = Hive::LocalMachine;
  std::string key;
  int line_number = 0;
  std::string pending;  // a value line continued with a trailing backslash
  auto fail = [&](const char* what) {
    if (error) *error = "line " + std::to_string(line_number) + ": " + what;
    return false;
  };
  std::size_t pos = 0;
  while (pos <= text.size()) {
    std::size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    std::string_view raw = text.substr(pos, end - pos);
    pos = end + 1;
    ++line_number;
    std::string_view line = trim(raw);
    // hex: data may continue on the next line after a trailing backslash.
    if (!line.empty() && line.back() == '\\' && line.front() != '[') {
      pending.append(line.substr(0, line.size() - 1));
      if (pos > text.size()) return fail("continued line at end of text");
      continue;
    }
    std::string joined;
    if (!pending.empty()) {
      joined = std::move(pending) + std::string(line);
      pending.clear();
      line = joined;
    }
    if (line.empty() || line.front() == ';') continue;
    if (line == "REGEDIT4" || line == "Windows Registry Editor Version 5.00") continue;
    if (line.front() == '[') {
      if (line.back() != ']') return fail("key line without closing ']'");
      std::string_view inner = line.substr(1, line.size() - 2);
      key_deleted = !inner.empty() && inner.front() == '-';
      if (key_deleted) inner.remove_prefix(1);
      if (!split_root(inner, &hive, &key)) return fail("key does not start with a known hive name");
      have_key = true;
      entries->push_back(TextEntry{key_deleted ? TextEntry::DeleteKey : TextEntry::SetKey, hive, key, {}});
      continue;
    }
    if (!have_key) return fail("value outside of any key");
    if (key_deleted) return fail("value under a deleted key");
    Value value;
    std::size_t used = 0;
    if (line.front() == '@') {
      used = 1;
    } else if (line.front() == '"') {
      used = read_quoted(line, &value.name);
      if (used == 0) return fail("unterminated value name");
    } else {
      return fail("expected a key, a value or a comment");
    }
    std::string_view rest = trim(line.substr(used));
    if (rest.empty() || rest.front() != '=') return fail("expected '=' after the value name");
    rest = trim(rest.substr(1));
    if (rest == "-") {
      entries->push_back(TextEntry{TextEntry::DeleteValue, hive, key, value});
      continue;
    }
    if (!parse_data(rest, &value)) return fail("value data is not \"text\", dword:XXXXXXXX or hex:..");
    entries->push_back(TextEntry{TextEntry::SetValue, hive, key, std::move(value)});
  }
  if (!pending.empty()) return fail("continued line at end of text");
  return true;
}

void apply(HiveData& data, Hive hive, const std::vector<TextEntry>& entries) {
  for (const auto& e : entries) {
    if (e.hive != hive) continue;
    switch (e.kind) {
      case TextEntry::SetKey: data.find_or_add(e.key); break;
      case TextEntry::DeleteKey: data.erase_tree(e.key); break;
      case TextEntry::SetValue: {
        Key& k = data.find_or_add(e.key);
        auto it = std::find_if(k.values.begin(), k.values.end(),
                               [&](const Value& v) { return equal_ignoring_case(v.name, e.value.name); });
        if (it != k.values.end()) {
          std::string stored_name = it->name;
          *it = e.value;
          it->name = stored_name;
        } else {
          k.values.push_back(e.value);
        }
        break;
      }
      case TextEntry::DeleteValue:
        if (Key* k = data.find(e.key))
          std::erase_if(k->values, [&](const Value& v) { return equal_ignoring_case(v.name, e.value.name); });
        break;
    }
  }
}

std::string format_value(const Value& value) {
  std::string line = value.name.empty() ? "@" : quote(value.name);
  line += '=';
  switch (value.type) {
    case ValueType::String: line += quote(value.text); break;
    case ValueType::Dword: {
      char digits[16];
      std::snprintf(digits, sizeof digits, "dword:%08x", value.dword);
      line += digits;
      break;
    }
    case ValueType::Binary: {
      line += "hex:";
      for (std::size_t i = 0; i < value.bytes.size(); ++i) {
        char digits[4];
        std::snprintf(digits, sizeof digits, i ? ",%02x" : "%02x", value.bytes[i]);
        line += digits;
      }
      break;
    }
  }
  return line;
}

std::string format_hive(Hive hive, const HiveData& data) {
  std::string out;
  for (const auto& k : data.keys) {
    out += '[';
    out += hive_root_name(hive);
    if (!k.path.empty()) {
      out += '\\';
      out += k.path;
    }
    out += "]\n";
    for (const auto& v : k.values) {
      out += format_value(v);
      out += '\n';
    }
    out += '\n';
  }
  return out;
}

}  // namespace hbt::platform::registry
