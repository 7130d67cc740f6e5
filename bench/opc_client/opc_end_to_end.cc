// Whole-process figures of the OPC path: mcsim → HBTSPOLL → HBTSTSR.so → HBTOPC.so inside
// hbtopc, with the poll time and the group's update rate both 100 ms.
//   latency: registers counting at staggered intervals; for each value a subscription delivers,
//            the time from the change in mcsim (its history, CLOCK_MONOTONIC) to its receipt
//            in hbtopc's OnDataChange (CLOCK_MONOTONIC): median, 90th and 99th percentiles.
//   cpu:     10,000 subscribed items of which 100 change once a second: the CPU share of the
//            process that hosts the server (hbtopc) and of the poller, over the run.
// Usage: opc_end_to_end latency|cpu [SECONDS]
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <thread>

#include "testsupport/child_process.h"
#include "testsupport/driver_setup.h"
#include "testsupport/mcsim_peer.h"
#include "testsupport/process_stats.h"
#include "tools/hbtopc/json_lines.h"
#include "tools/hbtopc/server_registration.h"

namespace {

using hbt::testsupport::McsimPeer;
using hbt::testsupport::ChildProcess;
using hbt::testsupport::cpu_seconds;

const std::string kHbtopc = std::string(HBT_BIN_DIR) + "/hbtopc";

double percentile(std::vector<double> v, double p) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  const auto k = static_cast<std::size_t>(p * static_cast<double>(v.size() - 1) + 0.5);
  return v[std::min(k, v.size() - 1)];
}

struct Plant {
  hbt::testsupport::TestEnvironment env;
  std::string history = env.path("history.txt");
  McsimPeer plc{env.dir(), {"udp:0:3e-binary"}, {"--history", history}};
  std::unique_ptr<ChildProcess> poller;

  bool start(int words) {
    if (!plc.ready()) return false;
    plc.ok("size D 20000");
    hbt::testsupport::ConfigSpec plan;
    auto& ch = plan.channels[0];
    ch.ip_port = plc.port(0);
    ch.devices[0].name = "PLC1";
    ch.devices[0].records.clear();
    for (int start = 0; start < words; start += 500) {
      hbt::testsupport::RecordSpec r;
      r.type = hbt::image::RegisterType::D;
      r.start = static_cast<std::uint32_t>(start);
      r.length = static_cast<std::uint16_t>(std::min(500, words - start));
      r.data_type = hbt::image::DataType::Unsigned;
      r.poll_time = 10;  // 100 ms
      ch.devices[0].records.push_back(r);
    }
    hbt::testsupport::install_configuration(env, plan);
    hbt::testsupport::install_driver_exe("S");
    const bool registered = hbt::hbtopc::register_server(HBT_LIB_DIR "/HBTOPC.so").empty();
    poller = std::make_unique<ChildProcess>(std::vector<std::string>{hbt::testsupport::poller_path(), "S"}, false,
                                            env.dir());
    return registered;
  }
  ~Plant() {
    if (poller) {
      poller->kill_now(SIGTERM);
      if (!poller->wait_exit(5000)) poller->kill_now();
    }
  }
};

struct Change {
  double ms;
  unsigned value;
};

// Per register: its changes in order.
std::map<unsigned, std::vector<Change>> read_history(const std::string& path) {
  std::map<unsigned, std::vector<Change>> out;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream f(line);
    double ms;
    std::string type;
    unsigned number, value;
    if (f >> ms >> type >> number >> value && type == "D") out[number].push_back({ms, value});
  }
  return out;
}

