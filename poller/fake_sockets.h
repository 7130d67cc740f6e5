// A scripted stand-in for the sockets: what the transport opens, connects and sends is
// recorded, what it receives is queued by the test, and its sleeps cost no time.
#pragma once

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <deque>
#include <map>
#include <vector>

#include "poller/socket_api.h"

namespace hbt::poller::testing {

class FakeSockets final : public SocketApi {
 public:
  struct Sent {
    int fd;
    std::vector<std::uint8_t> bytes;
  };

  // Scripted results; each queue is used front first, then the default applies.
  std::deque<int> open_results;     // fd or -errno; default: a new fd
  std::deque<int> connect_results;  // 0 or -errno; default 0
  std::deque<long> send_results;    // -errno to fail; default: everything sent
  std::deque<int> pending_errors;   // outcome of a connect in progress; default 0
  int non_blocking_result = 0;
  bool tcp_stream = false;          // receive cuts chunks to the size asked, keeping the rest

  // Received data per socket, chunk by chunk; a chunk of size 0 is an orderly close.
  std::map<int, std::deque<std::vector<std::uint8_t>>> inboxes;

  std::vector<Sent> sent;
  std::vector<int> opened, closed;
  std::vector<sockaddr_in> bound;
  int connects = 0;
  int receives = 0;
  int polls = 0;
  int slept_ms = 0;

  // The socket last opened, or the one the next open makes.
  int current_fd() const { return opened.empty() ? next_fd_ : opened.back(); }
  std::deque<std::vector<std::uint8_t>>& inbox() { return inboxes[current_fd()]; }
  void deliver(std::vector<std::uint8_t> bytes) { inbox().push_back(std::move(bytes)); }
  void deliver_to(int fd, std::vector<std::uint8_t> bytes) { inboxes[fd].push_back(std::move(bytes)); }

  int open(bool) override {
    int fd = next_fd_++;
    if (!open_results.empty()) {
      fd = open_results.front();
      open_results.pop_front();
    }
    if (fd >= 0) opened.push_back(fd);
    return fd;
  }
  void close(int fd) override {
    if (fd >= 0) closed.push_back(fd);
  }
  int bind(int, const sockaddr_in& local) override {
    bound.push_back(local);
    return 0;
  }
  int set_non_blocking(int) override { return non_blocking_result; }
  int connect(int, const sockaddr_in&) override {
    ++connects;
    if (connect_results.empty()) return 0;
    int r = connect_results.front();
    connect_results.pop_front();
    return r;
  }
  int pending_error(int) override {
    if (pending_errors.empty()) return 0;
    int r = pending_errors.front();
    pending_errors.pop_front();
    return r;
  }
  long send(int fd, const std::uint8_t* data, std::size_t size) override {
    if (!send_results.empty()) {
      long r = send_results.front();
      send_results.pop_front();
      if (r < 0) return r;
    }
    sent.push_back({fd, {data, data + size}});
    return static_cast<long>(size);
  }
  long receive(int fd, std::uint8_t* data, std::size_t size) override {
    ++receives;
    auto& inbox = inboxes[fd];
    if (inbox.empty()) return -EAGAIN;
    std::vector<std::uint8_t>& chunk = inbox.front();
    if (chunk.empty()) return 0;  // stays: a closed stream keeps reporting its end
    const std::size_t n = std::min(size, chunk.size());
    std::memcpy(data, chunk.data(), n);
    if (tcp_stream && n < chunk.size())
      chunk.erase(chunk.begin(), chunk.begin() + static_cast<long>(n));
    else
      inbox.pop_front();
    return static_cast<long>(n);
  }
  int receive_datagrams(int fd, std::uint8_t* const* buffers, std::size_t size, std::size_t count,
                        std::size_t* lengths) override {
    ++receives;
    auto& inbox = inboxes[fd];
    std::size_t n = 0;
    for (; n < count && !inbox.empty(); ++n) {
      const std::vector<std::uint8_t>& datagram = inbox.front();
      lengths[n] = std::min(size, datagram.size());
      if (lengths[n] > 0) std::memcpy(buffers[n], datagram.data(), lengths[n]);
      inbox.pop_front();
    }
    return static_cast<int>(n);
  }
  void readable(const int* fds, std::size_t count, std::uint8_t* ready) override {
    ++polls;
    for (std::size_t i = 0; i < count; ++i) {
      auto it = inboxes.find(fds[i]);
      ready[i] = it != inboxes.end() && !it->second.empty();
    }
  }
  void sleep_ms(int ms) override { slept_ms += ms; }

 private:
  int next_fd_ = 10;
};

}  // namespace hbt::poller::testing
