// Lock bytes in shared memory ('L' locked, 'U' free) that serialise the poller and its clients.
// A lock left at 'L' by a process that died delays the others by at most 31 ms per access,
// after which they take it over.
#pragma once

#include <atomic>
#include <cstdint>

#include "image/layout.h"

namespace hbt::image {

inline constexpr int kLockWaitSleeps = 31;

// Takes the lock: waits while another holder has it, 1 ms at a time, at most 31 times.
// Returns false when it took over a lock that was never released.
bool lock_byte(std::uint8_t* byte);

inline void unlock_byte(std::uint8_t* byte) {
  std::atomic_ref<std::uint8_t>(*byte).store(kUnlocked, std::memory_order_release);
}

class ByteLock {
 public:
  explicit ByteLock(std::uint8_t* byte) : byte_(byte) { lock_byte(byte_); }
  ~ByteLock() { unlock_byte(byte_); }
  ByteLock(const ByteLock&) = delete;
  ByteLock& operator=(const ByteLock&) = delete;

 private:
  std::uint8_t* byte_;
};

// Atomic views of 32-bit counters in shared memory (their offsets are 4-aligned in every
// region, whose base is page-aligned).
inline std::atomic_ref<std::uint32_t> shared_counter(std::uint32_t& field) {
  return std::atomic_ref<std::uint32_t>(field);
}

}  // namespace hbt::image
