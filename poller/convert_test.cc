#include "poller/convert.h"

#include <cmath>
#include <cstring>
#include <limits>

#include <gtest/gtest.h>

#include "poller/block_fixtures.h"

namespace hbt::poller {
namespace {

using image::DataType;
using image::ExceptionType;
using image::RegisterType;
using testing::bytes;
using testing::text_bytes;

// A poll record's area 1 and exception table, and the conversion parameters.
struct Record {
  ConversionSpec plan;
  std::vector<std::uint8_t> area1;
  std::vector<std::uint8_t> area5;

  Record(RegisterType type, DataType data_type, ExceptionType exception, std::size_t area1_size,
         std::size_t entries) {
    plan.register_type = type;
    plan.data_type = static_cast<std::uint16_t>(data_type);
    plan.exception_type = static_cast<std::uint8_t>(exception);
    area1.assign(area1_size, 0);
    area5.assign(4 * entries, 0);
  }
  void register_entry(std::size_t e, std::uint8_t id = 1, std::uint16_t group = 1) {
    area5[4 * e + 1] = id;
    store16(&area5[4 * e + 2], group);
  }
  bool flagged(std::size_t e) const { return area5[4 * e] != 0; }
  void clear_flags() {
    for (std::size_t e = 0; e < area5.size() / 4; ++e) area5[4 * e] = 0;
  }
  ConversionResult convert(const std::vector<std::uint8_t>& data) {
    ExceptionTable table(area5);
    return convert_reply(plan, data, area1, table);
  }
  std::uint16_t word(std::size_t i) const { return load16(&area1[2 * i]); }
  std::uint32_t value32(std::size_t i) const { return load32(&area1[4 * i]); }
  void set_word(std::size_t i, std::uint16_t v) { store16(&area1[2 * i], v); }
};

std::vector<std::uint8_t> words_le(std::initializer_list<std::uint16_t> words) {
  std::vector<std::uint8_t> v;
  for (auto w : words) {
    v.push_back(static_cast<std::uint8_t>(w));
    v.push_back(static_cast<std::uint8_t>(w >> 8));
  }
  return v;
}

std::vector<std::uint8_t> float_le(float f) {
  std::uint32_t bits;
  std::memcpy(&bits, &f, 4);
  std::vector<std::uint8_t> v(4);
  store32(v.data(), bits);
  return v;
}

TEST(Convert, BinaryWordsAreStoredLowByteFirst) {
  Record r(RegisterType::D, DataType::Unsigned, ExceptionType::Disabled, 6, 0);
  auto result = r.convert(words_le({1, 0xBEEF, 300}));
  EXPECT_TRUE(result.ok);
  EXPECT_EQ(result.flagged, 0);
  EXPECT_EQ(r.word(0), 1);
  EXPECT_EQ(r.word(1), 0xBEEF);
  EXPECT_EQ(r.word(2), 300);
}

TEST(Convert, AsciiWordsAreFourDigitsMostSignificantFirst) {
  Record r(RegisterType::D, DataType::Signed, ExceptionType::Disabled, 4, 0);
  r.plan.ascii = true;
  EXPECT_TRUE(r.convert(text_bytes("0064ffFF")).ok);
  EXPECT_EQ(r.word(0), 0x64);
  EXPECT_EQ(r.word(1), 0xFFFF);
}

TEST(Convert, AsciiThirtyTwoBitValuesPutTheFirstRegisterLow) {
  Record r(RegisterType::D, DataType::LongUnsigned, ExceptionType::Disabled, 8, 0);
  r.plan.ascii = true;
  EXPECT_TRUE(r.convert(text_bytes("56781234" "0000FFFF")).ok);
  EXPECT_EQ(r.value32(0), 0x12345678u);
  EXPECT_EQ(r.value32(1), 0xFFFF0000u);
}

TEST(Convert, BinaryThirtyTwoBitValuesAreStoredAsReceived) {
  Record r(RegisterType::R, DataType::Float, ExceptionType::Disabled, 4, 0);
  auto data = float_le(2.5f);
  EXPECT_TRUE(r.convert(data).ok);
  EXPECT_EQ(std::vector<std::uint8_t>(r.area1.begin(), r.area1.end()), data);
}

TEST(Convert, TextRecordsTakeOneWordPerRegister) {
  Record r(RegisterType::D, DataType::Ascii, ExceptionType::Disabled, 4, 0);
  r.convert(text_bytes("AB"  "CD"));
  EXPECT_EQ(r.word(0), 'A' | ('B' << 8));
  r.plan.ascii = true;
  r.convert(text_bytes("4142" "4300"));
  EXPECT_EQ(r.word(0), 0x4142);
  EXPECT_EQ(r.word(1), 0x4300);
}

TEST(Convert, SpecialRelaysInBitUnitsBinary) {
  // Bit 4 of byte k is point 2k, bit 0 point 2k + 1.
  Record r(RegisterType::M, DataType::Digital, ExceptionType::Disabled, 3, 0);
  r.plan.bit_units = true;
  EXPECT_TRUE(r.convert(bytes({0x10, 0x01, 0x11, 0x00, 0x00, 0x00, 0x00, 0x01})).ok);
  EXPECT_EQ(r.word(0), (1u << 0) | (1u << 3) | (1u << 4) | (1u << 5) | (1u << 15));
}

TEST(Convert, SpecialRelaysInBitUnitsAscii) {
  Record r(RegisterType::M, DataType::Digital, ExceptionType::Disabled, 3, 0);
  r.plan.bit_units = true;
  r.plan.ascii = true;
  EXPECT_TRUE(r.convert(text_bytes("1001000000000001")).ok);
  EXPECT_EQ(r.word(0), (1u << 0) | (1u << 3) | (1u << 15));
  EXPECT_FALSE(r.convert(text_bytes("1002000000000001")).ok);
}

TEST(Convert, SpecialRelaysOfAnOddLengthFillThePartialWord) {
  // 20 points: area 1 of 6 bytes, 10 data bytes; the second word has four points.
  Record r(RegisterType::M, DataType::Digital, ExceptionType::Disabled,
           image::area_sizes(RegisterType::M, 20, ExceptionType::Disabled).size[0], 0);
  ASSERT_EQ(r.area1.size(), 6u);
  r.plan.bit_units = true;
  r.set_word(2, 0xAAAA);
  EXPECT_TRUE(r.convert(bytes({0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x10, 0x01})).ok);
  EXPECT_EQ(r.word(0), 0xFFFF);
  EXPECT_EQ(r.word(1), 0b1001);
  EXPECT_EQ(r.word(2), 0xAAAA);  // no data reached it
}

TEST(Convert, UnknownDataTypesAreCopiedAsTheyCome) {
  Record r(RegisterType::D, DataType::Unsigned, ExceptionType::Analog, 5, 1);
  r.plan.data_type = 5;
  r.register_entry(0);
  auto result = r.convert(bytes({1, 2, 3, 4, 5, 6, 7}));
  EXPECT_EQ(std::vector<std::uint8_t>(r.area1.begin(), r.area1.end()), bytes({1, 2, 3, 4, 5}));
  EXPECT_EQ(result.flagged, 0);
  Record small(RegisterType::D, DataType::Unsigned, ExceptionType::Disabled, 5, 0);
  small.plan.data_type = 9;
  small.convert(bytes({9, 9}));
  EXPECT_EQ(std::vector<std::uint8_t>(small.area1.begin(), small.area1.end()), bytes({9, 9, 0, 0, 0}));
}

TEST(Convert, AsciiDataThatIsNotHexadecimalIsRefusedWhole) {
  Record r(RegisterType::D, DataType::Unsigned, ExceptionType::Disabled, 4, 0);
  r.plan.ascii = true;
  r.set_word(0, 7);
  r.set_word(1, 8);
  EXPECT_FALSE(r.convert(text_bytes("0001zz02")).ok);
  EXPECT_EQ(r.word(0), 7);
  EXPECT_EQ(r.word(1), 8);
}

TEST(Convert, NeverReadsPastTheDataNorWritesPastArea1) {
  Record r(RegisterType::D, DataType::Unsigned, ExceptionType::Disabled, 4, 0);
  r.area1.push_back(0xEE);  // a guard byte outside the span given to the conversion
  std::span<std::uint8_t> area(r.area1.data(), 4);
  ExceptionTable none;
  auto data = words_le({1, 2, 3, 4});
  convert_reply(r.plan, data, area, none);
  EXPECT_EQ(r.area1[4], 0xEE);
  EXPECT_EQ(r.word(1), 2);
  // Half a value at the end of the data is not converted.
  convert_reply(r.plan, std::span<const std::uint8_t>(data).first(3), area, none);
  EXPECT_EQ(r.word(0), 1);
  EXPECT_EQ(r.word(1), 2);
  // An empty area takes nothing, whatever the count rule says.
  Record text(RegisterType::D, DataType::Ascii, ExceptionType::Disabled, 0, 0);
  EXPECT_TRUE(text.convert(words_le({1})).ok);
}

TEST(DeadBand, IntegerDeadBandHoldsSmallChangesBack) {
  Record r(RegisterType::D, DataType::Unsigned, ExceptionType::Analog, 2, 1);
  r.plan.dead_band_int = 5;
  r.set_word(0, 100);
  r.register_entry(0);
  EXPECT_EQ(r.convert(words_le({103})).flagged, 0);
  EXPECT_EQ(r.word(0), 100);
  EXPECT_FALSE(r.flagged(0));
  EXPECT_EQ(r.convert(words_le({105})).flagged, 1);
  EXPECT_EQ(r.word(0), 105);
  EXPECT_TRUE(r.flagged(0));
  r.clear_flags();
  EXPECT_EQ(r.convert(words_le({101})).flagged, 0);  // compared with 105 now
  EXPECT_EQ(r.word(0), 105);
}

TEST(DeadBand, UnregisteredValuesAreAlwaysStored) {
  Record r(RegisterType::D, DataType::Unsigned, ExceptionType::Analog, 2, 1);
  r.plan.dead_band_int = 50;
  r.set_word(0, 100);
  EXPECT_EQ(r.convert(words_le({101})).flagged, 0);
  EXPECT_EQ(r.word(0), 101);
}

TEST(DeadBand, AnAlreadyFlaggedEntryIsStoredButNotCountedAgain) {
  Record r(RegisterType::D, DataType::Unsigned, ExceptionType::Analog, 2, 1);
  r.plan.dead_band_int = 50;
  r.register_entry(0);
  r.area5[0] = 1;
  EXPECT_EQ(r.convert(words_le({1})).flagged, 0);
  EXPECT_EQ(r.word(0), 1);
}

TEST(DeadBand, SignedDifferencesForSignedDataOnly) {
  Record r(RegisterType::D, DataType::Signed, ExceptionType::Analog, 2, 1);
  r.plan.dead_band_int = 10;
  r.register_entry(0);
  r.set_word(0, static_cast<std::uint16_t>(-3));
  EXPECT_EQ(r.convert(words_le({2})).flagged, 0);  // |2 - (-3)| = 5
  EXPECT_EQ(r.word(0), static_cast<std::uint16_t>(-3));
  r.plan.data_type = static_cast<std::uint16_t>(DataType::Unsigned);
  EXPECT_EQ(r.convert(words_le({2})).flagged, 1);  // |2 - 65533| is large
  EXPECT_EQ(r.word(0), 2);
}

TEST(DeadBand, WithoutDeadBandAnyChangeIsAnExceptionAndNoChangeIsKept) {
  Record r(RegisterType::W, DataType::Unsigned, ExceptionType::Ascii, 4, 2);
  r.register_entry(0);
  r.register_entry(1);
  r.set_word(0, 5);
  r.set_word(1, 6);
  EXPECT_EQ(r.convert(words_le({5, 7})).flagged, 1);
  EXPECT_FALSE(r.flagged(0));
  EXPECT_TRUE(r.flagged(1));
  EXPECT_EQ(r.word(1), 7);
}

TEST(DeadBand, FloatsThatAreNotNumbers) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  Record r(RegisterType::D, DataType::Float, ExceptionType::Analog, 4, 1);
  r.register_entry(0);
  auto one = float_le(1.0f);
  std::copy(one.begin(), one.end(), r.area1.begin());
  EXPECT_EQ(r.convert(float_le(nan)).flagged, 0);
  EXPECT_TRUE(std::isnan(float_from_bits(r.value32(0))));
  auto other_nan = float_le(-nan);
  EXPECT_EQ(r.convert(other_nan).flagged, 0);
  EXPECT_EQ(r.value32(0), load32(float_le(nan).data()));  // NaN to NaN: kept
  EXPECT_EQ(r.convert(float_le(0.0f)).flagged, 0);      // back to a number: stored, not flagged
  EXPECT_EQ(float_from_bits(r.value32(0)), 0.0f);
  // Denormals count as not numbers, zero as one.
  std::vector<std::uint8_t> denormal(4);
  store32(denormal.data(), 0x00000001);
  EXPECT_EQ(r.convert(denormal).flagged, 0);
  EXPECT_EQ(r.value32(0), 1u);
}

TEST(DeadBand, FloatDeadBand) {
  Record r(RegisterType::D, DataType::Float, ExceptionType::Analog, 4, 1);
  r.register_entry(0);
  r.plan.dead_band = 0.5f;
  auto ten = float_le(10.0f);
  std::copy(ten.begin(), ten.end(), r.area1.begin());
  EXPECT_EQ(r.convert(float_le(10.4f)).flagged, 0);
  EXPECT_EQ(float_from_bits(r.value32(0)), 10.0f);
  EXPECT_EQ(r.convert(float_le(9.5f)).flagged, 1);
  EXPECT_EQ(float_from_bits(r.value32(0)), 9.5f);
  r.clear_flags();
  r.plan.dead_band = 0;
  EXPECT_EQ(r.convert(float_le(9.5f)).flagged, 0);
  EXPECT_EQ(r.convert(float_le(9.50001f)).flagged, 1);
}

TEST(DeadBand, LongsCompareAsSignedOrUnsigned) {
  Record r(RegisterType::D, DataType::LongSigned, ExceptionType::Analog, 4, 1);
  r.register_entry(0);
  r.plan.dead_band = 100;
  std::vector<std::uint8_t> v(4);
  store32(r.area1.data(), static_cast<std::uint32_t>(-50));
  store32(v.data(), 40);
  EXPECT_EQ(r.convert(v).flagged, 0);  // 90 apart
  store32(v.data(), 50);
  EXPECT_EQ(r.convert(v).flagged, 1);  // 100 apart
  EXPECT_EQ(r.value32(0), 50u);
  r.clear_flags();
  r.plan.data_type = static_cast<std::uint16_t>(DataType::LongUnsigned);
  store32(v.data(), static_cast<std::uint32_t>(-50));
  EXPECT_EQ(r.convert(v).flagged, 1);  // unsigned: billions apart
  r.clear_flags();
  r.plan.dead_band = 0;
  EXPECT_EQ(r.convert(v).flagged, 0);
  store32(v.data(), 0xFFFFFFFF);
  EXPECT_EQ(r.convert(v).flagged, 1);
}

TEST(Digital, ChangedBitsFlagTheirOwnEntries) {
  Record r(RegisterType::D, DataType::Digital, ExceptionType::Digital, 4, 32);
  for (std::size_t e = 0; e < 32; ++e) r.register_entry(e);
  r.area5[4 * 21] = 1;  // already pending: not counted again
  auto result = r.convert(words_le({(1 << 0) | (1 << 5), (1 << 5) | (1 << 15)}));
  EXPECT_EQ(result.flagged, 3);
  EXPECT_TRUE(r.flagged(0));
  EXPECT_TRUE(r.flagged(5));
  EXPECT_FALSE(r.flagged(1));
  EXPECT_TRUE(r.flagged(31));
  EXPECT_EQ(r.word(0), 0x21);
}

TEST(Digital, UnregisteredBitsAreStoredButNotFlagged) {
  Record r(RegisterType::X, DataType::Digital, ExceptionType::Digital, 3, 16);
  r.register_entry(5);
  auto result = r.convert(words_le({(1 << 0) | (1 << 5)}));
  EXPECT_EQ(result.flagged, 1);
  EXPECT_FALSE(r.flagged(0));
  EXPECT_TRUE(r.flagged(5));
  EXPECT_EQ(r.word(0), 0x21);
}

TEST(Digital, BitDevicesUseTheDigitalComparisonWhateverTheExceptionType) {
  // Sixteen entries per word even when the table is short: entries it lacks are skipped.
  Record r(RegisterType::Y, DataType::Unsigned, ExceptionType::Analog, 5, 17);
  r.register_entry(16);
  r.register_entry(1);
  EXPECT_EQ(r.convert(words_le({0x0001, 0x0003})).flagged, 1);
  EXPECT_TRUE(r.flagged(16));
  EXPECT_FALSE(r.flagged(1));
  EXPECT_EQ(r.word(1), 3);
}

TEST(Text, AMultiWordItemRaisesOneFlagOnItsFirstEntry) {
  Record r(RegisterType::D, DataType::Ascii, ExceptionType::Ascii, 8, 4);
  r.register_entry(0, 1, 7);
  r.register_entry(1, 0, image::kGroupContinuation);
  r.register_entry(2, 0, image::kGroupContinuation);
  EXPECT_EQ(r.convert(words_le({0, 0, 0x4142, 0})).flagged, 1);
  EXPECT_TRUE(r.flagged(0));
  EXPECT_FALSE(r.flagged(2));
  EXPECT_EQ(r.word(2), 0x4142);
  // Already pending: a further change is stored, nothing counted.
  EXPECT_EQ(r.convert(words_le({0, 1, 0x4142, 0})).flagged, 0);
  EXPECT_EQ(r.word(1), 1);
  // The unregistered fourth word is simply stored.
  r.clear_flags();
  EXPECT_EQ(r.convert(words_le({0, 1, 0x4142, 9})).flagged, 0);
  EXPECT_EQ(r.word(3), 9);
}

TEST(Text, UnchangedWordsAreKept) {
  Record r(RegisterType::D, DataType::Ascii, ExceptionType::Ascii, 2, 1);
  r.register_entry(0);
  r.set_word(0, 0x3132);
  EXPECT_EQ(r.convert(words_le({0x3132})).flagged, 0);
  EXPECT_FALSE(r.flagged(0));
}

TEST(Convert, DisabledExceptionsCopyWithoutComparing) {
  Record r(RegisterType::D, DataType::Unsigned, ExceptionType::Disabled, 4, 2);
  r.register_entry(0);
  r.register_entry(1);
  r.plan.dead_band_int = 100;
  auto result = r.convert(words_le({1, 2}));
  EXPECT_EQ(result.flagged, 0);
  EXPECT_FALSE(r.flagged(0));
  EXPECT_EQ(r.word(0), 1);
  EXPECT_EQ(r.word(1), 2);
}

TEST(Convert, WordDevicesWithDigitalExceptionsStepSixteenEntriesPerWord) {
  Record r(RegisterType::D, DataType::Unsigned, ExceptionType::Digital, 4, 32);
  r.register_entry(16 + 3);
  EXPECT_EQ(r.convert(words_le({0, 1 << 3})).flagged, 1);
  EXPECT_TRUE(r.flagged(19));
}

}  // namespace
}  // namespace hbt::poller
