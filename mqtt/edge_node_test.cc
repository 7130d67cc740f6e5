#include "mqtt/edge_node.h"

#include <gtest/gtest.h>

#include "mqtt/metric_mapping.h"
#include "mqtt/tests/memory_point_source.h"
#include "testsupport/test_environment.h"

namespace hbt::mqtt {
namespace {

struct Sent {
  std::string topic;
  ReceivedPayload payload;
  int qos;
};

class RecordingPublisher : public Publisher {
 public:
  bool publish(const std::string& topic, std::span<const uint8_t> payload, int qos, bool) override {
    if (!accept) return false;
    Sent s{topic, {}, qos};
    std::string error;
    EXPECT_TRUE(decode_payload(payload, s.payload, error)) << error;
    sent.push_back(std::move(s));
    return true;
  }
  std::vector<Sent> take() { return std::exchange(sent, {}); }
  std::vector<Sent> sent;
  bool accept = true;
};

std::vector<uint8_t> command(std::vector<Metric> metrics) {
  Payload p;
  p.metrics = std::move(metrics);
  return encode_payload(p);
}

Metric named(const std::string& name, DataType type, Value value) {
  Metric m;
  m.name = name;
  m.datatype = type;
  m.value = std::move(value);
  return m;
}

const Property* property(const Metric& m, const std::string& key) {
  for (const Property& p : m.properties) {
    if (p.key == key) return &p;
  }
  return nullptr;
}

class EdgeNodeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    settings_.group_id = "Plant";
    settings_.edge_node_id = "Line1";
    settings_.publish_interval_ms = 100;
    settings_.node_metrics_interval_ms = 1000000;
    q1_ = source_.add_device("QPLC1");
    a2_ = source_.add_device("APLC2");
    d100_ = source_.add_point(q1_, "D:100");
    d101_ = source_.add_point(q1_, "D:101");
    m0_ = source_.add_point(q1_, "M:0", HBT_POINT_BOOL);
    ro_ = source_.add_point(q1_, "D:102", HBT_POINT_INT16, false);
    a_d0_ = source_.add_point(a2_, "D:0", HBT_POINT_FLOAT);
    source_.set(d100_, 7);
    source_.set(m0_, 1);
  }

  void make_node() {
    store_ = std::make_unique<StoreForward>(env_.path("sf"), settings_.store_max_bytes);
    std::string error;
    ASSERT_TRUE(store_->open(error)) << error;
    node_ = std::make_unique<EdgeNode>(settings_, source_, *store_, [this](std::string_view line) {
      log_.emplace_back(line);
    });
  }

  // Connected and born, with the births taken out of the record.
  void start() {
    make_node();
    node_->poll(now_);
    node_->connected(publisher_, 5, now_);
    ASSERT_TRUE(node_->online());
    publisher_.take();
  }

  void advance(int64_t ms) {
    now_ += ms;
    node_->poll(now_);
  }

  testsupport::TestEnvironment env_;
  Settings settings_;
  testing::MemoryPointSource source_;
  RecordingPublisher publisher_;
  std::unique_ptr<StoreForward> store_;
  std::unique_ptr<EdgeNode> node_;
  std::vector<std::string> log_;
  int64_t now_ = 1'700'000'000'000;
  uint32_t q1_, a2_, d100_, d101_, m0_, ro_, a_d0_;
};

