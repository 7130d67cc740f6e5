// The OPCITEMPROPERTIES of DA 3.0 browsing: the properties of one item ID from the server's
// property table, as GetProperties and Browse hand them to a client (task memory throughout).
#pragma once

#include "opc/com_base.h"

namespace hbt::opc {

struct PropertyRequest {
  bool all = true;          // every property of the item's kind, in table order
  const DWORD* ids = nullptr;  // otherwise these, in this order
  DWORD count = 0;
  bool with_values = false;
};

// Fills `*out` (zeroed by the caller) for an item ID. Its hrErrorID is S_OK, S_FALSE when a
// requested property is not one of the item's (that entry: OPC_E_INVALID_PID) or could not be
// read, or the binding's failure with no properties. E_OUTOFMEMORY when memory ran out, with
// `*out` cleared again.
HRESULT fill_item_properties(LPCWSTR item_id, const PropertyRequest& request, OPCITEMPROPERTIES* out);

// The same for a branch, which is no item and has none of the properties.
HRESULT fill_branch_properties(const PropertyRequest& request, OPCITEMPROPERTIES* out);

// Frees what the fill functions allocated and zeroes `*p`.
void clear_item_properties(OPCITEMPROPERTIES* p);

}  // namespace hbt::opc
