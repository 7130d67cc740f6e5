// Single loads and stores of the image fields other processes write while this one looks:
// status words, countdowns, the watchdog, statistics counters. The fields are packed and may
// lie on odd addresses; the atomic builtins are applied to the fields' own types, so that no
// pointer of a wider alignment is ever formed (gcc emits plain moves, clang calls libatomic).
#pragma once

#include <cstdint>

#include "image/layout.h"

namespace hbt::points {

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Waddress-of-packed-member"
#ifdef __clang__
#pragma GCC diagnostic ignored "-Watomic-alignment"
#endif

inline std::uint16_t record_status(const image::PollRecordHead* head) {
  return __atomic_load_n(&head->status, __ATOMIC_RELAXED);
}
inline std::int32_t poll_countdown(const image::PollControlEntry* entry) {
  return __atomic_load_n(&entry->poll_countdown, __ATOMIC_RELAXED);
}
inline std::int32_t access_countdown(const image::PollControlEntry* entry) {
  return __atomic_load_n(&entry->access_countdown, __ATOMIC_RELAXED);
}
inline std::uint8_t access_expired(const image::PollControlEntry* entry) {
  return __atomic_load_n(&entry->access_expired, __ATOMIC_RELAXED);
}
inline std::uint16_t changed_count(const image::PollControlEntry* entry) {
  return __atomic_load_n(&entry->changed_count, __ATOMIC_RELAXED);
}
inline std::uint16_t watchdog(const image::ImageHeader* header) {
  return __atomic_load_n(&header->watchdog, __ATOMIC_RELAXED);
}
inline std::uint8_t header_flags(const image::ImageHeader* header) {
  return __atomic_load_n(&header->flags, __ATOMIC_RELAXED);
}
inline std::uint16_t replies_received(const image::ChannelRecord* channel) {
  return __atomic_load_n(&channel->stats.replies_received, __ATOMIC_RELAXED);
}

#pragma GCC diagnostic pop

template <typename T>
T block_field(const T& field) {
  return __atomic_load_n(&field, __ATOMIC_ACQUIRE);
}

}  // namespace hbt::points
