#include "mqtt/metric_mapping.h"

#include <cmath>

namespace hbt::mqtt {
namespace {

bool is_integer_type(DataType t) {
  switch (t) {
    case DataType::kInt8: case DataType::kInt16: case DataType::kInt32: case DataType::kInt64:
    case DataType::kUInt8: case DataType::kUInt16: case DataType::kUInt32: case DataType::kUInt64:
      return true;
    default:
      return false;
  }
}

}  // namespace

DataType datatype_of(uint8_t point_type) {
  switch (point_type) {
    case HBT_POINT_BOOL: return DataType::kBoolean;
    case HBT_POINT_INT16: return DataType::kInt16;
    case HBT_POINT_UINT16: return DataType::kUInt16;
    case HBT_POINT_INT32: return DataType::kInt32;
    case HBT_POINT_UINT32: return DataType::kUInt32;
    case HBT_POINT_FLOAT: return DataType::kFloat;
    case HBT_POINT_DOUBLE: return DataType::kDouble;
    case HBT_POINT_STRING: return DataType::kString;
    default: return DataType::kUnknown;
  }
}

Value value_of(const PointSample& s) {
  switch (s.type) {
    case HBT_POINT_BOOL: return s.integer != 0;
    case HBT_POINT_INT16:
    case HBT_POINT_INT32: return int64_t{s.integer};
    case HBT_POINT_UINT16:
    case HBT_POINT_UINT32: return static_cast<uint64_t>(s.integer);
    case HBT_POINT_FLOAT: return static_cast<float>(s.real);
    case HBT_POINT_DOUBLE: return s.real;
    case HBT_POINT_STRING: {
      // A PLC text ends at its first NUL, as the host library reads it.
      return s.text.substr(0, s.text.find('\0'));
    }
    default: return std::monostate{};
  }
}

int32_t quality_code(uint8_t quality) {
  switch (quality) {
    case HBT_QUALITY_GOOD: return 192;          // good
    case HBT_QUALITY_COMM_FAILURE: return 24;   // bad, communication failure
    case HBT_QUALITY_EXPIRED: return 68;        // uncertain, last usable value
    case HBT_QUALITY_NOT_POLLED: return 28;     // bad, out of service
    case HBT_QUALITY_STALLED: return 8;         // bad, not connected
    case HBT_QUALITY_CONFIG: return 4;          // bad, configuration error
    default: return 0;                          // bad
  }
}

bool changed_beyond(const PointSample& last, const PointSample& now, double deadband) {
  if (last.quality != now.quality || last.status != now.status) return true;
  switch (now.type) {
    case HBT_POINT_FLOAT:
    case HBT_POINT_DOUBLE: {
      if (std::isnan(last.real) || std::isnan(now.real)) return std::isnan(last.real) != std::isnan(now.real);
      return deadband > 0 ? std::fabs(now.real - last.real) > deadband : now.real != last.real;
    }
    case HBT_POINT_STRING:
      return last.text != now.text;
    case HBT_POINT_BOOL:
      return (last.integer != 0) != (now.integer != 0);
    default:
      if (deadband > 0) return std::fabs(static_cast<double>(now.integer) - static_cast<double>(last.integer)) > deadband;
      return last.integer != now.integer;
  }
}

void add_birth_properties(const PointDescription& point, uint8_t quality, std::vector<Property>& out) {
  out.push_back({"Quality", DataType::kInt32, int64_t{quality_code(quality)}});
  if (point.analog) {
    out.push_back({"engUnit", DataType::kString, point.eu_units});
    out.push_back({"engLow", DataType::kDouble, point.eu_low});
    out.push_back({"engHigh", DataType::kDouble, point.eu_high});
  }
  if (!point.writable) out.push_back({"readOnly", DataType::kBoolean, true});
}

bool command_to_write(const PointDescription& point, const Metric& metric, PointSample& out, std::string& why) {
  out = PointSample{};
  out.id = point.id;
  out.type = point.type;
  if (std::holds_alternative<std::monostate>(metric.value)) {
    why = "a null value";
    return false;
  }
  const DataType sent = metric.datatype;
  const Value& v = metric.value;
  switch (point.type) {
    case HBT_POINT_BOOL:
      if (sent != DataType::kBoolean) break;
      out.integer = std::get<bool>(v) ? 1 : 0;
      return true;
    case HBT_POINT_STRING:
      if (sent != DataType::kString && sent != DataType::kText) break;
      out.text = std::get<std::string>(v);
      return true;
    default:
      if (is_integer_type(sent)) {
        if (auto* i = std::get_if<int64_t>(&v)) {
          out.integer = *i;
          out.real = static_cast<double>(*i);
        } else {
          const uint64_t u = std::get<uint64_t>(v);
          if (u > static_cast<uint64_t>(INT64_MAX)) {
            why = "a value past any register";
            return false;
          }
          out.integer = static_cast<int64_t>(u);
          out.real = static_cast<double>(u);
        }
        return true;
      }
      // A real value for an integer register would be rounded on the way: only real points
      // take one.
      if ((sent == DataType::kFloat || sent == DataType::kDouble) &&
          (point.type == HBT_POINT_FLOAT || point.type == HBT_POINT_DOUBLE)) {
        out.real = sent == DataType::kFloat ? static_cast<double>(std::get<float>(v)) : std::get<double>(v);
        if (!std::isfinite(out.real)) {
          why = "not a finite number";
          return false;
        }
        return true;
      }
      break;
  }
  why = std::string("a ") + data_type_name(sent) + " value for a " + data_type_name(datatype_of(point.type)) + " point";
  return false;
}

const char* write_result_text(int32_t result) {
  switch (result) {
    case HBT_WRITE_OK: return "";
    case HBT_WRITE_CLAMPED: return "clamped";
    case HBT_WRITE_TYPE_MISMATCH: return "type mismatch";
    case HBT_WRITE_OUT_OF_RANGE: return "out of range";
    case HBT_WRITE_NOT_WRITABLE: return "not writable";
    case HBT_WRITE_COMM_FAILURE: return "communication failure";
    case HBT_WRITE_UNKNOWN_POINT: return "unknown point";
    default: return "refused";
  }
}

}  // namespace hbt::mqtt
