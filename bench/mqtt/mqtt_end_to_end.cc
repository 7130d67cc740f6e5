// hbtmqtt under load, end to end: mcsim as 32 PLCs (16 endpoints, two PLCs each) with 100,000
// values, the poller, hbtmqtt over the points library, a private Mosquitto, and a subscriber
// in this process. Changes are made in the simulator at a steady rate; each is timed from the
// moment it was made to the moment its DDATA was decoded here. Prints the latency p50/p99,
// hbtmqtt's CPU share of one core and its memory per metric.
// Usage: mqtt_end_to_end [--seconds N] [--rate CHANGES_PER_S] [--interval PUBLISH_MS] [--poll MS]
//                        [--update MS (how often the points library looks)]
#include <mosquitto.h>
#include <signal.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "mqtt/sparkplug_payload.h"
#include "mqtt/tests/broker_harness.h"
#include "testsupport/driver_setup.h"
#include "testsupport/mcsim_peer.h"
#include "testsupport/process_stats.h"
#include "testsupport/test_environment.h"

namespace {

using namespace hbt;
using Clock = std::chrono::steady_clock;

constexpr int kChannels = 16;
constexpr int kPlcs = 32;
constexpr int kRecordsPerPlc = 5;
constexpr int kWordsPerRecord = 625;  // 3,125 values per PLC, 100,000 in all
constexpr int kPointsPerPlc = kRecordsPerPlc * kWordsPerRecord;
constexpr int kSecondPlcBase = 4000;   // the second PLC of a channel reads D4000 on
constexpr int kBatch = 100;            // consecutive registers set by one simulator command

double ms_since(Clock::time_point t0) { return std::chrono::duration<double, std::milli>(Clock::now() - t0).count(); }

struct Subscriber {
  std::mutex mutex;
  // (plc index, register) -> (value, time set); filled by the load, emptied by arrivals.
  std::map<std::pair<int, int>, std::pair<int, Clock::time_point>> pending;
  std::vector<double> latencies;
  std::vector<double> after_read;  // from the metric's timestamp (the poll that read it) to decoded
  std::map<std::string, int> plc_of;                      // "PLC7" -> 6
  std::map<uint64_t, std::pair<int, int>> alias_to;       // alias -> (plc, register)
  std::atomic<int> births{0};
  std::atomic<long> messages{0}, metrics{0}, bytes{0}, superseded{0};
};

void on_message(mosquitto*, void* self, const mosquitto_message* m) {
  auto* s = static_cast<Subscriber*>(self);
  const auto received = Clock::now();
  std::string topic = m->topic;
  const std::string plc = topic.substr(topic.rfind('/') + 1);
  hbt::mqtt::ReceivedPayload payload;
  std::string error;
  if (!hbt::mqtt::decode_payload(
          std::span<const uint8_t>(static_cast<const uint8_t*>(m->payload), static_cast<size_t>(m->payloadlen)), payload,
          error)) {
    return;
  }
  s->messages++;
  s->bytes += m->payloadlen;
  std::lock_guard lock(s->mutex);
  auto p = s->plc_of.find(plc);
  if (topic.find("/DBIRTH/") != std::string::npos && p != s->plc_of.end()) {
    for (const auto& r : payload.metrics) {
      if (r.metric.name.rfind("D:", 0) == 0 && r.metric.alias) {
        s->alias_to[*r.metric.alias] = {p->second, std::stoi(r.metric.name.substr(2))};
      }
    }
    s->births++;
    return;
  }
  if (topic.find("/DDATA/") == std::string::npos) return;
  for (const auto& r : payload.metrics) {
    s->metrics++;
    if (!r.metric.alias) continue;
    auto a = s->alias_to.find(*r.metric.alias);
    if (a == s->alias_to.end()) continue;
    auto it = s->pending.find(a->second);
    if (it == s->pending.end()) continue;
    int64_t v = 0;
    if (auto* i = std::get_if<int64_t>(&r.metric.value)) v = *i;
    if (auto* u = std::get_if<uint64_t>(&r.metric.value)) v = static_cast<int64_t>(*u);
    if (v != it->second.first) continue;
    s->latencies.push_back(std::chrono::duration<double, std::milli>(received - it->second.second).count());
    if (r.metric.timestamp_ms) {
      const double now_wall = static_cast<double>(std::chrono::duration_cast<std::chrono::microseconds>(
                                                      std::chrono::system_clock::now().time_since_epoch())
                                                      .count()) /
                              1000.0;
      s->after_read.push_back(now_wall - static_cast<double>(*r.metric.timestamp_ms));
    }
    s->pending.erase(it);
  }
}

double percentile(std::vector<double> v, double q) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[std::min(v.size() - 1, static_cast<size_t>(q * static_cast<double>(v.size())))];
}

}  // namespace

