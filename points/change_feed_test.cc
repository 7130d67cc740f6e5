// The change feed against a plain model of it (each point's latest change number): whatever
// the order of changes and batches, a batch is exactly the points changed after the cursor,
// oldest change first, each once.
#include "points/change_feed.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>

namespace hbt::points {
namespace {

TEST(ChangeFeed, AFreshFeedGivesEveryPointFromCursorZero) {
  ChangeFeed feed(5, 1);
  std::uint64_t cursor = 0;
  std::vector<std::uint32_t> out;
  bool more = false;
  feed.collect(&cursor, 10, &out, &more);
  EXPECT_EQ(out, (std::vector<std::uint32_t>{0, 1, 2, 3, 4}));
  EXPECT_FALSE(more);
  EXPECT_EQ(cursor, 5u);
  out.clear();
  feed.collect(&cursor, 10, &out, &more);
  EXPECT_TRUE(out.empty());
}

TEST(ChangeFeed, ALaterFeedStartsAboveTheCursorsOfAnEarlierOne) {
  ChangeFeed first(3, 1);
  first.touch(1);
  std::uint64_t cursor = first.last_sequence();
  ChangeFeed second(2, first.last_sequence() + 1);
  std::vector<std::uint32_t> out;
  bool more = false;
  second.collect(&cursor, 10, &out, &more);
  EXPECT_EQ(out.size(), 2u) << "an old cursor sees every point of the new feed";
}

TEST(ChangeFeed, MatchesAModelUnderRandomChangesAndBatches) {
  std::mt19937 rng(7);
  const std::uint32_t n = 50;
  ChangeFeed feed(n, 100);
  std::map<std::uint32_t, std::uint64_t> latest;  // the model: point -> its latest number
  for (std::uint32_t p = 0; p < n; ++p) latest[p] = 100 + p;
  std::uint64_t counter = 100 + n;
  std::vector<std::uint64_t> cursors = {0, 0, 0};
  for (int step = 0; step < 20000; ++step) {
    if (rng() % 3 != 0) {
      const std::uint32_t p = rng() % n;
      feed.touch(p);
      latest[p] = counter++;
      continue;
    }
    std::uint64_t& cursor = cursors[rng() % cursors.size()];
    const std::uint32_t capacity = rng() % 8;
    std::vector<std::pair<std::uint64_t, std::uint32_t>> expected;
    for (auto [p, seq] : latest)
      if (seq > cursor) expected.emplace_back(seq, p);
    std::sort(expected.begin(), expected.end());
    std::vector<std::uint32_t> out;
    bool more = false;
    std::uint64_t before = cursor;
    feed.collect(&cursor, capacity, &out, &more);
    const std::size_t take = std::min<std::size_t>(capacity, expected.size());
    ASSERT_EQ(out.size(), take) << "step " << step;
    for (std::size_t i = 0; i < take; ++i) ASSERT_EQ(out[i], expected[i].second) << "step " << step;
    EXPECT_EQ(more, expected.size() > take);
    EXPECT_EQ(cursor, take ? expected[take - 1].first : before);
  }
}

}  // namespace
}  // namespace hbt::points
