// Checks of a reply against the outstanding request of a channel block: the 3E header and
// end code (Q-series) and the 1E length, command and completion code checks (A-series),
// with their statistics and messages.
#pragma once

#include <cstdint>
#include <span>

#include "image/layout.h"
#include "image/message_sink.h"
#include "poller/channel_block.h"

namespace hbt::poller {

enum class ReplyResult {
  kIgnored,  // not a reply to this request (3E header mismatch): the request stays outstanding
  kGood,
  kFailure,  // the record's status becomes communication failure
};

struct ReplyVerdict {
  ReplyResult result = ReplyResult::kIgnored;
  // A good read: the read data within the reply (binary bytes or ASCII characters).
  std::span<const std::uint8_t> data;
};

struct ReplyCheckEnv {
  image::ChannelRecord& channel;       // statistics, DISPLAY ALARMS
  image::DeviceRecord* device;         // receives the last Q-series end code; may be null
  image::MessageSink& sink;
};

ReplyVerdict check_3e_reply(const ChannelBlock& block, std::span<const std::uint8_t> reply, ReplyCheckEnv& env);
ReplyVerdict check_1e_reply(const ChannelBlock& block, std::span<const std::uint8_t> reply, ReplyCheckEnv& env);

// The checks of the block's CPU family.
ReplyVerdict check_reply(const ChannelBlock& block, std::span<const std::uint8_t> reply, ReplyCheckEnv& env);

}  // namespace hbt::poller