TEST_F(EdgeNodeTest, BirthsCarryBdSeqEveryPointAndItsPropertiesInSequence) {
  source_.point(a_d0_).analog = true;
  source_.point(a_d0_).eu_units = "degC";
  source_.point(a_d0_).eu_high = 100;
  make_node();
  node_->poll(now_);
  node_->connected(publisher_, 17, now_);
  auto sent = publisher_.take();
  ASSERT_EQ(sent.size(), 3u);
  EXPECT_EQ(sent[0].topic, "spBv1.0/Plant/NBIRTH/Line1");
  EXPECT_EQ(sent[0].payload.seq, 0u);
  EXPECT_EQ(sent[0].payload.metrics[0].metric.name, "bdSeq");
  EXPECT_EQ(sent[0].payload.metrics[0].metric.value, Value{uint64_t{17}});
  EXPECT_EQ(sent[0].payload.metrics[1].metric.name, "Node Control/Rebirth");
  EXPECT_EQ(sent[0].payload.metrics[1].metric.value, Value{false});

  EXPECT_EQ(sent[1].topic, "spBv1.0/Plant/DBIRTH/Line1/QPLC1");
  EXPECT_EQ(sent[1].payload.seq, 1u);
  const auto& q = sent[1].payload.metrics;
  ASSERT_EQ(q.size(), 4u);
  EXPECT_EQ(q[0].metric.name, "D:100");
  EXPECT_EQ(q[0].metric.alias, kFirstPointAlias + d100_);
  EXPECT_EQ(q[0].metric.datatype, DataType::kInt16);
  EXPECT_EQ(q[0].metric.value, Value{int64_t{7}});
  EXPECT_EQ(property(q[0].metric, "Quality")->value, Value{int64_t{192}});
  EXPECT_EQ(q[2].metric.datatype, DataType::kBoolean);
  EXPECT_EQ(q[2].metric.value, Value{true});
  EXPECT_EQ(property(q[3].metric, "readOnly")->value, Value{true});
  EXPECT_EQ(property(q[0].metric, "readOnly"), nullptr);

  EXPECT_EQ(sent[2].topic, "spBv1.0/Plant/DBIRTH/Line1/APLC2");
  EXPECT_EQ(sent[2].payload.seq, 2u);
  const Metric& analog = sent[2].payload.metrics[0].metric;
  EXPECT_EQ(property(analog, "engUnit")->value, Value{std::string("degC")});
  EXPECT_EQ(property(analog, "engHigh")->value, Value{100.0});

  // The will of the same session: NDEATH with that bdSeq and no seq.
  ReceivedPayload death;
  std::string error;
  ASSERT_TRUE(decode_payload(node_->death_payload(17), death, error));
  EXPECT_FALSE(death.seq);
  EXPECT_EQ(death.metrics[0].metric.value, Value{uint64_t{17}});
}

TEST_F(EdgeNodeTest, ASessionUpBeforeTheFirstLookIsBornOnceWithEveryPlc) {
  make_node();
  node_->connected(publisher_, 3, now_);
  advance(10);
  advance(100);
  auto sent = publisher_.take();
  ASSERT_EQ(sent.size(), 3u);
  EXPECT_EQ(sent[0].topic, "spBv1.0/Plant/NBIRTH/Line1");
  EXPECT_EQ(sent[1].topic, "spBv1.0/Plant/DBIRTH/Line1/QPLC1");
  EXPECT_EQ(sent[2].topic, "spBv1.0/Plant/DBIRTH/Line1/APLC2");
}

TEST_F(EdgeNodeTest, WithoutTheDriverTheNodeIsBornAloneAndAgainOnceItIsThere) {
  source_.fail_load_ = true;
  make_node();
  node_->connected(publisher_, 3, now_);
  auto sent = publisher_.take();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].topic, "spBv1.0/Plant/NBIRTH/Line1");
  source_.fail_load_ = false;
  advance(5000);
  sent = publisher_.take();
  ASSERT_EQ(sent.size(), 3u);
  EXPECT_EQ(sent[0].topic, "spBv1.0/Plant/NBIRTH/Line1");
  EXPECT_EQ(sent[0].payload.seq, 0u);
  EXPECT_EQ(sent[2].payload.seq, 2u);
}

TEST_F(EdgeNodeTest, ChangesGoOutOncePerIntervalPerDeviceInTheOrderTheyCame) {
  start();
  source_.set(d100_, 8);
  advance(10);
  source_.set(d100_, 9);
  source_.set(a_d0_, 0);  // unchanged value, unchanged quality: nothing to say
  advance(10);
  EXPECT_TRUE(publisher_.sent.empty()) << "published before the interval ended";
  advance(100);
  auto sent = publisher_.take();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].topic, "spBv1.0/Plant/DDATA/Line1/QPLC1");
  EXPECT_EQ(sent[0].payload.seq, 3u);
  ASSERT_EQ(sent[0].payload.metrics.size(), 2u);
  for (const auto& m : sent[0].payload.metrics) {
    EXPECT_FALSE(m.has_name);  // aliases after the birth
    EXPECT_EQ(m.metric.alias, kFirstPointAlias + d100_);
  }
  EXPECT_EQ(sent[0].payload.metrics[0].metric.value, Value{int64_t{8}});
  EXPECT_EQ(sent[0].payload.metrics[1].metric.value, Value{int64_t{9}});
  EXPECT_LT(*sent[0].payload.metrics[0].metric.timestamp_ms, *sent[0].payload.metrics[1].metric.timestamp_ms);
}

