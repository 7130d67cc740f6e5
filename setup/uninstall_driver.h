// UninstallDriver: takes back what the recorded installations of the driver put on the node,
// in the reverse order of the installation: launchers, the OPC server's registration, shared
// counts, registry values, files and folders, and the registry keys they made. The node's
// configuration files stay.
#pragma once

#include "setup/install_driver.h"
#include "setup/message_port.h"

namespace hbt::setup {

// 1 when everything recorded was taken back; 0 when no installation is recorded or some part
// could not be removed (each said in a message; the rest is still removed).
int uninstall_driver(const InstallSettings& settings, MessagePort& messages);

}  // namespace hbt::setup
