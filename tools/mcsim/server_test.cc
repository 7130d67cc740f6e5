// mcsim on loopback: endpoints sharing a PLC, TCP framing, several clients, every fault,
// moving values, the control socket, and the executable's command line.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <thread>

#include "tools/mcsim/server.h"

namespace hbt::mcsim {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;

Bytes hex(std::string_view text) {
  Bytes out;
  std::string digits;
  for (char c : text) {
    if (c != ' ') digits += c;
  }
  for (std::size_t i = 0; i + 1 < digits.size(); i += 2) {
    out.push_back(static_cast<std::uint8_t>(std::stoi(digits.substr(i, 2), nullptr, 16)));
  }
  return out;
}

// Read D0, one word, as a 3E binary request; the reply is 13 bytes.
const Bytes kRead3E = hex("50 00 00 FF FF 03 00 0C 00 10 00 01 04 00 00 00 00 00 A8 01 00");
// Read D0, one word, as a 1E binary request; the reply is 4 bytes.
const Bytes kRead1E = hex("01 FF 0A 00 00 00 00 00 20 44 01 00");

class Socket {
 public:
  explicit Socket(int fd = -1) : fd_(fd) {}
  Socket(Socket&& o) noexcept : fd_(std::exchange(o.fd_, -1)) {}
  Socket& operator=(Socket&& o) noexcept {
    std::swap(fd_, o.fd_);
    return *this;
  }
  ~Socket() {
    if (fd_ >= 0) ::close(fd_);
  }
  int fd() const { return fd_; }

  static Socket tcp(std::uint16_t port, int* error = nullptr) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    sockaddr_in a = loopback(port);
    if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
      if (error) *error = errno;
      ::close(fd);
      return Socket();
    }
    return Socket(fd);
  }
  static Socket udp(std::uint16_t port) {
    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a = loopback(port);
    connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    return Socket(fd);
  }
  static sockaddr_in loopback(std::uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
  }

  void send(const Bytes& b) const { ASSERT_EQ(::send(fd_, b.data(), b.size(), MSG_NOSIGNAL), static_cast<ssize_t>(b.size())); }
  // One receive: empty on timeout; `closed` set when the peer closed the stream.
  Bytes receive(int timeout_ms, bool* closed = nullptr) const {
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, timeout_ms) <= 0) return {};
    std::uint8_t buf[4096];
    ssize_t n = recv(fd_, buf, sizeof buf, 0);
    if (closed) *closed = n == 0;
    return n > 0 ? Bytes(buf, buf + n) : Bytes{};
  }
  // Receives until `size` bytes arrived or the time is up.
  Bytes receive_all(std::size_t size, int timeout_ms) const {
    Bytes out;
    auto end = Clock::now() + std::chrono::milliseconds(timeout_ms);
    while (out.size() < size && Clock::now() < end) {
      int left = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count());
      Bytes b = receive(std::max(left, 1));
      out.insert(out.end(), b.begin(), b.end());
    }
    return out;
  }

 private:
  int fd_;
};

