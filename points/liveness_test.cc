// The poller's liveness: a watchdog that moves, one that stands, and samples that prove
// nothing until the watchdog has been seen to move.
#include "points/liveness.h"

#include <gtest/gtest.h>

namespace hbt::points {
namespace {

LivenessSample running(std::uint16_t watchdog) { return LivenessSample{true, true, watchdog}; }

TEST(Liveness, NothingIsTakenOnTrustBeforeTheWatchdogMoves) {
  Liveness l(500);
  // Two samples of a watchdog that stands, even far from zero: no proof of life.
  l.observe(0, running(777));
  EXPECT_TRUE(l.stalled());
  l.observe(10, running(777));
  EXPECT_TRUE(l.stalled());
  l.observe(20, running(778));
  EXPECT_FALSE(l.stalled());
  EXPECT_TRUE(l.seen_moving());
}

TEST(Liveness, AWatchdogStandingLongerThanTheStallTimeIsAStall) {
  Liveness l(500);
  l.observe(0, running(1));
  l.observe(10, running(2));
  l.observe(510, running(2));
  EXPECT_FALSE(l.stalled()) << "500 ms is within the stall time";
  l.observe(511, running(2));
  EXPECT_TRUE(l.stalled());
  l.observe(520, running(3));
  EXPECT_FALSE(l.stalled());
  EXPECT_EQ(l.standing_ms(600), 80);
}

TEST(Liveness, AStoppedOrMissingPollerIsStalledAtOnceAndMustProveItselfAgain) {
  Liveness l(500);
  l.observe(0, running(1));
  l.observe(10, running(2));
  l.observe(20, LivenessSample{true, false, 3});
  EXPECT_TRUE(l.stalled()) << "state word not running";
  l.observe(30, LivenessSample{false, false, 0});
  EXPECT_TRUE(l.stalled());
  l.observe(40, running(9));
  EXPECT_TRUE(l.stalled()) << "a new image proves nothing by its first watchdog";
  l.observe(50, running(10));
  EXPECT_FALSE(l.stalled());
}

}  // namespace
}  // namespace hbt::points
