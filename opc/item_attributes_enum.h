// IEnumOPCItemAttributes over a snapshot of a group's items.
#pragma once

#include <vector>

#include "opc/com_base.h"

namespace hbt::opc {

// Takes over the snapshot; holds a reference on `group` for each of its own. Null when
// memory runs out.
IEnumOPCItemAttributes* new_item_attributes_enumerator(IUnknown* group, std::vector<OPCITEMATTRIBUTES> snapshot);

}  // namespace hbt::opc
