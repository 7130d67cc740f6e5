// When a poll record's values may have changed, read from its poll control entry and its
// channel's statistics instead of from its values, so that a look at the image costs a few
// loads per record and a comparison of data area 1 only where a reply can have landed.
//
// The poller reloads a record's poll countdown with the poll time when it sends a read, and
// otherwise only counts it down. So a countdown that is higher than at the last look shows a
// request sent in between; one sent and counted down again below its old value within one
// look needs the whole poll time to pass in between, which only a record polled about as
// fast as the looks come can do (such records are compared at every look). The reply lands
// some ticks after the request: a record stays awaited, compared at every look, until its
// channel has counted a reply since the request was seen and the watchdog has moved twice
// after that (the tick that counted the reply has then stored it), or until the request must
// have failed (its channel's retries and reply timeouts are over).
#pragma once

#include <cstdint>

namespace hbt::points {

struct RecordTrack {
  static constexpr std::uint32_t kUnknownStatus = 0x10000;
  std::uint32_t status = kUnknownStatus;  // status word at the last look
  std::int32_t countdown = 0;             // poll countdown at the last look
  bool awaiting = false;
  bool reply_seen = false;
  std::uint16_t await_replies = 0;    // the channel's reply count when the request was seen
  std::uint16_t await_watchdog = 0;   // the watchdog then
  std::uint16_t settle_watchdog = 0;  // the watchdog from which the reply is surely stored
  std::int64_t request_unix_ms = 0;   // when the read that gave the values was sent
};

struct LookTiming {
  std::int32_t elapsed_ticks = 0;  // 10 ms ticks since the last look, rounded up
  std::int32_t freeze_ticks = 0;   // how long the watchdog had stood still at the last look
};

// Whether the countdown shows a read sent (or one that cannot be ruled out) since the last
// look. A record that is not polled (poll time below 0) never shows one.
bool read_request_seen(std::int32_t previous, std::int32_t now, std::int32_t poll_time, const LookTiming& t);

// A read request was seen; `replies` is the channel's reply count read after the countdown.
void await_reply(RecordTrack& track, std::uint16_t replies, std::uint16_t watchdog);

// Called at every look of an awaited record before its comparison: notes a reply counted on
// its channel since the request.
void note_replies(RecordTrack& track, std::uint16_t replies, std::uint16_t watchdog);

// Called after the comparison: ends the wait when the reply is surely stored, or when the
// request has had `window_ticks` of the poller's time to be answered.
void settle(RecordTrack& track, std::uint16_t watchdog, std::int32_t window_ticks);

}  // namespace hbt::points
