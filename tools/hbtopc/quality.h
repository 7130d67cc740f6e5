// OPC quality words as people and scripts read them: the 8 bits of quality and substatus with
// the two limit bits (0x00..0xFF), named after the OPC DA quality flags.
#pragma once

#include <cstdint>
#include <string>

namespace hbt::hbtopc {

// "good", "bad_out_of_service", "uncertain_last_usable_value", ... with "+low", "+high" or
// "+constant" for the limit bits; a substatus OPC does not define is named by its number.
std::string quality_name(std::uint16_t quality);

}  // namespace hbt::hbtopc
