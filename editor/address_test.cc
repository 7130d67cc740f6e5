#include "editor/address.h"

#include <gtest/gtest.h>

namespace hbt::editor {
namespace {

ParsedAddress parsed(std::string_view text) {
  ParsedAddress p;
  Message m = parse_address(text, &p);
  EXPECT_TRUE(m.ok()) << text << ": " << m.text;
  return p;
}

TEST(AddressTest, ParsesPrefixesSeparatorsAndBases) {
  ParsedAddress x = parsed("x:1f");  // typed in lower case
  EXPECT_EQ(x.type, RegisterType::X);
  EXPECT_EQ(x.address, 0x1Fu);
  EXPECT_EQ(parsed("D.100").address, 100u);
  EXPECT_EQ(parsed("W;FF").address, 0xFFu);
  EXPECT_EQ(parsed("TN,5").type, RegisterType::TN);
  EXPECT_EQ(parsed("CN:5").type, RegisterType::CN);
  EXPECT_EQ(parsed("CS:5").type, RegisterType::CS);
  ParsedAddress ex = parsed("EX:3:200");
  EXPECT_EQ(ex.type, RegisterType::EX);
  EXPECT_EQ(ex.ex_number, 3);
  EXPECT_EQ(ex.address, 200u);
}

TEST(AddressTest, RefusesMalformedTexts) {
  struct Case {
    const char* text;
    MessageId id;
  } cases[] = {
      {"Q:1", kMsgInvalidRegisterType},  {"", kMsgInvalidRegisterType},
      {"D:1A", kMsgUseDecimal},           {"X:1G", kMsgUseHexadecimal},
      {"D:100:", kMsgIncorrectFormat},    {"D:", kMsgIncorrectFormat},
      {"D", kMsgIncorrectFormat},         {"D::100", kMsgIncorrectFormat},
      {"D:12345678901", kMsgIncorrectFormat},  // an 11-character token
      {"EX:3", kMsgIncorrectFormat},      {"EX::5", kMsgIncorrectFormat},
      {"EX:A:5", kMsgUseDecimal},         {"EX:300:5", kMsgIncorrectFormat},
      {"D:-5", kMsgUseDecimal},
  };
  for (const Case& c : cases) {
    ParsedAddress p;
    EXPECT_EQ(parse_address(c.text, &p).id, c.id) << c.text;
  }
  ParsedAddress p;
  EXPECT_EQ(parse_address("X:1G", &p).text, "Invalid address, use HEXADECIMAL for this Register Type");
}

TEST(AddressTest, RoundsBitDevicesExceptSpecialRelays) {
  EXPECT_EQ(round_start(RegisterType::X, 0x13), 0x10u);
  EXPECT_EQ(round_start(RegisterType::TC, 31), 16u);
  EXPECT_EQ(round_start(RegisterType::M, 8190), 8176u);
  EXPECT_EQ(round_start(RegisterType::M, 9100), 9100u);
  EXPECT_EQ(round_start(RegisterType::D, 13), 13u);
  EXPECT_EQ(round_start(RegisterType::TN, 13), 13u);
}

TEST(AddressTest, RangesDependOnTheCpu) {
  EXPECT_TRUE(check_range(RegisterType::D, 9999, true).ok());
  EXPECT_EQ(check_range(RegisterType::D, 10000, true).text,
            "\rAddress is out of range\n\r(Valid Range is 0 to 9999)\n");
  EXPECT_TRUE(check_range(RegisterType::D, 999999, false).ok());
  EXPECT_EQ(check_range(RegisterType::X, 0x10000, true).text,
            "\rAddress is out of range\n\r(Valid Range is 0 to ffff)\n");
  EXPECT_TRUE(check_range(RegisterType::X, 0xFFFFFF, false).ok());
  EXPECT_TRUE(check_range(RegisterType::M, 9100, true).ok());
  EXPECT_EQ(check_range(RegisterType::M, 2100, true).text,
            "\rAddress is out of range\n\r(Valid Ranges: 0 to 2047 or 9000 to 9255)\n");
  EXPECT_EQ(check_range(RegisterType::M, 9256, false).text,
            "\rAddress is out of range\n\r(Valid Ranges: 9000 to 9255 or 0 to 8191)\n");
  EXPECT_EQ(check_range(RegisterType::TC, 992, true).id, kMsgRange);
  EXPECT_TRUE(check_range(RegisterType::EX, 999999, true).ok());
  EXPECT_EQ(check_range(RegisterType::EX, 1000000, false).id, kMsgRange);
}

TEST(AddressTest, FormatsAsTheListShowsIt) {
  EXPECT_EQ(format_address(RegisterType::X, 0x1F, 0), "X:1F");
  EXPECT_EQ(format_address(RegisterType::W, 0xABC, 0), "W:ABC");
  EXPECT_EQ(format_address(RegisterType::D, 100, 0), "D:100");
  EXPECT_EQ(format_address(RegisterType::TN, 7, 0), "TN:7");
  EXPECT_EQ(format_address(RegisterType::EX, 200, 3), "EX:3:200");
}

}  // namespace
}  // namespace hbt::editor
