#include "tools/hbtio/link_probe.h"

#include <arpa/inet.h>
#include <sys/socket.h>

#include <cerrno>
#include <chrono>

#include "poller/reply_framing.h"

namespace hbt::hbtio {

namespace {

using Clock = std::chrono::steady_clock;

double ms_since(Clock::time_point t) {
  return std::chrono::duration<double, std::milli>(Clock::now() - t).count();
}

bool would_block(int error) { return error == EAGAIN || error == EWOULDBLOCK || error == EINTR; }
bool refusal(int error) { return error == ECONNREFUSED || error == EHOSTUNREACH || error == ENETUNREACH; }

}  // namespace

SocketLink::SocketLink(poller::SocketApi& sockets, std::uint32_t ip, std::uint16_t port, bool tcp)
    : sockets_(sockets), tcp_(tcp) {
  remote_.sin_family = AF_INET;
  remote_.sin_port = htons(port);
  remote_.sin_addr.s_addr = htonl(ip);
}

SocketLink::~SocketLink() { drop(); }

void SocketLink::drop() {
  if (fd_ >= 0) sockets_.close(fd_);
  fd_ = -1;
}

bool SocketLink::ensure_socket(Exchange& out, int wait_ms) {
  if (fd_ >= 0) return true;
  const int fd = sockets_.open(tcp_);
  if (fd < 0) {
    out.result = ProbeResult::kError;
    out.error = -fd;
    return false;
  }
  fd_ = fd;
  // A connected datagram socket hears of a closed port (ICMP) as a refused receive.
  (void)sockets_.set_non_blocking(fd_);
  const int result = sockets_.connect(fd_, remote_);
  if (result == 0) return true;
  int error = -result;
  if (error == EINPROGRESS || error == EALREADY || would_block(error)) {
    const Clock::time_point start = Clock::now();
    for (;;) {
      error = sockets_.pending_error(fd_);
      if (error != 0 && error != EINPROGRESS) break;
      // No error yet: connected once the socket has a peer, still in progress until then.
      sockaddr_in peer{};
      socklen_t size = sizeof peer;
      if (error == 0 && ::getpeername(fd_, reinterpret_cast<sockaddr*>(&peer), &size) == 0) return true;
      if (ms_since(start) >= wait_ms) {
        out.result = ProbeResult::kNoAnswer;
        drop();
        return false;
      }
      sockets_.sleep_ms(1);
    }
  }
  out.result = refusal(error) ? ProbeResult::kRefused : ProbeResult::kError;
  out.error = error;
  drop();
  return false;
}

Exchange SocketLink::exchange(poller::ChannelBlock& block, int wait_ms) {
  Exchange out;
  const Clock::time_point start = Clock::now();
  if (!ensure_socket(out, wait_ms)) {
    out.ms = ms_since(start);
    return out;
  }
  std::uint8_t datagram[poller::kReplyBufferSize];
  std::uint8_t* slots[1] = {datagram};
  std::size_t length = 0;
  if (!tcp_) {
    // Late answers to earlier probes answer nothing now.
    while (sockets_.receive_datagrams(fd_, slots, sizeof datagram, 1, &length) > 0) {
    }
  }
  const Clock::time_point sent = Clock::now();
  const long n = sockets_.send(fd_, block.request, block.request_length);
  if (n < 0) {
    out.error = static_cast<int>(-n);
    out.result = refusal(out.error) ? ProbeResult::kRefused : ProbeResult::kError;
    out.ms = ms_since(sent);
    drop();
    return out;
  }
  block.stream_length = 0;
  std::vector<std::uint8_t> seen;  // everything that came, for a reply in no frame asked
  while (ms_since(sent) < wait_ms) {
    std::uint8_t ready = 0;
    sockets_.readable(&fd_, 1, &ready);
    if (ready == 0) {
      sockets_.sleep_ms(1);
      continue;
    }
    if (!tcp_) {
      const int r = sockets_.receive_datagrams(fd_, slots, sizeof datagram, 1, &length);
      if (r < 0 && refusal(-r)) {
        out.result = ProbeResult::kRefused;
        out.error = -r;
        break;
      }
      if (r <= 0 || length == 0) {
        if (r < 0 && !would_block(-r)) sockets_.sleep_ms(1);
        continue;
      }
      out.bytes.assign(datagram, datagram + length);
      out.result = ProbeResult::kReply;
      out.ms = ms_since(sent);
      return out;
    }
    const std::size_t room = poller::kStreamBufferSize - block.stream_length;
    const long r = sockets_.receive(fd_, block.stream + block.stream_length, room);
    if (r == 0 || (r < 0 && (-r == ECONNRESET || -r == EPIPE))) {
      out.result = ProbeResult::kClosed;
      break;
    }
    if (r < 0) {
      if (!would_block(static_cast<int>(-r))) {
        out.result = refusal(static_cast<int>(-r)) ? ProbeResult::kRefused : ProbeResult::kError;
        out.error = static_cast<int>(-r);
        break;
      }
      continue;
    }
    seen.insert(seen.end(), block.stream + block.stream_length, block.stream + block.stream_length + r);
    block.stream_length = static_cast<std::uint16_t>(block.stream_length + r);
    if (poller::take_reply(block)) {
      out.bytes.assign(block.reply, block.reply + block.reply_length);
      out.result = ProbeResult::kReply;
      out.ms = ms_since(sent);
      // Anything after the reply belongs to no request of ours.
      if (block.stream_length > 0) drop();
      return out;
    }
  }
  out.ms = ms_since(sent);
  if (out.result == ProbeResult::kNoAnswer && !seen.empty()) out.result = ProbeResult::kUnframed;
  if (out.bytes.empty()) out.bytes = std::move(seen);
  // A reply may still come on this connection: the next request gets a new one.
  if (tcp_) drop();
  return out;
}

}  // namespace hbt::hbtio
