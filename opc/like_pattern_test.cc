// The Like patterns of DA 3.0 browsing: a table of the operator's rules, patterns it refuses,
// and random patterns checked against a regular expression made of the same rules.
#include "opc/like_pattern.h"

#include <gtest/gtest.h>

#include <cctype>
#include <random>
#include <regex>
#include <string>

#include "opc/com_util.h"

namespace hbt::opc {
namespace {

bool like(std::u16string_view name, std::u16string_view pattern) {
  auto p = LikePattern::parse(pattern);
  EXPECT_TRUE(p.has_value()) << narrow(pattern);
  return p && p->matches(name);
}

TEST(LikePattern, TheRulesOfTheLikeOperator) {
  struct Case {
    const char16_t* pattern;
    const char16_t* name;
    bool match;
  };
  const Case cases[] = {
      {u"", u"", true},              {u"", u"PLC1", false},          {u"*", u"", true},
      {u"*", u"D:0 - D:99", true},   {u"PLC1", u"PLC1", true},       {u"PLC1", u"plc1", false},
      {u"PLC?", u"PLC1", true},      {u"PLC?", u"PLC", false},       {u"PLC?", u"PLC12", false},
      {u"PLC#", u"PLC7", true},      {u"PLC#", u"PLCx", false},      {u"P*1", u"PLC1", true},
      {u"P*1", u"PLC2", false},      {u"*1", u"QPLC1", true},        {u"D:*", u"D:100 - D:149", true},
      {u"*:1??*", u"D:100 - D:149", true}, {u"[A-C]*", u"BPLC", true}, {u"[A-C]*", u"DPLC", false},
      {u"[!A-C]*", u"DPLC", true},   {u"[!A-C]*", u"APLC", false},   {u"[ACE]", u"C", true},
      {u"[ACE]", u"B", false},       {u"[-A]", u"-", true},          {u"[A-]", u"-", true},
      {u"[*]", u"*", true},          {u"[*]", u"x", false},          {u"[[]x", u"[x", true},
      {u"a]", u"a]", true},          {u"a[]b", u"ab", true},         {u"**a**", u"xa", true},
      {u"[!]", u"!", true},          {u"*#*", u"M:0 - M:15", true},  {u"*#*", u"PLC", false},
  };
  for (const Case& c : cases) EXPECT_EQ(like(c.name, c.pattern), c.match) << narrow(c.pattern) << " ~ " << narrow(c.name);
}

TEST(LikePattern, PatternsThatAreNoPatternsAreRefused) {
  for (const char16_t* bad : {u"[", u"PLC[1", u"[z-a]", u"x[!"}) EXPECT_FALSE(LikePattern::parse(bad)) << narrow(bad);
  EXPECT_TRUE(LikePattern::parse(std::u16string(LikePattern::kMaxLength, u'*')));
  EXPECT_FALSE(LikePattern::parse(std::u16string(LikePattern::kMaxLength + 1, u'a')));
}

// The same rules written as a regular expression, by a different route.
std::regex as_regex(const std::string& pattern) {
  std::string out;
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    const char c = pattern[i];
    if (c == '?') {
      out += ".";
    } else if (c == '*') {
      out += ".*";
    } else if (c == '#') {
      out += "[0-9]";
    } else if (c == '[') {
      const std::size_t close = pattern.find(']', i + 1);
      std::string list = pattern.substr(i + 1, close - i - 1);
      i = close;
      if (list.empty()) continue;
      out += list[0] == '!' ? "[^" + list.substr(1) + "]" : "[" + list + "]";
    } else if (std::isalnum(static_cast<unsigned char>(c))) {
      out += c;
    } else {
      out += std::string("\\") + c;
    }
  }
  return std::regex(out);
}

TEST(LikePattern, RandomPatternsAgreeWithARegularExpression) {
  std::mt19937 rng(31);
  const std::string pieces[] = {"a", "b", "1", ":", "?", "*", "#", "[a-b]", "[!a]", "[1:]", "[!0-9]"};
  const std::string letters = "ab1:9 ";
  int matched = 0;
  for (int run = 0; run < 3000; ++run) {
    std::string pattern;
    for (int k = static_cast<int>(rng() % 6); k > 0; --k) pattern += pieces[rng() % std::size(pieces)];
    std::string name;
    for (int k = static_cast<int>(rng() % 7); k > 0; --k) name += letters[rng() % letters.size()];
    const bool expected = std::regex_match(name, as_regex(pattern));
    matched += expected;
    EXPECT_EQ(like(wide(name), wide(pattern)), expected) << pattern << " ~ '" << name << "'";
  }
  EXPECT_GT(matched, 150);  // both answers come up often
}

}  // namespace
}  // namespace hbt::opc
