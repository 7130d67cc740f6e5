// The lists of one configuration generation: devices, poll records and points as the C
// interface hands them out, and what the session needs to read each point through the host
// library and to find the points a changed word of the image touches. Built from the image
// and the host library's enumeration; immutable once built.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "hbt_points.h"
#include "hostlib/image_view.h"
#include "hostlib/nio_types.h"
#include "points/host_exports.h"
#include "points/item_index.h"
#include "points/record_layout.h"
#include "points/string_arena.h"
#include "points/tag_file.h"

namespace hbt::points {

// How a point is read and written through the host library: the caller's own copies of the
// records the host takes, so that no two calls share one.
struct HostPoint {
  hostlib::NioAddress address{};
  hostlib::NioFormat format{};
  hostlib::NioDriverArea area{};
  hostlib::NioBlock block() { return hostlib::NioBlock{nullptr, &address, &area}; }
};

struct RecordPlan {
  int image_record = -1;   // poll record index in the image
  int channel = -1;        // channel index in the image
  RecordShape shape;
  RecordLayout layout;
  hostlib::NioAddress base{};  // the record's own address: its handle names image_record
  bool bound = false;          // the host resolved the record's addresses
  std::int32_t poll_time = 0;  // 1/100 s, -100 = not polled
  std::int32_t access_time = 0;
  std::uint16_t exception_type = 0;
  std::uint32_t area_bytes = 0;  // size of data area 1
  // Point id of each local point when some are left out (addresses an earlier record of the
  // device covers already); empty when the record's points are first_point + local.
  std::vector<std::uint32_t> local_to_point;
  std::uint32_t first_tag = 0, tag_count = 0;  // into Model::record_tags
};

struct TagPlan {
  std::uint32_t point = 0;
  std::uint32_t record = 0;  // the record plan the address resolved to
  hostlib::NioAddress address{};
  hostlib::NioDriverArea area{};
  hostlib::NioFormat format{};
  PointPlace place;  // words of area 1 it is read from
};

struct Model {
  std::uint32_t generation = 0;
  std::uint32_t image_generation = 0;

  std::vector<hbt_device_info> devices;
  std::vector<hbt_record_info> records;
  std::vector<hbt_point_info> points;

  std::vector<RecordPlan> plans;               // one per record, same index
  std::vector<hostlib::NioDriverArea> device_areas;  // one per device, for record points
  std::vector<TagPlan> tags;                   // the points from record_point_count on
  std::vector<std::uint32_t> record_tags;      // tag indices, grouped by record
  std::uint32_t record_point_count = 0;
  std::vector<std::uint32_t> text_slot;        // per point: its text state, or kNoPoint
  std::uint32_t text_count = 0;
  std::vector<int> plan_of_image_record;       // image record index -> plan, or -1

  StringArena strings;
  ItemIndex index{[this](std::uint32_t p) { return points[p].item_id; }};
  std::vector<std::string> notes;  // tag lines that do not bind, records without points

  Model() = default;
  Model(const Model&) = delete;
  Model& operator=(const Model&) = delete;

  bool is_tag(std::uint32_t p) const { return p >= record_point_count; }
  const TagPlan& tag_of(std::uint32_t p) const { return tags[p - record_point_count]; }
  // The record a point is read from (a tag's too).
  const RecordPlan& plan_of(std::uint32_t p) const {
    return plans[is_tag(p) ? tag_of(p).record : points[p].record];
  }
  std::uint32_t plan_index_of(std::uint32_t p) const { return is_tag(p) ? tag_of(p).record : points[p].record; }
  std::uint32_t point_of_local(const RecordPlan& plan, std::uint32_t record_id, std::uint32_t local) const {
    if (!plan.local_to_point.empty()) return local < plan.local_to_point.size() ? plan.local_to_point[local] : kNoPoint;
    const hbt_record_info& r = records[record_id];
    return local < r.point_count ? r.first_point + local : kNoPoint;
  }
  // The host's view of point p: its address, format and driver area.
  HostPoint host_point(std::uint32_t p) const;
  // Where point p lies in its record (a tag's place too).
  PointPlace place_of_point(std::uint32_t p) const;
  // Bytes the model holds, for the memory figures.
  std::size_t bytes() const;
};

// Builds the lists from the mapped image and the host library. Null with *error when the
// two disagree (the poller is reloading): the caller tries again at its next look.
std::unique_ptr<Model> build_model(const hostlib::ImageView& view, const HostExports& host, const TagFile& tags,
                                   std::string* error);

}  // namespace hbt::points
