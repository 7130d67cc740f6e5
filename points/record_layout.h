// How the values of one poll record become points: one per bit of a bit device or of a
// Digital word record, one per register of a 16-bit record, one per register pair of a
// 32-bit record, and the text of an ASCII record (in pieces of at most 63 registers, the most
// one host text access carries). Also which points a changed word of data area 1 touches.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "image/layout.h"

namespace hbt::points {

enum class Layout : std::uint8_t { kNone, kBits, kWordBits, kWords16, kWords32, kText };

inline constexpr std::uint32_t kTextPieceRegisters = 63;

struct RecordShape {
  image::RegisterType type = image::RegisterType::D;
  std::uint32_t start = 0;
  std::uint32_t length = 0;  // points of a bit device, registers of a word device
  std::uint16_t data_type = 0;
  std::uint8_t ex_number = 0;
};

struct RecordLayout {
  Layout layout = Layout::kNone;
  std::uint32_t point_count = 0;
  std::uint8_t point_type = 0;  // hbt_point_type of every point of the record
};

RecordLayout layout_of(const RecordShape& shape);

// Where point `local` of a record lies: its address for the host and the words of data area 1
// it is read from.
struct PointPlace {
  std::uint32_t offset = 0;      // register (or bit address of a bit device)
  std::uint8_t bit = 0;          // bit of a word, for the points of Digital word records
  std::uint8_t kind = 0;         // the host's kind: 1 analog, 2 digital, 3 text
  std::uint32_t first_word = 0;  // in data area 1
  std::uint32_t word_count = 0;
  std::uint16_t bit_mask = 0;    // bits of first_word the point is; 0 for whole words
  std::uint32_t text_length = 0;
};

PointPlace place_of(const RecordShape& shape, const RecordLayout& layout, std::uint32_t local);

// The host's register word of a place (type, bit, offset).
std::uint32_t register_word_of(const RecordShape& shape, const PointPlace& place);

// "QPLC1:D:100", "QPLC1:X:1F", "QPLC1:D:500:3", "QPLC1:EX:2:300", "QPLC1:D:400$20": the host's
// display form of the address, and for text the OPC text item's length.
std::string item_id_of(std::string_view device, const RecordShape& shape, const PointPlace& place);

// Calls f(local) for every point of the record that word `word` of area 1 holds and whose bits
// are in `changed_bits` (a whole-word value counts when any bit changed).
template <typename F>
void points_of_word(const RecordLayout& layout, std::uint32_t word, std::uint16_t changed_bits, F f) {
  if (changed_bits == 0) return;
  switch (layout.layout) {
    case Layout::kBits:
    case Layout::kWordBits:
      for (std::uint32_t b = 0; b < 16; ++b) {
        if (!(changed_bits & (1u << b))) continue;
        const std::uint32_t local = 16 * word + b;
        if (local < layout.point_count) f(local);
      }
      return;
    case Layout::kWords16:
      if (word < layout.point_count) f(word);
      return;
    case Layout::kWords32:
      if (word / 2 < layout.point_count) f(word / 2);
      return;
    case Layout::kText:
      if (word / kTextPieceRegisters < layout.point_count) f(word / kTextPieceRegisters);
      return;
    case Layout::kNone:
      return;
  }
}

}  // namespace hbt::points
