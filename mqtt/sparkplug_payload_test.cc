#include "mqtt/sparkplug_payload.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "sparkplug_b.pb-c.h"

namespace hbt::mqtt {
namespace {

Metric metric(std::string name, DataType type, Value value) {
  Metric m;
  m.name = std::move(name);
  m.datatype = type;
  m.value = std::move(value);
  return m;
}

ReceivedPayload round_trip(const Payload& payload) {
  ReceivedPayload out;
  std::string error;
  EXPECT_TRUE(decode_payload(encode_payload(payload), out, error)) << error;
  return out;
}

TEST(SparkplugPayload, EveryDatatypeKeepsItsValueAcrossTheWire) {
  Payload p;
  p.timestamp_ms = 1700000000123;
  p.seq = 255;
  p.metrics.push_back(metric("i8", DataType::kInt8, int64_t{-128}));
  p.metrics.push_back(metric("i16", DataType::kInt16, int64_t{-32768}));
  p.metrics.push_back(metric("i32", DataType::kInt32, int64_t{std::numeric_limits<int32_t>::min()}));
  p.metrics.push_back(metric("i64", DataType::kInt64, int64_t{std::numeric_limits<int64_t>::min()}));
  p.metrics.push_back(metric("u16", DataType::kUInt16, uint64_t{65535}));
  p.metrics.push_back(metric("u32", DataType::kUInt32, uint64_t{4294967295u}));
  p.metrics.push_back(metric("u64", DataType::kUInt64, uint64_t{18446744073709551615u}));
  p.metrics.push_back(metric("f", DataType::kFloat, 3.25f));
  p.metrics.push_back(metric("d", DataType::kDouble, -1e300));
  p.metrics.push_back(metric("b", DataType::kBoolean, true));
  p.metrics.push_back(metric("s", DataType::kString, std::string("ABC\xC3\xA9")));
  p.metrics.push_back(metric("null", DataType::kInt16, std::monostate{}));
  ReceivedPayload r = round_trip(p);
  EXPECT_EQ(r.timestamp_ms, 1700000000123u);
  EXPECT_EQ(r.seq, 255u);
  ASSERT_EQ(r.metrics.size(), p.metrics.size());
  for (size_t i = 0; i < p.metrics.size(); ++i) {
    SCOPED_TRACE(p.metrics[i].name);
    EXPECT_EQ(r.metrics[i].problem, "");
    EXPECT_EQ(r.metrics[i].metric.name, p.metrics[i].name);
    EXPECT_EQ(r.metrics[i].metric.datatype, p.metrics[i].datatype);
    EXPECT_EQ(r.metrics[i].metric.value, p.metrics[i].value);
  }
}

TEST(SparkplugPayload, SignedIntegersTravelAsTheirTwosComplementInIntValue) {
  // What a host written against the definition expects to find in the raw field.
  Payload p;
  p.metrics.push_back(metric("D:1", DataType::kInt16, int64_t{-2}));
  auto bytes = encode_payload(p);
  SparkplugB__Payload* wire = sparkplug_b__payload__unpack(nullptr, bytes.size(), bytes.data());
  ASSERT_NE(wire, nullptr);
  ASSERT_EQ(wire->n_metrics, 1u);
  EXPECT_EQ(wire->metrics[0]->value_case, SPARKPLUG_B__PAYLOAD__METRIC__VALUE_INT_VALUE);
  EXPECT_EQ(wire->metrics[0]->int_value, 0xFFFFFFFEu);
  EXPECT_FALSE(wire->has_seq);  // absent unless given: NDEATH carries none
  sparkplug_b__payload__free_unpacked(wire, nullptr);
}

TEST(SparkplugPayload, AliasHistoricalAndPropertiesRoundTrip) {
  Payload p;
  Metric m = metric("", DataType::kFloat, 1.5f);
  m.alias = 1234;
  m.timestamp_ms = 99;
  m.is_historical = true;
  m.properties.push_back({"Quality", DataType::kInt32, int64_t{192}});
  m.properties.push_back({"engUnit", DataType::kString, std::string("degC")});
  m.properties.push_back({"engHigh", DataType::kDouble, 100.0});
  p.metrics.push_back(m);
  ReceivedPayload r = round_trip(p);
  ASSERT_EQ(r.metrics.size(), 1u);
  const ReceivedMetric& got = r.metrics[0];
  EXPECT_FALSE(got.has_name);
  EXPECT_EQ(got.metric.alias, 1234u);
  EXPECT_EQ(got.metric.timestamp_ms, 99u);
  EXPECT_TRUE(got.metric.is_historical);
  ASSERT_EQ(got.metric.properties.size(), 3u);
  EXPECT_EQ(got.metric.properties[0].key, "Quality");
  EXPECT_EQ(got.metric.properties[0].value, Value{int64_t{192}});
  EXPECT_EQ(got.metric.properties[1].value, Value{std::string("degC")});
  EXPECT_EQ(got.metric.properties[2].value, Value{100.0});
}

// Commands come from the network: whatever arrives must be decoded or refused by name.
TEST(SparkplugPayload, ReceivedValuesThatContradictTheirDatatypeAreNamedAsProblems) {
  SparkplugB__Payload__Metric m;
  sparkplug_b__payload__metric__init(&m);
  m.name = const_cast<char*>("D:100");
  m.has_datatype = true;
  m.datatype = static_cast<uint32_t>(DataType::kInt16);
  m.value_case = SPARKPLUG_B__PAYLOAD__METRIC__VALUE_STRING_VALUE;  // a text for an Int16
  m.string_value = const_cast<char*>("12");
  SparkplugB__Payload__Metric no_type;
  sparkplug_b__payload__metric__init(&no_type);
  no_type.name = const_cast<char*>("D:101");
  no_type.value_case = SPARKPLUG_B__PAYLOAD__METRIC__VALUE_INT_VALUE;
  SparkplugB__Payload__Metric dataset;
  sparkplug_b__payload__metric__init(&dataset);
  dataset.has_datatype = true;
  dataset.datatype = 16;  // DataSet: not something a register can take
  SparkplugB__Payload__Metric* list[] = {&m, &no_type, &dataset};
  SparkplugB__Payload wire;
  sparkplug_b__payload__init(&wire);
  wire.n_metrics = 3;
  wire.metrics = list;
  std::vector<uint8_t> bytes(sparkplug_b__payload__get_packed_size(&wire));
  sparkplug_b__payload__pack(&wire, bytes.data());

  ReceivedPayload r;
  std::string error;
  ASSERT_TRUE(decode_payload(bytes, r, error)) << error;
  ASSERT_EQ(r.metrics.size(), 3u);
  EXPECT_NE(r.metrics[0].problem.find("does not match its datatype Int16"), std::string::npos) << r.metrics[0].problem;
  EXPECT_EQ(r.metrics[1].problem, "no datatype");
  EXPECT_NE(r.metrics[2].problem.find("not supported"), std::string::npos);
}

TEST(SparkplugPayload, AUInt32InLongValueIsTakenWhenItFits) {
  auto command = [](uint64_t v) {
    SparkplugB__Payload__Metric m;
    sparkplug_b__payload__metric__init(&m);
    m.has_datatype = true;
    m.datatype = static_cast<uint32_t>(DataType::kUInt32);
    m.value_case = SPARKPLUG_B__PAYLOAD__METRIC__VALUE_LONG_VALUE;
    m.long_value = v;
    SparkplugB__Payload__Metric* list[] = {&m};
    SparkplugB__Payload wire;
    sparkplug_b__payload__init(&wire);
    wire.n_metrics = 1;
    wire.metrics = list;
    std::vector<uint8_t> bytes(sparkplug_b__payload__get_packed_size(&wire));
    sparkplug_b__payload__pack(&wire, bytes.data());
    ReceivedPayload r;
    std::string error;
    EXPECT_TRUE(decode_payload(bytes, r, error));
    return r.metrics.at(0);
  };
  EXPECT_EQ(command(4000000000u).metric.value, Value{uint64_t{4000000000u}});
  EXPECT_EQ(command(4000000000u).problem, "");
  EXPECT_NE(command(0x100000000u).problem, "");  // past 32 bits: no UInt32
}

TEST(SparkplugPayload, BytesThatAreNoPayloadAreRefused) {
  ReceivedPayload r;
  std::string error;
  const std::vector<uint8_t> truncated{0x12, 0x10, 0x0A, 0x05, 'D'};  // metric of 16 bytes, 3 there
  EXPECT_FALSE(decode_payload(truncated, r, error));
  EXPECT_NE(error.find("not a Sparkplug B payload"), std::string::npos);
  const std::vector<uint8_t> bad_wire_type{0x0F};
  EXPECT_FALSE(decode_payload(bad_wire_type, r, error));
  // An empty message is a valid payload with nothing in it.
  EXPECT_TRUE(decode_payload(std::span<const uint8_t>(), r, error));
  EXPECT_TRUE(r.metrics.empty());
}

TEST(SparkplugPayload, NonFiniteFloatsAreCarriedAsTheyAre) {
  Payload p;
  p.metrics.push_back(metric("nan", DataType::kFloat, std::numeric_limits<float>::quiet_NaN()));
  p.metrics.push_back(metric("inf", DataType::kDouble, -std::numeric_limits<double>::infinity()));
  ReceivedPayload r = round_trip(p);
  ASSERT_EQ(r.metrics.size(), 2u);
  EXPECT_TRUE(std::isnan(std::get<float>(r.metrics[0].metric.value)));
  EXPECT_EQ(std::get<double>(r.metrics[1].metric.value), -std::numeric_limits<double>::infinity());
}

}  // namespace
}  // namespace hbt::mqtt
