// Where a resolved point's value lies in its poll record, and the bookkeeping every access
// does on the record's poll control entry.
#pragma once

#include <cstdint>

#include "hostlib/image_view.h"
#include "hostlib/nio_types.h"

namespace hbt::hostlib {

struct PointPosition {
  int record = 0;
  image::PollRecordHead* head = nullptr;
  image::PollControlEntry* control = nullptr;
  image::ChannelRecord* channel = nullptr;  // null when the handle names no channel
  image::RegisterType type = image::RegisterType::X;
  image::DataType data_type = image::DataType::Unsigned;
  bool word_device = false;
  std::int64_t offset_index = 0;  // address offset - start address
  std::int64_t index = 0;         // the same, moved by the element of an array access
  int address_bit = 0;
  int bit = 0;
  bool valid() const { return head != nullptr && control != nullptr; }
};

// The point on poll record `record` (from the address's register word and handle).
PointPosition locate(const ImageView& view, const NioAddress& address, int record);

// Moves the position to element `element` of a run of values for the point's kind, and
// checks that it lies in the record. kStatusOk or kStatusBadAddress.
NioStatus apply_element(PointPosition* p, std::uint8_t kind, std::uint16_t element);

// The point's exception entry in data area 5, or -1 when the record has none for it.
int exception_entry_index(const PointPosition& p);

// The 16-bit word `i` of a data area; false when it lies outside.
bool area_word(const DataArea& area, std::int64_t i, std::uint16_t* out);

// The changed count is also read without the entry lock (by nio_fetch's scan), so every
// access to it is a single indivisible 16-bit load or store. The field is packed and may lie
// on an odd address: the atomic builtins are told so through the field's own type (gcc
// inlines them as plain 16-bit moves, clang calls libatomic, which does the same on x86-64),
// and no pointer of the wider alignment is ever formed.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Waddress-of-packed-member"
#ifdef __clang__
#pragma GCC diagnostic ignored "-Watomic-alignment"
#endif
inline std::uint16_t load_changed_count(const image::PollControlEntry* c) {
  return __atomic_load_n(&c->changed_count, __ATOMIC_RELAXED);
}
inline void store_changed_count(image::PollControlEntry* c, std::uint16_t v) {
  __atomic_store_n(&c->changed_count, v, __ATOMIC_RELAXED);
}
#pragma GCC diagnostic pop

// Holding the entry lock: reload the access countdown, clear the expired flag, and lower the
// changed count by the changes this access consumed.
void finish_access(const PointPosition& p, int consumed_changes);

// Holding the record lock: clears the point's changed flag; 1 when it was set.
int take_change(const ImageView& view, const PointPosition& p);

}  // namespace hbt::hostlib
