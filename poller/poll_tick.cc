#include "poller/poll_tick.h"

#include <array>

#include "image/lock_byte.h"
#include "poller/convert.h"
#include "poller/frames.h"
#include "poller/record_view.h"
#include "poller/schedule.h"

namespace hbt::poller {

using namespace hbt::image;

namespace {


// Converts a good read reply; false when its data could not be read.
bool store_reply(PollContext& ctx, const ChannelBlock& block, std::span<const std::uint8_t> data) {
  std::optional<RecordView> view = view_record(ctx.niolib, block.poll_record_index);
  if (!view) return true;
  // 3E replies are binary whatever coding the device names.
  const bool ascii = !is_q_series(block) && is_ascii(block);
  const ConversionSpec plan = conversion_spec(*view->head, ascii, read_is_in_bit_units(block));
  ConversionResult result;
  {
    ByteLock lock(&view->head->lock);
    result = convert_reply(plan, data, view->values, view->exceptions);
  }
  add_changed(view->entry, result.flagged);
  return result.ok;
}

}  // namespace

void complete_request(PollContext& ctx, ChannelBlock& block, const TickOutcome& outcome) {
  const int channel = block.channel_index;
  const int k = block.poll_record_index;
  switch (outcome.event) {
    case ChannelEvent::kNone:
      return;
    case ChannelEvent::kFailed:
      // Silence speaks for the whole PLC; a refusal (an abnormal end code, a reply that
      // fails its checks) only for the range asked.
      if (outcome.timed_out)
        set_device_failed(ctx, channel, k);
      else
        set_status(ctx, channel, k, kStatusCommFailure);
      return;
    case ChannelEvent::kReplyGood:
      // A write reply leaves the status as it is, Q-series or A-series: it vouches for the
      // connection, not for area 1. Made good by a write reply, a record never read since
      // polling started would show the file's zeros, a failed or expired one the values of
      // its last read, however old. The read-back the write makes due turns it good.
      if (block.is_write) return;
      if (!store_reply(ctx, block, outcome.data)) {
        // Characters that are not hexadecimal: the reply is refused, nothing is stored.
        if (ChannelRecord* ch = ctx.niolib.nio_map_chan(channel)) ++ch->stats.rejected_replies;
        set_status(ctx, channel, k, kStatusCommFailure);
        return;
      }
      set_status(ctx, channel, k, kStatusGood);
      return;
  }
}

void run_poll_tick(Poller& poller, PollContext& ctx, int elapsed_ticks) {
  const int channels = std::min(ctx.niolib.channel_count(), kMaxChannels);
  // One look at every socket instead of a receive per channel and tick.
  std::array<int, kMaxChannels> fds;
  std::array<int, kMaxChannels> slot;
  std::array<std::uint8_t, kMaxChannels> ready{};
  std::size_t polled = 0;
  for (int i = 0; i < channels; ++i) {
    slot[i] = -1;
    if (poller.in_service[i] == kChannelInService && poller.blocks[i] && poller.blocks[i]->socket >= 0) {
      slot[i] = static_cast<int>(polled);
      fds[polled++] = poller.blocks[i]->socket;
    }
  }
  if (polled > 0) ctx.sockets.readable(fds.data(), polled, ready.data());

  for (int i = 0; i < channels; ++i) {
    if (poller.in_service[i] != kChannelInService || !poller.blocks[i]) continue;
    ChannelRecord* ch = ctx.niolib.nio_map_chan(i);
    if (ch == nullptr) continue;
    ChannelBlock& block = *poller.blocks[i];
    const CountDown countdown = count_down(ctx, *ch, elapsed_ticks);
    TransportEnv env = ctx.transport(*ch);
    // A socket made after the look (or none yet) is simply tried.
    const bool readable = slot[i] < 0 || fds[slot[i]] != block.socket || ready[slot[i]] != 0;
    const TickOutcome outcome = handle_channel_tick(block, env, elapsed_ticks, readable);
    complete_request(ctx, block, outcome);
    if (channel_busy(block)) continue;
    choose_next_request(ctx, poller.schedules[i], block, i, countdown.writes_pending,
                        countdown.reads_possible || outcome.event != ChannelEvent::kNone);
  }
}

void run_poll_tick(Poller& poller, int elapsed_ticks) {
  PollContext ctx{poller.niolib, poller.messages, system_sockets()};
  run_poll_tick(poller, ctx, elapsed_ticks);
}

}  // namespace hbt::poller
