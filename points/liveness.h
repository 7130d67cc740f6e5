// Whether the poller polls: its state word says running, the image carries the polling flag,
// and the image header's watchdog moves. A watchdog standing still for the stall time is a
// stalled poller. Nothing is taken on trust: until the watchdog has been seen to move since
// the judge was made, the poller counts as stalled, so a fresh session never reports values
// of a poller that has hung before it came.
#pragma once

#include <cstdint>

namespace hbt::points {

struct LivenessSample {
  bool present = false;  // pointer block and an accepted image of the current generation
  bool running = false;  // state word running and polling flag set
  std::uint16_t watchdog = 0;
};

class Liveness {
 public:
  explicit Liveness(std::int64_t stall_ms) : stall_ms_(stall_ms) {}

  void observe(std::int64_t now_ms, const LivenessSample& s);
  bool stalled() const { return stalled_; }
  // Whether the watchdog has ever been seen to move.
  bool seen_moving() const { return seen_moving_; }
  // Time since the watchdog last moved (or since the first sample), for the look's guard.
  std::int64_t standing_ms(std::int64_t now_ms) const { return have_sample_ ? now_ms - last_move_ms_ : 0; }

 private:
  std::int64_t stall_ms_;
  bool have_sample_ = false;
  bool seen_moving_ = false;
  bool stalled_ = true;
  std::uint16_t last_watchdog_ = 0;
  std::int64_t last_move_ms_ = 0;
};

}  // namespace hbt::points
