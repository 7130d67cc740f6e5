// In-memory form of one registry hive and its REGEDIT4 text form.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/registry.h"

namespace hbt::platform::registry {

struct Key {
  std::string path;  // without the hive root, stored case; "" is the hive root itself
  std::vector<Value> values;
};

// Keys in file order. Parents of a stored key exist implicitly.
struct HiveData {
  std::vector<Key> keys;

  Key* find(std::string_view path);
  const Key* find(std::string_view path) const;
  Key& find_or_add(std::string_view path);
  bool exists(std::string_view path) const;  // stored, or parent of a stored key
  void erase_tree(std::string_view path);
};

bool equal_ignoring_case(std::string_view a, std::string_view b);
std::string_view hive_root_name(Hive hive);  // "HKEY_LOCAL_MACHINE"
std::string normalise_key_path(std::string_view path);  // trims and collapses backslashes

// One parsed "[...]" section or value line of REGEDIT4 text.
struct TextEntry {
  enum Kind { SetKey, DeleteKey, SetValue, DeleteValue } kind;
  Hive hive;
  std::string key;
  Value value;  // SetValue; name only for DeleteValue
};

// Parses REGEDIT4 text. False with a line-numbered message for anything it cannot read.
bool parse_text(std::string_view text, std::vector<TextEntry>* entries, std::string* error);

// Applies entries of one hive to its data.
void apply(HiveData& data, Hive hive, const std::vector<TextEntry>& entries);

// Section and value lines of one hive (no "REGEDIT4" line).
std::string format_hive(Hive hive, const HiveData& data);
std::string format_value(const Value& value);

}  // namespace hbt::platform::registry
