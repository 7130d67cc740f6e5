// The state one mcsim process serves: its PLCs, its endpoints with their faults and
// traffic counters, and the moving values. Owned by the server, changed by control lines.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "tools/mcsim/device_memory.h"
#include "tools/mcsim/faults.h"
#include "tools/mcsim/frames.h"
#include "tools/mcsim/moving.h"

namespace hbt::mcsim {

inline constexpr char kDefaultPlc[] = "main";

struct Counters {
  std::uint64_t requests = 0;     // requests framed and handled
  std::uint64_t replies = 0;      // replies sent (or queued for sending)
  std::uint64_t abnormal = 0;     // replies with a non-zero end/completion code
  std::uint64_t dropped = 0;      // replies withheld by a fault (drop, silent, close)
  std::uint64_t unframeable = 0;  // input that was no request of the endpoint's format
  std::uint64_t bytes_in = 0;
  std::uint64_t bytes_out = 0;
  std::uint64_t accepted = 0;     // TCP connections accepted
  std::uint64_t open = 0;         // TCP connections open now
  std::uint64_t closed = 0;       // TCP connections closed by a fault
};

enum class Transport { kUdp, kTcp };

// "udp:5000:3e-binary", "tcp:0:1e-ascii:plc=line2".
struct ListenSpec {
  Transport transport = Transport::kUdp;
  std::uint16_t port = 0;
  FrameFormat format;
  std::string plc = kDefaultPlc;
  std::string text;
};
std::optional<ListenSpec> parse_listen_spec(std::string_view text, std::string* error);

struct Endpoint {
  ListenSpec plan;
  std::uint16_t port = 0;  // bound port (differs from plan.port when that is 0)
  Plc* plc = nullptr;
  Faults faults;
  Counters counters;

  std::string name() const;  // "udp:40123"
};

class Simulator {
 public:
  Plc& plc(const std::string& name);  // created on first use
  Plc* find_plc(const std::string& name);
  const std::map<std::string, std::unique_ptr<Plc>>& plcs() const { return plcs_; }

  Endpoint& add_endpoint(const ListenSpec& plan);
  std::vector<std::unique_ptr<Endpoint>>& endpoints() { return endpoints_; }
  const std::vector<std::unique_ptr<Endpoint>>& endpoints() const { return endpoints_; }

  // The memory a control command or a move addresses.
  DeviceMemory* memory(const MemoryTarget& t);

  Movers& movers() { return movers_; }
  bool quit_requested() const { return quit_; }
  bool trace() const { return trace_; }
  void set_trace(bool on) { trace_ = on; }
  void request_quit() { quit_ = true; }
  void set_seed(std::uint64_t seed) { seed_ = seed; }

 private:
  std::map<std::string, std::unique_ptr<Plc>> plcs_;
  std::vector<std::unique_ptr<Endpoint>> endpoints_;
  Movers movers_;
  bool quit_ = false;
  bool trace_ = false;
  std::uint64_t seed_ = 1;
};

}  // namespace hbt::mcsim
