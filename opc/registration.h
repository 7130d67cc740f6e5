// DllRegisterServer and DllUnregisterServer: the class, its ProgIDs and AppID under
// HKEY_CLASSES_ROOT, the settings subkeys under HKEY_LOCAL_MACHINE, and the OPC categories.
#pragma once

#include <string>

#include "opc/com_base.h"

namespace hbt::opc {

// `module_path` is the library file that InprocServer32 names. The result is that of the
// category registration; individual registry writes that fail are not reported.
HRESULT register_server(const std::string& module_path);
HRESULT unregister_server();

}  // namespace hbt::opc
