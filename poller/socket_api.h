// The socket calls of the transport behind one small interface, so that tests can stand in
// a scripted peer and a fake clock for the network. Errors are errno values.
#pragma once

#include <netinet/in.h>

#include <cstddef>
#include <cstdint>

namespace hbt::poller {

class SocketApi {
 public:
  virtual ~SocketApi() = default;
  // A new stream (TCP) or datagram (UDP) socket; -errno on failure.
  virtual int open(bool tcp) = 0;
  // Shuts the socket down in both directions and closes it; errors are of no interest.
  virtual void close(int fd) = 0;
  virtual int bind(int fd, const sockaddr_in& local) = 0;  // 0 or -errno
  virtual int set_non_blocking(int fd) = 0;                // 0 or -errno
  virtual int connect(int fd, const sockaddr_in& remote) = 0;  // 0 or -errno
  // The outcome so far of a connect that was in progress: 0, or the errno it failed with.
  virtual int pending_error(int fd) = 0;
  // Bytes sent or received; 0 from receive is an orderly close (TCP) or an empty datagram.
  virtual long send(int fd, const std::uint8_t* data, std::size_t size) = 0;
  virtual long receive(int fd, std::uint8_t* data, std::size_t size) = 0;
  // Datagrams waiting on a datagram socket, up to `count` in one call, each into its own
  // buffer of `size` bytes (a longer one is cut); their lengths go to `lengths`. The number
  // received, 0 when none was waiting, or -errno.
  virtual int receive_datagrams(int fd, std::uint8_t* const* buffers, std::size_t size, std::size_t count,
                                std::size_t* lengths) = 0;
  // For each of `count` sockets whether a receive would find something (data, an end of
  // stream or an error) right now; one call for all channels instead of a receive each.
  virtual void readable(const int* fds, std::size_t count, std::uint8_t* ready) = 0;
  virtual void sleep_ms(int milliseconds) = 0;
};

// The operating system's sockets.
SocketApi& system_sockets();

}  // namespace hbt::poller
