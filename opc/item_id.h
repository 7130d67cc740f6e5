// The item-ID grammar lives with the host library, whose addresses it extends; the OPC server
// uses it under its own namespace.
#pragma once

#include "hostlib/item_id.h"

namespace hbt::opc {

using hostlib::ItemId;
using hostlib::leading_integer;
using hostlib::leading_number;
using hostlib::OptionFields;
using hostlib::parse_item_id;
using hostlib::split_option_fields;
using hostlib::trim;
using hostlib::upper;

}  // namespace hbt::opc
