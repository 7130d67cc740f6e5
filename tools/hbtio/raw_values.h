// Reading data area 1 of a poll record as the values it holds, for display.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "image/layout.h"

namespace hbt::hbtio {

const char* data_type_name(std::uint16_t data_type);
const char* status_name(std::uint16_t status);

// The first values of area 1 as text ("12 -3 4.5 ...", "0110..." for bits, "ABC" for text).
std::string format_values(const image::PollRecordHead& record, const std::vector<std::uint8_t>& area,
                          std::size_t max_values = 8);

}  // namespace hbt::hbtio
