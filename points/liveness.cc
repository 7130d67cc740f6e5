#include "points/liveness.h"

namespace hbt::points {

void Liveness::observe(std::int64_t now_ms, const LivenessSample& s) {
  if (!s.present) {
    // A new image or a returning poller must prove itself again.
    have_sample_ = false;
    seen_moving_ = false;
    stalled_ = true;
    return;
  }
  if (!have_sample_) {
    have_sample_ = true;
    last_watchdog_ = s.watchdog;
    last_move_ms_ = now_ms;
  } else if (s.watchdog != last_watchdog_) {
    last_watchdog_ = s.watchdog;
    last_move_ms_ = now_ms;
    seen_moving_ = true;
  }
  stalled_ = !s.running || !seen_moving_ || now_ms - last_move_ms_ > stall_ms_;
}

}  // namespace hbt::points
