#include "editor/dictionary.h"

#include <gtest/gtest.h>

namespace hbt::editor {
namespace {

TEST(DictionaryTest, FirstEntryAgreeingInItsMinimumLengthWins) {
  // "96" agrees with "9600" in its first character, which is all that entry asks for.
  EXPECT_EQ(kBaudDct.text_at(*kBaudDct.find("96")), "9600");
  // "COM2:" needs four characters and comes before "COM25:".
  EXPECT_EQ(kPortDct.code_at(*kPortDct.find("COM25:")), 1);
  EXPECT_EQ(kPortDct.code_at(*kPortDct.find("COM1:")), 0);
  EXPECT_EQ(kPortDct.code_at(*kPortDct.find("COM10:")), 9);
  // "AnA" is shorter than the four characters "AnAS" needs, so it falls to "AnA".
  EXPECT_EQ(kCpuTypeDct.code_at(*kCpuTypeDct.find("AnA")), 1);
  EXPECT_EQ(kCpuTypeDct.code_at(*kCpuTypeDct.find("AnAS")), 2);
  EXPECT_EQ(kCpuTypeDct.code_at(*kCpuTypeDct.find("Q Series")), 4);
  EXPECT_FALSE(kCpuTypeDct.find("Q")) << "a single Q is shorter than the two characters asked for";
}

TEST(DictionaryTest, MatchingIsCaseSensitiveAndNeedsTheWholeMinimum) {
  EXPECT_FALSE(kProtocolTypeDct.find("binary"));
  EXPECT_FALSE(kExceptionDct.find("Di"));  // "Dis" / "Dig" both need three characters
  EXPECT_EQ(kExceptionDct.code_at(*kExceptionDct.find("Dig")), 2);
  EXPECT_EQ(kDataTypeDct.code_at(*kDataTypeDct.find("Long S")), 7);
  EXPECT_EQ(kDataTypeDct.code_at(*kDataTypeDct.find("Long U")), 6);
  EXPECT_FALSE(kDataTypeDct.find("Long "));
  EXPECT_FALSE(kYesNoDct.find(""));
  EXPECT_FALSE(kCpuTypeDct.find("AnN"));  // "AnN/AnS" needs four
}

TEST(DictionaryTest, CodesTurnBackIntoText) {
  EXPECT_EQ(kHandshakeDct.text_of_code(0x94), "RTS T CTS+CD");
  EXPECT_EQ(kHandshakeDct.text_of_code(0x33), "UNDEFINED");
  EXPECT_EQ(kHandshakeDct.text_of_code(0x8000), "*?*");
  EXPECT_EQ(kDataTypeDct.text_of_code(5), "UNDEFINED");
  EXPECT_EQ(kDataTypeDct.text_at(7), "UNDEFINED");
  EXPECT_EQ(kDataTypeDct.position_of_code(4), kDataDigital);
  EXPECT_EQ(kBaudDct.position_of_code(14), kBaud9600);
  EXPECT_EQ(kCpuTypeDct.position_of_code(4), kCpuQSeries);
}

}  // namespace
}  // namespace hbt::editor