void wait_draining(ChildProcess& p, double seconds) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (std::chrono::steady_clock::now() < end) {
    p.output();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

int latency(int seconds) {
  Plant plant;
  if (!plant.start(100)) return std::fprintf(stderr, "opc_end_to_end: the plant did not start\n"), 1;
  constexpr int kRegisters = 20;
  std::vector<std::string> argv = {kHbtopc, "--json", "subscribe"};
  for (int k = 0; k < kRegisters; ++k) argv.push_back("PLC1:D:" + std::to_string(k));
  for (const char* a : {"--rate", "100", "--seconds"}) argv.push_back(a);
  argv.push_back(std::to_string(seconds + 3));
  ChildProcess sub(argv, false, plant.env.dir());
  if (!sub.wait_for_output("\"quality\":192", 15000))
    return std::fprintf(stderr, "opc_end_to_end: no good value:\n%s\n", sub.output().c_str()), 1;
  // Counters at intervals that drift against the poll and the update rate.
  for (int k = 0; k < kRegisters; ++k)
    plant.plc.ok("move D" + std::to_string(k) + " counter 1 " + std::to_string(230 + 37 * k) + "ms");
  wait_draining(sub, seconds);
  for (int k = 0; k < kRegisters; ++k) plant.plc.ok("move D" + std::to_string(k) + " stop");
  sub.wait_exit(15000);
  const auto history = read_history(plant.history);
  std::vector<double> latencies;
  int unmatched = 0;
  for (const auto& o : hbt::hbtopc::parse_json_lines(sub.output())) {
    if (o.at("event").text != "data" || o.at("quality").number() != 192) continue;
    const unsigned reg = static_cast<unsigned>(std::stoul(o.at("item").text.substr(7)));
    const double received = o.at("received_ms").number();
    const auto value = static_cast<unsigned>(o.at("value").number());
    auto it = history.find(reg);
    if (it == history.end()) continue;  // never changed: the first report of its start value
    // The latest change to this value before the receipt.
    const Change* source = nullptr;
    for (const auto& c : it->second)
      if (c.ms <= received && c.value == value) source = &c;
    if (source == nullptr) {
      ++unmatched;
      continue;
    }
    latencies.push_back(received - source->ms);
  }
  const double changes = [&] {
    double n = 0;
    for (const auto& [reg, list] : history) n += static_cast<double>(list.size());
    return n;
  }();
  std::printf("latency mcsim change -> OnDataChange, poll 100 ms, group rate 100 ms, %d s, %d registers:\n", seconds,
              kRegisters);
  std::printf("  changes %.0f, delivered %zu (unmatched %d)\n", changes, latencies.size(), unmatched);
  std::printf("  median %.1f ms, p90 %.1f ms, p99 %.1f ms, max %.1f ms\n", percentile(latencies, 0.5),
              percentile(latencies, 0.9), percentile(latencies, 0.99), percentile(latencies, 1.0));
  return latencies.empty() ? 1 : 0;
}

int cpu(int seconds) {
  constexpr int kItems = 10000;
  Plant plant;
  if (!plant.start(kItems)) return std::fprintf(stderr, "opc_end_to_end: the plant did not start\n"), 1;
  std::vector<std::string> argv = {kHbtopc, "--json", "subscribe"};
  for (int k = 0; k < kItems; ++k) argv.push_back("PLC1:D:" + std::to_string(k));
  for (const char* a : {"--rate", "100", "--seconds"}) argv.push_back(a);
  argv.push_back(std::to_string(seconds + 60));
  ChildProcess sub(argv, false, plant.env.dir());
  if (!sub.wait_for_output("\"quality\":192", 60000))
    return std::fprintf(stderr, "opc_end_to_end: no good value:\n%s\n", sub.output().c_str()), 1;
  wait_draining(sub, 3);  // the first report of all 10,000 values passes
  for (int k = 0; k < 100; ++k) plant.plc.ok("move D" + std::to_string(k * 100) + " counter 1 1000ms");
  wait_draining(sub, 2);
  const std::size_t lines_before = std::count(sub.output().begin(), sub.output().end(), '\n');
  const double server0 = cpu_seconds(sub.pid()), poller0 = cpu_seconds(plant.poller->pid());
  const auto t0 = std::chrono::steady_clock::now();
  wait_draining(sub, seconds);
  const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  const double server = cpu_seconds(sub.pid()) - server0, poller = cpu_seconds(plant.poller->pid()) - poller0;
  const std::size_t lines = std::count(sub.output().begin(), sub.output().end(), '\n') - lines_before;
  sub.kill_now(SIGTERM);
  sub.wait_exit(10000);
  std::printf("CPU, %d subscribed items (group rate 100 ms, poll 100 ms), 100 changing once a second, %.0f s:\n",
              kItems, wall);
  std::printf("  server process (hbtopc with HBTOPC.so): %.1f%% of one core; poller: %.1f%%\n",
              100 * server / wall, 100 * poller / wall);
  std::printf("  item changes delivered: %.0f per second\n", static_cast<double>(lines) / wall);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  const int seconds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 20;
  if (mode == "latency") return latency(seconds);
  if (mode == "cpu") return cpu(seconds);
  std::fprintf(stderr, "usage: opc_end_to_end latency|cpu [SECONDS]\n");
  return 2;
}
