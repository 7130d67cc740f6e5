// Time as the points library sees it: a monotonic clock for liveness and rates, wall-clock
// milliseconds for source timestamps, and sleeping. Tests hand a session a clock of their own.
#pragma once

#include <cstdint>

namespace hbt::points {

class Clock {
 public:
  virtual ~Clock() = default;
  virtual std::int64_t monotonic_ms() = 0;
  // Milliseconds since 1970-01-01 UTC.
  virtual std::int64_t unix_ms() = 0;
  virtual void sleep_ms(int milliseconds) = 0;
};

// The system's clocks; one object for the process.
Clock& system_clock();

}  // namespace hbt::points
