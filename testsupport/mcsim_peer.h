// Whole-process helpers: the MELSEC simulator as the peer of a real poller process, and the
// poller started on a configuration with a client attached to watch its image.
#pragma once

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "image/layout.h"
#include "image/niolib.h"
#include "testsupport/child_process.h"
#include "testsupport/driver_setup.h"
#include "testsupport/recording_sink.h"

namespace hbt::testsupport {

inline std::string bin_path(const std::string& program) {
#ifdef HBT_BIN_DIR
  return std::string(HBT_BIN_DIR) + "/" + program;
#else
  return program;
#endif
}

// mcsim on loopback with the given endpoints ("udp:0:3e-binary", ...), free ports chosen by
// the system, controlled through its UNIX socket.
class McsimPeer {
 public:
  McsimPeer(const std::string& dir, const std::vector<std::string>& listens, std::vector<std::string> extra = {})
      : control_path_(dir + "/mcsim.ctl"), port_file_(dir + "/mcsim.ports") {
    std::vector<std::string> argv = {bin_path("mcsim")};
    for (const auto& l : listens) {
      argv.push_back("--listen");
      argv.push_back(l);
    }
    for (const char* a : {"--control", control_path_.c_str(), "--port-file", port_file_.c_str()}) argv.push_back(a);
    argv.push_back("--no-stdin");
    argv.push_back("--quiet");
    argv.insert(argv.end(), extra.begin(), extra.end());
    process_ = std::make_unique<testsupport::ChildProcess>(argv, false, dir);
    ready_ = testsupport::eventually([&] { return read_ports(listens.size()); }, 5000);
  }
  ~McsimPeer() {
    if (ready_) control("quit");
    if (process_->wait_exit(2000) == std::nullopt) process_->kill_now();
  }

  bool ready() const { return ready_; }
  std::uint16_t port(std::size_t endpoint) const { return ports_.at(endpoint); }
  std::string output() { return process_->output(); }

  // One control line; its reply line ("ok ..." or "error ...").
  std::string control(const std::string& line) {
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return "error socket";
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", control_path_.c_str());
    std::string reply;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) {
      const std::string out = line + "\n";
      if (::write(fd, out.data(), out.size()) == static_cast<ssize_t>(out.size())) {
        char c;
        while (::read(fd, &c, 1) == 1 && c != '\n') reply += c;
      }
    }
    ::close(fd);
    return reply.empty() ? "error no reply" : reply;
  }
  bool ok(const std::string& line) { return control(line).rfind("ok", 0) == 0; }

 private:
  bool read_ports(std::size_t expected) {
    std::ifstream in(port_file_);
    std::string plan;
    unsigned port;
    ports_.clear();
    while (in >> plan >> port) ports_.push_back(static_cast<std::uint16_t>(port));
    return ports_.size() == expected;
  }

  std::string control_path_, port_file_;
  std::unique_ptr<testsupport::ChildProcess> process_;
  std::vector<std::uint16_t> ports_;
  bool ready_ = false;
};

// HBTSPOLL on a configuration, with a client that keeps it in use and reads its image.
class PollerProcess {
 public:
  PollerProcess(const testsupport::TestEnvironment& env, const testsupport::ConfigSpec& plan)
      : client_(client_options(), sink_) {
    testsupport::install_configuration(env, plan);
    process_ = std::make_unique<testsupport::ChildProcess>(
        std::vector<std::string>{testsupport::poller_path(), "S"}, false, env.dir());
    mapped_ = testsupport::eventually(
        [&] {
          image::PointerBlock* b = client_.open_pointer_block();
          return b && std::atomic_ref<std::uint16_t>(b->state).load() == image::kStateRunning &&
                 client_.nio_map_hdr() != nullptr;
        },
        5000);
    if (mapped_) client_.attach_client();
  }
  ~PollerProcess() { stop(); }

  bool mapped() const { return mapped_; }
  int pid() const { return process_->pid(); }
  image::Niolib& image() { return client_; }
  image::PollRecordHead& record(int k) { return *client_.nio_map_dit(k); }
  image::PollControlEntry& entry(int k) { return *client_.nio_map_ptr(k); }
  image::ChannelRecord& channel(int i) { return *client_.nio_map_chan(i); }
  std::uint8_t* area(int k, int kind) {
    auto* base = reinterpret_cast<std::uint8_t*>(&record(k));
    return base + record(k).areas[kind - 1].offset;
  }
  std::uint16_t word(int k, int w) {
    const std::uint8_t* p = area(k, image::kAreaCurrent) + 2 * w;
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
  }
  std::uint16_t status(int k) {
    const volatile std::uint8_t* p = reinterpret_cast<std::uint8_t*>(&record(k));
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
  }

  // Everything the poller printed so far.
  const std::string& output() { return process_->output(); }
  int count(const std::string& line) {
    const std::string& all = output();
    int n = 0;
    for (std::size_t at = all.find(line); at != std::string::npos; at = all.find(line, at + 1)) ++n;
    return n;
  }
  bool wait_for(const std::string& text, int timeout_ms) { return process_->wait_for_output(text, timeout_ms); }
  template <typename Condition>
  bool eventually(Condition condition, int timeout_ms) {
    return testsupport::eventually(
        [&] {
          output();  // keep the poller's console pipe drained
          return condition();
        },
        timeout_ms);
  }

  int stop() {
    if (stopped_) return exit_code_;
    stopped_ = true;
    if (image::PointerBlock* b = client_.pointer_block()) {
      client_.detach_client();
      std::atomic_ref<std::uint16_t>(b->command).store(image::kCommandExit);
    }
    auto code = process_->wait_exit(5000);
    if (!code) process_->kill_now();
    exit_code_ = code.value_or(-1);
    return exit_code_;
  }

 private:
  static image::NiolibOptions client_options() {
    image::NiolibOptions o;
    o.variant = image::NiolibVariant::kClient;
    o.start_poller = false;
    return o;
  }

  testsupport::RecordingSink sink_;
  image::Niolib client_;
  std::unique_ptr<testsupport::ChildProcess> process_;
  bool mapped_ = false;
  bool stopped_ = false;
  int exit_code_ = -1;
};

}  // namespace hbt::testsupport
