// HostSettings read from and written to the registry.
#include <cctype>

#include "editor/host_settings.h"

#include "editor/csv_fields.h"
#include "platform/registry.h"

namespace hbt::editor {

namespace reg = hbt::platform::registry;

namespace {

std::string upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

std::optional<std::string> default_value(std::string_view key, std::string_view subkey,
                                         std::size_t max) {
  auto value = reg::get_string(reg::Hive::ClassesRoot, std::string(key) + "\\" + std::string(subkey), "");
  if (!value || value->size() > max) return std::nullopt;
  return value;
}

}  // namespace

std::optional<std::string> RegistryHostSettings::startup_file() {
  return reg::get_string(reg::Hive::LocalMachine, kDriverConfigKey, kStartupValue);
}

bool RegistryHostSettings::set_startup_file(std::string_view path) {
  return reg::set_string(reg::Hive::LocalMachine, kDriverConfigKey, kStartupValue, path);
}

std::optional<HostSettings::HostNames> RegistryHostSettings::host_names() {
  std::string_view key = kHostKeyDynamics;
  if (!reg::key_exists(reg::Hive::ClassesRoot, key)) key = kHostKeyFix32;
  if (!reg::key_exists(reg::Hive::ClassesRoot, key)) return std::nullopt;
  auto database = default_value(key, "PDBPATH", kMaxDatabasePath);
  auto node = default_value(key, "NODENAME", kMaxNodeName);
  if (!database || !node) return std::nullopt;
  return HostNames{*database, *node};
}

std::string RegistryHostSettings::error_file_folder() {
  auto driver = reg::get_string(reg::Hive::LocalMachine, kDriverConfigKey, kDriverExeValue);
  if (!driver) return "";
  std::string exe = upper(*driver);
  std::string_view key = kDriverOwnKey;
  if (exe.find("FIX32") != std::string::npos) key = kHostKeyFix32;
  else if (exe.find("DYNAMICS") != std::string::npos) key = kHostKeyDynamics;
  return default_value(key, "PDBPATH", kMaxDatabasePath).value_or("");
}

char RegistryHostSettings::list_separator() {
  auto value = reg::get_string(reg::Hive::CurrentUser, kInternationalKey, "sList");
  if (!value || value->empty()) return ',';
  // A letter, digit or quote would give files that cannot be read back.
  return is_usable_separator((*value)[0]) ? (*value)[0] : ',';
}

}  // namespace hbt::editor
