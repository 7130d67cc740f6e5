#include "poller/count_down.h"

#include <cstdint>

#include "poller/record_view.h"

namespace hbt::poller {

using namespace hbt::image;

namespace {

// A countdown taken from the image may hold any value; one at or below the elapsed ticks
// (negative ones included) ends at 0, so the subtraction never leaves the type.
std::int32_t count_toward_zero(std::int32_t value, int elapsed) { return value <= elapsed ? 0 : value - elapsed; }

}  // namespace

CountDown count_down_entries(PollControlEntry* entries, int count, int elapsed) {
  // This pass touches every poll control entry of the image on every tick, so it is kept to
  // one load of each field it needs and a store only where a value changes: with thousands
  // of records it is most of what an idle poller costs.
  CountDown result;
  unsigned writes = 0;
  bool reads = false;
  for (int i = 0; i < count; ++i) {
    PollControlEntry& e = entries[i];
    std::int32_t poll = e.poll_countdown;
    writes |= e.write_request_count;
    if (e.polled == 1) {
      // The poller alone writes the poll countdown; 0 and values below stay (or end) at 0.
      const std::int32_t next = count_toward_zero(poll, elapsed);
      if (next != poll) e.poll_countdown = next;
      poll = next;
      // A client reloads the access countdown: it is stored only when it really moves.
      const std::int32_t access = e.access_countdown;
      if (access != 0 && access != kAccessNeverExpires) e.access_countdown = count_toward_zero(access, elapsed);
    }
    if (poll <= 0) [[unlikely]] {
      const std::int32_t left = e.access_countdown;
      reads |= (left <= 0 && e.access_expired == 0) || (left > 0 && e.polled == 1);
    }
  }
  result.writes_pending = writes != 0;
  result.reads_possible = reads;
  return result;
}

CountDown count_down(PollContext& ctx, const ChannelRecord& channel, int elapsed) {
  const RecordRange range = channel_records(ctx.niolib, channel);
  PollControlEntry* entries = control_entries(ctx.niolib, range.first, range.count);
  if (entries == nullptr) return {};
  return count_down_entries(entries, range.count, elapsed);
}

}  // namespace hbt::poller
