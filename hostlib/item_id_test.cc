// The item-ID grammar: separators, text items, array sizes and the option fields.
#include "hostlib/item_id.h"

#include <gtest/gtest.h>

#include <random>

namespace hbt::hostlib {
namespace {

TEST(ItemIdGrammar, SeparatorsSplitAtTheFirstOneAfterTheFirstCharacter) {
  ItemId a = parse_item_id("  PLC1:D:100|LIN,0,100,,degC \t");
  EXPECT_EQ(a.address, "PLC1:D:100");
  EXPECT_TRUE(a.has_options);
  EXPECT_EQ(a.options, "LIN,0,100,,degC");
  EXPECT_FALSE(a.text_item);

  ItemId b = parse_item_id("PLC1:D:100;LIN");
  EXPECT_EQ(b.address, "PLC1:D:100");
  EXPECT_EQ(b.options, "LIN");

  ItemId c = parse_item_id("PLC1:D:200$20");
  EXPECT_TRUE(c.text_item);
  EXPECT_EQ(c.options, "20");

  // The first separator wins, whichever it is; later ones belong to the options.
  ItemId d = parse_item_id("PLC1:D:200;x$y|z");
  EXPECT_FALSE(d.text_item);
  EXPECT_EQ(d.options, "x$y|z");
  ItemId e = parse_item_id("PLC1:D:200$x|y");
  EXPECT_TRUE(e.text_item);

  // A separator in the first position is no separator.
  ItemId f = parse_item_id("|PLC1:D:100");
  EXPECT_FALSE(f.has_options);
  EXPECT_EQ(f.address, "|PLC1:D:100");
  ItemId g = parse_item_id("$$");
  EXPECT_TRUE(g.has_options);
  EXPECT_EQ(g.address, "$");
  EXPECT_EQ(g.options, "");

  ItemId empty_options = parse_item_id("PLC1:D:100|");
  EXPECT_TRUE(empty_options.has_options);
  EXPECT_EQ(empty_options.options, "");
}

TEST(ItemIdGrammar, ArraySizeReadsLikeAtol) {
  EXPECT_EQ(parse_item_id("PLC1:D:100[10]").array_size, 10);
  EXPECT_EQ(parse_item_id("PLC1:D:100[10]").address, "PLC1:D:100[10]");
  EXPECT_EQ(parse_item_id("PLC1:D:100[ 7x").array_size, 7);
  EXPECT_EQ(parse_item_id("PLC1:D:100[").array_size, 0);
  EXPECT_EQ(parse_item_id("PLC1:D:100[-3]").array_size, -3);
  EXPECT_EQ(parse_item_id("[5]").array_size, 0);  // not after the first character
  EXPECT_EQ(parse_item_id("PLC1:D:100|NONE[4]").array_size, 4);
}

TEST(ItemIdGrammar, OptionFieldsInOrderWithUnitsTakingTheRest) {
  OptionFields f = split_option_fields("LIN,0,100,,degC");
  EXPECT_EQ(f.signal_conditioning, "LIN");
  EXPECT_EQ(f.low, "0");
  EXPECT_EQ(f.high, "100");
  EXPECT_EQ(f.hardware_options, "");
  EXPECT_EQ(f.units, "degC");

  OptionFields g = split_option_fields("NONE");
  EXPECT_EQ(g.signal_conditioning, "NONE");
  EXPECT_TRUE(g.low.empty() && g.high.empty() && g.units.empty());

  OptionFields h = split_option_fields("a,b,c,d,e,f,g");
  EXPECT_EQ(h.hardware_options, "d");
  EXPECT_EQ(h.units, "e,f,g");

  OptionFields i = split_option_fields(",,,,");
  EXPECT_TRUE(i.signal_conditioning.empty() && i.low.empty() && i.units.empty());
  OptionFields j = split_option_fields("x,y");
  EXPECT_EQ(j.low, "y");
  EXPECT_EQ(j.high, "");
}

// Whatever text arrives, the pieces come from it: the address and options, joined by the
// separator, give back the trimmed text.
TEST(ItemIdGrammar, SplittingLosesNothingOnRandomTexts) {
  std::mt19937 rng(7);
  const std::string alphabet = "PLC1:D|$;,[]0123456789 .-\t";
  for (int run = 0; run < 5000; ++run) {
    std::string text;
    std::size_t n = rng() % 40;
    for (std::size_t k = 0; k < n; ++k) text.push_back(alphabet[rng() % alphabet.size()]);
    ItemId id = parse_item_id(text);
    std::string trimmed = trim(text);
    if (id.has_options) {
      ASSERT_LT(id.address.size(), trimmed.size());
      char sep = trimmed[id.address.size()];
      ASSERT_TRUE(sep == '|' || sep == '$' || sep == ';') << text;
      EXPECT_EQ(id.address + sep + id.options, trimmed);
      EXPECT_EQ(id.text_item, sep == '$');
      EXPECT_EQ(id.address.find_first_of("|$;", 1), std::string::npos);
    } else {
      EXPECT_EQ(id.address, trimmed);
    }
    OptionFields f = split_option_fields(id.options);
    (void)f;
  }
}

}  // namespace
}  // namespace hbt::hostlib
