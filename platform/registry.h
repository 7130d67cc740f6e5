// A registry of keys and named values, kept as one REGEDIT4 text file per hive.
//
// The hives live in the directory named by HBT_REGISTRY_DIR (default:
// $XDG_CONFIG_HOME/hbt/registry, or ~/.config/hbt/registry), as HKLM.reg, HKCU.reg
// and HKCR.reg. Key paths use backslashes ("Software\\Velmora\\Brenlow\\Config") and, as
// on Windows, key and value names compare without regard to case. Every write takes
// an exclusive lock on the hive, re-reads it, and replaces the file atomically, so
// concurrent writers in different processes never lose each other's changes and a
// reader never sees half a file. Functions are safe to call from any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace hbt::platform::registry {

enum class Hive { LocalMachine, CurrentUser, ClassesRoot };

enum class ValueType { String, Dword, Binary };

struct Value {
  std::string name;  // "" is the key's default value
  ValueType type = ValueType::String;
  std::string text;                 // String
  std::uint32_t dword = 0;          // Dword
  std::vector<std::uint8_t> bytes;  // Binary
};

// Directory holding the hive files (created on first write).
std::string directory();

// Reads. Missing key, missing value or a value of another type: std::nullopt.
std::optional<std::string> get_string(Hive hive, std::string_view key, std::string_view name);
std::optional<std::uint32_t> get_dword(Hive hive, std::string_view key, std::string_view name);
std::optional<Value> get_value(Hive hive, std::string_view key, std::string_view name);
bool key_exists(Hive hive, std::string_view key);
std::vector<std::string> subkeys(Hive hive, std::string_view key);  // direct children, stored case
std::vector<Value> values(Hive hive, std::string_view key);

// Writes create missing keys. They return false (and change nothing) when the hive
// cannot be locked, read or replaced; errno tells why.
bool set_string(Hive hive, std::string_view key, std::string_view name, std::string_view text);
bool set_dword(Hive hive, std::string_view key, std::string_view name, std::uint32_t value);
bool set_value(Hive hive, std::string_view key, const Value& value);
bool create_key(Hive hive, std::string_view key);
// Deleting what does not exist succeeds.
bool delete_value(Hive hive, std::string_view key, std::string_view name);
bool delete_key(Hive hive, std::string_view key);  // the key and all its subkeys

// Whole-registry text in REGEDIT4 form, keys written with their hive's long name
// ("[HKEY_LOCAL_MACHINE\\Software\\...]").
std::string export_text();
// Merges REGEDIT4 text into the hives ("[-KEY]" deletes a key, "name"=- a value).
// Returns false with a message in *error for text it cannot read; nothing is written then.
bool import_text(std::string_view text, std::string* error);

// "HKLM\\Software\\X", "HKEY_LOCAL_MACHINE\\Software\\X" -> hive and key path.
bool split_root(std::string_view full_key, Hive* hive, std::string* key);

}  // namespace hbt::platform::registry
