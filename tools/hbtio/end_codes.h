// What the MC protocol's abnormal end codes (3E) and completion codes (1E) mean, in plain
// words, and which of them say that the range asked for lies outside the CPU's devices.
#pragma once

#include <cstdint>
#include <string>

namespace hbt::hbtio {

// 3E end code, e.g. 0xC056.
std::string end_code_text(std::uint16_t code);
// 1E completion code, with the extended code that follows 0x5B.
std::string completion_code_text(std::uint8_t code, std::uint8_t extended);

// Codes that refuse a range of devices (the head, the count or the end beyond the CPU's).
bool is_range_end_code(std::uint16_t code);
bool is_range_completion_code(std::uint8_t code);
// Codes that say the addressed station, network or CPU is not there.
bool is_station_end_code(std::uint16_t code);
bool is_station_completion_code(std::uint8_t code, std::uint8_t extended);

}  // namespace hbt::hbtio
