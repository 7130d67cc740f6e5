// How a record's values become points, and which points a changed word touches.
#include "points/record_layout.h"

#include <gtest/gtest.h>

#include <vector>

#include "hbt_points.h"

namespace hbt::points {
namespace {

using image::DataType;
using image::RegisterType;

RecordShape shape(RegisterType t, std::uint32_t start, std::uint32_t length, DataType dt, std::uint8_t ex = 0) {
  return RecordShape{t, start, length, static_cast<std::uint16_t>(dt), ex};
}

std::vector<std::uint32_t> touched(const RecordLayout& l, std::uint32_t word, std::uint16_t bits) {
  std::vector<std::uint32_t> out;
  points_of_word(l, word, bits, [&](std::uint32_t p) { out.push_back(p); });
  return out;
}

TEST(RecordLayout, PointsAndItemIdsOfEveryKindOfRecord) {
  struct Case {
    RecordShape s;
    std::uint32_t count;
    std::uint32_t local;
    const char* item_id;
  };
  const Case cases[] = {
      {shape(RegisterType::D, 100, 10, DataType::Unsigned), 10, 9, "P:D:109"},
      {shape(RegisterType::W, 0x10, 4, DataType::Signed), 4, 3, "P:W:13"},
      {shape(RegisterType::D, 200, 9, DataType::Float), 4, 3, "P:D:206"},
      {shape(RegisterType::R, 0, 4, DataType::LongSigned), 2, 1, "P:R:2"},
      {shape(RegisterType::X, 0x1F0, 32, DataType::Digital), 32, 31, "P:X:20F"},
      {shape(RegisterType::M, 8000, 20, DataType::Unsigned), 20, 19, "P:M:8019"},
      {shape(RegisterType::D, 500, 2, DataType::Digital), 32, 19, "P:D:501:3"},
      {shape(RegisterType::W, 0x1A, 1, DataType::Digital), 16, 5, "P:W:1A:5"},
      {shape(RegisterType::EX, 300, 4, DataType::Unsigned, 2), 4, 1, "P:EX:2:301"},
      {shape(RegisterType::D, 400, 10, DataType::Ascii), 1, 0, "P:D:400$20"},
      {shape(RegisterType::D, 400, 130, DataType::Ascii), 3, 2, "P:D:526$8"},
      {shape(RegisterType::D, 0xFFFFFE, 10, DataType::Unsigned), 2, 1, "P:D:16777215"},
      {shape(RegisterType::D, 0, 3, static_cast<DataType>(5)), 0, 0, nullptr},
  };
  for (const Case& c : cases) {
    const RecordLayout l = layout_of(c.s);
    EXPECT_EQ(l.point_count, c.count) << (c.item_id ? c.item_id : "unknown data type");
    if (c.item_id) {
      EXPECT_EQ(item_id_of("P", c.s, place_of(c.s, l, c.local)), c.item_id);
    }
  }
}

TEST(RecordLayout, TextPiecesCoverTheRecord) {
  const RecordShape s = shape(RegisterType::D, 0, 130, DataType::Ascii);
  const RecordLayout l = layout_of(s);
  EXPECT_EQ(place_of(s, l, 0).word_count, 63u);
  EXPECT_EQ(place_of(s, l, 1).first_word, 63u);
  EXPECT_EQ(place_of(s, l, 2).word_count, 4u);
  EXPECT_EQ(place_of(s, l, 2).text_length, 8u);
}

TEST(RecordLayout, AChangedWordTouchesItsPointsOnly) {
  const RecordLayout bits = layout_of(shape(RegisterType::M, 0, 20, DataType::Digital));
  EXPECT_EQ(touched(bits, 0, 0x8001), (std::vector<std::uint32_t>{0, 15}));
  EXPECT_EQ(touched(bits, 1, 0x00F0), (std::vector<std::uint32_t>{}))
      << "bits of the last word past the record's points";
  EXPECT_EQ(touched(bits, 1, 0x0009), (std::vector<std::uint32_t>{16, 19}));
  const RecordLayout longs = layout_of(shape(RegisterType::D, 0, 5, DataType::LongUnsigned));
  EXPECT_EQ(touched(longs, 3, 1), (std::vector<std::uint32_t>{1}));
  EXPECT_EQ(touched(longs, 4, 1), (std::vector<std::uint32_t>{})) << "the register without a partner";
  const RecordLayout text = layout_of(shape(RegisterType::D, 0, 130, DataType::Ascii));
  EXPECT_EQ(touched(text, 126, 0x100), (std::vector<std::uint32_t>{2}));
  EXPECT_EQ(touched(text, 5, 0), (std::vector<std::uint32_t>{})) << "nothing changed, nothing touched";
}

}  // namespace
}  // namespace hbt::points
