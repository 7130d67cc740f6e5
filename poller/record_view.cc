#include "poller/record_view.h"

#include "image/lock_byte.h"

namespace hbt::poller {

using namespace hbt::image;

std::optional<RecordView> view_record(Niolib& niolib, int k) {
  PollControlEntry* entry = niolib.nio_map_ptr(k);
  if (entry == nullptr || !niolib.in_image(entry, sizeof(PollControlEntry))) return std::nullopt;
  PollRecordHead* head = niolib.nio_map_dit(k);
  if (head == nullptr) return std::nullopt;
  RecordView view;
  view.index = k;
  view.head = head;
  view.entry = entry;
  auto area = [&](int kind) -> std::span<std::uint8_t> {
    const DataAreaRef& ref = head->areas[kind - 1];
    std::uint8_t* p = reinterpret_cast<std::uint8_t*>(head) + ref.offset;
    if (ref.size == 0 || !niolib.in_image(p, ref.size)) return {};
    return {p, ref.size};
  };
  view.values = area(kAreaCurrent);
  view.write_values = area(kAreaWriteValues);
  view.write_flags = area(kAreaWriteFlags);
  view.exceptions = ExceptionTable(area(kAreaExceptions));
  return view;
}

PollControlEntry* control_entries(Niolib& niolib, int first, int count) {
  if (count <= 0) return nullptr;
  PollControlEntry* entries = niolib.nio_map_ptr(first);
  if (entries == nullptr || niolib.nio_map_ptr(first + count - 1) == nullptr) return nullptr;
  if (!niolib.in_image(entries, sizeof(PollControlEntry) * static_cast<std::size_t>(count))) return nullptr;
  return entries;
}

void add_changed(PollControlEntry* entry, int flagged) {
  if (flagged == 0 || entry == nullptr) return;
  ByteLock lock(&entry->lock);
  entry->changed_count = static_cast<std::uint16_t>(entry->changed_count + flagged);
}

}  // namespace hbt::poller
