// Preparing a request: the channel block takes over what the frames, the reply checks and
// the messages need from the poll record, its device and its channel.
#pragma once

#include "image/niolib.h"
#include "poller/channel_block.h"

namespace hbt::poller {

// The active settings block of a channel: the primary one while the selector equals the
// primary port byte, else the backup one.
const image::ChannelSettings& active_settings(const image::ChannelRecord& channel);

// Makes the block's outstanding request the read or write of poll record k: copies the
// record, device and timing context, empties the request buffer and sets waiting. False
// (block untouched) when the record or its device is not in the image.
bool prepare_request(image::Niolib& niolib, ChannelBlock& block, int channel, int k, bool is_write);

}  // namespace hbt::poller
