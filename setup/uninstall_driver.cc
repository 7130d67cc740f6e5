#include "setup/uninstall_driver.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <set>

#include "platform/registry.h"
#include "platform/registry_text.h"
#include "setup/install_record.h"
#include "setup/opc_registration.h"
#include "setup/shared_dll_counts.h"

namespace hbt::setup {

namespace {

namespace registry = platform::registry;
using registry::Hive;

constexpr const char* kConfigKey = "Software\\Velmora\\Brenlow\\Config";
constexpr const char* kCategoriesKey = "Component Categories\\";

bool same_content(const registry::Value& a, const registry::Value& b) {
  if (a.type != b.type) return false;
  switch (a.type) {
    case registry::ValueType::String: return a.text == b.text;
    case registry::ValueType::Dword: return a.dword == b.dword;
    case registry::ValueType::Binary: return a.bytes == b.bytes;
  }
  return false;
}

bool key_empty(Hive hive, const std::string& key) {
  return registry::values(hive, key).empty() && registry::subkeys(hive, key).empty();
}

// Children before parents: a child's path is longer than its parent's.
std::vector<std::string> deepest_first(std::vector<std::string> paths) {
  std::stable_sort(paths.begin(), paths.end(), [](const auto& a, const auto& b) { return a.size() > b.size(); });
  return paths;
}

// A component category stays registered while some class still says it implements it: the
// categories are shared by every server of their kind.
bool category_in_use(const std::string& category) {
  for (const auto& clsid : registry::subkeys(Hive::ClassesRoot, "CLSID"))
    if (registry::key_exists(Hive::ClassesRoot, "CLSID\\" + clsid + "\\Implemented Categories\\" + category))
      return true;
  return false;
}

// Makes a stored key implicit again, as the parent of its subkeys, which stay as they are:
// the key and its tree are replaced by the tree without the key's own entry, in one write.
bool unstore_key(Hive hive, const std::string& key) {
  std::vector<registry::TextEntry> entries;
  std::string error;
  if (!registry::parse_text(registry::export_text(), &entries, &error)) return false;
  const std::string root(registry::hive_root_name(hive));
  std::string text = "REGEDIT4\n\n[-" + root + "\\" + key + "]\n";
  const std::string prefix = key + "\\";
  for (const auto& e : entries) {
    if (e.hive != hive || e.key.size() <= prefix.size() ||
        !registry::equal_ignoring_case(e.key.substr(0, prefix.size()), prefix))
      continue;
    if (e.kind == registry::TextEntry::SetKey) text += "\n[" + root + "\\" + e.key + "]\n";
    if (e.kind == registry::TextEntry::SetValue) text += registry::format_value(e.value) + "\n";
  }
  return registry::import_text(text, &error);
}

class Uninstaller {
 public:
  Uninstaller(const InstallRecord& record, const InstallSettings& settings, MessagePort& messages)
      : record_(record), settings_(settings), messages_(messages) {}

  int run() {
    remove_files(record_.launchers, {});
    remove_empty_folders(record_.launcher_folders);
    bool unregistered = true;
    if (record_.registered) {
      unregistered = run_registration(record_.install_directory, settings_.registration_program,
                                      RegistrationStep::kUnregister,
                                      [&](const std::string& message, int error) { failed(message, error); });
    }
    remove_keys(KeyOwner::kRegistration, unregistered);
    std::set<std::string> still_shared = lower_counts();
    // The node's configuration is whatever the driver loads now or the installation set up.
    std::set<std::string> keep = still_shared;
    keep.insert(record_.configuration_file);
    if (auto current = registry::get_string(Hive::LocalMachine, kConfigKey, "ConfigFile")) keep.insert(*current);
    restore_values();
    remove_files(record_.files, keep);
    remove_empty_folders(record_.folders);
    if (!delete_install_record()) failed("Failed to delete the installation record", errno);
    remove_keys(KeyOwner::kInstaller, true);
    return all_done_ ? 1 : 0;
  }

 private:
  void failed(const std::string& message, int error) {
    all_done_ = false;
    messages_.show(kErrorTitle, message + "\nWin32 error code: " + std::to_string(error));
  }

  void remove_files(const std::set<std::string>& files, const std::set<std::string>& keep) {
    for (const auto& file : files) {
      if (keep.count(file)) continue;
      if (unlink(file.c_str()) != 0 && errno != ENOENT)
        failed("Failed to remove " + file + ": " + std::strerror(errno), errno);
    }
  }

  void remove_empty_folders(const std::set<std::string>& folders) {
    // A folder that holds something of somebody else's stays.
    for (const auto& folder : deepest_first({folders.begin(), folders.end()})) rmdir(folder.c_str());
  }

  std::set<std::string> lower_counts() {
    std::set<std::string> still_shared;
    for (const auto& [name, raised] : record_.shared_counts) {
      auto left = lower_shared_count(name, raised);
      if (!left) {
        failed("Failed to lower the shared count of " + name, errno ? errno : EINVAL);
        still_shared.insert(name);
      } else if (*left > 0) {
        still_shared.insert(name);
      }
    }
    return still_shared;
  }

  // Last written first; a value changed since the installation belongs to whoever changed it.
  void restore_values() {
    for (auto v = record_.values.rbegin(); v != record_.values.rend(); ++v) {
      auto current = registry::get_value(v->hive, v->key, v->name);
      bool ours = v->written ? current && same_content(*current, *v->written) : !current;
      if (!ours) continue;
      bool ok = v->previous ? registry::set_value(v->hive, v->key, *v->previous)
                            : registry::delete_value(v->hive, v->key, v->name);
      if (!ok) failed("Failed to restore " + qualified_key(v->hive, v->key) + " " + v->name, errno);
    }
  }

  // Keys that appeared with the installation go when they are empty. Those the registration
  // made go whole when the unregistration failed, so that no class names a removed library.
  void remove_keys(KeyOwner owner, bool only_empty) {
    std::vector<std::string> keys;
    for (const auto& [key, who] : record_.created_keys)
      if (who == owner) keys.push_back(key);
    for (const auto& qualified : deepest_first(keys)) {
      Hive hive;
      std::string key;
      if (!split_qualified_key(qualified, &hive, &key) || !registry::key_exists(hive, key)) continue;
      bool category = hive == Hive::ClassesRoot && key.size() > std::strlen(kCategoriesKey) &&
                      registry::equal_ignoring_case(key.substr(0, std::strlen(kCategoriesKey)), kCategoriesKey);
      bool ok = true;
      if (category) {
        if (!category_in_use(key.substr(std::strlen(kCategoriesKey)))) ok = registry::delete_key(hive, key);
      } else if (!only_empty || key_empty(hive, key)) {
        ok = registry::delete_key(hive, key);
      } else if (registry::values(hive, key).empty()) {
        // It only held subkeys made by others since: they stay.
        ok = unstore_key(hive, key);
      }
      if (!ok) failed("Failed to delete " + qualified, errno);
    }
  }

  const InstallRecord& record_;
  const InstallSettings& settings_;
  MessagePort& messages_;
  bool all_done_ = true;
};

}  // namespace

int uninstall_driver(const InstallSettings& settings, MessagePort& messages) {
  std::optional<InstallRecord> record = load_install_record();
  if (!record) {
    messages.show(kErrorTitle, "No installation of the " + std::string("Brenlow Ethernet Driver") +
                                   " is recorded in the registry " + registry::directory());
    return 0;
  }
  return Uninstaller(*record, settings, messages).run();
}

}  // namespace hbt::setup
