#include "poller/socket_api.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <iterator>

#include "platform/clock.h"

namespace hbt::poller {

namespace {

// Every socket it opens is also watched by one epoll set, so that the readiness look of a
// tick costs one call whose work grows with the sockets that hold something, not with all
// of them: with 32 quiet channels a poll() over every socket was a fifth of an idle tick.
// Should the set be unavailable, or a socket fail to join it, the look falls back to poll().
class SystemSockets final : public SocketApi {
 public:
  SystemSockets() : watch_(::epoll_create1(EPOLL_CLOEXEC)) { watching_ = watch_ >= 0; }
  ~SystemSockets() override {
    if (watch_ >= 0) ::close(watch_);
  }
  int open(bool tcp) override {
    int fd = ::socket(AF_INET, (tcp ? SOCK_STREAM : SOCK_DGRAM) | SOCK_CLOEXEC, tcp ? IPPROTO_TCP : IPPROTO_UDP);
    if (fd < 0) return -errno;
    if (watching_.load(std::memory_order_relaxed)) {
      epoll_event event{};
      event.events = EPOLLIN;
      event.data.fd = fd;
      if (::epoll_ctl(watch_, EPOLL_CTL_ADD, fd, &event) != 0) watching_.store(false, std::memory_order_relaxed);
    }
    return fd;
  }
  void close(int fd) override {
    if (fd < 0) return;
    // Closing would drop it from the set too, but only once no copy of the descriptor is left.
    if (watch_ >= 0) ::epoll_ctl(watch_, EPOLL_CTL_DEL, fd, nullptr);
    ::shutdown(fd, SHUT_RDWR);
    ::close(fd);
  }
  int bind(int fd, const sockaddr_in& local) override {
    return ::bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) == 0 ? 0 : -errno;
  }
  int set_non_blocking(int fd) override {
    int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) < 0) return -errno;
    return 0;
  }
  int connect(int fd, const sockaddr_in& remote) override {
    return ::connect(fd, reinterpret_cast<const sockaddr*>(&remote), sizeof remote) == 0 ? 0 : -errno;
  }
  int pending_error(int fd) override {
    int error = 0;
    socklen_t length = sizeof error;
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) return errno;
    return error;
  }
  long send(int fd, const std::uint8_t* data, std::size_t size) override {
    // A peer that went away must cost an error, not the process (SIGPIPE).
    long n = ::send(fd, data, size, MSG_NOSIGNAL);
    return n >= 0 ? n : -errno;
  }
  long receive(int fd, std::uint8_t* data, std::size_t size) override {
    long n = ::recv(fd, data, size, MSG_DONTWAIT);
    return n >= 0 ? n : -errno;
  }
  int receive_datagrams(int fd, std::uint8_t* const* buffers, std::size_t size, std::size_t count,
                        std::size_t* lengths) override {
    constexpr std::size_t kMax = 8;
    count = std::min(count, kMax);
    iovec iov[kMax];
    mmsghdr messages[kMax] = {};
    for (std::size_t i = 0; i < count; ++i) {
      iov[i] = {buffers[i], size};
      messages[i].msg_hdr.msg_iov = &iov[i];
      messages[i].msg_hdr.msg_iovlen = 1;
    }
    const int n = ::recvmmsg(fd, messages, static_cast<unsigned>(count), MSG_DONTWAIT, nullptr);
    if (n < 0) return errno == EAGAIN || errno == EWOULDBLOCK ? 0 : -errno;
    for (int i = 0; i < n; ++i) lengths[i] = messages[i].msg_len;
    return n;
  }
  void readable(const int* fds, std::size_t count, std::uint8_t* ready) override {
    if (!watching_.load(std::memory_order_relaxed)) {
      poll_each(fds, count, ready);
      return;
    }
    // Level-triggered: a socket stays in the answer until a receive has taken what it holds,
    // just as poll() keeps reporting it. Sockets of the set that are not asked about (another
    // user of these calls) are passed over.
    epoll_event events[kMaxEvents];
    const int n = ::epoll_wait(watch_, events, kMaxEvents, 0);
    if (n < 0 || n == kMaxEvents) {
      // A failed look, or more ready sockets than one answer holds: ask each socket instead.
      poll_each(fds, count, ready);
      return;
    }
    std::fill(ready, ready + count, std::uint8_t{0});
    for (int e = 0; e < n; ++e)
      for (std::size_t i = 0; i < count; ++i)
        if (fds[i] == events[e].data.fd) ready[i] = 1;
  }
  void sleep_ms(int milliseconds) override { platform::sleep_ms(milliseconds); }

 private:
  static constexpr int kMaxEvents = 64;

  static void poll_each(const int* fds, std::size_t count, std::uint8_t* ready) {
    pollfd polls[64];
    count = std::min(count, std::size(polls));
    for (std::size_t i = 0; i < count; ++i) polls[i] = {fds[i], POLLIN, 0};
    const int n = ::poll(polls, count, 0);
    for (std::size_t i = 0; i < count; ++i) ready[i] = n < 0 || polls[i].revents != 0;
  }

  const int watch_;
  std::atomic<bool> watching_{false};
};

}  // namespace

SocketApi& system_sockets() {
  static SystemSockets sockets;
  return sockets;
}

}  // namespace hbt::poller
