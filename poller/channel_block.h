// The run-time block of one polled channel: its socket and the one request outstanding.
// Allocated zero-filled when polling starts, freed when it stops.
#pragma once

#include <netinet/in.h>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace hbt::poller {

inline constexpr std::size_t kRequestBufferSize = 2050;
inline constexpr std::size_t kReplyBufferSize = 2048;
// TCP bytes not yet taken as a reply: room for a whole reply and the start of the next.
inline constexpr std::size_t kStreamBufferSize = 2 * kReplyBufferSize;

// Connection states.
enum : std::uint16_t {
  kConnectionNone = 0,       // next check makes a new socket
  kConnectionCreated = 1,    // socket made, connect to be issued
  kConnectionConnected = 2,  // connected, or assumed to be
};

struct ChannelBlock {
  std::uint8_t waiting = 0;   // a request is outstanding
  std::uint8_t is_write = 0;  // ... and it is a write
  std::uint16_t channel_index = 0;
  std::uint32_t reply_timeout = 0;   // 1/100 s
  std::int32_t reply_countdown = 0;  // 1/100 s
  std::uint16_t retries_left = 0;
  std::uint16_t protocol = 0;  // 1 TCP, 0 UDP
  std::uint32_t ip_address = 0;  // first octet in the high byte
  std::uint16_t port = 0;
  int socket = -1;
  sockaddr_in remote{};
  sockaddr_in local{};
  std::uint16_t connection_state = kConnectionNone;

  // The outstanding request.
  std::uint16_t device_index = 0;
  std::uint16_t coding = 0;
  std::uint16_t first_poll_record = 0;  // of the device
  std::uint16_t cpu_type = 0;
  std::uint16_t pc_number = 0;
  std::uint16_t network_number = 0;
  std::uint16_t module_number = 0;
  char device_name[16] = {};
  std::uint16_t poll_record_index = 0;
  std::uint32_t address_word = 0;
  std::uint32_t extension = 0;
  std::uint16_t area1_size = 0;
  std::uint16_t length = 0;
  std::uint16_t request_length = 0;
  std::uint8_t request[kRequestBufferSize] = {};
  std::uint8_t reply[kReplyBufferSize] = {};
  std::uint16_t expected_reply_length = 0;  // A-series reads

  // Set once a request has been prepared: before that there is nothing to judge a reply by.
  std::uint8_t prepared = 0;
  // TCP: the peer has sent something on this connection, so an end of stream is its close
  // (a connection that never came up reads as ended too).
  std::uint8_t peer_seen = 0;
  // The request is outstanding but not on the wire yet (no connection when it was due): it
  // goes out as soon as the connection is ready.
  std::uint8_t unsent = 0;
  // Copies of the last request (first send and retries) on the wire and not yet answered.
  // A PLC answers each copy, so while any is left after the request ended, what arrives
  // answers that request and no other: the channel waits for those answers (or for a quiet
  // spell, when they were lost) before it sends anything new.
  std::uint8_t copies_out = 0;
  std::int32_t quiet_countdown = 0;  // 1/100 s of silence left before the copies count as lost
  // Length of the reply in `reply` while it is being examined.
  std::uint16_t reply_length = 0;
  // TCP carries a byte stream: replies are cut out of it by their frame lengths, so that a
  // reply split over several receives, or joined to the next, is still taken whole.
  std::uint16_t stream_length = 0;
  std::uint8_t stream[kStreamBufferSize] = {};
};

// Shuts the socket down in both directions and closes it; errors are of no interest.
void close_channel_socket(ChannelBlock& block);

}  // namespace hbt::poller
