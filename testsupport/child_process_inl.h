#pragma once

#include "platform/clock.h"

namespace hbt::testsupport {

template <typename Condition>
bool eventually(Condition condition, int timeout_ms) {
  const std::int64_t deadline = platform::monotonic_ns() + std::int64_t{timeout_ms} * 1000000;
  for (;;) {
    if (condition()) return true;
    if (platform::monotonic_ns() > deadline) return false;
    platform::sleep_ms(10);
  }
}

}  // namespace hbt::testsupport
