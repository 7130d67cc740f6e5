#include "platform/clock.h"

#include <ctime>
#include <cerrno>

namespace hbt::platform {

std::int64_t monotonic_ns() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<std::int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

std::uint32_t tick_count_ms() { return static_cast<std::uint32_t>(monotonic_ns() / 1000000); }

void sleep_ms(int milliseconds) {
  if (milliseconds <= 0) return;
  timespec ts{milliseconds / 1000, static_cast<long>(milliseconds % 1000) * 1000000};
  while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
  }
}

LocalTime local_time_now() {
  std::time_t now = std::time(nullptr);
  std::tm tm{};
  localtime_r(&now, &tm);
  return {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
}

std::int64_t unix_time_now() { return static_cast<std::int64_t>(std::time(nullptr)); }

}  // namespace hbt::platform
