// The poller's liveness as a host judges it: the image header's watchdog, read twice through
// the host library, and the library's status line.
#pragma once

#include <cstdint>
#include <string>

namespace hbt::hbtio {

struct WatchdogSample {
  bool available = false;  // the host library could be loaded
  std::uint16_t first = 0;
  std::uint16_t second = 0;
  bool advancing = false;  // the poller ticked between the two readings
  std::string server_status;
};

// Loads the host library (which attaches to the running driver) and reads the watchdog
// `interval_ms` apart.
WatchdogSample sample_watchdog(int interval_ms = 100);

}  // namespace hbt::hbtio
