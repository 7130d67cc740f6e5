// The exports of setup.so, called by an installation program.
#include <exception>

#include "setup/install_driver.h"
#include "setup/uninstall_driver.h"

namespace {

// Nothing may cross into the caller, which need not be C++ at all.
template <typename Step>
int guarded(Step step) {
  hbt::setup::StandardErrorMessages messages;
  try {
    return step(messages);
  } catch (const std::exception& e) {
    messages.show(hbt::setup::kErrorTitle, std::string(e.what()) + "\n\n" + hbt::setup::kAborted);
  } catch (...) {
    messages.show(hbt::setup::kErrorTitle, std::string("unexpected failure\n\n") + hbt::setup::kAborted);
  }
  return 0;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) int InstallDriver(int enable, int shortcut_mode, int scada_node,
                                                                    const char* distribution_path,
                                                                    const char* install_directory,
                                                                    const char* data_directory, const char* node_name,
                                                                    const char* host_name) {
  hbt::setup::InstallArguments arguments{enable,         shortcut_mode, scada_node, distribution_path,
                                         install_directory, data_directory, node_name, host_name};
  return guarded([&](hbt::setup::MessagePort& messages) {
    return hbt::setup::install_driver(arguments, hbt::setup::settings_from_environment(), messages);
  });
}

// Removes what the installations recorded in the registry put on this node: 1 when all of
// it is gone, 0 otherwise (said on standard error).
extern "C" __attribute__((visibility("default"))) int UninstallDriver() {
  return guarded([&](hbt::setup::MessagePort& messages) {
    return hbt::setup::uninstall_driver(hbt::setup::settings_from_environment(), messages);
  });
}
