#include "mqtt/sparkplug_payload.h"

#include <cmath>
#include <limits>
#include <memory>

#include "sparkplug_b.pb-c.h"

namespace hbt::mqtt {
namespace {

enum class Field { kInt, kLong, kFloat, kDouble, kBoolean, kString, kNone };

// Which member of the value oneof carries a datatype, as the Sparkplug B definition assigns
// them: integers of up to 32 bits in int_value (signed ones as their two's complement bits),
// 64-bit integers and times in long_value.
Field field_of(DataType type) {
  switch (type) {
    case DataType::kInt8:
    case DataType::kInt16:
    case DataType::kInt32:
    case DataType::kUInt8:
    case DataType::kUInt16:
    case DataType::kUInt32:
      return Field::kInt;
    case DataType::kInt64:
    case DataType::kUInt64:
    case DataType::kDateTime:
      return Field::kLong;
    case DataType::kFloat:
      return Field::kFloat;
    case DataType::kDouble:
      return Field::kDouble;
    case DataType::kBoolean:
      return Field::kBoolean;
    case DataType::kString:
    case DataType::kText:
    case DataType::kUuid:
      return Field::kString;
    default:
      return Field::kNone;
  }
}

bool is_signed(DataType type) {
  return type == DataType::kInt8 || type == DataType::kInt16 || type == DataType::kInt32 ||
         type == DataType::kInt64;
}

int64_t as_int64(const Value& value) {
  if (auto* v = std::get_if<bool>(&value)) return *v ? 1 : 0;
  if (auto* v = std::get_if<int64_t>(&value)) return *v;
  if (auto* v = std::get_if<uint64_t>(&value)) return static_cast<int64_t>(*v);
  if (auto* v = std::get_if<float>(&value)) return std::isfinite(*v) ? static_cast<int64_t>(*v) : 0;
  if (auto* v = std::get_if<double>(&value)) return std::isfinite(*v) ? static_cast<int64_t>(*v) : 0;
  return 0;
}

double as_double(const Value& value) {
  if (auto* v = std::get_if<float>(&value)) return *v;
  if (auto* v = std::get_if<double>(&value)) return *v;
  if (auto* v = std::get_if<uint64_t>(&value)) return static_cast<double>(*v);
  return static_cast<double>(as_int64(value));
}

// The generated structs point at strings and arrays; this keeps them alive until packed.
struct Arena {
  std::vector<std::unique_ptr<SparkplugB__Payload__Metric>> metrics;
  std::vector<std::unique_ptr<SparkplugB__Payload__PropertySet>> sets;
  std::vector<std::unique_ptr<SparkplugB__Payload__PropertyValue>> values;
  std::vector<std::unique_ptr<std::vector<char*>>> key_lists;
  std::vector<std::unique_ptr<std::vector<SparkplugB__Payload__PropertyValue*>>> value_lists;
};

// Sets the oneof of a metric or property value; the two generated structs share member names.
template <typename Message, typename Case>
void set_value(Message& m, DataType type, const Value& value, Case int_case, Case long_case,
               Case float_case, Case double_case, Case bool_case, Case string_case) {
  switch (field_of(type)) {
    case Field::kInt:
      m.value_case = int_case;
      m.int_value = static_cast<uint32_t>(as_int64(value));
      break;
    case Field::kLong:
      m.value_case = long_case;
      m.long_value = std::holds_alternative<uint64_t>(value) ? std::get<uint64_t>(value)
                                                             : static_cast<uint64_t>(as_int64(value));
      break;
    case Field::kFloat:
      m.value_case = float_case;
      m.float_value = static_cast<float>(as_double(value));
      break;
    case Field::kDouble:
      m.value_case = double_case;
      m.double_value = as_double(value);
      break;
    case Field::kBoolean:
      m.value_case = bool_case;
      m.boolean_value = as_int64(value) != 0;
      break;
    case Field::kString:
      if (auto* text = std::get_if<std::string>(&value)) {
        m.value_case = string_case;
        m.string_value = const_cast<char*>(text->c_str());
      }
      break;
    case Field::kNone:
      break;
  }
}

SparkplugB__Payload__PropertySet* build_properties(const std::vector<Property>& properties, Arena& arena) {
  auto set = std::make_unique<SparkplugB__Payload__PropertySet>();
  sparkplug_b__payload__property_set__init(set.get());
  auto keys = std::make_unique<std::vector<char*>>();
  auto values = std::make_unique<std::vector<SparkplugB__Payload__PropertyValue*>>();
  for (const Property& p : properties) {
    auto v = std::make_unique<SparkplugB__Payload__PropertyValue>();
    sparkplug_b__payload__property_value__init(v.get());
    v->has_type = true;
    v->type = static_cast<uint32_t>(p.type);
    if (std::holds_alternative<std::monostate>(p.value)) {
      v->has_is_null = true;
      v->is_null = true;
    } else {
      set_value(*v, p.type, p.value, SPARKPLUG_B__PAYLOAD__PROPERTY_VALUE__VALUE_INT_VALUE,
                SPARKPLUG_B__PAYLOAD__PROPERTY_VALUE__VALUE_LONG_VALUE,
                SPARKPLUG_B__PAYLOAD__PROPERTY_VALUE__VALUE_FLOAT_VALUE,
                SPARKPLUG_B__PAYLOAD__PROPERTY_VALUE__VALUE_DOUBLE_VALUE,
                SPARKPLUG_B__PAYLOAD__PROPERTY_VALUE__VALUE_BOOLEAN_VALUE,
                SPARKPLUG_B__PAYLOAD__PROPERTY_VALUE__VALUE_STRING_VALUE);
    }
    keys->push_back(const_cast<char*>(p.key.c_str()));
    values->push_back(v.get());
    arena.values.push_back(std::move(v));
  }
  set->n_keys = keys->size();
  set->keys = keys->data();
  set->n_values = values->size();
  set->values = values->data();
  arena.key_lists.push_back(std::move(keys));
  arena.value_lists.push_back(std::move(values));
  arena.sets.push_back(std::move(set));
  return arena.sets.back().get();
}

void read_int(uint32_t raw, DataType type, Value& out) {
  switch (type) {
    case DataType::kInt8: out = int64_t{static_cast<int8_t>(raw)}; return;
    case DataType::kInt16: out = int64_t{static_cast<int16_t>(raw)}; return;
    case DataType::kInt32: out = int64_t{static_cast<int32_t>(raw)}; return;
    default: out = uint64_t{raw}; return;
  }
}

// The value of a received metric or property, checked against its datatype.
template <typename Message, typename Case>
std::string read_value(const Message& m, DataType type, Value& out, Case int_case, Case long_case,
                       Case float_case, Case double_case, Case bool_case, Case string_case) {
  const Field want = field_of(type);
  if (want == Field::kNone) {
    return std::string("datatype ") + std::to_string(static_cast<uint32_t>(type)) + " is not supported";
  }
  if (m.value_case == 0) {
    out = std::monostate{};
    return {};
  }
  if (m.value_case == int_case && want == Field::kInt) {
    read_int(m.int_value, type, out);
  } else if (m.value_case == long_case && type == DataType::kUInt32 && m.long_value <= UINT32_MAX) {
    // Some older hosts send a UInt32 in long_value: taken when it fits.
    out = uint64_t{m.long_value};
  } else if (m.value_case == long_case && want == Field::kLong) {
    if (is_signed(type)) {
      out = static_cast<int64_t>(m.long_value);
    } else {
      out = m.long_value;
    }
  } else if (m.value_case == float_case && want == Field::kFloat) {
    out = m.float_value;
  } else if (m.value_case == double_case && want == Field::kDouble) {
    out = m.double_value;
  } else if (m.value_case == bool_case && want == Field::kBoolean) {
    out = static_cast<bool>(m.boolean_value);
  } else if (m.value_case == string_case && want == Field::kString) {
    out = std::string(m.string_value ? m.string_value : "");
  } else {
    return std::string("the value does not match its datatype ") + data_type_name(type);
  }
  return {};
}

}  // namespace

const char* data_type_name(DataType type) {
  switch (type) {
    case DataType::kInt8: return "Int8";
    case DataType::kInt16: return "Int16";
    case DataType::kInt32: return "Int32";
    case DataType::kInt64: return "Int64";
    case DataType::kUInt8: return "UInt8";
    case DataType::kUInt16: return "UInt16";
    case DataType::kUInt32: return "UInt32";
    case DataType::kUInt64: return "UInt64";
    case DataType::kFloat: return "Float";
    case DataType::kDouble: return "Double";
    case DataType::kBoolean: return "Boolean";
    case DataType::kString: return "String";
    case DataType::kDateTime: return "DateTime";
    case DataType::kText: return "Text";
    case DataType::kUuid: return "UUID";
    default: return "Unknown";
  }
}

std::vector<uint8_t> encode_payload(const Payload& payload) {
  Arena arena;
  SparkplugB__Payload wire;
  sparkplug_b__payload__init(&wire);
  if (payload.timestamp_ms) {
    wire.has_timestamp = true;
    wire.timestamp = *payload.timestamp_ms;
  }
  if (payload.seq) {
    wire.has_seq = true;
    wire.seq = *payload.seq;
  }
  std::vector<SparkplugB__Payload__Metric*> metrics;
  metrics.reserve(payload.metrics.size());
  arena.metrics.reserve(payload.metrics.size());
  for (const Metric& metric : payload.metrics) {
    auto m = std::make_unique<SparkplugB__Payload__Metric>();
    sparkplug_b__payload__metric__init(m.get());
    if (!metric.name.empty()) m->name = const_cast<char*>(metric.name.c_str());
    if (metric.alias) {
      m->has_alias = true;
      m->alias = *metric.alias;
    }
    if (metric.timestamp_ms) {
      m->has_timestamp = true;
      m->timestamp = *metric.timestamp_ms;
    }
    m->has_datatype = true;
    m->datatype = static_cast<uint32_t>(metric.datatype);
    if (metric.is_historical) {
      m->has_is_historical = true;
      m->is_historical = true;
    }
    if (metric.is_transient) {
      m->has_is_transient = true;
      m->is_transient = true;
    }
    if (std::holds_alternative<std::monostate>(metric.value)) {
      m->has_is_null = true;
      m->is_null = true;
    } else {
      set_value(*m, metric.datatype, metric.value, SPARKPLUG_B__PAYLOAD__METRIC__VALUE_INT_VALUE,
                SPARKPLUG_B__PAYLOAD__METRIC__VALUE_LONG_VALUE, SPARKPLUG_B__PAYLOAD__METRIC__VALUE_FLOAT_VALUE,
                SPARKPLUG_B__PAYLOAD__METRIC__VALUE_DOUBLE_VALUE,
                SPARKPLUG_B__PAYLOAD__METRIC__VALUE_BOOLEAN_VALUE,
                SPARKPLUG_B__PAYLOAD__METRIC__VALUE_STRING_VALUE);
    }
    if (!metric.properties.empty()) m->properties = build_properties(metric.properties, arena);
    metrics.push_back(m.get());
    arena.metrics.push_back(std::move(m));
  }
  wire.n_metrics = metrics.size();
  wire.metrics = metrics.data();
  std::vector<uint8_t> bytes(sparkplug_b__payload__get_packed_size(&wire));
  sparkplug_b__payload__pack(&wire, bytes.data());
  return bytes;
}

bool decode_payload(std::span<const uint8_t> bytes, ReceivedPayload& out, std::string& error) {
  out = ReceivedPayload{};
  SparkplugB__Payload* wire = sparkplug_b__payload__unpack(nullptr, bytes.size(), bytes.data());
  if (wire == nullptr) {
    error = "not a Sparkplug B payload (" + std::to_string(bytes.size()) + " bytes)";
    return false;
  }
  std::unique_ptr<SparkplugB__Payload, void (*)(SparkplugB__Payload*)> owner(
      wire, [](SparkplugB__Payload* p) { sparkplug_b__payload__free_unpacked(p, nullptr); });
  if (wire->has_timestamp) out.timestamp_ms = wire->timestamp;
  if (wire->has_seq) out.seq = wire->seq;
  out.metrics.reserve(wire->n_metrics);
  for (size_t i = 0; i < wire->n_metrics; ++i) {
    const SparkplugB__Payload__Metric& m = *wire->metrics[i];
    ReceivedMetric r;
    if (m.name != nullptr) {
      r.has_name = true;
      r.metric.name = m.name;
    }
    if (m.has_alias) r.metric.alias = m.alias;
    if (m.has_timestamp) r.metric.timestamp_ms = m.timestamp;
    r.metric.is_historical = m.has_is_historical && m.is_historical;
    r.metric.is_transient = m.has_is_transient && m.is_transient;
    r.has_datatype = m.has_datatype;
    r.metric.datatype = static_cast<DataType>(m.datatype);
    if (m.has_is_null && m.is_null) {
      r.metric.value = std::monostate{};
    } else if (!m.has_datatype) {
      r.problem = "no datatype";
    } else {
      r.problem = read_value(m, r.metric.datatype, r.metric.value, SPARKPLUG_B__PAYLOAD__METRIC__VALUE_INT_VALUE,
                             SPARKPLUG_B__PAYLOAD__METRIC__VALUE_LONG_VALUE,
                             SPARKPLUG_B__PAYLOAD__METRIC__VALUE_FLOAT_VALUE,
                             SPARKPLUG_B__PAYLOAD__METRIC__VALUE_DOUBLE_VALUE,
                             SPARKPLUG_B__PAYLOAD__METRIC__VALUE_BOOLEAN_VALUE,
                             SPARKPLUG_B__PAYLOAD__METRIC__VALUE_STRING_VALUE);
    }
    if (m.properties != nullptr) {
      const SparkplugB__Payload__PropertySet& set = *m.properties;
      if (set.n_keys != set.n_values && r.problem.empty()) r.problem = "property keys and values differ in number";
      for (size_t k = 0; k < set.n_keys && k < set.n_values; ++k) {
        const SparkplugB__Payload__PropertyValue& v = *set.values[k];
        Property p;
        p.key = set.keys[k] ? set.keys[k] : "";
        p.type = static_cast<DataType>(v.type);
        if (!(v.has_is_null && v.is_null)) {
          std::string problem = read_value(v, p.type, p.value, SPARKPLUG_B__PAYLOAD__PROPERTY_VALUE__VALUE_INT_VALUE,
                                           SPARKPLUG_B__PAYLOAD__PROPERTY_VALUE__VALUE_LONG_VALUE,
                                           SPARKPLUG_B__PAYLOAD__PROPERTY_VALUE__VALUE_FLOAT_VALUE,
                                           SPARKPLUG_B__PAYLOAD__PROPERTY_VALUE__VALUE_DOUBLE_VALUE,
                                           SPARKPLUG_B__PAYLOAD__PROPERTY_VALUE__VALUE_BOOLEAN_VALUE,
                                           SPARKPLUG_B__PAYLOAD__PROPERTY_VALUE__VALUE_STRING_VALUE);
          if (!problem.empty()) p.value = std::monostate{};
        }
        r.metric.properties.push_back(std::move(p));
      }
    }
    out.metrics.push_back(std::move(r));
  }
  return true;
}

}  // namespace hbt::mqtt