TEST_F(EdgeNodeTest, DeadbandsHoldBackSmallMovesButNeverAQualityChange) {
  settings_.device_deadbands["QPLC1"] = 5;
  start();
  source_.set(d100_, 10);  // 7 -> 10: within 5
  advance(200);
  EXPECT_TRUE(publisher_.take().empty());
  source_.set(d100_, 13);  // 7 -> 13: past it
  advance(200);
  auto sent = publisher_.take();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].payload.metrics[0].metric.value, Value{int64_t{13}});
  source_.set(d100_, 13, HBT_QUALITY_EXPIRED);
  advance(200);
  sent = publisher_.take();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(property(sent[0].payload.metrics[0].metric, "Quality")->value, Value{int64_t{68}});
}

TEST_F(EdgeNodeTest, SeqRunsOverEveryMessageAndWrapsAfter255) {
  start();
  uint64_t expected = 3;  // NBIRTH 0, two DBIRTHs
  for (int i = 0; i < 300; ++i) {
    source_.set(d100_, 100 + i);
    advance(100);
    auto sent = publisher_.take();
    ASSERT_EQ(sent.size(), 1u);
    ASSERT_EQ(sent[0].payload.seq, expected) << "message " << i;
    expected = (expected + 1) % 256;
  }
}

TEST_F(EdgeNodeTest, APlcInCommunicationFailureDiesAndIsBornAgainWhenItAnswers) {
  start();
  source_.set(a_d0_, 0, HBT_QUALITY_COMM_FAILURE);
  advance(100);
  auto sent = publisher_.take();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].topic, "spBv1.0/Plant/DDEATH/Line1/APLC2");
  EXPECT_EQ(sent[0].payload.seq, 3u);
  // Half of QPLC1 failing is no death.
  source_.set(d100_, 7, HBT_QUALITY_COMM_FAILURE);
  advance(100);
  sent = publisher_.take();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].topic, "spBv1.0/Plant/DDATA/Line1/QPLC1");
  EXPECT_EQ(property(sent[0].payload.metrics[0].metric, "Quality")->value, Value{int64_t{24}});

  source_.set(a_d0_, 3);
  advance(100);
  sent = publisher_.take();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].topic, "spBv1.0/Plant/DBIRTH/Line1/APLC2");
  EXPECT_EQ(sent[0].payload.metrics[0].metric.value, Value{3.0f});
}

TEST_F(EdgeNodeTest, RebirthCommandRepeatsEveryBirthWithTheSameBdSeq) {
  start();
  source_.set(d100_, 8);
  EXPECT_EQ(node_->message("spBv1.0/Plant/NCMD/Line1",
                           command({named("Node Control/Rebirth", DataType::kBoolean, true)}), now_),
            EdgeNode::Action::kNone);
  node_->poll(now_);
  auto sent = publisher_.take();
  ASSERT_GE(sent.size(), 3u);
  EXPECT_EQ(sent[0].topic, "spBv1.0/Plant/NBIRTH/Line1");
  EXPECT_EQ(sent[0].payload.seq, 0u);
  EXPECT_EQ(sent[0].payload.metrics[0].metric.value, Value{uint64_t{5}});
  EXPECT_EQ(sent[1].payload.seq, 1u);
}

TEST_F(EdgeNodeTest, BadNodeCommandsAreRefusedAndLogged) {
  start();
  const std::vector<uint8_t> garbage{0xFF, 0xFF, 0xFF};
  node_->message("spBv1.0/Plant/NCMD/Line1", garbage, now_);
  node_->message("spBv1.0/Plant/NCMD/Line1", command({named("Node Control/Reboot", DataType::kBoolean, true)}), now_);
  node_->message("spBv1.0/Plant/NCMD/Line1", command({named("Node Control/Rebirth", DataType::kInt32, int64_t{1})}),
                 now_);
  EXPECT_TRUE(publisher_.take().empty());
  EXPECT_EQ(node_->counters().commands_refused, 3u);
  ASSERT_GE(log_.size(), 3u);
  EXPECT_NE(log_[log_.size() - 3].find("NCMD refused: not a Sparkplug B payload"), std::string::npos);
  EXPECT_NE(log_[log_.size() - 2].find("\"Node Control/Reboot\": not a node control"), std::string::npos);
  EXPECT_NE(log_.back().find("a Int32 value, not a Boolean"), std::string::npos);
}

