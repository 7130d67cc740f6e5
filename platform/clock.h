// Tick counts, sleeps and the local wall-clock time.
#pragma once

#include <cstdint>

namespace hbt::platform {

// Milliseconds since an arbitrary start, wrapping at 2^32 like a system tick count.
std::uint32_t tick_count_ms();

// Monotonic time in nanoseconds, for measurements.
std::int64_t monotonic_ns();

void sleep_ms(int milliseconds);

struct LocalTime {
  int year, month, day, hour, minute, second;
};
LocalTime local_time_now();

// Seconds since 1970-01-01 UTC.
std::int64_t unix_time_now();

}  // namespace hbt::platform
