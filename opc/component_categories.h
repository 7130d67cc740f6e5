// The OPC DA server categories of this class, where clients look for servers.
#pragma once

#include "opc/com_base.h"

namespace hbt::opc {

// Through the runtime's standard component-categories manager: registers the three OPC DA
// categories and marks the class as implementing them; the result is that of the marking.
HRESULT register_categories();
// Removes the class's marks; the categories themselves stay, as other servers implement them.
HRESULT unregister_categories();

}  // namespace hbt::opc