TEST_F(EdgeNodeTest, DeviceCommandsWriteByNameOrAlias) {
  start();
  Metric by_alias;
  by_alias.alias = kFirstPointAlias + d101_;
  by_alias.datatype = DataType::kInt16;
  by_alias.value = int64_t{-5};
  node_->message("spBv1.0/Plant/DCMD/Line1/QPLC1",
                 command({named("D:100", DataType::kInt16, int64_t{1234}), by_alias,
                          named("M:0", DataType::kBoolean, false)}),
                 now_);
  ASSERT_EQ(source_.writes.size(), 3u);
  EXPECT_EQ(source_.writes[0].id, d100_);
  EXPECT_EQ(source_.writes[0].integer, 1234);
  EXPECT_EQ(source_.writes[1].id, d101_);
  EXPECT_EQ(source_.writes[1].integer, -5);
  EXPECT_EQ(source_.writes[2].integer, 0);
  EXPECT_TRUE(publisher_.take().empty());  // nothing to report when every write went through
}

TEST_F(EdgeNodeTest, ACommandWithAnyBadMetricWritesNothing) {
  start();
  const std::string topic = "spBv1.0/Plant/DCMD/Line1/QPLC1";
  node_->message(topic, command({named("D:100", DataType::kInt16, int64_t{1}), named("D:9999", DataType::kInt16, int64_t{1})}),
                 now_);
  node_->message(topic, command({named("D:100", DataType::kInt16, int64_t{1}), named("M:0", DataType::kString, std::string("on"))}),
                 now_);
  node_->message(topic, command({named("D:102", DataType::kInt16, int64_t{1})}), now_);          // read-only
  node_->message(topic, command({named("D:100", DataType::kFloat, 1.5f)}), now_);                // rounded: refused
  Metric alias_of_other_plc;
  alias_of_other_plc.alias = kFirstPointAlias + a_d0_;
  alias_of_other_plc.datatype = DataType::kFloat;
  alias_of_other_plc.value = 1.0f;
  node_->message(topic, command({alias_of_other_plc}), now_);
  node_->message("spBv1.0/Plant/DCMD/Line1/NOPLC", command({named("D:100", DataType::kInt16, int64_t{1})}), now_);
  const std::vector<uint8_t> garbage{0x12, 0x7F};
  node_->message(topic, garbage, now_);
  EXPECT_TRUE(source_.writes.empty());
  EXPECT_EQ(node_->counters().commands_refused, 7u);
  // Where the metric is known, the refusal is reported on it.
  auto sent = publisher_.take();
  ASSERT_EQ(sent.size(), 3u);
  const Metric& m = sent[0].payload.metrics[0].metric;
  EXPECT_EQ(m.alias, kFirstPointAlias + m0_);
  EXPECT_EQ(property(m, "Write Result")->value, Value{std::string("type mismatch")});
  EXPECT_EQ(property(sent[1].payload.metrics[0].metric, "Write Result")->value, Value{std::string("read-only")});
}

TEST_F(EdgeNodeTest, ClampedOrRefusedWritesAreReportedBack) {
  start();
  source_.scripted_results[d100_] = HBT_WRITE_CLAMPED;
  source_.scripted_results[d101_] = HBT_WRITE_COMM_FAILURE;
  node_->message("spBv1.0/Plant/DCMD/Line1/QPLC1",
                 command({named("D:100", DataType::kInt32, int64_t{99999}), named("D:101", DataType::kInt16, int64_t{1}),
                          named("M:0", DataType::kBoolean, true)}),
                 now_);
  EXPECT_EQ(source_.writes.size(), 3u);
  auto sent = publisher_.take();
  ASSERT_EQ(sent.size(), 1u);
  ASSERT_EQ(sent[0].payload.metrics.size(), 2u);
  EXPECT_EQ(property(sent[0].payload.metrics[0].metric, "Write Result")->value, Value{std::string("clamped")});
  EXPECT_EQ(property(sent[0].payload.metrics[1].metric, "Write Result")->value,
            Value{std::string("communication failure")});
}

