// The Ethernet transport of one channel: its non-blocking socket and connection state,
// sending requests, picking up the reply on each tick, the reply countdown and retries.
// Time comes in as elapsed ticks (10 ms units), so the rules run on any clock.
#pragma once

#include <cstdint>
#include <span>

#include "image/layout.h"
#include "image/message_sink.h"
#include "image/niolib.h"
#include "poller/channel_block.h"
#include "poller/socket_api.h"

namespace hbt::poller {

// Sleep after a connection attempt that is still pending.
inline constexpr int kConnectionPendingMs = 50;

struct TransportEnv {
  SocketApi& sockets;
  image::MessageSink& sink;
  image::ChannelRecord& channel;  // statistics and DISPLAY ALARMS
  image::Niolib* niolib = nullptr;  // to find the device record of a Q-series end code
};

// Makes sure the channel has a socket that can be used; false while it has none.
bool check_connection(ChannelBlock& block, TransportEnv& env);

// Sends the prepared read request. False when it could not be sent for lack of a connection
// (it still waits, and the countdown and retries send it later); true otherwise, also when
// the send call itself failed.
bool send_read_request(ChannelBlock& block, TransportEnv& env);

// Sends the prepared write request; a write always counts as sent.
void send_write_request(ChannelBlock& block, TransportEnv& env);

// Whether the channel may not send a new request: one is outstanding, or copies of the last
// one may still be answered.
bool channel_busy(const ChannelBlock& block);

enum class ChannelEvent {
  kNone,       // nothing ended this tick
  kReplyGood,  // a reply passed its checks
  kFailed,     // a reply failed its checks, or the retries ran out
};

struct TickOutcome {
  ChannelEvent event = ChannelEvent::kNone;
  std::span<const std::uint8_t> data;  // read data of a good read reply, inside block.reply
  // The whole reply that ended the request (a datagram, or the frame cut from the stream);
  // valid until the next receive.
  std::span<const std::uint8_t> reply;
  // kFailed because no answer came to the request or any of its retries: the PLC, or the
  // link to it, is gone, not just one record's range.
  bool timed_out = false;
};

// Once per tick for a channel in service, before a new request is considered: receives,
// checks the reply, or runs the reply countdown. The block's `waiting` says whether the
// channel is still busy afterwards. `readable` false: the socket is known to hold nothing,
// and the receive is spared.
TickOutcome handle_channel_tick(ChannelBlock& block, TransportEnv& env, int elapsed_ticks, bool readable = true);

}  // namespace hbt::poller
