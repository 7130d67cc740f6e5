// What an installation put on the node, kept in the registry beside the product's values so
// that the driver can be uninstalled without the installation media: the files and folders
// it made, the launchers, the registry values it wrote (with what they held before), the
// registry keys that appeared, the shared counts it raised and whether it registered the OPC
// server. A second installation adds to the record of the first.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/registry.h"

namespace hbt::setup {

inline constexpr const char* kInstallRecordKey = "Software\\Velmora\\Brenlow\\Uninstall";

// A key of one hive, as "HKLM\\path", "HKCU\\path" or "HKCR\\path".
std::string qualified_key(platform::registry::Hive hive, const std::string& path);
bool split_qualified_key(const std::string& qualified, platform::registry::Hive* hive, std::string* path);

struct RecordedValue {
  platform::registry::Hive hive = platform::registry::Hive::LocalMachine;
  std::string key;
  std::string name;
  std::optional<platform::registry::Value> written;   // none: the installation deleted it
  std::optional<platform::registry::Value> previous;  // none: it did not exist before
};

// Who made a key that the installation found missing before it began.
enum class KeyOwner : std::uint32_t { kInstaller = 1, kRegistration = 2 };

struct InstallRecord {
  std::string install_directory;
  std::string system_directory;
  std::string configuration_file;  // the node's configuration: an uninstallation never removes it
  bool registered = false;         // the OPC server was registered from the install directory
  std::set<std::string> files;     // created or replaced
  std::set<std::string> folders;   // created
  std::set<std::string> launchers;
  std::set<std::string> launcher_folders;
  std::vector<RecordedValue> values;                // in the order written
  std::map<std::string, KeyOwner> created_keys;     // qualified key -> owner
  std::map<std::string, std::uint32_t> shared_counts;  // SharedDlls value name -> times raised

  // Adds a later installation's record: sets grow, a value written again keeps the first
  // installation's previous content, counts add up.
  void merge(const InstallRecord& later);
};

// Notes every registry value an installation step writes, with what it held before.
class RegistryJournal {
 public:
  // Call before writing: remembers the value as it is now.
  void before_write(platform::registry::Hive hive, const std::string& key, const std::string& name);
  // Call after a successful write (written: none for a deletion).
  void written(platform::registry::Hive hive, const std::string& key, const std::string& name,
               const std::optional<platform::registry::Value>& written);
  const std::vector<RecordedValue>& values() const { return values_; }

 private:
  std::vector<RecordedValue> values_;
  std::optional<RecordedValue> pending_;
};

// The keys stored in every hive now, qualified; compared without regard to case.
std::map<std::string, std::string> stored_keys();  // lower-case qualified -> as stored

// Keys stored in `after` but not in `before` (some may have existed as the parent of a
// stored key, which an uninstallation keeps).
std::vector<std::string> keys_added(const std::map<std::string, std::string>& before,
                                    const std::map<std::string, std::string>& after);

// Reads the record; none when no installation is recorded.
std::optional<InstallRecord> load_install_record();
// Replaces the stored record in one write. False with errno set when the registry refuses.
bool save_install_record(const InstallRecord& record);
bool delete_install_record();

}  // namespace hbt::setup
