// Commands and host states as a broker hands them to the edge node: NCMD, DCMD (to a PLC of
// the node and to one it does not have) and the primary host's STATE, with any bytes as the
// payload. Never a crash. Every message the node publishes in answer decodes; seq goes on by
// one after each NBIRTH (which has 0); a write goes only to a writable point of the PLC the
// DCMD names, and never from a command the decoder refuses.
#include <filesystem>
#include <memory>
#include <string>

#include "fuzz/fuzz_target.h"
#include "mqtt/edge_node.h"
#include "mqtt/metric_mapping.h"
#include "mqtt/tests/memory_point_source.h"

namespace hbt::mqtt {
namespace {

using fuzz::fail;

constexpr const char* kName = "mqtt_command";

struct CheckingPublisher : Publisher {
  bool publish(const std::string& topic, std::span<const uint8_t> payload, int, bool) override {
    ReceivedPayload p;
    std::string error;
    if (!decode_payload(payload, p, error)) fail(kName, "the node published what does not decode on " + topic);
    if (topic.find("/NDEATH/") != std::string::npos) return true;
    if (!p.seq) fail(kName, "no seq on " + topic);
    if (topic.find("/NBIRTH/") != std::string::npos) {
      if (*p.seq != 0) fail(kName, "NBIRTH with seq " + std::to_string(*p.seq));
    } else if (*p.seq != (last_seq + 1) % 256) {
      fail(kName, "seq " + std::to_string(*p.seq) + " after " + std::to_string(last_seq));
    }
    last_seq = *p.seq;
    return true;
  }
  uint64_t last_seq = 0;
};

struct World {
  testing::MemoryPointSource source;
  std::string dir;
  std::unique_ptr<StoreForward> store;
  std::unique_ptr<EdgeNode> node;
  CheckingPublisher publisher;
  int64_t now = 1'700'000'000'000;
  World() {
    const uint32_t q = source.add_device("PLC1");
    source.add_point(q, "D:100");
    source.add_point(q, "D:101", HBT_POINT_UINT16);
    source.add_point(q, "D:102", HBT_POINT_INT16, false);
    source.add_point(q, "M:0", HBT_POINT_BOOL);
    source.add_point(q, "D:200", HBT_POINT_FLOAT);
    source.add_point(q, "D:300$8", HBT_POINT_STRING);
    const uint32_t a = source.add_device("PLC2");
    source.add_point(a, "D:0", HBT_POINT_UINT32);
    char tmpl[] = "/tmp/hbt-mqtt-fuzz-XXXXXX";
    if (!mkdtemp(tmpl)) fail(kName, "no scratch folder");
    dir = tmpl;
    store = std::make_unique<StoreForward>(dir + "/sf", 1 << 20);
    std::string error;
    if (!store->open(error)) fail(kName, error);
    Settings s;
    s.group_id = "G";
    s.edge_node_id = "E";
    s.primary_host_id = "SCADA";
    node = std::make_unique<EdgeNode>(s, source, *store, nullptr);
    node->connected(publisher, 0, now);
    const std::string online = "{\"online\":true,\"timestamp\":1}";
    node->message("spBv1.0/STATE/SCADA", std::span(reinterpret_cast<const uint8_t*>(online.data()), online.size()), now);
    if (!node->online()) fail(kName, "the node is not born");
  }
  ~World() {
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
  }
};

World& world() {
  static World w;
  return w;
}

void run(std::span<const std::uint8_t> input) {
  if (input.empty()) return;
  World& w = world();
  static const char* const kTopics[] = {"spBv1.0/G/NCMD/E", "spBv1.0/G/DCMD/E/PLC1", "spBv1.0/G/DCMD/E/PLC2",
                                        "spBv1.0/G/DCMD/E/NOPLC", "spBv1.0/STATE/SCADA", "spBv1.0/G/DCMD/F/PLC1"};
  const std::string topic = kTopics[input[0] % std::size(kTopics)];
  const auto payload = input.subspan(1);
  const size_t writes_before = w.source.writes.size();
  const EdgeNode::Action action = w.node->message(topic, payload, ++w.now);
  if (action == EdgeNode::Action::kReconnect) {
    // The host went offline: as the service would, a new session that waits for it again.
    w.node->disconnected();
    w.node->connected(w.publisher, 0, w.now);
    const std::string online = "{\"online\":true,\"timestamp\":" + std::to_string(w.now) + "}";
    w.node->message("spBv1.0/STATE/SCADA", std::span(reinterpret_cast<const uint8_t*>(online.data()), online.size()),
                    w.now);
  }
  if (w.source.writes.size() == writes_before) return;
  const bool dcmd = topic.find("/DCMD/E/PLC") != std::string::npos && topic.find("NOPLC") == std::string::npos;
  if (!dcmd) fail(kName, "a write from " + topic);
  ReceivedPayload p;
  std::string error;
  if (!decode_payload(payload, p, error)) fail(kName, "a write from a payload that does not decode");
  const uint32_t device = topic.ends_with("PLC1") ? 0 : 1;
  for (size_t i = writes_before; i < w.source.writes.size(); ++i) {
    const PointSample& written = w.source.writes[i];
    const PointDescription& point = w.node->model().points.at(written.id);
    if (point.device != device) fail(kName, "a write to " + point.name + " of another PLC");
    if (!point.writable) fail(kName, "a write to the read-only " + point.name);
    if (written.type != point.type) fail(kName, "a write of another type to " + point.name);
  }
  for (const ReceivedMetric& r : p.metrics) {
    if (!r.problem.empty()) fail(kName, "a write from a command with a refused metric: " + r.problem);
  }
  w.source.writes.clear();
}

Metric metric(const std::string& name, DataType type, Value value) {
  Metric m;
  m.name = name;
  m.datatype = type;
  m.value = std::move(value);
  return m;
}

fuzz::Bytes with_topic(uint8_t topic, std::vector<uint8_t> payload) {
  payload.insert(payload.begin(), topic);
  return payload;
}

std::vector<fuzz::Bytes> seeds() {
  auto encoded = [](std::vector<Metric> metrics) {
    Payload p;
    p.metrics = std::move(metrics);
    return encode_payload(p);
  };
  Metric by_alias;
  by_alias.alias = kFirstPointAlias + 1;
  by_alias.datatype = DataType::kUInt16;
  by_alias.value = uint64_t{7};
  return {
      with_topic(0, encoded({metric("Node Control/Rebirth", DataType::kBoolean, true)})),
      with_topic(1, encoded({metric("D:100", DataType::kInt16, int64_t{-5}), metric("M:0", DataType::kBoolean, true),
                             metric("D:200", DataType::kFloat, 2.5f), metric("D:300$8", DataType::kString, std::string("AB"))})),
      with_topic(1, encoded({by_alias})),
      with_topic(1, encoded({metric("D:100", DataType::kString, std::string("x"))})),
      with_topic(2, encoded({metric("D:0", DataType::kUInt32, uint64_t{4000000000u})})),
      with_topic(3, encoded({metric("D:0", DataType::kInt16, int64_t{1})})),
      with_topic(4, fuzz::text_bytes("{\"online\":false,\"timestamp\":99999999999999}")),
      with_topic(4, fuzz::text_bytes("{\"online\":true,\"timestamp\":5}")),
      with_topic(1, {0x12, 0x7F, 0x0A}),
  };
}

}  // namespace
}  // namespace hbt::mqtt

HBT_FUZZ_TARGET(mqtt_command, hbt::mqtt::run, hbt::mqtt::seeds)
