// Write requests: the marks a client left in data area 3 become MC protocol batch writes
// (runs of bits, runs of whole registers or 32-bit values, single bits merged into a
// register), the marks served are cleared and the record is read back at once.
#pragma once

#include "poller/channel_block.h"
#include "poller/poll_context.h"

namespace hbt::poller {

enum class WriteAnswer {
  kDone,          // a write was sent; nothing more of this record right now
  kMorePending,   // a write was sent; the record has more flags to serve
  kNothingFound,  // no write was sent
};

// Issues the next write of poll record k of the channel.
WriteAnswer issue_next_write(PollContext& ctx, ChannelBlock& block, int channel, int k);

}  // namespace hbt::poller
