#include "poller/transport.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <span>

#include "platform/error_text.h"
#include "poller/frames.h"
#include "poller/reply_check.h"
#include "poller/reply_framing.h"

namespace hbt::poller {

using namespace hbt::image;

namespace {

bool is_tcp(const ChannelBlock& block) { return block.protocol != 0; }

// Assumed connected: the failure shows as send errors and timeouts, which end in a new
// attempt.
void report_connect_failure(ChannelBlock& block, TransportEnv& env, int error) {
  report(env.sink, kColourInfo, "Connection to %s failed code = %d = %s\n\r ", block.device_name, error,
         platform::system_error_text(error).c_str());
  block.connection_state = kConnectionConnected;
}

// The connect outcome once a socket is open and switched to non-blocking mode.
bool connect_socket(ChannelBlock& block, TransportEnv& env) {
  if (env.sockets.set_non_blocking(block.socket) != 0)
    report(env.sink, kColourNotice, "Socket could not be set to Non Blocking Mode");
  const int result = env.sockets.connect(block.socket, block.remote);
  const int error = -result;
  if (result != 0) {
    if (error == EINPROGRESS || error == EWOULDBLOCK || error == EAGAIN) {
      report(env.sink, kColourInfo, "Connection Pending");
      block.connection_state = kConnectionConnected;
      env.sockets.sleep_ms(kConnectionPendingMs);
      // A refusal from this host arrives within the wait; report it as a refused connect.
      const int late = env.sockets.pending_error(block.socket);
      if (late == 0 || late == EINPROGRESS) return false;
      report_connect_failure(block, env, late);
      return true;
    }
    if (error != EALREADY && error != EISCONN) {
      report_connect_failure(block, env, error);
      return true;
    }
    report(env.sink, kColourInfo, "Socket connected");
  }
  block.connection_state = kConnectionConnected;
  report(env.sink, kColourInfo, is_tcp(block) ? "TCP Socket Connected" : "UDP Socket Connected");
  return true;
}

// The outstanding request is over. Copies still on the wire may yet be answered; until they
// are, or a quiet spell says they were lost, the channel sends nothing new.
void end_request(ChannelBlock& block) {
  block.waiting = 0;
  block.quiet_countdown = static_cast<std::int32_t>(std::min<std::uint32_t>(2u * block.reply_timeout, INT32_MAX));
}

bool would_block(int error) { return error == EAGAIN || error == EWOULDBLOCK; }

// Puts the request on the wire once more. False when the socket could not take it yet (a
// connection still being made): the request then stays unsent and goes out on a later tick.
bool put_on_wire(ChannelBlock& block, TransportEnv& env, bool count_success, bool report_errors) {
  const long n = env.sockets.send(block.socket, block.request, block.request_length);
  if (n < 0 && would_block(static_cast<int>(-n)) && block.copies_out == 0) {
    block.unsent = 1;
    return false;
  }
  block.unsent = 0;
  if (n < 0 || static_cast<std::size_t>(n) < block.request_length) {
    const int error = n < 0 ? static_cast<int>(-n) : EWOULDBLOCK;
    if (report_errors)
      report(env.sink, kColourError, "Sending to %s error %d %s", block.device_name, error,
             platform::system_error_text(error).c_str());
    return true;
  }
  if (block.copies_out < UINT8_MAX) ++block.copies_out;
  if (count_success) ++env.channel.stats.requests_sent;
  return true;
}

// A new request: whatever is still in the stream answers nothing outstanding.
void send_new_request(ChannelBlock& block, TransportEnv& env, bool count_success) {
  block.stream_length = 0;
  block.copies_out = 0;
  put_on_wire(block, env, count_success, true);
}

// Reply countdown; true when the request has failed for good.
bool run_reply_countdown(ChannelBlock& block, TransportEnv& env, int elapsed) {
  block.reply_countdown -= elapsed;
  if (block.reply_countdown > 0) return false;
  ++env.channel.stats.reply_timeouts;
  if (block.unsent && block.is_write) {
    // A write that never reached the wire has nothing to time out: its flags are already
    // cleared, so giving up would lose it. It waits on for its connection.
    block.reply_countdown = static_cast<std::int32_t>(block.reply_timeout);
    return false;
  }
  if (block.retries_left != 0) {
    ++env.channel.stats.retries;
    if (check_connection(block, env)) (void)put_on_wire(block, env, false, false);
    --block.retries_left;
    block.reply_countdown = static_cast<std::int32_t>(block.reply_timeout);
    return false;
  }
  block.waiting = 0;
  block.unsent = 0;
  // The next use closes the socket and connects anew.
  block.connection_state = kConnectionNone;
  end_request(block);
  return true;
}

// Datagrams one receive takes at most: the reply, and whatever came after it (a late answer
// to a copy), so that nothing waits behind a new request.
constexpr std::size_t kDatagramSlots = 2;

// What one receive call took off a readable socket.
struct Arrivals {
  std::span<const std::uint8_t> datagrams[kDatagramSlots];
  std::size_t count = 0;
  std::size_t next = 0;
  bool closed = false;  // TCP: the peer closed the connection
};

// One receive call: UDP takes every waiting datagram (up to the slots), TCP appends what
// is there to the stream, whose room is never less than a whole reply.
void receive(ChannelBlock& block, TransportEnv& env, Arrivals& in) {
  if (!is_tcp(block)) {
    std::uint8_t* slots[kDatagramSlots] = {block.reply, block.stream};
    std::size_t lengths[kDatagramSlots] = {};
    const int n = env.sockets.receive_datagrams(block.socket, slots, kReplyBufferSize, kDatagramSlots, lengths);
    for (int i = 0; i < n; ++i) in.datagrams[in.count++] = {slots[i], lengths[i]};
    return;
  }
  const std::size_t room = kStreamBufferSize - block.stream_length;
  if (room == 0) return;
  const long n = env.sockets.receive(block.socket, block.stream + block.stream_length, std::min(room, kReplyBufferSize));
  if (n > 0) {
    block.stream_length = static_cast<std::uint16_t>(block.stream_length + n);
    block.peer_seen = 1;
  } else if (n == 0 && block.peer_seen) {
    in.closed = true;
  }
}

// The next whole reply: a datagram (an empty one carries nothing), or a reply cut out of
// the stream into the reply buffer.
bool next_reply(ChannelBlock& block, Arrivals& in, std::span<const std::uint8_t>& reply) {
  if (!is_tcp(block)) {
    while (in.next < in.count) {
      reply = in.datagrams[in.next++];
      if (!reply.empty()) return true;
    }
    return false;
  }
  if (!take_reply(block)) return false;
  reply = {block.reply, block.reply_length};
  return true;
}

// Examines one reply against the outstanding request. False when no request explains it.
bool examine(ChannelBlock& block, TransportEnv& env, std::span<const std::uint8_t> reply, TickOutcome& outcome) {
  // Before the first request there is nothing to examine a reply against; data that no copy
  // on the wire explains answers nothing this channel asked.
  if (!block.prepared || block.copies_out == 0) return false;
  if (!block.waiting) {
    // The answer to a copy of a request that has already ended: it belongs to no record now.
    --block.copies_out;
    end_request(block);
    return true;
  }
  if (is_tcp(block) && !is_q_series(block) && block.copies_out == 1 && stream_holds_more(block)) {
    // A 1E reply carries no length of its own: it was cut at the length this request
    // expects, yet more followed that no copy on the wire explains. It answers something
    // else (a longer read) and must not be stored; a new connection starts the stream clean.
    ++env.channel.stats.rejected_replies;
    block.copies_out = 0;
    block.stream_length = 0;
    block.connection_state = kConnectionNone;
    end_request(block);
    outcome.event = ChannelEvent::kFailed;
    return true;
  }
  ReplyCheckEnv check{env.channel, env.niolib ? env.niolib->nio_map_dev(block.device_index) : nullptr, env.sink};
  const ReplyVerdict verdict = check_reply(block, reply, check);
  if (verdict.result == ReplyResult::kIgnored) return true;
  --block.copies_out;
  end_request(block);
  outcome.reply = reply;
  if (verdict.result == ReplyResult::kGood) {
    outcome.event = ChannelEvent::kReplyGood;
    outcome.data = verdict.data;
  } else {
    outcome.event = ChannelEvent::kFailed;
  }
  return true;
}

}  // namespace

bool check_connection(ChannelBlock& block, TransportEnv& env) {
  switch (block.connection_state) {
    case kConnectionNone: {
      env.sockets.close(block.socket);
      block.socket = -1;
      block.stream_length = 0;
      block.peer_seen = 0;
      // Copies sent over a TCP connection are answered on it or not at all.
      if (is_tcp(block)) block.copies_out = 0;
      const int fd = env.sockets.open(is_tcp(block));
      if (fd < 0) {
        report(env.sink, kColourNotice, "Failed to create socket, Is TCP/IP installed ?");
        return false;
      }
      block.socket = fd;
      block.local = block.remote;
      block.local.sin_addr.s_addr = htonl(INADDR_ANY);
      // A module may answer datagrams at its own port number, so UDP listens there. A TCP
      // reply comes back on the connection itself; a fixed local port would only make
      // reconnects fail while the old connection lingers, and a PLC on this host whose
      // port is closed would see the socket connect to itself.
      if (!is_tcp(block)) (void)env.sockets.bind(block.socket, block.local);
      block.connection_state = kConnectionCreated;
      return connect_socket(block, env);
    }
    case kConnectionCreated:
      return connect_socket(block, env);
    case kConnectionConnected:
      return true;
    default:
      return false;
  }
}

bool send_read_request(ChannelBlock& block, TransportEnv& env) {
  if (!check_connection(block, env)) {
    ++env.channel.stats.reads_not_sent;
    block.copies_out = 0;
    block.unsent = 1;
    return false;
  }
  // No receive first: the tick took everything the socket held, and what the stream still
  // holds is dropped with the new request.
  send_new_request(block, env, true);
  return true;
}

void send_write_request(ChannelBlock& block, TransportEnv& env) {
  if (check_connection(block, env)) {
    send_new_request(block, env, false);
  } else {
    ++env.channel.stats.writes_not_sent;
    block.copies_out = 0;
    block.unsent = 1;
  }
  ++env.channel.stats.requests_sent;
}

bool channel_busy(const ChannelBlock& block) { return block.waiting || block.copies_out > 0; }

TickOutcome handle_channel_tick(ChannelBlock& block, TransportEnv& env, int elapsed_ticks, bool readable) {
  TickOutcome outcome;
  const bool ready = check_connection(block, env);
  // A request that found no connection goes out as soon as there is one.
  if (ready && block.waiting && block.unsent) (void)put_on_wire(block, env, false, true);
  Arrivals in;
  // One receive for a socket the readiness look found readable, none for any other.
  if (ready && readable) receive(block, env, in);
  bool examined = false;
  std::span<const std::uint8_t> reply;
  // Every whole reply that is there is examined now; from a TCP stream only until one ends
  // the request, as the next would be cut into the same buffer (it waits for the next tick).
  while (ready && !(is_tcp(block) && outcome.event != ChannelEvent::kNone) && next_reply(block, in, reply))
    examined |= examine(block, env, reply, outcome);
  if (in.closed) {
    // The peer closed the connection: what it sent before still counts, the rest is gone,
    // and the next check connects anew.
    block.connection_state = kConnectionNone;
    block.stream_length = 0;
  }
  // The countdown measures time since the request went out, so data that answers nothing
  // (another station's reply, the pieces of one split into datagrams) does not hold it up:
  // otherwise a PLC that keeps sending such pieces would keep the record's old values good.
  if (block.waiting) {
    if (run_reply_countdown(block, env, elapsed_ticks)) {
      outcome.event = ChannelEvent::kFailed;
      outcome.timed_out = true;
    }
  } else if (!examined && block.copies_out > 0) {
    block.quiet_countdown -= elapsed_ticks;
    if (block.quiet_countdown <= 0) block.copies_out = 0;  // lost on the way
  }
  return outcome;
}

}  // namespace hbt::poller
