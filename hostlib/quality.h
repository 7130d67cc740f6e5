// The OPC quality a value gets from its value status and the call's status word.
#pragma once

#include <cstdint>

#include "hostlib/nio_types.h"

namespace hbt::hostlib {

constexpr std::uint16_t opc_quality(std::int16_t value_status, NioStatus status, std::uint16_t incoming) {
  const auto limit = static_cast<std::uint16_t>(incoming & 3);
  switch (value_status) {
    case 0: return status == kStatusOk ? 0xC0 : static_cast<std::uint16_t>(incoming & 0xFFC3);
    case kValueStatus4162: return 0x55;
    case kValueStatus4163: return 0x56;
    case kValueOutOfRange: return 0x54;
    case 4293: return static_cast<std::uint16_t>(limit | 0x18);  // communication failure
    case 4296: return static_cast<std::uint16_t>(limit | 0x44);  // access time expired
    case 4297: return static_cast<std::uint16_t>(limit | 0x1C);  // not polled
    default: return static_cast<std::uint16_t>(incoming & 0xFFC3);
  }
}

}  // namespace hbt::hostlib
