// Poll scheduling of a channel: the read and write scans with their cursors and turn, and
// the status word with exception flagging, DELAY and the failure and recovery messages.
#pragma once

#include <cstdint>

#include "poller/channel_block.h"
#include "poller/channel_schedule.h"
#include "poller/count_down.h"
#include "poller/poll_context.h"

namespace hbt::poller {

// Sets the status word of poll record k of the channel, flags registered exception entries
// when the status turns good or bad, applies DELAY and reports failure and recovery.
void set_status(PollContext& ctx, int channel, int k, std::uint16_t status);

// A request of record k found no answer after every retry: the PLC, or the link to it, is
// gone. Record k and every record of its device that is being polled take communication
// failure at once, each with its message and DELAY, so that no record keeps good status on
// values the PLC no longer vouches for; their values stay as last read. Records not polled
// keep 4297, and those the read scan has found unread by any client keep 4296.
void set_device_failed(PollContext& ctx, int channel, int k);

// The scans; true when they issued a request.
bool read_scan(PollContext& ctx, ChannelSchedule& schedule, ChannelBlock& block, int channel);
bool write_scan(PollContext& ctx, ChannelSchedule& schedule, ChannelBlock& block, int channel);

// Sends the next request of an idle channel: reads and writes take turns.
void choose_next_request(PollContext& ctx, ChannelSchedule& schedule, ChannelBlock& block, int channel,
                         bool writes_pending, bool reads_possible = true);

}  // namespace hbt::poller
