// A point's value through the host library's read path (nio_read), as the types of the C
// interface hold it. 32-bit integer points are the exception: the host hands every analog
// value over as a 32-bit float, which cannot carry all of their values, so they are taken
// from the record's data area 1 as the poller stored them.
#pragma once

#include <cstdint>
#include <string>

#include "hostlib/image_view.h"
#include "points/host_exports.h"
#include "points/model.h"

namespace hbt::points {

struct Reading {
  bool has_value = false;         // false: the host gave none (record failed or never polled)
  std::int16_t value_status = 0;  // the host's value status (4292, 2185) when it gave one
  std::int64_t integer = 0;
  double real = 0;
  std::string text;
};

// Whether point p is read from area 1 directly rather than through the host.
bool read_from_area(const Model& m, std::uint32_t p);

// The point through the host's nio_read.
Reading read_through_host(const HostExports& host, const Model& m, std::uint32_t p);

// The point from a copy of its record's data area 1 (`bytes` long).
Reading read_from_copy(const Model& m, std::uint32_t p, const std::uint8_t* area, std::size_t bytes);

// Reads p fresh: from the host, or from area 1 under the record's lock.
Reading read_fresh(const HostExports& host, const Model& m, const hostlib::ImageView& view, std::uint32_t p);

// The words of area 1 a point is read from (first word, count, bits of the first word).
PointPlace place_in_record(const Model& m, std::uint32_t p);

}  // namespace hbt::points