class Running : public ::testing::Test {
 protected:
  void SetUp() override {
    control_path_ = "/tmp/mcsim_test_" + std::to_string(getpid()) + "_" +
                    ::testing::UnitTest::GetInstance()->current_test_info()->name();
    ServerOptions o;
    std::string error;
    for (const char* plan : {"udp:0:3e-binary", "tcp:0:3e-binary", "tcp:0:1e-binary", "tcp:0:1e-ascii",
                             "udp:0:1e-ascii:plc=other"}) {
      o.listens.push_back(*parse_listen_spec(plan, &error));
    }
    o.control_path = control_path_;
    o.announce = false;
    server_ = std::make_unique<Server>(o);
    ASSERT_TRUE(server_->start(&error)) << error;
    for (int i = 0; i < 5; ++i) ports_.push_back(server_->port(i));
    thread_ = std::thread([this] { server_->run(); });
    control_ = Socket(socket(AF_UNIX, SOCK_STREAM, 0));
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    std::snprintf(a.sun_path, sizeof a.sun_path, "%s", control_path_.c_str());
    ASSERT_EQ(connect(control_.fd(), reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  }
  void TearDown() override {
    server_->stop();
    if (thread_.joinable()) thread_.join();
  }

  std::string ctl(const std::string& line) {
    std::string l = line + "\n";
    ::send(control_.fd(), l.data(), l.size(), MSG_NOSIGNAL);
    std::string reply;
    while (reply.find('\n') == std::string::npos) {
      Bytes b = control_.receive(2000);
      if (b.empty()) return "(no reply)";
      reply.append(b.begin(), b.end());
    }
    return reply.substr(0, reply.find('\n'));
  }
  std::string ep(int i) {
    static const char* kProto[] = {"udp", "tcp", "tcp", "tcp", "udp"};
    return std::string(kProto[i]) + ":" + std::to_string(ports_[i]);
  }

  std::string control_path_;
  std::unique_ptr<Server> server_;
  std::thread thread_;
  std::vector<std::uint16_t> ports_;
  Socket control_;
};

TEST_F(Running, EndpointsFrontTheSamePlcUnlessGivenTheirOwn) {
  ASSERT_EQ(ctl("set D0 4660"), "ok 1");
  Socket u = Socket::udp(ports_[0]);
  u.send(kRead3E);
  EXPECT_EQ(u.receive(2000), hex("D0 00 00 FF FF 03 00 04 00 00 00 34 12"));
  Socket t = Socket::tcp(ports_[2]);
  t.send(hex("03 FF 0A 00 00 00 00 00 20 44 01 00 78 56"));
  EXPECT_EQ(t.receive_all(2, 2000), hex("83 00"));
  EXPECT_EQ(ctl("get D0"), "ok 22136");
  Socket other = Socket::udp(ports_[4]);
  other.send(Bytes{'0', '1', 'F', 'F', '0', '0', '0', 'A', '4', '4', '2', '0', '0', '0', '0', '0', '0', '0', '0', '0', '0', '1', '0', '0'});
  Bytes r = other.receive(2000);
  EXPECT_EQ(std::string(r.begin(), r.end()), "81000000") << "plc=other has its own memory";
}

TEST_F(Running, TcpRequestsAreFramedByTheirLengthsNotByReceives) {
  ctl("set D0 7");
  Socket t = Socket::tcp(ports_[1]);
  for (std::uint8_t b : kRead3E) {
    t.send(Bytes{b});
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  EXPECT_EQ(t.receive_all(13, 2000).size(), 13u);
  // Two requests in one segment give two replies.
  Bytes two = kRead3E;
  two.insert(two.end(), kRead3E.begin(), kRead3E.end());
  t.send(two);
  Bytes replies = t.receive_all(26, 2000);
  ASSERT_EQ(replies.size(), 26u);
  EXPECT_EQ(replies[11], 7);
  EXPECT_EQ(replies[24], 7);
  EXPECT_TRUE(ctl("stats " + ep(1)).find("requests=3 replies=3") != std::string::npos);
}

TEST_F(Running, SeveralTcpClientsAtOnce) {
  std::vector<Socket> clients;
  for (int i = 0; i < 5; ++i) clients.push_back(Socket::tcp(ports_[2]));
  for (int round = 0; round < 3; ++round) {
    for (auto& c : clients) c.send(kRead1E);
    for (auto& c : clients) EXPECT_EQ(c.receive_all(4, 2000).size(), 4u);
  }
  EXPECT_TRUE(ctl("stats " + ep(2)).find("accepted=5 open=5") != std::string::npos);
}

TEST_F(Running, UnframeableInputIsAnsweredAndForgotten) {
  Socket t = Socket::tcp(ports_[2]);
  t.send(hex("05 FF 0A 00 99 99"));
  EXPECT_EQ(t.receive_all(2, 2000), hex("85 50"));
  t.send(kRead1E);
  EXPECT_EQ(t.receive_all(4, 2000).size(), 4u) << "the connection still serves";
  Socket u = Socket::udp(ports_[0]);
  u.send(hex("12 34 56"));
  EXPECT_TRUE(u.receive(200).empty());
  EXPECT_TRUE(ctl("stats " + ep(0)).find("unframeable=1") != std::string::npos);
}

TEST_F(Running, DropAndSilentWithholdReplies) {
  Socket u = Socket::udp(ports_[0]);
  ASSERT_EQ(ctl("fault " + ep(0) + " drop 1"), "ok");
  u.send(kRead3E);
  EXPECT_TRUE(u.receive(200).empty());
  ASSERT_EQ(ctl("fault " + ep(0) + " drop 0"), "ok");
  u.send(kRead3E);
  EXPECT_EQ(u.receive(2000).size(), 13u);

  Socket t = Socket::tcp(ports_[1]);
  ASSERT_EQ(ctl("fault " + ep(1) + " silent"), "ok");
  t.send(kRead3E);
  bool closed = false;
  EXPECT_TRUE(t.receive(200, &closed).empty());
  EXPECT_FALSE(closed) << "a silent peer keeps the connection";
  ASSERT_EQ(ctl("fault " + ep(1) + " silent off"), "ok");
  t.send(kRead3E);
  EXPECT_EQ(t.receive_all(13, 2000).size(), 13u);
  EXPECT_TRUE(ctl("stats " + ep(0)).find("dropped=1") != std::string::npos);
}

TEST_F(Running, CodeAndWrongCommandFaults) {
  Socket t = Socket::tcp(ports_[1]);
  ASSERT_EQ(ctl("fault " + ep(1) + " code 0xC051"), "ok");
  t.send(kRead3E);
  Bytes r = t.receive_all(20, 2000);  // header, end code, 9 bytes of error information
  ASSERT_EQ(r.size(), 20u);
  EXPECT_EQ(r[9], 0x51);
  EXPECT_EQ(r[10], 0xC0);
  ctl("fault " + ep(1) + " clear");

  Socket a = Socket::tcp(ports_[2]);
  ASSERT_EQ(ctl("fault " + ep(2) + " badcmd"), "ok");
  a.send(kRead1E);
  Bytes b = a.receive_all(4, 2000);
  ASSERT_EQ(b.size(), 4u);
  EXPECT_EQ(b[0], 0x80) << "reply code of another command";
}

TEST_F(Running, SplitSendsPiecesAndJoinSendsTwoRepliesTogether) {
  Socket t = Socket::tcp(ports_[1]);
  ASSERT_EQ(ctl("fault " + ep(1) + " split 4 250ms"), "ok");
  t.send(kRead3E);
  Bytes first = t.receive(2000);
  EXPECT_EQ(first.size(), 4u);
  Bytes rest = t.receive_all(9, 2000);
  EXPECT_EQ(rest.size(), 9u);

  ASSERT_EQ(ctl("fault " + ep(1) + " clear"), "ok");
  ASSERT_EQ(ctl("fault " + ep(1) + " join"), "ok");
  t.send(kRead3E);
  EXPECT_TRUE(t.receive(200).empty()) << "the first reply waits for the second";
  t.send(kRead3E);
  Bytes both = t.receive_all(26, 2000);
  EXPECT_EQ(both.size(), 26u);
  // Switching join off lets a held reply go.
  t.send(kRead3E);
  EXPECT_TRUE(t.receive(150).empty());
  ASSERT_EQ(ctl("fault " + ep(1) + " join off"), "ok");
  EXPECT_EQ(t.receive_all(13, 2000).size(), 13u);
}

TEST_F(Running, DelayHoldsRepliesBack) {
  Socket u = Socket::udp(ports_[0]);
  ASSERT_EQ(ctl("fault " + ep(0) + " delay 250ms"), "ok");
  auto start = Clock::now();
  u.send(kRead3E);
  Bytes r = u.receive(3000);
  auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
  EXPECT_EQ(r.size(), 13u);
  EXPECT_GE(elapsed, 240);
}

TEST_F(Running, CloseAndRefuseConnections) {
  Socket t = Socket::tcp(ports_[2]);
  ASSERT_EQ(ctl("fault " + ep(2) + " close"), "ok");
  t.send(kRead1E);
  bool closed = false;
  t.receive(2000, &closed);
  EXPECT_TRUE(closed);
  ASSERT_EQ(ctl("fault " + ep(2) + " clear"), "ok");

  ASSERT_EQ(ctl("fault " + ep(2) + " refuse"), "ok");
  int error = 0;
  EXPECT_LT(Socket::tcp(ports_[2], &error).fd(), 0);
  EXPECT_EQ(error, ECONNREFUSED);
  ASSERT_EQ(ctl("fault " + ep(2) + " refuse off"), "ok");
  Socket again = Socket::tcp(ports_[2]);
  ASSERT_GE(again.fd(), 0);
  again.send(kRead1E);
  EXPECT_EQ(again.receive_all(4, 2000).size(), 4u);
  EXPECT_TRUE(ctl("stats " + ep(2)).find("closed=1") != std::string::npos);

  // UDP: the port is gone, so a connected client hears "refused".
  Socket u = Socket::udp(ports_[0]);
  ASSERT_EQ(ctl("fault " + ep(0) + " refuse"), "ok");
  u.send(kRead3E);
  std::uint8_t buf[64];
  pollfd p{u.fd(), POLLIN, 0};
  poll(&p, 1, 1000);
  EXPECT_LT(recv(u.fd(), buf, sizeof buf, MSG_DONTWAIT), 0);
  EXPECT_EQ(errno, ECONNREFUSED);
}

// The number stays the endpoint's while it refuses: another simulator, or the local port of an
// outgoing connection, cannot take it and be reached in its place; afterwards it serves there.
TEST_F(Running, ARefusingTcpEndpointKeepsItsPortNumber) {
  ASSERT_EQ(ctl("fault " + ep(1) + " refuse"), "ok");
  int error = 0;
  EXPECT_LT(Socket::tcp(ports_[1], &error).fd(), 0);
  EXPECT_EQ(error, ECONNREFUSED);
  int other = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(ports_[1]);
  EXPECT_NE(bind(other, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  EXPECT_EQ(errno, EADDRINUSE);
  close(other);
  ASSERT_EQ(ctl("fault " + ep(1) + " refuse off"), "ok");
  Socket again = Socket::tcp(ports_[1]);
  ASSERT_GE(again.fd(), 0);
}

// Two simulators on one host (two soaks at once) never share a UDP port: a port another
// socket holds, even one that allows reuse, is refused rather than shared.
TEST(McsimServer, AUdpEndpointNeverSharesItsPort) {
  int taken = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  int one = 1;
  setsockopt(taken, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(bind(taken, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  socklen_t len = sizeof a;
  getsockname(taken, reinterpret_cast<sockaddr*>(&a), &len);
  ServerOptions o;
  std::string error;
  o.listens.push_back(*parse_listen_spec("udp:" + std::to_string(ntohs(a.sin_port)) + ":3e-binary", &error));
  o.announce = false;
  Server server(o);
  EXPECT_FALSE(server.start(&error)) << "the endpoint shares a port another socket holds";
  close(taken);
}

TEST_F(Running, MovingValuesAdvanceWhileServing) {
  ASSERT_EQ(ctl("move D10 counter 1 20ms"), "ok");
  std::this_thread::sleep_for(std::chrono::milliseconds(400));
  std::string v = ctl("get D10");
  ASSERT_TRUE(v.starts_with("ok "));
  EXPECT_GE(std::stoi(v.substr(3)), 5);
}

// ---- the executable ----

struct CliRun {
  int status;
  std::string out, err;
};

CliRun run_mcsim(const std::string& args, const std::string& input = "") {
  std::string dir = "/tmp/mcsim_cli_" + std::to_string(getpid());
  std::string cmd = "printf '" + input + "' | " HBT_BIN_DIR "/mcsim " + args + " >" + dir + ".out 2>" + dir + ".err";
  int status = std::system(cmd.c_str());
  auto slurp = [](const std::string& p) {
    std::ifstream in(p);
    std::stringstream s;
    s << in.rdbuf();
    std::remove(p.c_str());
    return s.str();
  };
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, slurp(dir + ".out"), slurp(dir + ".err")};
}

TEST(Executable, HelpAndArgumentErrors) {
  CliRun help = run_mcsim("--help");
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("fault EP KIND"), std::string::npos);
  EXPECT_NE(help.out.find("move DEV ramp"), std::string::npos);

  CliRun none = run_mcsim("");
  EXPECT_EQ(none.status, 2);
  EXPECT_NE(none.err.find("at least one --listen"), std::string::npos);
  EXPECT_EQ(run_mcsim("--listen udp:0:9e-binary").status, 2);
  EXPECT_EQ(run_mcsim("--listen udp:0:3e-binary --frobnicate").status, 2);
  EXPECT_EQ(run_mcsim("--listen udp:0:3e-binary --bind not-an-address").status, 1);
}

TEST(Executable, SendsControlLinesToARunningSimulator) {
  std::string base = "/tmp/mcsim_send_" + std::to_string(getpid());
  std::string cmd = HBT_BIN_DIR "/mcsim --listen udp:0:3e-binary --no-stdin --quiet --control " + base +
                    ".sock --port-file " + base + ".ports & echo $! > " + base + ".pid";
  ASSERT_EQ(std::system(cmd.c_str()), 0);
  for (int i = 0; i < 200 && access((base + ".ports").c_str(), F_OK) != 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  CliRun ok = run_mcsim("--send " + base + ".sock 'set D5 12' 'get D5' '# no reply'");
  EXPECT_EQ(ok.status, 0) << ok.err;
  EXPECT_EQ(ok.out, "ok 1\nok 12\n");
  CliRun bad = run_mcsim("--send " + base + ".sock 'get Q5' 'get D5'");
  EXPECT_EQ(bad.status, 1);
  EXPECT_EQ(bad.out, "error bad device Q5\nok 12\n");
  CliRun quit = run_mcsim("--send " + base + ".sock quit");
  EXPECT_EQ(quit.status, 0);
  EXPECT_EQ(run_mcsim("--send " + base + ".sock 'get D5'").status, 1) << "mcsim did not quit";
  EXPECT_EQ(run_mcsim("--send").status, 2);
  for (const char* suffix : {".ports", ".pid"}) std::remove((base + suffix).c_str());
}

TEST(Executable, StdinScriptsAndPortFile) {
  std::string script = "/tmp/mcsim_script_" + std::to_string(getpid());
  std::string ports = script + ".ports";
  std::ofstream(script) << "# start values\nset D1 99\nstation add 4\n";
  CliRun r = run_mcsim("--listen udp:0:3e-binary --listen tcp:0:1e-ascii --script " + script +
                        " --port-file " + ports,
                    "get D1\\nstation list\\nbogus\\nquit\\n");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("listening udp:127.0.0.1:"), std::string::npos);
  EXPECT_NE(r.out.find("ready\nok 99\nok 255 4\nerror unknown command bogus"), std::string::npos) << r.out;
  std::ifstream in(ports);
  std::string plan;
  int port = 0;
  in >> plan >> port;
  EXPECT_EQ(plan, "udp:0:3e-binary");
  EXPECT_GT(port, 0);
  in >> plan >> port;
  EXPECT_EQ(plan, "tcp:0:1e-ascii");

  // The demonstration script stays valid.
  CliRun demo = run_mcsim("--listen udp:0:3e-binary --script " HBT_SOURCE_DIR "/tools/mcsim/examples/demo.mcsim",
                          "get D0 @2\\nget EX1:1\\nmove list\\nquit\\n");
  EXPECT_EQ(demo.status, 0) << demo.err;
  EXPECT_NE(demo.out.find("ok 2222\nok 22136\nok 8; D0 sine"), std::string::npos) << demo.out;

  std::ofstream(script) << "set D1 99\nset D1 banana\n";
  CliRun bad = run_mcsim("--listen udp:0:3e-binary --script " + script);
  EXPECT_EQ(bad.status, 2);
  EXPECT_NE(bad.err.find(":2: error bad value banana"), std::string::npos) << bad.err;
  std::remove(script.c_str());
  std::remove(ports.c_str());
}

}  // namespace
}  // namespace hbt::mcsim
