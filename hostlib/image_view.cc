#include "hostlib/image_view.h"

#include <string_view>

namespace hbt::hostlib {

using namespace hbt::image;

bool ImageView::contains(const void* p, std::size_t n) const {
  auto* q = static_cast<const std::uint8_t*>(p);
  return base != nullptr && q >= base && q <= base + size && n <= static_cast<std::size_t>(base + size - q);
}

std::uint8_t* ImageView::at_offset(std::uint32_t offset, std::size_t n) const {
  if (base == nullptr || std::size_t{offset} > size) return nullptr;
  std::uint8_t* p = base + kFilePrefixSize + offset;
  return contains(p, n) ? p : nullptr;
}

std::uint8_t* ImageView::table_entry(std::uint32_t table_offset, int index, std::size_t entry_size, int count) const {
  if (!valid() || index < 0 || index >= count) return nullptr;
  std::uint8_t* table = at_offset(table_offset, entry_size * static_cast<std::size_t>(count));
  return table ? table + entry_size * static_cast<std::size_t>(index) : nullptr;
}

ChannelRecord* ImageView::channel(int i) const {
  std::uint8_t* entry = table_entry(header ? header->channel_table_offset : 0, i, 4, channels);
  return entry ? reinterpret_cast<ChannelRecord*>(at_offset(load<std::uint32_t>(entry), sizeof(ChannelRecord)))
               : nullptr;
}

DeviceRecord* ImageView::device(int j) const {
  std::uint8_t* entry = table_entry(header ? header->device_table_offset : 0, j, 4, devices);
  return entry ? reinterpret_cast<DeviceRecord*>(at_offset(load<std::uint32_t>(entry), sizeof(DeviceRecord)))
               : nullptr;
}

PollControlEntry* ImageView::control(int k) const {
  return reinterpret_cast<PollControlEntry*>(
      table_entry(header ? header->poll_control_table_offset : 0, k, sizeof(PollControlEntry), records));
}

PollRecordHead* ImageView::record(int k) const {
  PollControlEntry* entry = control(k);
  if (entry == nullptr) return nullptr;
  return reinterpret_cast<PollRecordHead*>(
      at_offset(load<std::uint32_t>(reinterpret_cast<std::uint8_t*>(entry)), sizeof(PollRecordHead)));
}

DataArea ImageView::area(PollRecordHead* record, int kind) const {
  if (record == nullptr || kind < kAreaCurrent || kind > kAreaExceptions) return {};
  const DataAreaRef& ref = record->areas[kind - 1];
  std::uint32_t offset = ref.offset;
  std::size_t n = ref.size;
  auto* start = reinterpret_cast<std::uint8_t*>(record);
  if (!contains(start, std::size_t{offset}) || !contains(start + offset, n)) return {};
  return DataArea{start + offset, n};
}

std::string_view device_name(const DeviceRecord* device) {
  if (device == nullptr) return {};
  // A name that fills the whole field has no terminator; it is all twelve characters, as the
  // poller reads it too.
  return std::string_view(device->name, strnlen(device->name, sizeof device->name));
}

}  // namespace hbt::hostlib
