// Sparkplug B payloads as plain C++ values, and their wire form through the protobuf-c code
// generated from proto/sparkplug_b.proto. Encoding never fails; decoding checks every value
// against its declared datatype, so a command from the network is either understood or named
// as refused, never misread.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <variant>
#include <vector>

namespace hbt::mqtt {

// The datatype codes of the Sparkplug B definition that this node sends or accepts.
enum class DataType : uint32_t {
  kUnknown = 0,
  kInt8 = 1,
  kInt16 = 2,
  kInt32 = 3,
  kInt64 = 4,
  kUInt8 = 5,
  kUInt16 = 6,
  kUInt32 = 7,
  kUInt64 = 8,
  kFloat = 9,
  kDouble = 10,
  kBoolean = 11,
  kString = 12,
  kDateTime = 13,
  kText = 14,
  kUuid = 15,
};

const char* data_type_name(DataType type);

// monostate is a null value (is_null on the wire).
using Value = std::variant<std::monostate, bool, int64_t, uint64_t, float, double, std::string>;

struct Property {
  std::string key;
  DataType type = DataType::kUnknown;
  Value value;
};

struct Metric {
  std::string name;               // empty: not sent (a DATA metric known by its alias)
  std::optional<uint64_t> alias;
  std::optional<uint64_t> timestamp_ms;
  DataType datatype = DataType::kUnknown;
  Value value;
  bool is_historical = false;
  bool is_transient = false;
  std::vector<Property> properties;
};

struct Payload {
  std::optional<uint64_t> timestamp_ms;
  std::optional<uint64_t> seq;
  std::vector<Metric> metrics;
};

std::vector<uint8_t> encode_payload(const Payload& payload);

// A metric as a peer sent it; `problem` is empty when its value fits its datatype.
struct ReceivedMetric {
  Metric metric;
  bool has_name = false;
  bool has_datatype = false;
  std::string problem;
};

struct ReceivedPayload {
  std::optional<uint64_t> timestamp_ms;
  std::optional<uint64_t> seq;
  std::vector<ReceivedMetric> metrics;
};

// Parses bytes from the network. False with a reason when they are no Sparkplug B payload.
bool decode_payload(std::span<const uint8_t> bytes, ReceivedPayload& out, std::string& error);

}  // namespace hbt::mqtt
