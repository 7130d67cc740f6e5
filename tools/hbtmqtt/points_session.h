// The edge node's view of the driver through the points library's C interface.
#pragma once

#include <string>
#include <vector>

#include "hbt_points.h"
#include "mqtt/point_source.h"
#include "mqtt/settings.h"

namespace hbt::mqtt {

class PointsSession : public PointSource {
 public:
  explicit PointsSession(const Settings& settings);
  ~PointsSession() override;
  PointsSession(const PointsSession&) = delete;
  PointsSession& operator=(const PointsSession&) = delete;

  // Opens the session. False with a reason; `fatal` when trying again cannot help (a bad tag
  // file, a wrong argument), not when the driver is merely not there yet.
  bool open(std::string& error, bool& fatal);

  bool load(PlantModel& model, std::string& error) override;
  Feed changes(uint64_t& cursor, std::vector<PointSample>& out) override;
  void wait(uint32_t timeout_ms) override;
  std::vector<int32_t> write(const std::vector<PointSample>& values) override;
  DriverStatus status() override;
  std::vector<ChannelCounters> channels() override;

 private:
  std::string host_library_;
  std::string tag_file_;
  uint32_t update_ms_;
  hbt_points* session_ = nullptr;
  std::vector<hbt_point_value> buffer_;
};

}  // namespace hbt::mqtt