int main(int argc, char** argv) {
  int seconds = 20, rate = 10000, interval_ms = 100, update_ms = 20, poll_ms = 100;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (!std::strcmp(argv[i], "--seconds")) seconds = std::atoi(argv[i + 1]);
    if (!std::strcmp(argv[i], "--rate")) rate = std::atoi(argv[i + 1]);
    if (!std::strcmp(argv[i], "--interval")) interval_ms = std::atoi(argv[i + 1]);
    if (!std::strcmp(argv[i], "--update")) update_ms = std::atoi(argv[i + 1]);
    if (!std::strcmp(argv[i], "--poll")) poll_ms = std::atoi(argv[i + 1]);
  }
  signal(SIGPIPE, SIG_IGN);
  testsupport::TestEnvironment env;
  std::vector<std::string> listens;
  for (int c = 1; c <= kChannels; ++c) listens.push_back("udp:0:3e-binary:plc=p" + std::to_string(c));
  testsupport::McsimPeer sim(env.dir(), listens);
  if (!sim.ready()) {
    std::fprintf(stderr, "mcsim did not start: %s\n", sim.output().c_str());
    return 1;
  }
  testsupport::ConfigSpec plan;
  plan.channels.resize(kChannels);
  for (int c = 0; c < kChannels; ++c) {
    auto& ch = plan.channels[c];
    ch.ip_port = sim.port(c);
    ch.reply_timeout = 50;
    ch.devices.clear();
    for (int k = 0; k < 2; ++k) {
      testsupport::DeviceSpec d;
      d.name = "PLC" + std::to_string(2 * c + k + 1);
      d.records.clear();
      for (int r = 0; r < kRecordsPerPlc; ++r) {
        testsupport::RecordSpec rec;
        rec.type = image::RegisterType::D;
        rec.start = static_cast<uint32_t>(k * kSecondPlcBase + r * kWordsPerRecord);
        rec.length = kWordsPerRecord;
        rec.data_type = image::DataType::Unsigned;
        rec.poll_time = poll_ms / 10;
        d.records.push_back(rec);
      }
      ch.devices.push_back(d);
    }
  }
  testsupport::install_configuration(env, plan);
  testsupport::install_driver_exe("S");
  testsupport::ChildProcess poller({testsupport::poller_path(), "S"}, false, env.dir());

  // Without it the broker holds small messages back for its subscribers' acknowledgements
  // (Nagle with delayed ACKs): about 40 ms more at p99, none of it the edge node's.
  const bool nodelay = std::getenv("BENCH_BROKER_NAGLE") == nullptr;
  mqtt::testing::Broker broker(env.dir(), nodelay ? std::vector<std::string>{"set_tcp_nodelay true"}
                                                  : std::vector<std::string>{});
  std::string why;
  if (!broker.start(why)) {
    std::fprintf(stderr, "%s\n", why.c_str());
    return 1;
  }
  Subscriber sub;
  for (int i = 0; i < kPlcs; ++i) sub.plc_of["PLC" + std::to_string(i + 1)] = i;
  mosquitto_lib_init();
  mosquitto* client = mosquitto_new("bench-subscriber", true, &sub);
  mosquitto_message_callback_set(client, on_message);
  mosquitto_int_option(client, MOSQ_OPT_TCP_NODELAY, 1);
  if (mosquitto_connect(client, "127.0.0.1", broker.port(), 30) != MOSQ_ERR_SUCCESS) return 1;
  mosquitto_subscribe(client, nullptr, "spBv1.0/Bench/#", 0);
  mosquitto_loop_start(client);

  std::ofstream(env.path("hbtmqtt.conf")) << "broker = 127.0.0.1:" << broker.port()
                                          << "\ngroup_id = Bench\nedge_node_id = Load\npublish_interval_ms = "
                                          << interval_ms << "\nupdate_ms = " << update_ms
                                          << "\nstore_forward_dir = " << env.path("sf") << "\n";
  const auto start = Clock::now();
  testsupport::ChildProcess node({std::string(HBT_BIN_DIR) + "/hbtmqtt", "--config", env.path("hbtmqtt.conf")}, false,
                                 env.dir());
  if (!testsupport::eventually([&] { return poller.output(), node.take_output(), sub.births.load() >= kPlcs; }, 120000)) {
    std::fprintf(stderr, "not every PLC was born: %d\n%s\n", sub.births.load(), node.output().c_str());
    return 1;
  }
  std::printf("startup: %d DBIRTHs with %d metrics after %.1f s\n", sub.births.load(), kPlcs * kPointsPerPlc,
              ms_since(start) / 1000);

  // Warm up, then measure.
  std::atomic<bool> stop{false};
  std::atomic<long> changes{0};
  std::thread load([&] {
    const auto period = std::chrono::microseconds(1000000LL * kBatch / rate);
    auto next = Clock::now();
    uint32_t counter = 1;
    int plc = 0;
    while (!stop) {
      const int offset = static_cast<int>((counter * 7919u) % (kPointsPerPlc - kBatch));
      const int base = (plc % 2) * kSecondPlcBase + offset;
      std::string line = "set plc=p" + std::to_string(plc / 2 + 1) + " D" + std::to_string(base);
      std::vector<int> values;
      for (int i = 0; i < kBatch; ++i) {
        values.push_back(static_cast<int>((counter * kBatch + i) % 30000) + 1);
        line += " " + std::to_string(values.back());
      }
      const auto t = Clock::now();
      {
        std::lock_guard lock(sub.mutex);
        for (int i = 0; i < kBatch; ++i) {
          auto& slot = sub.pending[{plc, base + i}];
          if (slot.first != 0) sub.superseded++;
          slot = {values[i], t};
        }
      }
      if (!sim.ok(line)) {
        std::fprintf(stderr, "mcsim refused: %s\n", line.substr(0, 40).c_str());
        break;
      }
      changes += kBatch;
      ++counter;
      plc = (plc + 1) % kPlcs;
      next += period;
      std::this_thread::sleep_until(next);
    }
  });
  std::this_thread::sleep_for(std::chrono::seconds(3));
  {
    std::lock_guard lock(sub.mutex);
    sub.latencies.clear();
    sub.after_read.clear();
  }
  const long changes0 = changes, metrics0 = sub.metrics, bytes0 = sub.bytes, messages0 = sub.messages;
  const double cpu0 = testsupport::cpu_seconds(node.pid()), poller_cpu0 = testsupport::cpu_seconds(poller.pid());
  const auto t0 = Clock::now();
  for (int s = 0; s < seconds; ++s) {
    std::this_thread::sleep_for(std::chrono::seconds(1));
    poller.output();
    node.take_output();
  }
  const double wall = ms_since(t0) / 1000;
  const double cpu = testsupport::cpu_seconds(node.pid()) - cpu0;
  const double poller_cpu = testsupport::cpu_seconds(poller.pid()) - poller_cpu0;
  const long rss = testsupport::rss_kb(node.pid());
  stop = true;
  load.join();
  std::this_thread::sleep_for(std::chrono::milliseconds(1000));
  std::vector<double> lat, after_read;
  size_t unmatched;
  {
    std::lock_guard lock(sub.mutex);
    lat = sub.latencies;
    after_read = sub.after_read;
    unmatched = sub.pending.size();
  }
  std::printf("broker: Mosquitto, set_tcp_nodelay %s (BENCH_BROKER_NAGLE=1 for its default)\n", nodelay ? "true" : "false");
  std::printf("load: %d PLCs, %d metrics, %.0f changes/s made for %.1f s (publish interval %d ms, poll %d ms, look %d ms)\n",
              kPlcs, kPlcs * kPointsPerPlc, (changes - changes0) / wall, wall, interval_ms, poll_ms, update_ms);
  std::printf("received: %.0f DDATA metrics/s in %.0f messages/s, %.0f kB/s\n", (sub.metrics - metrics0) / wall,
              (sub.messages - messages0) / wall, (sub.bytes - bytes0) / wall / 1024);
  std::printf("latency change -> decoded: p50 %.1f ms, p99 %.1f ms, max %.1f ms over %zu changes "
              "(bound: poll + interval + 20 = %d ms); %zu never seen (overwritten before a poll or still due), %ld set twice\n",
              percentile(lat, 0.5), percentile(lat, 0.99), lat.empty() ? 0.0 : *std::max_element(lat.begin(), lat.end()),
              lat.size(), poll_ms + interval_ms + 20, unmatched, sub.superseded.load());
  std::printf("of which from the poll that read it (the metric's timestamp) to decoded: p50 %.1f ms, p99 %.1f ms\n",
              percentile(after_read, 0.5), percentile(after_read, 0.99));
  std::printf("hbtmqtt: CPU %.1f %% of one core, RSS %ld kB = %.0f bytes per metric; poller CPU %.1f %%\n",
              100 * cpu / wall, rss, rss * 1024.0 / (kPlcs * kPointsPerPlc), 100 * poller_cpu / wall);
  node.kill_now(SIGTERM);
  node.wait_exit(5000);
  poller.kill_now(SIGTERM);
  poller.wait_exit(5000);
  mosquitto_loop_stop(client, true);
  mosquitto_destroy(client);
  return 0;
}
