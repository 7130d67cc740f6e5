// Poll scheduling of a channel: the count-down of its records, the read and write scans
// with their cursors and turn, and the status word with exception flagging, DELAY and
// the failure and recovery messages.
#pragma once

#include <cstdint>

#include "poller/channel_block.h"
#include "poller/channel_schedule.h"
#include "poller/poll_context.h"

namespace hbt::poller {

struct CountDown {
  bool writes_pending = false;  // a record of the channel has a write request count above 0
  // Some record could make the read scan act (due, or its access time just ran out). When
  // none can, the scan would pass over every record without effect.
  bool reads_possible = false;
};

// Counts down the poll and access countdowns of the channel's polled records.
CountDown count_down(PollContext& ctx, const image::ChannelRecord& channel, int elapsed_ticks);
// The same over a run of poll control entries.
CountDown count_down_entries(image::PollControlEntry* entries, int count, int elapsed_ticks);

// Sets the status word of poll record k of the channel, flags registered exception entries
// when the status turns good or bad, applies DELAY and reports failure and recovery.
void set_status(PollContext& ctx, int channel, int k, std::uint16_t status);

// The scans; true when they issued a request.
bool read_scan(PollContext& ctx, ChannelSchedule& schedule, ChannelBlock& block, int channel);
bool write_scan(PollContext& ctx, ChannelSchedule& schedule, ChannelBlock& block, int channel);

// Sends the next request of an idle channel: reads and writes take turns.
void choose_next_request(PollContext& ctx, ChannelSchedule& schedule, ChannelBlock& block, int channel,
                         bool writes_pending, bool reads_possible = true);

}  // namespace hbt::poller
