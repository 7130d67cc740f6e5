// Writes through the host library's write path (nio_send), one result per value:
//
//   OK             written as asked
//   CLAMPED        written, but the host's conversion saturated it or cut it (a fraction to an
//                  integer point, a value past the range of the point or of its conditioning,
//                  a text longer than the point's): found by reading back what it stored
//   TYPE_MISMATCH  text to a number point, a number to a text point, an unknown value type
//   OUT_OF_RANGE   not a number, infinite, beyond a 32-bit float (what the host carries),
//                  a boolean other than 0 or 1, or below the range of a square-root law
//                  (no raw value gives it); nothing is written
//   NOT_WRITABLE   a point the tag file made read-only
//   COMM_FAILURE   the poller is stalled or the record is in communication failure: the
//                  write would wait in the image and reach the PLC at an unknown time, so
//                  nothing is written
//   UNKNOWN_POINT  no such point, or one a reload removed
#pragma once

#include <cstdint>

#include "hbt_points.h"
#include "hostlib/image_view.h"
#include "points/host_exports.h"
#include "points/model.h"

namespace hbt::points {

// Checks the value against the point's type before anything is written: the result, or -1
// when it may be written.
std::int32_t refuse_value(const hbt_point_info& info, const TagPlan* tag, const hbt_point_value& v);

// Writes a value refuse_value let through and reads back what the host stored.
std::int32_t write_value(const HostExports& host, const Model& m, const hostlib::ImageView& view, std::uint32_t p,
                         const hbt_point_value& v);

}  // namespace hbt::points
