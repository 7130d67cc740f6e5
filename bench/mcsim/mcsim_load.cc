// Load generator for mcsim: keeps clients busy with batch reads over UDP or TCP on
// loopback and reports requests per second and, given mcsim's process id, the server's
// CPU time per request. Every run is bounded in time and in request count.
#include <arpa/inet.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace {

constexpr char kUsage[] =
    "Usage: mcsim_load --udp PORT | --tcp PORT [--frame 3e-binary|1e-binary] [--clients N]\n"
    "                  [--seconds S] [--max-requests N] [--words N] [--pid MCSIM_PID]\n"
    "Each client keeps one batch read of D0.. outstanding (as a poller channel does).\n";

struct Options {
  bool tcp = false;
  int port = 0;
  std::string frame = "3e-binary";
  int clients = 1;
  double seconds = 3;
  long long max_requests = 5'000'000;
  int words = 10;
  long pid = 0;
};

std::vector<std::uint8_t> request(const Options& o) {
  if (o.frame == "1e-binary") {
    return {0x01, 0xFF, 0x0A, 0x00, 0x00, 0x00, 0x00, 0x00, 0x20, 0x44,
            static_cast<std::uint8_t>(o.words), 0x00};
  }
  return {0x50, 0x00, 0x00, 0xFF, 0xFF, 0x03, 0x00, 0x0C, 0x00, 0x10, 0x00, 0x01, 0x04,
          0x00, 0x00, 0x00, 0x00, 0x00, 0xA8, static_cast<std::uint8_t>(o.words), 0x00};
}
std::size_t reply_size(const Options& o) {
  return (o.frame == "1e-binary" ? 2 : 11) + 2 * static_cast<std::size_t>(o.words);
}

// utime + stime of a process in seconds, from /proc.
double process_cpu_seconds(long pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  auto close = text.rfind(')');
  if (close == std::string::npos) return -1;
  // Fields after the command name; utime and stime are fields 14 and 15 of the line.
  std::vector<std::string> fields;
  std::size_t pos = close + 2;
  while (pos < text.size()) {
    auto space = text.find(' ', pos);
    fields.push_back(text.substr(pos, space - pos));
    if (space == std::string::npos) break;
    pos = space + 1;
  }
  if (fields.size() < 13) return -1;
  double ticks = static_cast<double>(sysconf(_SC_CLK_TCK));
  return (std::stod(fields[11]) + std::stod(fields[12])) / ticks;
}

double own_cpu_seconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_utime.tv_sec + u.ru_utime.tv_usec / 1e6 + u.ru_stime.tv_sec + u.ru_stime.tv_usec / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    auto next = [&]() -> const char* {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "mcsim_load: %s needs a value\n", a.c_str());
        std::exit(2);
      }
      return argv[++i];
    };
    if (a == "--udp" || a == "--tcp") {
      o.tcp = a == "--tcp";
      o.port = std::atoi(next());
    } else if (a == "--frame") {
      o.frame = next();
    } else if (a == "--clients") {
      o.clients = std::atoi(next());
    } else if (a == "--seconds") {
      o.seconds = std::atof(next());
    } else if (a == "--max-requests") {
      o.max_requests = std::atoll(next());
    } else if (a == "--words") {
      o.words = std::atoi(next());
    } else if (a == "--pid") {
      o.pid = std::atol(next());
    } else if (a == "-h" || a == "--help") {
      std::fputs(kUsage, stdout);
      return 0;
    } else {
      std::fprintf(stderr, "mcsim_load: unknown argument %s\n%s", a.c_str(), kUsage);
      return 2;
    }
  }
  if (o.port <= 0 || o.port > 65535 || o.clients < 1 || o.clients > 256 || o.words < 1 ||
      o.words > 255 || o.seconds <= 0 || o.seconds > 60 || (o.frame != "3e-binary" && o.frame != "1e-binary")) {
    std::fputs(kUsage, stderr);
    return 2;
  }

  const std::vector<std::uint8_t> req = request(o);
  const std::size_t want = reply_size(o);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<std::uint16_t>(o.port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);

  std::vector<pollfd> fds(o.clients);
  std::vector<std::size_t> got(o.clients, 0);
  for (int c = 0; c < o.clients; ++c) {
    int fd = socket(AF_INET, o.tcp ? SOCK_STREAM : SOCK_DGRAM, 0);
    int one = 1;
    if (o.tcp) setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
      std::perror("mcsim_load: connect");
      return 1;
    }
    fds[c] = {fd, POLLIN, 0};
  }

  const double server_cpu_before = o.pid > 0 ? process_cpu_seconds(o.pid) : -1;
  const double own_cpu_before = own_cpu_seconds();
  const auto start = std::chrono::steady_clock::now();
  const auto end = start + std::chrono::duration<double>(o.seconds);
  long long done = 0, lost = 0;
  for (auto& p : fds) send(p.fd, req.data(), req.size(), MSG_NOSIGNAL);
  std::vector<std::uint8_t> buf(65536);
  while (done < o.max_requests) {
    int n = poll(fds.data(), fds.size(), 200);
    if (std::chrono::steady_clock::now() >= end) break;
    if (n == 0 && !o.tcp) {
      // A lost datagram would stall its client: send again.
      for (auto& p : fds) send(p.fd, req.data(), req.size(), MSG_NOSIGNAL);
      ++lost;
      continue;
    }
    for (int c = 0; c < o.clients; ++c) {
      if (!(fds[c].revents & POLLIN)) continue;
      ssize_t r = recv(fds[c].fd, buf.data(), buf.size(), 0);
      if (r <= 0) {
        std::fprintf(stderr, "mcsim_load: receive failed or connection closed\n");
        return 1;
      }
      got[c] += static_cast<std::size_t>(r);
      while (got[c] >= want) {
        got[c] -= want;
        ++done;
        send(fds[c].fd, req.data(), req.size(), MSG_NOSIGNAL);
      }
    }
  }
  const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const double own_cpu = own_cpu_seconds() - own_cpu_before;
  std::printf("transport=%s frame=%s clients=%d words=%d requests=%lld seconds=%.2f rate=%.0f/s resent=%lld\n",
              o.tcp ? "tcp" : "udp", o.frame.c_str(), o.clients, o.words, done, elapsed, done / elapsed, lost);
  if (server_cpu_before >= 0) {
    double server_cpu = process_cpu_seconds(o.pid) - server_cpu_before;
    std::printf("server_cpu=%.2fs server_cpu_per_request=%.2fus client_cpu_per_request=%.2fus\n", server_cpu,
                done > 0 ? 1e6 * server_cpu / done : 0.0, done > 0 ? 1e6 * own_cpu / done : 0.0);
  }
  for (auto& p : fds) close(p.fd);
  return done > 0 ? 0 : 1;
}
