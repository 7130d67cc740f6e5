#include "points/change_detection.h"

namespace hbt::points {

namespace {
// Ticks of slack for the different clocks of the poller and this look (each rounds).
constexpr std::int32_t kTickSlack = 2;

std::int16_t ticks_between(std::uint16_t from, std::uint16_t to) { return static_cast<std::int16_t>(to - from); }
}  // namespace

bool read_request_seen(std::int32_t previous, std::int32_t now, std::int32_t poll_time, const LookTiming& t) {
  if (poll_time < 0) return false;
  if (now > previous) return true;
  return poll_time <= t.elapsed_ticks + t.freeze_ticks + kTickSlack;
}

void await_reply(RecordTrack& track, std::uint16_t replies, std::uint16_t watchdog) {
  track.awaiting = true;
  track.reply_seen = false;
  track.await_replies = replies;
  track.await_watchdog = watchdog;
}

void note_replies(RecordTrack& track, std::uint16_t replies, std::uint16_t watchdog) {
  if (!track.awaiting || track.reply_seen || replies == track.await_replies) return;
  track.reply_seen = true;
  // The tick that counted the reply began at most one tick after `watchdog` was read, and
  // the poller moves the watchdog before each tick's work: two moves on, its store is done.
  track.settle_watchdog = static_cast<std::uint16_t>(watchdog + 2);
}

void settle(RecordTrack& track, std::uint16_t watchdog, std::int32_t window_ticks) {
  if (!track.awaiting) return;
  if (track.reply_seen && ticks_between(track.settle_watchdog, watchdog) >= 0) {
    track.awaiting = false;
    return;
  }
  if (ticks_between(track.await_watchdog, watchdog) > window_ticks) track.awaiting = false;
}

}  // namespace hbt::points
