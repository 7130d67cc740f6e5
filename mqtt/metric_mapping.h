// How the driver's points become Sparkplug metrics and how commands become writes: datatypes,
// values, the quality codes a host sees as a property, deadbands, and which command values a
// point can take.
#pragma once

#include <cstdint>
#include <string>

#include "mqtt/point_source.h"
#include "mqtt/sparkplug_payload.h"

namespace hbt::mqtt {

// Node metrics take the aliases below this; a point's alias is kFirstPointAlias + its id, so
// aliases stay unique across the node and all its devices.
inline constexpr uint64_t kFirstPointAlias = 1024;

DataType datatype_of(uint8_t point_type);
Value value_of(const PointSample& sample);

// The OPC-style quality code hosts know (192 good, 24 bad communication failure, ...), sent
// as the metric property "Quality".
int32_t quality_code(uint8_t quality);

// True when `now` is worth publishing after `last`: the quality or status changed, a numeric
// value moved by more than the deadband (any move when it is 0), any other value changed.
bool changed_beyond(const PointSample& last, const PointSample& now, double deadband);

// The metric properties of a point in its birth: Quality, and engUnit/engLow/engHigh for a
// conditioned tag, readOnly for a point that takes no writes.
void add_birth_properties(const PointDescription& point, uint8_t quality, std::vector<Property>& out);

// A command value for a point, checked against what the point holds. False with a reason
// when the types do not fit (nothing may be written then).
bool command_to_write(const PointDescription& point, const Metric& metric, PointSample& out, std::string& why);

// The text a write result is reported by ("clamped", "type mismatch", ...); "" for success.
const char* write_result_text(int32_t result);

}  // namespace hbt::mqtt
