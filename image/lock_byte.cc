#include "image/lock_byte.h"

#include "platform/clock.h"

namespace hbt::image {

bool lock_byte(std::uint8_t* byte) {
  std::atomic_ref<std::uint8_t> lock(*byte);
  for (int sleeps = 0;; ++sleeps) {
    if (lock.exchange(kLocked, std::memory_order_acquire) != kLocked) return true;
    if (sleeps == kLockWaitSleeps) return false;  // the holder is gone or stuck: take it over
    platform::sleep_ms(1);
  }
}

}  // namespace hbt::image
