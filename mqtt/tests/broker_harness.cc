#include "mqtt/tests/broker_harness.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "testsupport/test_environment.h"

namespace hbt::mqtt::testing {
namespace {

}  // namespace

uint16_t free_port() {
  int s = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
  socklen_t len = sizeof a;
  ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
  ::close(s);
  return ntohs(a.sin_port);
}

namespace {

bool accepts(uint16_t port) {
  int s = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(port);
  const bool ok = ::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  ::close(s);
  return ok;
}

std::string peers_dir() { return std::string(HBT_SOURCE_DIR) + "/mqtt/tests/peers"; }

}  // namespace

std::string find_program(const std::string& name) {
  std::string path = std::getenv("PATH") ? std::getenv("PATH") : "";
  path += ":/usr/sbin:/sbin";
  std::istringstream dirs(path);
  std::string dir;
  while (std::getline(dirs, dir, ':')) {
    const std::string candidate = dir + "/" + name;
    if (!dir.empty() && ::access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  return "";
}

bool peers_available(std::string& why) {
  if (find_program("node").empty()) {
    why = "node is not installed";
    return false;
  }
  auto result = testsupport::run_program({"/bin/bash", peers_dir() + "/install.sh"}, 300000);
  if (result.exit_code != 0) {
    why = "the npm peers could not be installed: " + result.output;
    return false;
  }
  return true;
}

Broker::Broker(const std::string& dir, std::vector<std::string> extra, bool anonymous)
    : dir_(dir), extra_(std::move(extra)), anonymous_(anonymous) {}

Broker::~Broker() { kill(); }

bool Broker::start(std::string& why) {
  const std::string binary = find_program("mosquitto");
  if (binary.empty()) {
    why = "mosquitto is not installed";
    return false;
  }
  const bool fixed = port_ != 0;
  for (int attempt = 0; attempt < 5; ++attempt) {
    if (!fixed) port_ = free_port();
    const std::string config = dir_ + "/mosquitto.conf";
    std::ofstream out(config);
    out << "listener " << port_ << " 127.0.0.1\n";
    out << "allow_anonymous " << (anonymous_ ? "true" : "false") << "\n";
    out << "persistence false\nlog_dest stderr\nlog_type error\nlog_type warning\nlog_type notice\n";
    // Started by root, Mosquitto would become the user "mosquitto", who cannot read this
    // test's private folder.
    if (::geteuid() == 0) out << "user root\n";
    for (const auto& line : extra_) out << line << "\n";
    out.close();
    process_ = std::make_unique<testsupport::ChildProcess>(std::vector<std::string>{binary, "-c", config}, false);
    if (testsupport::eventually([&] { return accepts(port_) || !process_->running(); }, 10000) && process_->running()) {
      return true;
    }
    why = "mosquitto did not start: " + process_->output();
    process_.reset();
    if (fixed) testsupport::eventually([] { return false; }, 300);  // the old socket may linger
  }
  return false;
}

void Broker::kill() {
  if (process_) {
    process_->kill_now(9);
    process_->wait_exit(5000);
    process_.reset();
  }
}

std::string Broker::log() const { return process_ ? process_->output() : ""; }

CommandPipe::CommandPipe(const std::string& path) : path_(path) {
  ::mkfifo(path.c_str(), 0600);
  // Read and write: opening does not wait for the reader, and the reader sees no end of file
  // while the test holds this end.
  fd_ = ::open(path.c_str(), O_RDWR);
}

CommandPipe::~CommandPipe() {
  if (fd_ >= 0) ::close(fd_);
}

void CommandPipe::send(const std::string& line) {
  const std::string text = line + "\n";
  [[maybe_unused]] ssize_t n = ::write(fd_, text.data(), text.size());
}

HostPeer::HostPeer(const std::string& dir, uint16_t port, const std::string& tls_ca) : pipe_(dir + "/peer.fifo") {
  std::vector<std::string> argv{find_program("node"), peers_dir() + "/sparkplug_peer.js", std::to_string(port),
                                pipe_.path()};
  if (!tls_ca.empty()) {
    argv.push_back("--tls");
    argv.push_back(tls_ca);
  }
  process_ = std::make_unique<testsupport::ChildProcess>(argv, false);
}

bool HostPeer::ready(int timeout_ms) { return process_->wait_for_output("{\"event\":\"ready\"}", timeout_ms); }

std::vector<nlohmann::json> HostPeer::events() {
  std::vector<nlohmann::json> out;
  std::istringstream lines(process_->output());
  std::string line;
  while (std::getline(lines, line)) {
    if (line.empty() || line[0] != '{') continue;
    auto j = nlohmann::json::parse(line, nullptr, false);
    if (!j.is_discarded()) out.push_back(std::move(j));
  }
  return out;
}

std::vector<nlohmann::json> HostPeer::messages() {
  std::vector<nlohmann::json> out;
  for (auto& e : events()) {
    if (e.value("event", "") == "message") out.push_back(std::move(e));
  }
  return out;
}

std::optional<nlohmann::json> HostPeer::wait_topic(const std::string& topic, int timeout_ms, size_t skip,
                                                   const std::function<void()>& meanwhile) {
  std::optional<nlohmann::json> found;
  testsupport::eventually(
      [&] {
        if (meanwhile) meanwhile();
        size_t seen = 0;
        for (auto& m : messages()) {
          if (m["topic"] == topic && seen++ == skip) {
            found = m;
            return true;
          }
        }
        return false;
      },
      timeout_ms);
  return found;
}

const nlohmann::json* metric_named(const nlohmann::json& message, const std::string& name) {
  for (const auto& m : message["metrics"]) {
    if (m.contains("name") && m["name"].is_string() && m["name"] == name) return &m;
  }
  return nullptr;
}

}  // namespace hbt::mqtt::testing
