#include "points/record_layout.h"

#include <algorithm>

#include "hostlib/address_text.h"
#include "hbt_points.h"

namespace hbt::points {

using image::DataType;

RecordLayout layout_of(const RecordShape& shape) {
  RecordLayout l;
  const auto type = static_cast<DataType>(shape.data_type);
  if (!image::is_word_device(shape.type)) {
    // A bit device holds bits whatever data type the record names; the host reads it so.
    l.layout = Layout::kBits;
    l.point_count = shape.length;
    l.point_type = HBT_POINT_BOOL;
  } else {
    switch (type) {
      case DataType::Digital:
        l.layout = Layout::kWordBits;
        l.point_count = 16 * shape.length;
        l.point_type = HBT_POINT_BOOL;
        break;
      case DataType::Signed:
      case DataType::Unsigned:
        l.layout = Layout::kWords16;
        l.point_count = shape.length;
        l.point_type = type == DataType::Signed ? HBT_POINT_INT16 : HBT_POINT_UINT16;
        break;
      case DataType::Float:
      case DataType::LongUnsigned:
      case DataType::LongSigned:
        // A last register without its partner holds no value: the host refuses it too.
        l.layout = Layout::kWords32;
        l.point_count = shape.length / 2;
        l.point_type = type == DataType::Float          ? HBT_POINT_FLOAT
                       : type == DataType::LongUnsigned ? HBT_POINT_UINT32
                                                        : HBT_POINT_INT32;
        break;
      case DataType::Ascii:
        l.layout = Layout::kText;
        l.point_count = (shape.length + kTextPieceRegisters - 1) / kTextPieceRegisters;
        l.point_type = HBT_POINT_STRING;
        break;
      default:
        break;
    }
  }
  // Addresses are 24 bits: points past the end of the address space do not exist.
  const std::uint64_t span = l.layout == Layout::kBits ? l.point_count : shape.length;
  if (std::uint64_t{shape.start} + span > 0x1000000) {
    const std::uint64_t room = 0x1000000 - std::min<std::uint64_t>(shape.start, 0x1000000);
    switch (l.layout) {
      case Layout::kBits: l.point_count = static_cast<std::uint32_t>(room); break;
      case Layout::kWordBits: l.point_count = static_cast<std::uint32_t>(16 * room); break;
      case Layout::kWords16: l.point_count = static_cast<std::uint32_t>(room); break;
      case Layout::kWords32: l.point_count = static_cast<std::uint32_t>(room / 2); break;
      case Layout::kText: l.point_count = static_cast<std::uint32_t>((room + kTextPieceRegisters - 1) / kTextPieceRegisters); break;
      case Layout::kNone: break;
    }
  }
  return l;
}

PointPlace place_of(const RecordShape& shape, const RecordLayout& layout, std::uint32_t local) {
  PointPlace p;
  switch (layout.layout) {
    case Layout::kBits:
      p.offset = shape.start + local;
      p.kind = 2;
      p.first_word = local / 16;
      p.word_count = 1;
      p.bit_mask = static_cast<std::uint16_t>(1u << (local % 16));
      break;
    case Layout::kWordBits:
      p.offset = shape.start + local / 16;
      p.bit = static_cast<std::uint8_t>(local % 16);
      p.kind = 2;
      p.first_word = local / 16;
      p.word_count = 1;
      p.bit_mask = static_cast<std::uint16_t>(1u << p.bit);
      break;
    case Layout::kWords16:
      p.offset = shape.start + local;
      p.kind = 1;
      p.first_word = local;
      p.word_count = 1;
      break;
    case Layout::kWords32:
      p.offset = shape.start + 2 * local;
      p.kind = 1;
      p.first_word = 2 * local;
      p.word_count = 2;
      break;
    case Layout::kText: {
      const std::uint32_t first = kTextPieceRegisters * local;
      p.offset = shape.start + first;
      p.kind = 3;
      p.first_word = first;
      p.word_count = std::min(kTextPieceRegisters, shape.length - std::min(shape.length, first));
      p.text_length = 2 * p.word_count;
      break;
    }
    case Layout::kNone:
      break;
  }
  return p;
}

std::uint32_t register_word_of(const RecordShape& shape, const PointPlace& place) {
  return static_cast<std::uint32_t>(shape.type) << 28 | std::uint32_t{place.bit} << 24 | (place.offset & 0xFFFFFF);
}

std::string item_id_of(std::string_view device, const RecordShape& shape, const PointPlace& place) {
  std::string id = hostlib::display_address(device, register_word_of(shape, place), shape.ex_number, place.kind);
  if (place.kind == 3) id += "$" + std::to_string(place.text_length);
  return id;
}

}  // namespace hbt::points
