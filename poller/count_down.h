// The count-down of every tick: the poll and access countdowns of a channel's polled
// records, and what the scans of that channel may find.
#pragma once

#include "image/layout.h"
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

}  // namespace hbt::poller
