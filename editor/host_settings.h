// The registry facts the editor's file commands depend on: the driver's start-up
// configuration file, the file name the SCADA host expects, where CSV import errors go,
// and the user's list separator.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace hbt::editor {

class HostSettings {
 public:
  virtual ~HostSettings() = default;
  // "ConfigFile" under the driver's Config key, when recorded.
  virtual std::optional<std::string> startup_file() = 0;
  virtual bool set_startup_file(std::string_view path) = 0;
  // The host's database path and node name ("PDBPATH", "NODENAME"), when both are
  // recorded under its key.
  struct HostNames {
    std::string database_path;
    std::string node_name;
  };
  virtual std::optional<HostNames> host_names() = 0;
  // Folder of the import error file; "" when it is not recorded.
  virtual std::string error_file_folder() = 0;
  // First character of the user's list separator setting; ',' when it cannot be read or
  // is no usable separator (is_usable_separator).
  virtual char list_separator() = 0;
};

// The settings as kept in the registry (the stand-in on Linux).
class RegistryHostSettings final : public HostSettings {
 public:
  std::optional<std::string> startup_file() override;
  bool set_startup_file(std::string_view path) override;
  std::optional<HostNames> host_names() override;
  std::string error_file_folder() override;
  char list_separator() override;
};

inline constexpr std::string_view kDriverConfigKey = "Software\\Velmora\\Brenlow\\Config";
inline constexpr std::string_view kStartupValue = "ConfigFile";
inline constexpr std::string_view kDriverExeValue = "DriverExe";
inline constexpr std::string_view kHostKeyDynamics = "Software\\Fix Dynamics";
inline constexpr std::string_view kHostKeyFix32 = "Software\\FixDMACS";
inline constexpr std::string_view kDriverOwnKey = "Software\\Velmora\\Brenlow";
inline constexpr std::string_view kInternationalKey = "Control Panel\\International";
inline constexpr std::size_t kMaxDatabasePath = 512;
inline constexpr std::size_t kMaxNodeName = 64;

}  // namespace hbt::editor
