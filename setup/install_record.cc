#include "setup/install_record.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>

#include "platform/registry_text.h"

namespace hbt::setup {

namespace {

namespace registry = platform::registry;
using registry::Hive;
using registry::Value;
using registry::ValueType;

constexpr const char* kFiles = "Files";
constexpr const char* kFolders = "Folders";
constexpr const char* kLaunchers = "Launchers";
constexpr const char* kLauncherFolders = "LauncherFolders";
constexpr const char* kKeys = "Keys";
constexpr const char* kSharedCounts = "SharedCounts";
constexpr const char* kValues = "Values";

std::string lower(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return text;
}

std::string section(const std::string& key) {
  return "[" + std::string(registry::hive_root_name(Hive::LocalMachine)) + "\\" + key + "]\n";
}

Value named(std::string name, Value value) {
  value.name = std::move(name);
  return value;
}

Value text_value(const std::string& name, const std::string& text) {
  Value v;
  v.name = name;
  v.type = ValueType::String;
  v.text = text;
  return v;
}

Value dword_value(const std::string& name, std::uint32_t number) {
  Value v;
  v.name = name;
  v.type = ValueType::Dword;
  v.dword = number;
  return v;
}

std::string value_lines(const std::vector<Value>& values) {
  std::string out;
  for (const auto& v : values) out += registry::format_value(v) + "\n";
  return out;
}

std::string subkey(const std::string& name) { return std::string(kInstallRecordKey) + "\\" + name; }

std::vector<Value> stored_values(const std::string& name) { return registry::values(Hive::LocalMachine, subkey(name)); }

std::set<std::string> name_set(const std::string& name) {
  std::set<std::string> out;
  for (const auto& v : stored_values(name)) out.insert(v.name);
  return out;
}

bool same_value(const RecordedValue& a, const RecordedValue& b) {
  return a.hive == b.hive && registry::equal_ignoring_case(a.key, b.key) && registry::equal_ignoring_case(a.name, b.name);
}

}  // namespace

std::string qualified_key(Hive hive, const std::string& path) {
  const char* root = hive == Hive::LocalMachine ? "HKLM" : hive == Hive::CurrentUser ? "HKCU" : "HKCR";
  return path.empty() ? root : std::string(root) + "\\" + path;
}

bool split_qualified_key(const std::string& qualified, Hive* hive, std::string* path) {
  return registry::split_root(qualified, hive, path);
}

void InstallRecord::merge(const InstallRecord& later) {
  if (!later.install_directory.empty()) install_directory = later.install_directory;
  if (!later.system_directory.empty()) system_directory = later.system_directory;
  if (!later.configuration_file.empty()) configuration_file = later.configuration_file;
  registered = registered || later.registered;
  files.insert(later.files.begin(), later.files.end());
  folders.insert(later.folders.begin(), later.folders.end());
  launchers.insert(later.launchers.begin(), later.launchers.end());
  launcher_folders.insert(later.launcher_folders.begin(), later.launcher_folders.end());
  for (const auto& value : later.values) {
    auto found = std::find_if(values.begin(), values.end(), [&](const RecordedValue& v) { return same_value(v, value); });
    if (found == values.end()) {
      values.push_back(value);
    } else {
      found->written = value.written;  // what was there before the first installation stays
    }
  }
  for (const auto& [key, owner] : later.created_keys) created_keys.emplace(key, owner);
  for (const auto& [name, count] : later.shared_counts) shared_counts[name] += count;
}

void RegistryJournal::before_write(Hive hive, const std::string& key, const std::string& name) {
  RecordedValue v;
  v.hive = hive;
  v.key = registry::normalise_key_path(key);
  v.name = name;
  v.previous = registry::get_value(hive, key, name);
  pending_ = std::move(v);
}

void RegistryJournal::written(Hive hive, const std::string& key, const std::string& name,
                              const std::optional<Value>& written) {
  RecordedValue v;
  const std::string path = registry::normalise_key_path(key);
  if (pending_ && pending_->hive == hive && pending_->key == path && pending_->name == name) {
    v = std::move(*pending_);
  } else {
    v.hive = hive;
    v.key = path;
    v.name = name;
  }
  pending_.reset();
  v.written = written;
  auto found = std::find_if(values_.begin(), values_.end(), [&](const RecordedValue& r) { return same_value(r, v); });
  if (found == values_.end()) {
    values_.push_back(std::move(v));
  } else {
    found->written = v.written;
  }
}

std::map<std::string, std::string> stored_keys() {
  std::map<std::string, std::string> keys;
  std::vector<registry::TextEntry> entries;
  std::string ignored;
  if (!registry::parse_text(registry::export_text(), &entries, &ignored)) return keys;
  for (const auto& e : entries) {
    if (e.kind != registry::TextEntry::SetKey || e.key.empty()) continue;
    std::string q = qualified_key(e.hive, e.key);
    keys.emplace(lower(q), q);
  }
  return keys;
}

std::vector<std::string> keys_added(const std::map<std::string, std::string>& before,
                                    const std::map<std::string, std::string>& after) {
  std::vector<std::string> added;
  for (const auto& [folded, stored] : after)
    if (!before.count(folded)) added.push_back(stored);
  return added;
}

std::optional<InstallRecord> load_install_record() {
  if (!registry::key_exists(Hive::LocalMachine, kInstallRecordKey)) return std::nullopt;
  InstallRecord r;
  r.install_directory = registry::get_string(Hive::LocalMachine, kInstallRecordKey, "InstallDir").value_or("");
  r.system_directory = registry::get_string(Hive::LocalMachine, kInstallRecordKey, "SystemDir").value_or("");
  r.configuration_file = registry::get_string(Hive::LocalMachine, kInstallRecordKey, "ConfigFile").value_or("");
  r.registered = registry::get_dword(Hive::LocalMachine, kInstallRecordKey, "Registered").value_or(0) != 0;
  r.files = name_set(kFiles);
  r.folders = name_set(kFolders);
  r.launchers = name_set(kLaunchers);
  r.launcher_folders = name_set(kLauncherFolders);
  for (const auto& v : stored_values(kKeys))
    if (v.type == ValueType::Dword) r.created_keys.emplace(v.name, static_cast<KeyOwner>(v.dword));
  for (const auto& v : stored_values(kSharedCounts))
    if (v.type == ValueType::Dword) r.shared_counts[v.name] = v.dword;
  std::vector<std::string> numbers = registry::subkeys(Hive::LocalMachine, subkey(kValues));
  std::sort(numbers.begin(), numbers.end(),
            [](const std::string& a, const std::string& b) { return std::stoul("0" + a) < std::stoul("0" + b); });
  for (const auto& number : numbers) {
    std::string key = subkey(kValues) + "\\" + number;
    RecordedValue v;
    auto where = registry::get_string(Hive::LocalMachine, key, "Key");
    auto name = registry::get_string(Hive::LocalMachine, key, "Name");
    if (!where || !name || !split_qualified_key(*where, &v.hive, &v.key)) continue;
    v.name = *name;
    if (auto w = registry::get_value(Hive::LocalMachine, key, "Written")) v.written = named(v.name, *w);
    if (auto p = registry::get_value(Hive::LocalMachine, key, "Previous")) v.previous = named(v.name, *p);
    r.values.push_back(std::move(v));
  }
  return r;
}

bool save_install_record(const InstallRecord& r) {
  std::string text = "REGEDIT4\n\n[-" + std::string(registry::hive_root_name(Hive::LocalMachine)) + "\\" +
                     kInstallRecordKey + "]\n\n";
  text += section(kInstallRecordKey) +
          value_lines({text_value("InstallDir", r.install_directory), text_value("SystemDir", r.system_directory),
                       text_value("ConfigFile", r.configuration_file), dword_value("Registered", r.registered)}) +
          "\n";
  auto name_list = [&](const char* name, const std::set<std::string>& items) {
    std::vector<Value> lines;
    for (const auto& item : items) lines.push_back(dword_value(item, 1));
    text += section(subkey(name)) + value_lines(lines) + "\n";
  };
  name_list(kFiles, r.files);
  name_list(kFolders, r.folders);
  name_list(kLaunchers, r.launchers);
  name_list(kLauncherFolders, r.launcher_folders);
  std::vector<Value> keys, counts;
  for (const auto& [key, owner] : r.created_keys) keys.push_back(dword_value(key, static_cast<std::uint32_t>(owner)));
  for (const auto& [name, count] : r.shared_counts) counts.push_back(dword_value(name, count));
  text += section(subkey(kKeys)) + value_lines(keys) + "\n";
  text += section(subkey(kSharedCounts)) + value_lines(counts) + "\n";
  int n = 0;
  for (const auto& v : r.values) {
    char number[16];
    std::snprintf(number, sizeof number, "%04d", ++n);
    std::vector<Value> lines = {text_value("Key", qualified_key(v.hive, v.key)), text_value("Name", v.name)};
    if (v.written) lines.push_back(named("Written", *v.written));
    if (v.previous) lines.push_back(named("Previous", *v.previous));
    text += section(subkey(kValues) + "\\" + number) + value_lines(lines) + "\n";
  }
  std::string error;
  if (registry::import_text(text, &error)) return true;
  if (errno == 0) errno = EINVAL;
  return false;
}

bool delete_install_record() { return registry::delete_key(Hive::LocalMachine, kInstallRecordKey); }

}  // namespace hbt::setup