TEST_F(EdgeNodeTest, WhileDisconnectedChangesAreStoredAndGoOutAsHistoryBeforeLiveData) {
  start();
  node_->disconnected();
  for (int i = 0; i < 5; ++i) {
    source_.set(d100_, 20 + i);
    advance(100);
  }
  EXPECT_EQ(store_->queued(), 5u);
  node_->connected(publisher_, 6, now_);
  source_.set(d100_, 99);  // live, after the history
  for (int i = 0; i < 3; ++i) advance(100);
  auto sent = publisher_.take();
  ASSERT_GE(sent.size(), 3u + 5u + 1u);
  EXPECT_EQ(sent[0].topic, "spBv1.0/Plant/NBIRTH/Line1");
  EXPECT_EQ(sent[0].payload.metrics[0].metric.value, Value{uint64_t{6}});
  for (size_t i = 1; i < sent.size(); ++i) EXPECT_EQ(sent[i].payload.seq, i) << "seq continuity";
  for (int i = 0; i < 5; ++i) {
    const Sent& h = sent[3 + i];
    EXPECT_EQ(h.topic, "spBv1.0/Plant/DDATA/Line1/QPLC1");
    ASSERT_EQ(h.payload.metrics.size(), 1u);
    EXPECT_TRUE(h.payload.metrics[0].metric.is_historical);
    // Stored by name, sent by the alias of the birth before it: DATA carries no names.
    EXPECT_FALSE(h.payload.metrics[0].has_name);
    EXPECT_EQ(h.payload.metrics[0].metric.alias, kFirstPointAlias + d100_);
    EXPECT_EQ(h.payload.metrics[0].metric.value, Value{int64_t{20 + i}});
  }
  const Sent& live = sent[8];
  EXPECT_FALSE(live.payload.metrics[0].metric.is_historical);
  EXPECT_EQ(live.payload.metrics[0].metric.value, Value{int64_t{99}});
  EXPECT_TRUE(store_->empty());
}

TEST_F(EdgeNodeTest, ABatchThePublisherRefusesIsKeptAsHistory) {
  start();
  publisher_.accept = false;
  source_.set(d100_, 42);
  advance(100);
  EXPECT_EQ(store_->queued(), 1u);
  StoredRecord r;
  ASSERT_TRUE(store_->front(r));
  ReceivedPayload p;
  std::string error;
  ASSERT_TRUE(decode_payload(r.payload, p, error));
  EXPECT_EQ(r.device, "QPLC1");
  EXPECT_EQ(p.metrics[0].metric.name, "D:100");
  EXPECT_TRUE(p.metrics[0].metric.is_historical);
  EXPECT_FALSE(p.seq);
}

TEST_F(EdgeNodeTest, WithAPrimaryHostNothingIsPublishedUntilItIsOnline) {
  settings_.primary_host_id = "SCADA";
  make_node();
  node_->poll(now_);
  EXPECT_EQ(node_->subscriptions().back(), "spBv1.0/STATE/SCADA");
  node_->connected(publisher_, 1, now_);
  source_.set(d100_, 50);
  advance(100);
  EXPECT_TRUE(publisher_.take().empty());
  EXPECT_EQ(store_->queued(), 1u);  // kept for when the host is back

  auto state = [](const std::string& text) { return std::vector<uint8_t>(text.begin(), text.end()); };
  EXPECT_EQ(node_->message("spBv1.0/STATE/SCADA", state("{\"online\":true,\"timestamp\":2000}"), now_),
            EdgeNode::Action::kNone);
  advance(100);
  auto sent = publisher_.take();
  ASSERT_GE(sent.size(), 4u);
  EXPECT_EQ(sent[0].topic, "spBv1.0/Plant/NBIRTH/Line1");
  EXPECT_TRUE(sent[3].payload.metrics[0].metric.is_historical);

  // An older STATE (a retained one delivered late) changes nothing; a newer offline one does.
  EXPECT_EQ(node_->message("spBv1.0/STATE/SCADA", state("{\"online\":false,\"timestamp\":1000}"), now_),
            EdgeNode::Action::kNone);
  EXPECT_EQ(node_->message("spBv1.0/STATE/SCADA", state("not json"), now_), EdgeNode::Action::kNone);
  EXPECT_EQ(node_->message("spBv1.0/STATE/SCADA", state("{\"online\":false,\"timestamp\":3000}"), now_),
            EdgeNode::Action::kReconnect);
}

TEST_F(EdgeNodeTest, ANewConfigurationGenerationIsBornAgain) {
  start();
  source_.reload();
  advance(10);
  auto sent = publisher_.take();
  ASSERT_EQ(sent.size(), 3u);
  EXPECT_EQ(sent[0].topic, "spBv1.0/Plant/NBIRTH/Line1");
  EXPECT_EQ(sent[0].payload.seq, 0u);
}

TEST_F(EdgeNodeTest, NodeMetricsGoOutWhenTheyChange) {
  settings_.node_metrics_interval_ms = 500;
  start();
  advance(500);
  EXPECT_TRUE(publisher_.take().empty());  // nothing moved
  source_.requests_sent = 77;
  advance(500);
  auto sent = publisher_.take();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].topic, "spBv1.0/Plant/NDATA/Line1");
  ASSERT_EQ(sent[0].payload.metrics.size(), 1u);
  EXPECT_EQ(sent[0].payload.metrics[0].metric.value, Value{uint64_t{77}});
}

}  // namespace
}  // namespace hbt::mqtt
