#include "poller/socket_api.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <vector>

namespace hbt::poller {
namespace {

sockaddr_in loopback(std::uint16_t port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(port);
  return a;
}

std::uint16_t port_of(int fd) {
  sockaddr_in a{};
  socklen_t length = sizeof a;
  getsockname(fd, reinterpret_cast<sockaddr*>(&a), &length);
  return ntohs(a.sin_port);
}

// What poll() says of one socket, the answer the readiness look must give.
bool poll_says_readable(int fd) {
  pollfd p{fd, POLLIN, 0};
  return ::poll(&p, 1, 0) > 0 && p.revents != 0;
}

// Sockets opened and closed at random (closed through the interface, or directly, as the
// channel block does when polling stops, so that descriptor numbers are reused), datagrams
// sent to them and received from them: the readiness look reports exactly the sockets that
// hold a datagram, as poll() does, whatever the history of the descriptor numbers.
TEST(SystemSockets, ReadinessLookReportsExactlyTheSocketsHoldingSomething) {
  SocketApi& api = system_sockets();
  const int sender = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  ASSERT_GE(sender, 0);
  std::map<int, int> waiting;  // open socket -> datagrams it holds
  std::mt19937 rng(16);
  int reports = 0;
  for (int step = 0; step < 3000; ++step) {
    const unsigned op = rng() % 10;
    auto pick = [&] {
      auto it = waiting.begin();
      std::advance(it, static_cast<long>(rng() % waiting.size()));
      return it;
    };
    if (waiting.size() < 2 || (op == 0 && waiting.size() < 12)) {
      const int fd = api.open(false);
      ASSERT_GE(fd, 0);
      ASSERT_EQ(api.bind(fd, loopback(0)), 0);
      ASSERT_EQ(api.set_non_blocking(fd), 0);
      waiting[fd] = 0;
    } else if (op == 1) {
      auto it = pick();
      if (rng() % 2) {
        api.close(it->first);
      } else {
        ::close(it->first);
      }
      waiting.erase(it);
    } else if (op < 6) {
      auto it = pick();
      const std::uint8_t byte = static_cast<std::uint8_t>(step);
      const sockaddr_in to = loopback(port_of(it->first));
      ASSERT_EQ(::sendto(sender, &byte, 1, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to), 1);
      ++it->second;
    } else if (op < 8) {
      auto it = pick();
      std::uint8_t a[8], b[8];
      std::uint8_t* buffers[] = {a, b};
      std::size_t lengths[2];
      const int n = api.receive_datagrams(it->first, buffers, sizeof a, 2, lengths);
      ASSERT_EQ(n, std::min(it->second, 2));
      it->second -= n;
    }
    std::vector<int> fds;
    for (const auto& [fd, count] : waiting) fds.push_back(fd);
    // Asked about some of the open sockets, in any order.
    std::shuffle(fds.begin(), fds.end(), rng);
    fds.resize(fds.size() - rng() % 2);
    std::vector<std::uint8_t> ready(fds.size(), 7);
    api.readable(fds.data(), fds.size(), ready.data());
    for (std::size_t i = 0; i < fds.size(); ++i) {
      ASSERT_EQ(ready[i], waiting[fds[i]] > 0 ? 1 : 0) << "step " << step << " fd " << fds[i];
      ASSERT_EQ(ready[i] != 0, poll_says_readable(fds[i])) << "step " << step;
      reports += ready[i];
    }
  }
  EXPECT_GT(reports, 1000);
  for (const auto& [fd, count] : waiting) api.close(fd);
  ::close(sender);
}

// A stream socket is reported once its peer has sent something, and again after the peer
// closed (the receive then finds the end of the stream); not while nothing happened.
TEST(SystemSockets, ReadinessLookReportsStreamDataAndPeerClose) {
  SocketApi& api = system_sockets();
  const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  ASSERT_GE(listener, 0);
  sockaddr_in any = loopback(0);
  ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&any), sizeof any), 0);
  ASSERT_EQ(::listen(listener, 1), 0);
  const int fd = api.open(true);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(api.connect(fd, loopback(port_of(listener))), 0);
  const int peer = ::accept(listener, nullptr, nullptr);
  ASSERT_GE(peer, 0);
  ASSERT_EQ(api.set_non_blocking(fd), 0);
  std::uint8_t ready = 7;
  api.readable(&fd, 1, &ready);
  EXPECT_EQ(ready, 0);
  ASSERT_EQ(::send(peer, "ab", 2, 0), 2);
  api.readable(&fd, 1, &ready);
  EXPECT_EQ(ready, 1);
  std::uint8_t buffer[8];
  EXPECT_EQ(api.receive(fd, buffer, sizeof buffer), 2);
  api.readable(&fd, 1, &ready);
  EXPECT_EQ(ready, 0);
  ::close(peer);
  api.readable(&fd, 1, &ready);
  EXPECT_EQ(ready, 1);
  EXPECT_EQ(api.receive(fd, buffer, sizeof buffer), 0);
  api.close(fd);
  ::close(listener);
}

}  // namespace
}  // namespace hbt::poller
