#include "hostlib/address_text.h"

#include <gtest/gtest.h>

#include <random>

namespace hbt::hostlib {
namespace {

using image::RegisterType;

struct Case {
  const char* rest;  // the text after the first separator, upper case
  std::uint8_t kind;
  bool ok;
  RegisterType type;
  std::uint32_t offset;
  std::uint8_t bit;
  std::uint8_t kind_after;
  std::uint8_t ex_number;
};

class RegisterPartParsing : public ::testing::TestWithParam<Case> {};

TEST_P(RegisterPartParsing, FollowsTheGrammar) {
  const Case& c = GetParam();
  RegisterPart part;
  part.offset = 0xABCDEF;  // must stay untouched on failure
  bool ok = parse_register_part(c.rest, c.kind, &part);
  ASSERT_EQ(ok, c.ok) << c.rest << " kind " << int(c.kind);
  if (!ok) {
    EXPECT_EQ(part.offset, 0xABCDEFu);
    return;
  }
  EXPECT_EQ(part.type, c.type) << c.rest;
  EXPECT_EQ(part.offset, c.offset) << c.rest;
  EXPECT_EQ(part.bit, c.bit) << c.rest;
  EXPECT_EQ(part.kind, c.kind_after) << c.rest;
  EXPECT_EQ(part.ex_number, c.ex_number) << c.rest;
}

INSTANTIATE_TEST_SUITE_P(
    Examples, RegisterPartParsing,
    ::testing::Values(Case{"D:100", 1, true, RegisterType::D, 100, 0, 1, 0},
                      Case{"D:100:3", 2, true, RegisterType::D, 100, 3, 2, 0},
                      Case{"X:1F", 2, true, RegisterType::X, 0x1F, 0, 2, 0},
                      Case{"W:1A:5", 5, true, RegisterType::W, 0x1A, 5, 2, 0},
                      Case{"EX:2:300", 1, true, RegisterType::EX, 300, 0, 1, 2},
                      Case{"D:100", 5, true, RegisterType::D, 100, 0, 1, 0},
                      Case{"D:100:7", 5, true, RegisterType::D, 100, 7, 2, 0},
                      Case{"M:100", 5, true, RegisterType::M, 100, 0, 2, 0},
                      Case{"TN:12", 1, true, RegisterType::TN, 12, 0, 1, 0},
                      Case{"CS;7", 2, true, RegisterType::CS, 7, 0, 2, 0},
                      Case{"R.42", 3, true, RegisterType::R, 42, 0, 3, 0},
                      Case{"W:1A", 5, true, RegisterType::W, 0x1A, 0, 1, 0},
                      Case{"B/FF", 2, true, RegisterType::B, 0xFF, 0, 2, 0}));

INSTANTIATE_TEST_SUITE_P(
    Traps, RegisterPartParsing,
    ::testing::Values(
        // A digital word-device point needs a bit number.
        Case{"D:100", 2, false}, Case{"W:1A", 2, false},
        // Hexadecimal offsets take hexadecimal digits only.
        Case{"X:1G", 2, false},
        // A register name the table does not have, with letters after it or after a blank,
        // names no register: refused rather than read as X, D or L.
        Case{"Q:10", 2, false}, Case{" D:100", 1, false}, Case{"DATA:12", 1, false}, Case{"LW:10", 1, false},
        Case{"C:5", 2, false}, Case{"T:5", 2, false}, Case{"SM:5", 2, false}, Case{"ZR:5", 1, false},
        Case{"TCX:5", 2, false}, Case{"EXT:2:3", 1, false}, Case{":100", 1, false}, Case{"\tD:100", 1, false},
        // Numbers are digits: "1A" is no decimal 1, an empty field no 0.
        Case{"D:1A", 1, false}, Case{"D:", 1, false}, Case{"X:", 2, false}, Case{"D :100", 1, false},
        Case{"EX:2X:300", 1, false}, Case{"EX::300", 1, false}, Case{"D:100:3X", 2, false},
        Case{"W::5", 2, false}, Case{"D:100\t7", 5, false},
        // Decimal reading ends at a separator (a bit number the kind does not take) or at the
        // "[" of an OPC array size.
        Case{"D:100:3", 1, true, RegisterType::D, 100, 0, 1, 0},
        Case{"D:100[10]", 5, true, RegisterType::D, 100, 0, 1, 0},
        Case{"D:100:3[2]", 5, true, RegisterType::D, 100, 3, 2, 0},
        Case{"EX: 2:300", 1, true, RegisterType::EX, 300, 0, 1, 2},
        // Blanks at the end are no separator before a bit number.
        Case{"D:100  ", 5, true, RegisterType::D, 100, 0, 1, 0},
        Case{"W:1A\t", 5, true, RegisterType::W, 0x1A, 0, 1, 0},
        // No separator after the register name.
        Case{"D100", 1, false}, Case{"EX:2", 1, false},
        // Fields beyond their widths are refused rather than cut.
        Case{"D:100:16", 2, false}, Case{"D:100:-1", 2, false}, Case{"EX:256:1", 1, false},
        Case{"D:16777216", 1, false}, Case{"X:1000000", 2, false}, Case{"D:-5", 1, false},
        Case{"D:16777215", 1, true, RegisterType::D, 0xFFFFFF, 0, 1, 0},
        // An empty bit number reads as 0.
        Case{"D:100:", 2, true, RegisterType::D, 100, 0, 2, 0}));

// Register names made at random from the sixteen names, letters of names the driver does not
// know, blanks and tabs: every text accepted names exactly the register it is read as, and
// its display text parses back to the same register.
TEST(RegisterNames, EveryAcceptedNameIsTheRegisterRead) {
  static const char* const kPieces[] = {"X", "Y", "B", "L", "M", "F", "TC", "TS", "TN", "CC", "CS", "CN", "D",
                                        "W", "R", "EX", "Q", "C", "T", "S", "Z", "A", "N", "K", "H", "V", " ", "\t"};
  static const char* const kOffsets[] = {"0", "10", "1F", "100", "7FF", "12[4]", "+3", "9:", "1A:5", "2:300", ""};
  std::mt19937 random(1108);
  const std::uint8_t kinds[] = {1, 2, 3, 5};
  int accepted = 0, refused = 0;
  for (int run = 0; run < 20000; ++run) {
    std::string name;
    for (int n = static_cast<int>(random() % 3) + (random() % 8 == 0 ? 0 : 1); n > 0; --n)
      name += kPieces[random() % std::size(kPieces)];
    const char separator = ":;,./ "[random() % 6];
    const std::string rest = name + separator + kOffsets[random() % std::size(kOffsets)];
    const std::uint8_t kind = kinds[random() % 4];
    RegisterPart part;
    if (!parse_register_part(rest, kind, &part)) {
      ++refused;
      continue;
    }
    ++accepted;
    // A blank piece is itself a separator.
    ASSERT_EQ(rest.substr(0, rest.find_first_of(":;,./ ")), image::kRegisterTypeNames[static_cast<int>(part.type)])
        << "'" << rest << "' kind " << int(kind);
    const std::string shown = display_address("PLC1", register_word(part), part.ex_number, part.kind);
    RegisterPart again;
    ASSERT_TRUE(parse_register_part(shown.substr(5), part.kind, &again)) << rest << " shown as " << shown;
    EXPECT_EQ(register_word(again), register_word(part)) << rest << " shown as " << shown;
    EXPECT_EQ(again.ex_number, part.ex_number) << rest;
    EXPECT_EQ(again.kind, part.kind) << rest;
  }
  EXPECT_GT(accepted, 1000);
  EXPECT_GT(refused, 2000);
}

TEST(AddressDisplay, MatchesTheParsedForms) {
  auto word = [](RegisterType t, std::uint32_t offset, int bit = 0) {
    return static_cast<std::uint32_t>(t) << 28 | static_cast<std::uint32_t>(bit) << 24 | offset;
  };
  EXPECT_EQ(display_address("PLC1", word(RegisterType::D, 100), 0, 1), "PLC1:D:100");
  EXPECT_EQ(display_address("PLC1", word(RegisterType::D, 100, 3), 0, 2), "PLC1:D:100:3");
  EXPECT_EQ(display_address("PLC1", word(RegisterType::X, 0x1F), 0, 2), "PLC1:X:1F");
  EXPECT_EQ(display_address("PLC1", word(RegisterType::W, 0x1A, 5), 0, 2), "PLC1:W:1A:5");
  EXPECT_EQ(display_address("PLC1", word(RegisterType::EX, 300), 2, 1), "PLC1:EX:2:300");
  EXPECT_EQ(display_address("PLC1", word(RegisterType::M, 7), 0, 2), "PLC1:M:7") << "no bit for bit devices";
}

TEST(RangeText, NamesTheFirstAndLastRegister) {
  EXPECT_EQ(range_text(image::make_address_word(RegisterType::D, 0), 100, 0), "D:0 - D:99");
  EXPECT_EQ(range_text(image::make_address_word(RegisterType::X, 0), 0x200, 0), "X:0 - X:1FF");
  EXPECT_EQ(range_text(image::make_address_word(RegisterType::EX, 0), 50, 3), "EX:3:0 - EX:3:49");
  EXPECT_EQ(range_text(image::make_address_word(RegisterType::W, 0x10), 0x20, 0), "W:10 - W:2F");
}

TEST(Separators, AreTheSixCharacters) {
  for (char c : std::string(":;,./ ")) EXPECT_TRUE(is_separator(c)) << c;
  for (char c : std::string("-_\t\0A", 5)) EXPECT_FALSE(is_separator(c)) << int(c);
}

}  // namespace
}  // namespace hbt::hostlib
