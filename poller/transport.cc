#include "poller/transport.h"

#include <algorithm>
#include <cerrno>

#include "platform/error_text.h"
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

void send_request(ChannelBlock& block, TransportEnv& env, bool count_success) {
  const long n = env.sockets.send(block.socket, block.request, block.request_length);
  if (n < 0 || static_cast<std::size_t>(n) < block.request_length) {
    const int error = n < 0 ? static_cast<int>(-n) : EWOULDBLOCK;
    report(env.sink, kColourError, "Sending to %s error %d %s", block.device_name, error,
           platform::system_error_text(error).c_str());
    return;
  }
  if (count_success) ++env.channel.stats.requests_sent;
}

// Reply countdown; true when the request has failed for good.
bool run_reply_countdown(ChannelBlock& block, TransportEnv& env, int elapsed) {
  block.reply_countdown -= elapsed;
  if (block.reply_countdown > 0) return false;
  ++env.channel.stats.reply_timeouts;
  if (block.retries_left != 0) {
    ++env.channel.stats.retries;
    if (check_connection(block, env)) (void)env.sockets.send(block.socket, block.request, block.request_length);
    --block.retries_left;
    block.reply_countdown = static_cast<std::int32_t>(block.reply_timeout);
    return false;
  }
  block.waiting = 0;
  // The next use closes the socket and connects anew.
  block.connection_state = kConnectionNone;
  return true;
}

// Receives into the reply buffer; true when a whole reply is there (reply_length).
bool receive_reply(ChannelBlock& block, TransportEnv& env) {
  if (!is_tcp(block)) {
    const long n = env.sockets.receive(block.socket, block.reply, kReplyBufferSize);
    // An empty datagram carries nothing to examine.
    if (n <= 0) return false;
    block.reply_length = static_cast<std::uint16_t>(n);
    return true;
  }
  bool closed = false;
  const std::size_t room = kStreamBufferSize - block.stream_length;
  if (room > 0) {
    const long n = env.sockets.receive(block.socket, block.stream + block.stream_length,
                                       std::min(room, kReplyBufferSize));
    if (n > 0) {
      block.stream_length = static_cast<std::uint16_t>(block.stream_length + n);
      block.peer_seen = 1;
    } else if (n == 0 && block.peer_seen) {
      closed = true;
    }
  }
  const bool got = take_reply(block);
  if (closed) {
    // The peer closed the connection: what it sent before still counts, the rest is gone,
    // and the next check connects anew.
    block.connection_state = kConnectionNone;
    block.stream_length = 0;
  }
  return got;
}

}  // namespace

bool check_connection(ChannelBlock& block, TransportEnv& env) {
  switch (block.connection_state) {
    case kConnectionNone: {
      env.sockets.close(block.socket);
      block.socket = -1;
      block.stream_length = 0;
      block.peer_seen = 0;
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
    return false;
  }
  // Whatever is pending belongs to an earlier request.
  (void)env.sockets.receive(block.socket, block.reply, kReplyBufferSize);
  block.stream_length = 0;
  send_request(block, env, true);
  return true;
}

void send_write_request(ChannelBlock& block, TransportEnv& env) {
  if (check_connection(block, env)) {
    // Stream bytes still unread answer an earlier request, not this write.
    block.stream_length = 0;
    send_request(block, env, false);
  } else {
    ++env.channel.stats.writes_not_sent;
  }
  ++env.channel.stats.requests_sent;
}

TickOutcome handle_channel_tick(ChannelBlock& block, TransportEnv& env, int elapsed_ticks, bool readable) {
  TickOutcome outcome;
  // A whole reply may still wait in the stream buffer even when the socket holds nothing.
  const bool look = readable || block.stream_length > 0;
  if (!check_connection(block, env) || !look || !receive_reply(block, env)) {
    if (block.waiting && run_reply_countdown(block, env, elapsed_ticks)) outcome.event = ChannelEvent::kFailed;
    return outcome;
  }
  // Before the first request there is nothing to examine a reply against.
  if (!block.prepared) return outcome;
  ReplyCheckEnv check{env.channel, env.niolib ? env.niolib->nio_map_dev(block.device_index) : nullptr, env.sink};
  const ReplyVerdict verdict = check_reply(block, {block.reply, block.reply_length}, check);
  switch (verdict.result) {
    case ReplyResult::kIgnored:
      break;
    case ReplyResult::kGood:
      block.waiting = 0;
      outcome.event = ChannelEvent::kReplyGood;
      outcome.data = verdict.data;
      break;
    case ReplyResult::kFailure:
      block.waiting = 0;
      outcome.event = ChannelEvent::kFailed;
      break;
  }
  return outcome;
}

}  // namespace hbt::poller
