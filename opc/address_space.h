// The configuration as an address space: device names and the range texts of a device's
// poll records, copied out of the host library's enumeration buffers, which go straight back.
#pragma once

#include <string>
#include <vector>

#include "opc/com_base.h"

namespace hbt::opc {

// E_FAIL when the host library reports a failure.
HRESULT list_devices(std::vector<std::string>* names);
HRESULT list_ranges(const std::string& device, std::vector<std::string>* ranges);

}  // namespace hbt::opc
