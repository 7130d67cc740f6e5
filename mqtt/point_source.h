// What the edge node needs from the driver: the plant's points, a change feed, writes and the
// driver's state. PointsSession serves it from the points library; tests serve it from memory.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "hbt_points.h"

namespace hbt::mqtt {

struct DeviceDescription {
  std::string name;          // the PLC's name, "QPLC1": its Sparkplug device id
  std::string description;
  uint32_t channel = 0;
};

struct PointDescription {
  uint32_t id = 0;           // index in PlantModel::points
  uint32_t device = 0;       // index in PlantModel::devices
  uint8_t type = 0;          // hbt_point_type
  bool writable = false;
  bool analog = false;       // eu_low, eu_high and eu_units hold
  std::string name;          // "D:100": the metric name
  std::string item_id;       // "QPLC1:D:100"
  double eu_low = 0;
  double eu_high = 0;
  std::string eu_units;
  double deadband = 0;       // the point's own (from the tag file); 0: none
};

struct PlantModel {
  uint32_t generation = 0;
  std::vector<DeviceDescription> devices;
  std::vector<PointDescription> points;
};

struct PointSample {
  uint32_t id = 0;
  uint8_t type = 0;          // hbt_point_type
  uint8_t quality = 0;       // hbt_point_quality
  uint16_t status = 0;
  int64_t source_time_ms = 0;
  int64_t integer = 0;
  double real = 0;
  std::string text;
};

struct ChannelCounters {
  uint32_t channel = 0;
  bool in_service = false;
  std::string address;
  uint32_t requests_sent = 0;
  uint32_t replies_received = 0;
  uint32_t retries = 0;
  uint32_t reply_timeouts = 0;
  uint32_t rejected_replies = 0;
  uint32_t abnormal_codes = 0;
  double polls_per_second = 0;
};

struct DriverStatus {
  bool running = false;
  bool stalled = true;
  uint32_t generation = 0;
  std::string status_text;
  std::string config_path;
};

class PointSource {
 public:
  enum class Feed { kOk, kStale, kFailed };

  virtual ~PointSource() = default;
  // The current generation's lists. False with a reason when the driver cannot be listed.
  virtual bool load(PlantModel& model, std::string& error) = 0;
  // Appends every change since *cursor (cursor 0: every point) and moves the cursor.
  // kStale: the generation moved; load again and start from cursor 0.
  virtual Feed changes(uint64_t& cursor, std::vector<PointSample>& out) = 0;
  // Blocks until something may have changed or timeout_ms passed.
  virtual void wait(uint32_t timeout_ms) = 0;
  // One hbt_write_result per value.
  virtual std::vector<int32_t> write(const std::vector<PointSample>& values) = 0;
  virtual DriverStatus status() = 0;
  virtual std::vector<ChannelCounters> channels() = 0;
};

}  // namespace hbt::mqtt
