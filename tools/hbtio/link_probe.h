// One request at a time to a PLC over a socket of the doctor's own: the request a channel
// block holds (built by the poller's frame builders) goes out, and whatever comes back is
// taken with the time it took: a datagram, or a reply cut from the TCP stream by the
// poller's own framing. The poller's connection and statistics are never touched.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "poller/channel_block.h"
#include "poller/socket_api.h"

namespace hbt::hbtio {

enum class ProbeResult {
  kReply,      // a whole reply in the frame asked (it may still be refused by its checks)
  kUnframed,   // bytes came back, but no whole reply of the frame asked
  kNoAnswer,   // nothing came back in time
  kRefused,    // TCP connection refused, or a UDP port reported closed
  kClosed,     // the PLC closed the TCP connection instead of answering
  kError,      // no socket could be made, or sending failed
};

struct Exchange {
  ProbeResult result = ProbeResult::kNoAnswer;
  std::vector<std::uint8_t> bytes;  // the reply, or what came back when it is unframed
  double ms = 0;                    // from sending to the reply (or to giving up)
  int error = 0;                    // errno of a refusal or an error
};

// What the doctor talks to a PLC through; tests stand a simulated PLC in.
class Link {
 public:
  virtual ~Link() = default;
  // Sends the block's request and waits up to wait_ms for the reply to it.
  virtual Exchange exchange(poller::ChannelBlock& block, int wait_ms) = 0;
};

// A UDP or TCP peer at ip:port. A TCP connection is kept while it carries whole replies and
// made anew after anything else, so that no leftover of a mismatched frame is taken for the
// reply to the next request.
class SocketLink final : public Link {
 public:
  SocketLink(poller::SocketApi& sockets, std::uint32_t ip, std::uint16_t port, bool tcp);
  ~SocketLink() override;
  SocketLink(const SocketLink&) = delete;
  SocketLink& operator=(const SocketLink&) = delete;

  Exchange exchange(poller::ChannelBlock& block, int wait_ms) override;

 private:
  bool ensure_socket(Exchange& out, int wait_ms);
  void drop();

  poller::SocketApi& sockets_;
  sockaddr_in remote_{};
  bool tcp_;
  int fd_ = -1;
};

}  // namespace hbt::hbtio
