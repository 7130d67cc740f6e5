// InstallDriver: installs the driver on a node from the installation media (the folder that
// holds HBT.inf): files, registry values, menu shortcuts, shared-library counts, the node's
// first configuration file and, on SCADA nodes, the OPC server's registration.
#pragma once

#include <string>

#include "setup/message_port.h"

namespace hbt::setup {

struct InstallArguments {
  int enable = 1;
  int shortcut_mode = 0;  // nonzero: all users' menu for the known host names
  int scada_node = 1;     // nonzero: SCADA node; 0: view-only node
  const char* distribution_path = nullptr;
  const char* install_directory = nullptr;
  const char* data_directory = nullptr;
  const char* node_name = nullptr;
  const char* host_name = nullptr;  // host name or program group; null: no shortcuts
};

// Settings from the environment that a Windows node takes from the system.
struct InstallSettings {
  // Where the INF's system files go and the folder named in the shared-library counts
  // (HBT_SYSTEM_DIR; empty: the install directory, where the programs' run paths look).
  std::string system_directory;
  // Program that registers an in-process server library, in place of regsvr32
  // (HBT_REGSVR; empty: hbtregsvr in the install directory, else on PATH).
  std::string registration_program;
};

InstallSettings settings_from_environment();

// Directory ids of the INF.
constexpr int kDirIdInstall = 65701;
constexpr int kDirIdConfigFile = 65702;
constexpr int kDirIdDriverExe = 65704;
constexpr int kDirIdSystem = 11;
constexpr int kDirIdSource = 1;

// The configuration file the INF records: data directory/<node>.HBT for host install folders
// (containing "DYNAMICS", "FIX" or "PROFIC") when the node has a name, else DEFAULT.HBT in
// the install directory.
std::string configuration_file_path(const std::string& install_directory, const std::string& data_directory,
                                    const std::string& node_name);

// 1 when the file queue was opened and processed (later failures are shown as messages but
// do not change the result); 0 when disabled or on a failure before the file queue.
int install_driver(const InstallArguments& arguments, const InstallSettings& settings, MessagePort& messages);

inline constexpr const char* kErrorTitle = "I/O Server Setup Error";
inline constexpr const char* kAborted = "I/O Server Setup aborted";

}  // namespace hbt::setup
