// What the edge node's whole-process tests run around it: a private Mosquitto on a free
// loopback port, the Sparkplug host stand-in on npm libraries (sparkplug_peer.js) and FIFOs
// through which a test talks to both.
#pragma once

#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "testsupport/child_process.h"

namespace hbt::mqtt::testing {

std::string find_program(const std::string& name);  // "" when not on PATH or in /usr/sbin
uint16_t free_port();

// Installs the npm peers once; false (with the reason) when they cannot be had.
bool peers_available(std::string& why);

class Broker {
 public:
  // `extra` lines go into its configuration file (TLS listener settings, password file).
  explicit Broker(const std::string& dir, std::vector<std::string> extra = {}, bool anonymous = true);
  ~Broker();
  bool start(std::string& why);  // on a fresh free port, or on the last one after stop()
  void kill();                   // SIGKILL: no goodbye to anyone
  uint16_t port() const { return port_; }
  std::string log() const;

 private:
  std::string dir_;
  std::vector<std::string> extra_;
  bool anonymous_;
  uint16_t port_ = 0;
  std::unique_ptr<testsupport::ChildProcess> process_;
};

// A FIFO a test writes lines into, for a child that reads it.
class CommandPipe {
 public:
  explicit CommandPipe(const std::string& path);
  ~CommandPipe();
  void send(const std::string& line);
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  int fd_ = -1;
};

class HostPeer {
 public:
  HostPeer(const std::string& dir, uint16_t port, const std::string& tls_ca = "");
  bool ready(int timeout_ms = 20000);
  void publish(const nlohmann::json& command) { pipe_.send(command.dump()); }
  // Every decoded message so far (event "message"), in arrival order.
  std::vector<nlohmann::json> messages();
  std::vector<nlohmann::json> events();
  // Waits until some message satisfies `match`; returns it.
  template <typename Match>
  std::optional<nlohmann::json> wait_for(Match match, int timeout_ms) {
    std::optional<nlohmann::json> found;
    testsupport::eventually(
        [&] {
          for (auto& m : messages()) {
            if (match(m)) {
              found = m;
              return true;
            }
          }
          return false;
        },
        timeout_ms);
    return found;
  }
  // The message on `topic` after `skip` earlier ones there; `meanwhile` runs at every look
  // (to keep another child's output drained).
  std::optional<nlohmann::json> wait_topic(const std::string& topic, int timeout_ms, size_t skip = 0,
                                           const std::function<void()>& meanwhile = {});
  testsupport::ChildProcess& process() { return *process_; }

 private:
  CommandPipe pipe_;
  std::unique_ptr<testsupport::ChildProcess> process_;
};

// Values of a decoded metric list by name (births) or alias.
const nlohmann::json* metric_named(const nlohmann::json& message, const std::string& name);

}  // namespace hbt::mqtt::testing
