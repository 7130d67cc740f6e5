#include "hostlib/point_position.h"

#include "image/lock_byte.h"

namespace hbt::hostlib {

using namespace hbt::image;

PointPosition locate(const ImageView& view, const NioAddress& address, int record) {
  PointPosition p;
  p.record = record;
  p.head = view.record(record);
  p.control = view.control(record);
  if (!p.valid()) return p;
  p.channel = view.channel(static_cast<int>((address.handle >> kHandleChannelShift) & 31));
  p.type = static_cast<RegisterType>(address.reg >> 28);
  p.data_type = static_cast<DataType>(p.head->data_type);
  p.word_device = is_word_device(p.type);
  p.offset_index = static_cast<std::int64_t>(address.reg & 0xFFFFFF) - address_start(p.head->address_word);
  p.index = p.offset_index;
  p.address_bit = static_cast<int>((address.reg >> 24) & 0xF);
  p.bit = p.address_bit;
  return p;
}

NioStatus apply_element(PointPosition* p, std::uint8_t kind, std::uint16_t element) {
  const std::int64_t length = p->head->length;
  if (element != 0) {
    if (kind == 1 && is_32_bit(p->data_type)) {
      p->index += 2 * std::int64_t{element};
      if (p->index + 1 >= length) return kStatusBadAddress;  // the whole value must be inside
    } else if (kind == 1) {
      p->index += element;
    } else if (kind == 2 && p->word_device) {
      p->bit += element;
      p->index += p->bit / 16;
      p->bit %= 16;
    } else if (kind == 2) {
      p->index += element;
    }
  }
  return p->index >= 0 && p->index < length ? kStatusOk : kStatusBadAddress;
}

int exception_entry_index(const PointPosition& p) {
  std::int64_t index = p.offset_index;
  if (static_cast<ExceptionType>(p.head->exception_type) == ExceptionType::Digital && p.word_device) {
    index = index * 16 + p.address_bit;
    if (is_32_bit(p.data_type)) index >>= 1;
  }
  return index < 0 || index > 0xFFFFFF ? -1 : static_cast<int>(index);
}

bool area_word(const DataArea& area, std::int64_t i, std::uint16_t* out) {
  if (i < 0 || static_cast<std::uint64_t>(i) * 2 + 2 > area.size) return false;
  *out = load<std::uint16_t>(area.data + 2 * i);
  return true;
}

void finish_access(const PointPosition& p, int consumed_changes) {
  ByteLock lock(&p.control->lock);
  p.control->access_countdown = p.head->access_time;
  p.control->access_expired = 0;
  if (consumed_changes > 0) {
    std::uint16_t changed = load_changed_count(p.control);
    store_changed_count(p.control, static_cast<std::uint16_t>(changed > consumed_changes ? changed - consumed_changes : 0));
  }
}

int take_change(const ImageView& view, const PointPosition& p) {
  if (static_cast<ExceptionType>(p.head->exception_type) == ExceptionType::Disabled) return 0;
  int entry = exception_entry_index(p);
  DataArea table = view.area(p.head, kAreaExceptions);
  if (entry < 0 || static_cast<std::size_t>(entry) * sizeof(ExceptionEntry) + sizeof(ExceptionEntry) > table.size)
    return 0;
  std::uint8_t* changed = table.data + entry * sizeof(ExceptionEntry);
  if (*changed != 1) return 0;
  *changed = 0;
  return 1;
}

}  // namespace hbt::hostlib
