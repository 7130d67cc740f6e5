#include "opc/property_table.h"

#include "hostlib/nio_types.h"

namespace hbt::opc {

std::vector<const ItemProperty*> properties_for_kind(std::uint8_t kind) {
  std::vector<const ItemProperty*> out;
  for (const ItemProperty& p : kItemProperties) {
    bool listed = kind == hostlib::kKindDigital ? p.digital : kind == hostlib::kKindText ? p.text : p.analog;
    if (listed) out.push_back(&p);
  }
  return out;
}

const ItemProperty* find_property(DWORD id) {
  for (const ItemProperty& p : kItemProperties)
    if (p.id == id) return &p;
  return nullptr;
}

}  // namespace hbt::opc
