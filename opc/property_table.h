// The item properties the server offers: identifier, the VARTYPE QueryAvailableProperties
// announces, the description, and which item kinds list it. The order is the order of every
// list handed out.
#pragma once

#include <cstdint>
#include <vector>

#include "opc/com_base.h"

namespace hbt::opc {

struct ItemProperty {
  DWORD id;
  VARTYPE type;
  const char16_t* description;
  bool analog, digital, text;
};

inline constexpr ItemProperty kItemProperties[] = {
    {1, VT_I2, u"Item Canonical Data Type", true, true, true},
    {2, VT_VARIANT, u"Item Value", true, true, true},
    {3, VT_I2, u"Item Quality", true, true, true},
    {4, VT_DATE, u"Item TimeStamp", true, true, true},
    {5, VT_I4, u"Item Access Rights", true, true, true},
    {6, VT_R4, u"Server Scan Rate", true, true, true},
    {100, VT_BSTR, u"EU Units", true, false, false},
    {102, VT_R8, u"High EGU", true, false, false},
    {103, VT_R8, u"Lo EGU", true, false, false},
    {106, VT_BSTR, u"Contact Close Label", false, true, false},
    {107, VT_BSTR, u"Contact Open Label", false, true, false},
    {5000, VT_BSTR, u"Signal Conditioning", true, false, false},
    {5001, VT_BSTR, u"Hardware Options", true, false, true},
    {5002, VT_I4, u"String length", false, false, true},
    {5003, VT_BSTR, u"IO Address", true, true, true},
    {5004, VT_I4, u"Decimal places", true, false, false},
    {5005, VT_I4, u"Num Items", true, true, true},
};

// The properties an item of the host library's kind lists (anything neither digital nor
// text counts as analog).
std::vector<const ItemProperty*> properties_for_kind(std::uint8_t kind);
// The entry of an identifier; null when the server has no such property.
const ItemProperty* find_property(DWORD id);

}  // namespace hbt::opc
