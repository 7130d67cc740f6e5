// One 10 ms tick of polling work over every channel in service.
#pragma once

#include "poller/channel_block.h"
#include "poller/poll_context.h"
#include "poller/poller.h"
#include "poller/transport.h"

namespace hbt::poller {

void run_poll_tick(Poller& poller, int elapsed_ticks);

// The same with the image, messages and sockets given explicitly (tests use their own).
void run_poll_tick(Poller& poller, PollContext& ctx, int elapsed_ticks);

// What ends a request: a good reply is converted into area 1 (reads) and sets the status
// good (reads and Q-series writes); a failure sets communication failure.
void complete_request(PollContext& ctx, ChannelBlock& block, const TickOutcome& outcome);

}  // namespace hbt::poller
