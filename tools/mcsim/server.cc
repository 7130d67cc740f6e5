// The network side of mcsim.
#include "tools/mcsim/server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <netinet/tcp.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <utility>

namespace hbt::mcsim {
namespace {

enum Tag : std::uint64_t {
  kTagEndpoint = 1,
  kTagConnection = 2,
  kTagControlListen = 3,
  kTagControlClient = 4,
  kTagStdin = 5,
  kTagWake = 6,
  kTagSignal = 7,
};
constexpr std::uint64_t tag(Tag t, std::uint64_t id) { return (static_cast<std::uint64_t>(t) << 56) | id; }
constexpr Tag tag_kind(std::uint64_t v) { return static_cast<Tag>(v >> 56); }
constexpr std::uint64_t tag_id(std::uint64_t v) { return v & ((1ull << 56) - 1); }

constexpr double kTickMs = 50;                   // moving values and housekeeping
constexpr std::size_t kMaxControlLine = 65536;
constexpr std::size_t kReadChunk = 65536;
constexpr int kUdpBurst = 64;                    // datagrams per wake-up before others get a turn
constexpr std::size_t kMaxPendingOutput = 4 << 20;  // a client that never reads is dropped


// "udp:5000 < 50 00 ..." on standard error, for the trace command.
void trace_bytes(const std::string& endpoint, const char* direction, const std::uint8_t* data,
                 std::size_t size) {
  std::string line = endpoint + " " + direction;
  char buf[4];
  for (std::size_t i = 0; i < size; ++i) {
    std::snprintf(buf, sizeof buf, " %02X", data[i]);
    line += buf;
  }
  line += '\n';
  std::fputs(line.c_str(), stderr);
}

void write_all(int fd, const std::string& text) {
  std::size_t done = 0;
  while (done < text.size()) {
    ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    done += static_cast<std::size_t>(n);
  }
}

}  // namespace

struct Server::Connection {
  std::uint64_t id = 0;
  int fd = -1;
  std::size_t endpoint = 0;
  std::vector<std::uint8_t> in;
  std::vector<std::uint8_t> out;
  std::vector<std::uint8_t> held;  // join fault
  bool has_held = false;
  double busy_until_ms = 0;        // replies keep their order behind delayed pieces
  bool want_write = false;
};

struct Server::ControlClient {
  int fd = -1;
  std::string buffer;
};

Server::Server(ServerOptions options) : options_(std::move(options)), controller_(&sim_) {
  sim_.set_seed(options_.seed);
  sim_.plc(kDefaultPlc);
}

Server::~Server() {
  for (auto& [id, c] : connections_) ::close(c->fd);
  for (auto& [id, c] : control_clients_) ::close(c->fd);
  for (int fd : endpoint_fds_) {
    if (fd >= 0) ::close(fd);
  }
  for (int fd : reserved_fds_) {
    if (fd >= 0) ::close(fd);
  }
  if (control_listen_ >= 0) {
    ::close(control_listen_);
    ::unlink(options_.control_path.c_str());
  }
  for (int fd : {epoll_, wake_, signals_}) {
    if (fd >= 0) ::close(fd);
  }
}

double Server::now_ms() const {
  using namespace std::chrono;
  return duration<double, std::milli>(steady_clock::now().time_since_epoch()).count() - start_ms_;
}

void Server::at(double due_ms, std::function<void()> action) {
  timers_.push(Timer{due_ms, timer_seq_++, std::move(action)});
}

std::uint16_t Server::port(std::size_t endpoint) const {
  const auto& eps = sim_.endpoints();
  return endpoint < eps.size() ? eps[endpoint]->port : 0;
}

bool Server::start(std::string* error) {
  start_ms_ = 0;
  start_ms_ = now_ms();
  if (inet_pton(AF_INET, options_.bind_address.c_str(), &bind_addr_) != 1) {
    *error = "--bind needs an IPv4 address, got '" + options_.bind_address + "'";
    return false;
  }
  epoll_ = epoll_create1(EPOLL_CLOEXEC);
  wake_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (epoll_ < 0 || wake_ < 0) {
    *error = std::string("epoll: ") + std::strerror(errno);
    return false;
  }
  epoll_event ev{};
  ev.events = EPOLLIN;
  ev.data.u64 = tag(kTagWake, 0);
  epoll_ctl(epoll_, EPOLL_CTL_ADD, wake_, &ev);

  if (options_.handle_signals) {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigprocmask(SIG_BLOCK, &set, nullptr);
    signals_ = signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC);
    ev.data.u64 = tag(kTagSignal, 0);
    epoll_ctl(epoll_, EPOLL_CTL_ADD, signals_, &ev);
  }
  signal(SIGPIPE, SIG_IGN);

