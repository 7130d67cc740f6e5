#include "poller/tick_stats.h"

#include <gtest/gtest.h>

namespace hbt::poller {
namespace {

TEST(TickStats, PercentilesComeFromTenMicrosecondBuckets) {
  reset_tick_stats();
  for (int i = 0; i < 98; ++i) record_tick_lateness(55'000);  // 0.055 ms
  record_tick_lateness(1'500'000);                             // 1.5 ms
  record_tick_lateness(250'000'000);                           // 250 ms: beyond the last bucket
  record_tick_lateness(-5);                                    // early counts as on time
  TickSummary s = summarize_ticks();
  EXPECT_EQ(s.ticks, 101u);
  EXPECT_DOUBLE_EQ(s.p50_ms, 0.06);
  EXPECT_DOUBLE_EQ(s.p90_ms, 0.06);
  EXPECT_DOUBLE_EQ(s.p99_ms, 1.51);
  EXPECT_DOUBLE_EQ(s.max_ms, 250.0);
  EXPECT_DOUBLE_EQ(s.p999_ms, 1.51);  // the 100th of 101 sorted samples
  reset_tick_stats();
  EXPECT_EQ(summarize_ticks().ticks, 0u);
  EXPECT_EQ(summarize_ticks().p99_ms, 0.0);
}

}  // namespace
}  // namespace hbt::poller
