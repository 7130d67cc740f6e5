// Where each channel's read and write scans resume, and whose turn it is.
#pragma once

#include <cstdint>

namespace hbt::poller {

struct ChannelSchedule {
  std::uint8_t reads_first = 1;  // turn: 1 reads first, 0 writes first
  std::uint16_t read_cursor = 0;
  std::uint16_t write_cursor = 0;
};

}  // namespace hbt::poller