  for (const auto& plan : options_.listens) sim_.add_endpoint(plan);
  endpoint_fds_.assign(sim_.endpoints().size(), -1);
  reserved_fds_.assign(sim_.endpoints().size(), -1);
  udp_held_.resize(sim_.endpoints().size());
  serial_free_ms_.assign(sim_.endpoints().size(), 0);
  for (std::size_t i = 0; i < sim_.endpoints().size(); ++i) {
    if (!open_endpoint(i, error)) return false;
  }

  if (!options_.control_path.empty()) {
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (options_.control_path.size() >= sizeof addr.sun_path) {
      *error = "--control path is too long";
      return false;
    }
    std::strcpy(addr.sun_path, options_.control_path.c_str());
    ::unlink(addr.sun_path);
    control_listen_ = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (control_listen_ < 0 || bind(control_listen_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        listen(control_listen_, 16) != 0) {
      *error = "control socket " + options_.control_path + ": " + std::strerror(errno);
      return false;
    }
    ev.data.u64 = tag(kTagControlListen, 0);
    epoll_ctl(epoll_, EPOLL_CTL_ADD, control_listen_, &ev);
  }

  if (options_.announce) {
    std::string text;
    for (auto& e : sim_.endpoints()) {
      text += "listening " + std::string(e->plan.transport == Transport::kUdp ? "udp:" : "tcp:") +
              options_.bind_address + ":" + std::to_string(e->port) + " " +
              frame_format_name(e->plan.format) + " plc=" + e->plc->name() + "\n";
    }
    if (!options_.control_path.empty()) text += "control " + options_.control_path + "\n";
    write_all(1, text);
  }

  for (const auto& path : options_.scripts) {
    std::ifstream in(path);
    if (!in) {
      *error = "cannot read script " + path;
      return false;
    }
    std::string line;
    int number = 0;
    while (std::getline(in, line)) {
      ++number;
      std::string reply = controller_.execute(line, now_ms());
      if (reply.starts_with("error")) {
        *error = path + ":" + std::to_string(number) + ": " + reply;
        return false;
      }
    }
  }
  reconcile();

  if (options_.read_stdin) {
    ev.data.u64 = tag(kTagStdin, 0);
    // Standard input stays blocking (a terminal is shared with the shell); it is read once
    // per readiness report. Regular files and /dev/null cannot be watched: nothing to read.
    stdin_open_ = epoll_ctl(epoll_, EPOLL_CTL_ADD, 0, &ev) == 0;
  }
  if (!options_.port_file.empty() && !write_port_file(error)) return false;
  if (options_.announce) write_all(1, "ready\n");
  next_tick_ms_ = now_ms() + kTickMs;
  return true;
}

bool Server::write_port_file(std::string* error) {
  std::string text;
  for (auto& e : sim_.endpoints()) text += e->plan.text + " " + std::to_string(e->port) + "\n";
  std::string tmp = options_.port_file + ".tmp";
  {
    std::ofstream out(tmp, std::ios::trunc);
    out << text;
    if (!out) {
      *error = "cannot write " + tmp;
      return false;
    }
  }
  if (std::rename(tmp.c_str(), options_.port_file.c_str()) != 0) {
    *error = "cannot rename " + tmp + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

int Server::bound_socket(bool tcp, std::uint16_t port) {
  int fd = socket(AF_INET, (tcp ? SOCK_STREAM : SOCK_DGRAM) | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  // TCP reuses the address so that a port comes back while closed connections linger. UDP
  // has nothing lingering, and with reuse the system hands "any free port" out to a second
  // socket that asked with reuse too: two simulators on one host would share a port and each
  // answer the other's clients.
  int one = 1;
  if (tcp) setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr = bind_addr_;
  addr.sin_port = htons(port);
  if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    const int saved = errno;
    ::close(fd);
    errno = saved;
    return -1;
  }
  return fd;
}

bool Server::open_endpoint(std::size_t index, std::string* error) {
  Endpoint& e = *sim_.endpoints()[index];
  const bool tcp = e.plan.transport == Transport::kTcp;
  // A refused TCP endpoint comes back on the socket that kept its port.
  int fd = std::exchange(reserved_fds_[index], -1);
  if (fd < 0) fd = bound_socket(tcp, e.port);
  sockaddr_in addr{};
  if (fd < 0 || (tcp && listen(fd, 64) != 0)) {
    *error = "cannot listen on " + e.plan.text + ": " + std::strerror(errno);
    if (fd >= 0) ::close(fd);
    return false;
  }
  socklen_t len = sizeof addr;
  getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  e.port = ntohs(addr.sin_port);
  epoll_event ev{};
  ev.events = EPOLLIN;
  ev.data.u64 = tag(kTagEndpoint, index);
  epoll_ctl(epoll_, EPOLL_CTL_ADD, fd, &ev);
  endpoint_fds_[index] = fd;
  return true;
}

void Server::close_endpoint(std::size_t index) {
  if (endpoint_fds_[index] < 0) return;
  epoll_ctl(epoll_, EPOLL_CTL_DEL, endpoint_fds_[index], nullptr);
  ::close(endpoint_fds_[index]);
  endpoint_fds_[index] = -1;
  // While a TCP endpoint refuses, a socket bound to its port but not listening keeps the
  // number: connections are refused all the same, and nothing else on the host (another
  // simulator, the local port of an outgoing connection) takes the number meanwhile, so the
  // endpoint comes back where its clients look for it. A UDP port must really go, or nobody
  // would hear "refused".
  const Endpoint& e = *sim_.endpoints()[index];
  if (e.plan.transport == Transport::kTcp && reserved_fds_[index] < 0) reserved_fds_[index] = bound_socket(true, e.port);
}

// Brings sockets in line with the faults after control lines changed them.
void Server::reconcile() {
  for (std::size_t i = 0; i < sim_.endpoints().size(); ++i) {
    Endpoint& e = *sim_.endpoints()[i];
    const FaultSettings& f = e.faults.settings();
    if (f.refuse && endpoint_fds_[i] >= 0) {
      close_endpoint(i);
    } else if (!f.refuse && endpoint_fds_[i] < 0) {
      std::string error;
      if (!open_endpoint(i, &error)) std::fprintf(stderr, "mcsim: %s (will retry)\n", error.c_str());
    }
    if (!f.join) {
      // Replies held back by a join that was switched off go out now.
      if (!udp_held_[i].bytes.empty() && endpoint_fds_[i] >= 0) {
        Held h = std::move(udp_held_[i]);
        udp_held_[i] = Held{};
        sendto(endpoint_fds_[i], h.bytes.data(), h.bytes.size(), 0,
               reinterpret_cast<const sockaddr*>(&h.to), sizeof h.to);
        e.counters.bytes_out += h.bytes.size();
      }
    }
  }
  for (auto& [id, c] : connections_) {
    if (c->has_held && !sim_.endpoints()[c->endpoint]->faults.settings().join) {
      c->has_held = false;
      std::vector<std::uint8_t> held = std::move(c->held);
      c->held.clear();
      write_tcp(*c, held.data(), held.size());
    }
  }
}

void Server::stop() {
  std::uint64_t one = 1;
  if (wake_ >= 0) (void)!::write(wake_, &one, sizeof one);
}

void Server::tick() {
  if (!sim_.movers().empty()) {
    sim_.movers().apply(now_ms(), [this](const MemoryTarget& t) { return sim_.memory(t); });
  }
  reconcile();
}

int Server::run() {
  epoll_event events[64];
  while (!stop_ && !sim_.quit_requested()) {
    double now = now_ms();
    double next = next_tick_ms_;
    if (!timers_.empty()) next = std::min(next, timers_.top().due_ms);
    int timeout = next <= now ? 0 : static_cast<int>(next - now) + 1;
    int n = epoll_wait(epoll_, events, 64, timeout);
    if (n < 0 && errno != EINTR) {
      std::perror("mcsim: epoll_wait");
      return 1;
    }
    for (int i = 0; i < n; ++i) {
      const std::uint64_t t = events[i].data.u64;
      const std::uint64_t id = tag_id(t);
      switch (tag_kind(t)) {
        case kTagEndpoint:
          if (endpoint_fds_[id] < 0) break;
          if (sim_.endpoints()[id]->plan.transport == Transport::kUdp) {
            on_udp(id);
          } else {
            on_accept(id);
          }
          break;
        case kTagConnection:
          if (events[i].events & EPOLLOUT) on_tcp_writable(id);
          if (events[i].events & (EPOLLIN | EPOLLHUP | EPOLLERR)) on_tcp(id);
          break;
        case kTagControlListen:
          on_control_accept();
          break;
        case kTagControlClient:
          on_control_client(id);
          break;
        case kTagStdin:
          on_stdin();
          break;
        case kTagWake: {
          std::uint64_t v;
          (void)!::read(wake_, &v, sizeof v);
          stop_ = true;
          break;
        }
        case kTagSignal: {
          signalfd_siginfo info;
          (void)!::read(signals_, &info, sizeof info);
          stop_ = true;
          break;
        }
      }
    }
    now = now_ms();
    while (!timers_.empty() && timers_.top().due_ms <= now) {
      auto action = timers_.top().action;
      timers_.pop();
      action();
    }
    if (now >= next_tick_ms_) {
      tick();
      next_tick_ms_ = now + kTickMs;
    }
  }
  return 0;
}

void Server::serialise(std::size_t endpoint, ReplyPlan& plan) {
  if (!plan.serial || endpoint >= serial_free_ms_.size()) return;
  const double now = now_ms();
  const double done = std::max(now, serial_free_ms_[endpoint]) + plan.delay_ms;
  serial_free_ms_[endpoint] = done;
  plan.delay_ms = static_cast<int>(done - now + 0.5);
  plan.serial = false;
}

// ---- UDP ----

void Server::on_udp(std::size_t index) {
  Endpoint& e = *sim_.endpoints()[index];
  static thread_local std::vector<std::uint8_t> buffer(kReadChunk);
  for (int burst = 0; burst < kUdpBurst && endpoint_fds_[index] >= 0; ++burst) {
    sockaddr_in from{};
    socklen_t len = sizeof from;
    ssize_t n = recvfrom(endpoint_fds_[index], buffer.data(), buffer.size(), 0,
                         reinterpret_cast<sockaddr*>(&from), &len);
    if (n < 0) return;  // EAGAIN, or an ICMP error of an earlier reply
    e.counters.bytes_in += static_cast<std::uint64_t>(n);
    if (sim_.trace()) trace_bytes(e.name(), "<", buffer.data(), static_cast<std::size_t>(n));
    std::span<const std::uint8_t> datagram(buffer.data(), static_cast<std::size_t>(n));
    ReplyPlan plan = e.faults.plan();
    if (plan.silent || plan.close) {
      ++e.counters.dropped;
      continue;
    }
    Outcome out = handle_request(e.plan.format, datagram, *e.plc, plan.forced);
    if (!out.answered) {
      ++e.counters.unframeable;
      continue;
    }
    ++e.counters.requests;
    if (plan.drop) {
      ++e.counters.dropped;
      continue;
    }
    if (out.code != 0) ++e.counters.abnormal;
    if (plan.wrong_command) corrupt_command(e.plan.format, &out.reply);
    ++e.counters.replies;
    serialise(index, plan);
    if (plan.delay_ms > 0) {
      at(now_ms() + plan.delay_ms, [this, index, reply = std::move(out.reply), from, plan]() mutable {
        send_udp(index, std::move(reply), from, plan);
      });
    } else {
      send_udp(index, std::move(out.reply), from, plan);
    }
  }
}

void Server::send_udp(std::size_t index, std::vector<std::uint8_t> reply, const sockaddr_in& to,
                      const ReplyPlan& plan) {
  if (endpoint_fds_[index] < 0) return;
  Endpoint& e = *sim_.endpoints()[index];
  Held& held = udp_held_[index];
  if (plan.join) {
    if (held.bytes.empty()) {
      held.bytes = std::move(reply);
      held.to = to;
      return;
    }
    held.bytes.insert(held.bytes.end(), reply.begin(), reply.end());
    reply = std::move(held.bytes);
    held = Held{};
  }
  auto send_piece = [this, index, to](std::vector<std::uint8_t> piece) {
    if (endpoint_fds_[index] < 0) return;
    if (sim_.trace()) trace_bytes(sim_.endpoints()[index]->name(), ">", piece.data(), piece.size());
    sendto(endpoint_fds_[index], piece.data(), piece.size(), 0,
           reinterpret_cast<const sockaddr*>(&to), sizeof to);
    sim_.endpoints()[index]->counters.bytes_out += piece.size();
  };
  if (plan.split_bytes <= 0 || reply.size() <= static_cast<std::size_t>(plan.split_bytes)) {
    send_piece(std::move(reply));
    return;
  }
  const double now = now_ms();
  std::size_t k = 0;
  for (std::size_t off = 0; off < reply.size(); off += plan.split_bytes, ++k) {
    std::size_t end = std::min(reply.size(), off + plan.split_bytes);
    std::vector<std::uint8_t> piece(reply.begin() + off, reply.begin() + end);
    if (k == 0) {
      send_piece(std::move(piece));
    } else {
      at(now + k * plan.split_gap_ms, [send_piece, piece = std::move(piece)]() mutable {
        send_piece(std::move(piece));
      });
    }
  }
  (void)e;
}

// ---- TCP ----

void Server::on_accept(std::size_t index) {
  Endpoint& e = *sim_.endpoints()[index];
  while (endpoint_fds_[index] >= 0) {
    int fd = accept4(endpoint_fds_[index], nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) return;
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    auto c = std::make_unique<Connection>();
    c->id = next_id_++;
    c->fd = fd;
    c->endpoint = index;
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.u64 = tag(kTagConnection, c->id);
    epoll_ctl(epoll_, EPOLL_CTL_ADD, fd, &ev);
    connections_[c->id] = std::move(c);
    ++e.counters.accepted;
    ++e.counters.open;
  }
}

void Server::close_connection(std::uint64_t id, bool by_fault) {
  auto it = connections_.find(id);
  if (it == connections_.end()) return;
  Endpoint& e = *sim_.endpoints()[it->second->endpoint];
  epoll_ctl(epoll_, EPOLL_CTL_DEL, it->second->fd, nullptr);
  ::close(it->second->fd);
  connections_.erase(it);
  --e.counters.open;
  if (by_fault) ++e.counters.closed;
}

void Server::on_tcp(std::uint64_t id) {
  auto it = connections_.find(id);
  if (it == connections_.end()) return;
  Connection& c = *it->second;
  Endpoint& e = *sim_.endpoints()[c.endpoint];
  std::uint8_t buffer[16384];
  while (true) {
    ssize_t n = recv(c.fd, buffer, sizeof buffer, 0);
    if (n > 0) {
      e.counters.bytes_in += static_cast<std::uint64_t>(n);
      c.in.insert(c.in.end(), buffer, buffer + n);
      if (static_cast<std::size_t>(n) < sizeof buffer) break;
      continue;
    }
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
    if (n < 0 && errno == EINTR) continue;
    // Peer closed or failed: answer what came before, then drop the connection.
    process_stream(c);
    close_connection(id, false);
    return;
  }
  process_stream(c);
}

void Server::process_stream(Connection& c) {
  const std::uint64_t id = c.id;
  Endpoint& e = *sim_.endpoints()[c.endpoint];
  std::size_t used = 0;
  while (used < c.in.size()) {
    std::span<const std::uint8_t> rest(c.in.data() + used, c.in.size() - used);
    std::size_t size = request_size(e.plan.format, rest);
    if (size == kNeedMore) break;
    ReplyPlan plan = e.faults.plan();
    if (size == kUnframeable) {
      // Nothing after a stranger can be trusted to start a request: forget it all.
      ++e.counters.unframeable;
      if (sim_.trace()) trace_bytes(e.name(), "< (unframeable)", rest.data(), rest.size());
      std::vector<std::uint8_t> reply = unframeable_reply(e.plan.format, rest);
      used = c.in.size();
      if (!reply.empty() && !plan.silent && !plan.close && !plan.drop) {
        ++e.counters.replies;
        ++e.counters.abnormal;
        deliver_tcp(id, std::move(reply), plan);
      }
      break;
    }
    if (size > rest.size()) break;
    std::span<const std::uint8_t> frame = rest.first(size);
    used += size;
    if (sim_.trace()) trace_bytes(e.name(), "<", frame.data(), frame.size());
    if (plan.silent) {
      ++e.counters.dropped;
      continue;
    }
    if (plan.close) {
      ++e.counters.dropped;
      close_connection(id, true);
      return;  // c is gone
    }
    Outcome out = handle_request(e.plan.format, frame, *e.plc, plan.forced);
    ++e.counters.requests;
    if (plan.drop) {
      ++e.counters.dropped;
      continue;
    }
    if (out.code != 0) ++e.counters.abnormal;
    if (plan.wrong_command) corrupt_command(e.plan.format, &out.reply);
    ++e.counters.replies;
    if (plan.serial) {
      // Served in arrival order already: each reply goes out when its service ends.
      serialise(c.endpoint, plan);
      ReplyPlan later = plan;
      later.delay_ms = 0;
      at(now_ms() + plan.delay_ms, [this, id, reply = std::move(out.reply), later]() mutable {
        deliver_tcp(id, std::move(reply), later);
      });
      continue;
    }
    deliver_tcp(id, std::move(out.reply), plan);
    if (connections_.find(id) == connections_.end()) return;
  }
  c.in.erase(c.in.begin(), c.in.begin() + static_cast<std::ptrdiff_t>(used));
}

void Server::deliver_tcp(std::uint64_t id, std::vector<std::uint8_t> reply, const ReplyPlan& plan) {
  auto it = connections_.find(id);
  if (it == connections_.end()) return;
  Connection& c = *it->second;
  const double now = now_ms();
  const double due = std::max(now + plan.delay_ms, c.busy_until_ms);
  if (due > now) {
    c.busy_until_ms = due;
    ReplyPlan later = plan;
    later.delay_ms = 0;
    at(due, [this, id, reply = std::move(reply), later]() mutable {
      auto it2 = connections_.find(id);
      if (it2 == connections_.end()) return;
      // Still behind an earlier reply's pieces: wait for them.
      if (it2->second->busy_until_ms > now_ms() + 0.5) {
        deliver_tcp(id, std::move(reply), later);
        return;
      }
      it2->second->busy_until_ms = 0;
      deliver_tcp(id, std::move(reply), later);
    });
    return;
  }
  if (plan.join) {
    if (!c.has_held) {
      c.held = std::move(reply);
      c.has_held = true;
      return;
    }
    c.has_held = false;
    c.held.insert(c.held.end(), reply.begin(), reply.end());
    reply = std::move(c.held);
    c.held.clear();
  }
  if (plan.split_bytes <= 0 || reply.size() <= static_cast<std::size_t>(plan.split_bytes)) {
    write_tcp(c, reply.data(), reply.size());
    return;
  }
  std::size_t k = 0;
  for (std::size_t off = 0; off < reply.size(); off += plan.split_bytes, ++k) {
    std::size_t end = std::min(reply.size(), off + plan.split_bytes);
    std::vector<std::uint8_t> piece(reply.begin() + off, reply.begin() + end);
    if (k == 0) {
      write_tcp(c, piece.data(), piece.size());
      continue;
    }
    at(now + k * plan.split_gap_ms, [this, id, piece = std::move(piece)]() {
      auto it2 = connections_.find(id);
      if (it2 != connections_.end()) write_tcp(*it2->second, piece.data(), piece.size());
    });
  }
  c.busy_until_ms = now + (k - 1) * plan.split_gap_ms;
}

void Server::write_tcp(Connection& c, const std::uint8_t* data, std::size_t size) {
  Endpoint& e = *sim_.endpoints()[c.endpoint];
  if (sim_.trace()) trace_bytes(e.name(), ">", data, size);
  if (c.out.empty()) {
    ssize_t n = send(c.fd, data, size, MSG_NOSIGNAL);
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) return;  // reader notices
    std::size_t sent = n > 0 ? static_cast<std::size_t>(n) : 0;
    e.counters.bytes_out += sent;
    data += sent;
    size -= sent;
  }
  if (size == 0) return;
  c.out.insert(c.out.end(), data, data + size);
  if (c.out.size() > kMaxPendingOutput) {
    close_connection(c.id, false);
    return;
  }
  if (!c.want_write) {
    c.want_write = true;
    epoll_event ev{};
    ev.events = EPOLLIN | EPOLLOUT;
    ev.data.u64 = tag(kTagConnection, c.id);
    epoll_ctl(epoll_, EPOLL_CTL_MOD, c.fd, &ev);
  }
}

void Server::on_tcp_writable(std::uint64_t id) {
  auto it = connections_.find(id);
  if (it == connections_.end()) return;
  Connection& c = *it->second;
  Endpoint& e = *sim_.endpoints()[c.endpoint];
  while (!c.out.empty()) {
    ssize_t n = send(c.fd, c.out.data(), c.out.size(), MSG_NOSIGNAL);
    if (n <= 0) {
      if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return;
      close_connection(id, false);
      return;
    }
    e.counters.bytes_out += static_cast<std::uint64_t>(n);
    c.out.erase(c.out.begin(), c.out.begin() + n);
  }
  c.want_write = false;
  epoll_event ev{};
  ev.events = EPOLLIN;
  ev.data.u64 = tag(kTagConnection, c.id);
  epoll_ctl(epoll_, EPOLL_CTL_MOD, c.fd, &ev);
}

// ---- control ----

std::string Server::control_line(const std::string& line) {
  std::string reply = controller_.execute(line, now_ms());
  reconcile();
  return reply;
}

void Server::on_control_accept() {
  while (true) {
    int fd = accept4(control_listen_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) return;
    timeval tv{2, 0};  // replies are short; a client that does not read loses them
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
    auto c = std::make_unique<ControlClient>();
    c->fd = fd;
    std::uint64_t id = next_id_++;
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.u64 = tag(kTagControlClient, id);
    epoll_ctl(epoll_, EPOLL_CTL_ADD, fd, &ev);
    control_clients_[id] = std::move(c);
    // accept4 on a non-blocking listener: go round until EAGAIN.
  }
}

void Server::on_control_client(std::uint64_t id) {
  auto it = control_clients_.find(id);
  if (it == control_clients_.end()) return;
  ControlClient& c = *it->second;
  char buffer[4096];
  ssize_t n = recv(c.fd, buffer, sizeof buffer, MSG_DONTWAIT);
  if (n < 0 && (errno == EAGAIN || errno == EINTR)) return;
  bool closed = n <= 0;
  if (n > 0) c.buffer.append(buffer, static_cast<std::size_t>(n));
  std::size_t pos;
  while ((pos = c.buffer.find('\n')) != std::string::npos) {
    std::string line = c.buffer.substr(0, pos);
    c.buffer.erase(0, pos + 1);
    std::string reply = control_line(line);
    if (!reply.empty()) {
      reply += '\n';
      send(c.fd, reply.data(), reply.size(), MSG_NOSIGNAL);
    }
  }
  if (c.buffer.size() > kMaxControlLine) {
    std::string reply = "error line too long\n";
    send(c.fd, reply.data(), reply.size(), MSG_NOSIGNAL);
    closed = true;
  }
  if (closed) {
    if (!c.buffer.empty() && c.buffer.size() <= kMaxControlLine) {
      std::string reply = control_line(c.buffer);
      if (!reply.empty()) {
        reply += '\n';
        send(c.fd, reply.data(), reply.size(), MSG_NOSIGNAL);
      }
    }
    epoll_ctl(epoll_, EPOLL_CTL_DEL, c.fd, nullptr);
    ::close(c.fd);
    control_clients_.erase(it);
  }
}

void Server::on_stdin() {
  char buffer[4096];
  ssize_t n = ::read(0, buffer, sizeof buffer);
  if (n < 0) return;  // EINTR: epoll reports it again
  if (n == 0) {
    // End of input: keep serving; the last line may lack its newline.
    if (!stdin_buffer_.empty()) {
      std::string reply = control_line(stdin_buffer_);
      if (!reply.empty()) write_all(1, reply + "\n");
      stdin_buffer_.clear();
    }
    epoll_ctl(epoll_, EPOLL_CTL_DEL, 0, nullptr);
    stdin_open_ = false;
    return;
  }
  stdin_buffer_.append(buffer, static_cast<std::size_t>(n));
  std::size_t pos;
  while ((pos = stdin_buffer_.find('\n')) != std::string::npos) {
    std::string line = stdin_buffer_.substr(0, pos);
    stdin_buffer_.erase(0, pos + 1);
    std::string reply = control_line(line);
    if (!reply.empty()) write_all(1, reply + "\n");
  }
  if (stdin_buffer_.size() > kMaxControlLine) {
    write_all(1, "error line too long\n");
    stdin_buffer_.clear();
  }
}

}  // namespace hbt::mcsim
