#include "points/value_io.h"

#include <cstring>

#include "image/lock_byte.h"
#include "points/record_compare.h"

namespace hbt::points {

using hostlib::NioBlock;
using hostlib::NioStatus;
using hostlib::NioValue;

bool read_from_area(const Model& m, std::uint32_t p) {
  const std::uint8_t type = m.points[p].type;
  return type == HBT_POINT_INT32 || type == HBT_POINT_UINT32;
}

PointPlace place_in_record(const Model& m, std::uint32_t p) { return m.place_of_point(p); }

Reading read_through_host(const HostExports& host, const Model& m, std::uint32_t p) {
  Reading r;
  const hbt_point_info& info = m.points[p];
  HostPoint h = m.host_point(p);
  NioBlock block = h.block();
  std::uint8_t data[256] = {};
  NioValue value{0, 4, 0, data};
  if (info.type == HBT_POINT_STRING) value.size = static_cast<std::uint8_t>(std::min<std::uint32_t>(info.text_length, 255));
  NioStatus status = -1;
  host.read(&status, &block, &h.format, &value);
  if (status != 0) {
    r.value_status = status;
    return r;
  }
  r.value_status = value.status;
  // A record that failed or was never polled gives its status and no value.
  if (value.status == 4293 || value.status == 4297) return r;
  switch (value.type) {
    case hostlib::kValueDigital:
      r.integer = data[0] != 0;
      r.real = static_cast<double>(r.integer);
      break;
    case hostlib::kValueFloat: {
      float f;
      std::memcpy(&f, data, 4);
      r.real = f;
      r.integer = static_cast<std::int64_t>(f);
      break;
    }
    case hostlib::kValueText: {
      const std::size_t n = std::min<std::size_t>(value.size, sizeof data);
      r.text.assign(reinterpret_cast<const char*>(data), strnlen(reinterpret_cast<const char*>(data), n));
      break;
    }
    default:
      return r;
  }
  r.has_value = true;
  return r;
}

Reading read_from_copy(const Model& m, std::uint32_t p, const std::uint8_t* area, std::size_t bytes) {
  Reading r;
  const PointPlace place = place_in_record(m, p);
  const std::size_t at = 2 * std::size_t{place.first_word};
  if (area == nullptr || at + 4 > bytes) {
    r.value_status = hostlib::kStatusBadAddress;
    return r;
  }
  std::uint32_t raw;
  std::memcpy(&raw, area + at, 4);
  r.integer = m.points[p].type == HBT_POINT_INT32 ? std::int64_t{static_cast<std::int32_t>(raw)} : std::int64_t{raw};
  r.real = static_cast<double>(r.integer);
  r.has_value = true;
  return r;
}

Reading read_fresh(const HostExports& host, const Model& m, const hostlib::ImageView& view, std::uint32_t p) {
  if (!read_from_area(m, p)) return read_through_host(host, m, p);
  const RecordPlan& plan = m.plan_of(p);
  image::PollRecordHead* head = view.record(plan.image_record);
  const hostlib::DataArea area = view.area(head, image::kAreaCurrent);
  if (head == nullptr || area.data == nullptr) {
    Reading r;
    r.value_status = hostlib::kStatusBadAddress;
    return r;
  }
  std::uint8_t copy[8] = {};
  const PointPlace place = place_in_record(m, p);
  const std::size_t at = 2 * std::size_t{place.first_word};
  if (at + 4 > area.size) {
    Reading r;
    r.value_status = hostlib::kStatusBadAddress;
    return r;
  }
  {
    image::ByteLock lock(&head->lock);
    std::memcpy(copy, area.data + at, 4);
  }
  Reading r;
  std::uint32_t raw;
  std::memcpy(&raw, copy, 4);
  r.integer = m.points[p].type == HBT_POINT_INT32 ? std::int64_t{static_cast<std::int32_t>(raw)} : std::int64_t{raw};
  r.real = static_cast<double>(r.integer);
  r.has_value = true;
  return r;
}

}  // namespace hbt::points
