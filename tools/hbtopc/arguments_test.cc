#include "arguments.h"

#include <gtest/gtest.h>

namespace hbt::hbtopc {
namespace {

TEST(HbtopcArguments, OptionsValuesAndPositionalsInAnyOrder) {
  CommandArguments a;
  std::string error;
  ASSERT_TRUE(parse_arguments({"X", "--rate", "100", "Y", "--da1", "--deadband=2.5", "-5"},
                              {"--rate", "--deadband"}, {"--da1"}, &a, &error))
      << error;
  EXPECT_EQ(a.positional, (std::vector<std::string>{"X", "Y", "-5"}));
  EXPECT_EQ(a.values["--rate"], "100");
  EXPECT_EQ(a.values["--deadband"], "2.5");
  EXPECT_TRUE(a.has("--da1"));
  CommandArguments b;
  ASSERT_TRUE(parse_arguments({"--", "--rate"}, {"--rate"}, {}, &b, &error));
  EXPECT_EQ(b.positional, (std::vector<std::string>{"--rate"}));
  CommandArguments c;
  EXPECT_FALSE(parse_arguments({"X", "--rate"}, {"--rate"}, {}, &c, &error));
  EXPECT_EQ(error, "--rate needs a value");
  EXPECT_FALSE(parse_arguments({"--bogus"}, {}, {}, &c, &error));
  EXPECT_FALSE(parse_arguments({"--da1=1"}, {}, {"--da1"}, &c, &error));
}

TEST(HbtopcArguments, NumbersAreWholeAndInRange) {
  unsigned long n = 0;
  EXPECT_TRUE(parse_count("100", 0, 1000, &n));
  EXPECT_EQ(n, 100u);
  EXPECT_FALSE(parse_count("-1", 0, 1000, &n));
  EXPECT_FALSE(parse_count("10x", 0, 1000, &n));
  EXPECT_FALSE(parse_count("1001", 0, 1000, &n));
  EXPECT_FALSE(parse_count("99999999999999999999999", 0, 0xFFFFFFFFul, &n));
  EXPECT_FALSE(parse_count("", 0, 10, &n));
  double d = 0;
  EXPECT_TRUE(parse_decimal("2.5", 0, 100, &d));
  EXPECT_FALSE(parse_decimal("100.1", 0, 100, &d));
  EXPECT_FALSE(parse_decimal("nan", 0, 100, &d));
  EXPECT_FALSE(parse_decimal("5%", 0, 100, &d));
}

}  // namespace
}  // namespace hbt::hbtopc
