// One quality for every service, from the poll record's status word, the value status of the
// host's read and the poller's liveness:
//
//   poller stalled (stopped, gone, watchdog standing)  STALLED, whatever the record says
//   status 0, value status 0                           GOOD
//   status 4293 communication failure                  COMM_FAILURE, the last value kept
//   status 4296 access time expired                    EXPIRED, the last value polled
//   status 4297 not polled                             NOT_POLLED, the last value kept
//   any other status, or a value status of the host    OTHER (4292 conditioning out of
//     (4292, 2185) on a good record                      range, 2185 float not a number)
//   a point a reload removed                           CONFIG
#pragma once

#include <cstdint>

#include "hbt_points.h"

namespace hbt::points {

inline constexpr std::uint16_t kStatusCommFailure = 4293;
inline constexpr std::uint16_t kStatusAccessExpired = 4296;
inline constexpr std::uint16_t kStatusNotPolled = 4297;

struct Quality {
  std::uint8_t quality = HBT_QUALITY_GOOD;
  std::uint16_t status = 0;  // what hbt_point_value.status shows
};

constexpr Quality quality_of(std::uint16_t record_status, std::int16_t value_status, bool stalled) {
  if (stalled) return {HBT_QUALITY_STALLED, record_status};
  switch (record_status) {
    case 0:
      if (value_status == 0) return {HBT_QUALITY_GOOD, 0};
      return {HBT_QUALITY_OTHER, static_cast<std::uint16_t>(value_status)};
    case kStatusCommFailure: return {HBT_QUALITY_COMM_FAILURE, record_status};
    case kStatusAccessExpired: return {HBT_QUALITY_EXPIRED, record_status};
    case kStatusNotPolled: return {HBT_QUALITY_NOT_POLLED, record_status};
    default: return {HBT_QUALITY_OTHER, record_status};
  }
}

// Whether the host's read gives no value for a record in this state (its last value stays).
constexpr bool keeps_last_value(std::uint16_t record_status) {
  return record_status == kStatusCommFailure || record_status == kStatusNotPolled;
}

}  // namespace hbt::points
