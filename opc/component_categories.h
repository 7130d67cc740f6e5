// The OPC DA server categories of this class, kept where clients look for them
// (HKCR\Component Categories and the class's Implemented Categories).
#pragma once

#include "opc/com_base.h"

namespace hbt::opc {

// Registers the three OPC DA categories and marks the class as implementing them.
HRESULT register_categories();
// Removes the class's implemented-category marks; the categories themselves stay, as other
// servers may implement them.
HRESULT unregister_categories();

}  // namespace hbt::opc
