// Replies cut out of a TCP byte stream by their frame lengths: a 3E reply by the response
// data length in its header, a 1E reply by what the outstanding request expects and by its
// completion code. A reply that arrives in pieces is taken once it is whole; bytes after it
// stay for the next one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "poller/channel_block.h"

namespace hbt::poller {

struct StreamCut {
  std::size_t skip = 0;    // leading bytes that cannot start a reply
  std::size_t length = 0;  // length of the reply after them; 0 while it is not complete
};

// Where the next reply to the block's outstanding request lies in `stream`.
StreamCut find_reply(const ChannelBlock& block, std::span<const std::uint8_t> stream);

// Moves the next complete reply from the block's stream buffer into its reply buffer
// (reply_length) and keeps what follows. False while no reply is complete.
bool take_reply(ChannelBlock& block);

// Whether the stream buffer holds more than the filler that may trail a 1E reply: bytes
// that would have to start another reply.
bool stream_holds_more(const ChannelBlock& block);

// Appends received bytes to the stream buffer; what does not fit is dropped.
void append_to_stream(ChannelBlock& block, std::span<const std::uint8_t> bytes);

}  // namespace hbt::poller
