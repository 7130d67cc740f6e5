// The class factory of COPCDrvServer and the library entry points built on it.
#pragma once

#include "opc/com_base.h"

namespace hbt::opc {

// DllGetClassObject and DllCanUnloadNow.
HRESULT get_class_object(REFCLSID rclsid, REFIID riid, void** ppv);
HRESULT can_unload_now();

}  // namespace hbt::opc
