// A scratch item: bound for one call of item properties or direct item access, with no group
// and no messages, from an item ID alone.
#pragma once

#include "opc/com_base.h"
#include "opc/item.h"

namespace hbt::opc {

// An item ID of this many wide characters or more is treated as no ID at all.
inline constexpr std::size_t kScratchIdLimit = 64;

// Binds `item` as AddItems would an active item with client handle 1, no access path and no
// requested type; the binding's result.
HRESULT bind_scratch(COPCDrvItem& item, LPCWSTR item_id, OPCHANDLE server_handle);

}  // namespace hbt::opc
