// The browse name filter against a matcher written straight from its table, over random
// names and filters from a small alphabet (so that "*", repeats and near-misses are common).
#include "opc/name_filter.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace hbt::opc {
namespace {

bool reference_contains(const std::string& name, const std::string& part) {
  for (std::size_t at = 0; at + part.size() <= name.size(); ++at) {
    bool same = true;
    for (std::size_t i = 0; i < part.size() && same; ++i) same = name[at + i] == part[i];
    if (same) return true;
  }
  return false;
}

bool reference(const std::string& name, const std::string& filter) {
  if (filter.empty() || filter == "*") return true;
  std::size_t stars = 0;
  for (char c : filter) stars += c == '*';
  if (stars == 0) return name == filter;
  const bool first = filter[0] == '*';
  const bool last = filter[filter.size() - 1] == '*';
  if (!first && !last) return true;  // "*" only inside: ignored
  if (name.size() < filter.size() - stars) return false;
  if (first && last) return reference_contains(name, filter.substr(1, filter.size() - 2));
  std::string core;
  if (last) {
    for (std::size_t i = 0; filter[i] != '*'; ++i) core += filter[i];
    return core.size() <= name.size() && name.compare(0, core.size(), core) == 0;
  }
  for (std::size_t i = filter.size(); filter[i - 1] != '*'; --i) core.insert(core.begin(), filter[i - 1]);
  return core.size() <= name.size() && name.compare(name.size() - core.size(), core.size(), core) == 0;
}

TEST(NameFilterTest, TheTableByExample) {
  for (const char* any : {"", "*", "**", "P*1", "a*b*c"}) {
    EXPECT_TRUE(name_passes_filter("PLC1", any)) << any;
    EXPECT_TRUE(name_passes_filter("", any)) << any;
  }
  EXPECT_TRUE(name_passes_filter("PLC1", "PLC1"));
  EXPECT_FALSE(name_passes_filter("PLC1", "PLC"));
  EXPECT_FALSE(name_passes_filter("PLC1", "plc1"));  // case counts
  EXPECT_TRUE(name_passes_filter("PLC1", "PL*"));
  EXPECT_FALSE(name_passes_filter("APLC1", "PL*"));
  EXPECT_TRUE(name_passes_filter("PLC1", "*1"));
  EXPECT_FALSE(name_passes_filter("PLC12", "*1"));
  EXPECT_TRUE(name_passes_filter("PLC1", "*LC*"));
  EXPECT_TRUE(name_passes_filter("PLC1", "*PLC1*"));
  EXPECT_FALSE(name_passes_filter("PLC", "*PLC1*"));
  EXPECT_TRUE(name_passes_filter("D:0 - D:99", "*-*"));
  // A prefix ends at the first "*", a suffix starts after the last one; between two outer
  // stars the text is taken as it stands.
  EXPECT_TRUE(name_passes_filter("PLC1", "P*C*"));
  EXPECT_TRUE(name_passes_filter("PX", "P*C*"));
  EXPECT_TRUE(name_passes_filter("PLC1", "*X*1"));
  EXPECT_FALSE(name_passes_filter("PLC1", "*L*C*"));
  EXPECT_TRUE(name_passes_filter("AL*CB", "*L*C*"));
  EXPECT_FALSE(name_passes_filter("PLC1", "***"));
  EXPECT_TRUE(name_passes_filter("a*b", "***"));
  // Shorter than the filter without its stars: no match, even where the text would fit.
  EXPECT_FALSE(name_passes_filter("PL", "PLC*"));
  EXPECT_FALSE(name_passes_filter("C1", "*PLC1"));
  EXPECT_FALSE(name_passes_filter("P", "P*C*"));
  EXPECT_FALSE(name_passes_filter("1", "*X*1"));
}

TEST(NameFilterTest, AgreesWithTheTableOnRandomNamesAndFilters) {
  std::mt19937 random(20261208);
  const std::string alphabet = "ab*";
  auto text = [&](std::size_t most) {
    std::string s(random() % (most + 1), ' ');
    for (char& c : s) c = alphabet[random() % alphabet.size()];
    return s;
  };
  int matched = 0;
  for (int run = 0; run < 200000; ++run) {
    const std::string filter = text(5);
    std::string name = text(6);
    // Names mostly without "*", as device names and range texts are.
    if (run % 4 != 0) std::erase(name, '*');
    const bool expected = reference(name, filter);
    matched += expected;
    ASSERT_EQ(name_passes_filter(name, filter), expected) << "name '" << name << "' filter '" << filter << "'";
  }
  // Both outcomes were exercised plenty.
  EXPECT_GT(matched, 20000);
  EXPECT_LT(matched, 180000);
}

}  // namespace
}  // namespace hbt::opc
