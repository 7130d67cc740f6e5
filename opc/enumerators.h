// IEnumUnknown over groups and IEnumString over group names. Each keeps its own reference
// count and, while alive, a reference on the object whose contents it lists.
#pragma once

#include <atomic>
#include <string>
#include <vector>

#include "opc/com_base.h"

namespace hbt::opc {

// Takes over one reference of each element (released when the enumerator goes).
IEnumUnknown* new_unknown_enumerator(IUnknown* parent, std::vector<IUnknown*> elements);
IEnumString* new_string_enumerator(IUnknown* parent, std::vector<std::u16string> elements);

}  // namespace hbt::opc
