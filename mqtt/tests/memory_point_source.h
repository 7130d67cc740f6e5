// A plant held in memory for the edge node's tests: points are set by the test, the change
// feed reports what was set since a cursor, writes are recorded and answered as scripted.
#pragma once

#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "mqtt/point_source.h"

namespace hbt::mqtt::testing {

class MemoryPointSource : public PointSource {
 public:
  // devices: name -> point names; every point an INT16 unless set_type says otherwise.
  uint32_t add_device(const std::string& name) {
    model_.devices.push_back({name, name, 1});
    return static_cast<uint32_t>(model_.devices.size() - 1);
  }
  uint32_t add_point(uint32_t device, const std::string& name, uint8_t type = HBT_POINT_INT16, bool writable = true) {
    PointDescription p;
    p.id = static_cast<uint32_t>(model_.points.size());
    p.device = device;
    p.type = type;
    p.writable = writable;
    p.name = name;
    p.item_id = model_.devices[device].name + ":" + name;
    model_.points.push_back(p);
    PointSample s;
    s.id = p.id;
    s.type = type;
    s.source_time_ms = 1000;
    values_.push_back(s);
    versions_.push_back(++clock_);
    return p.id;
  }
  PointDescription& point(uint32_t id) { return model_.points[id]; }

  void set(uint32_t id, int64_t integer, uint8_t quality = HBT_QUALITY_GOOD, int64_t time_ms = 0) {
    PointSample& s = values_[id];
    s.integer = integer;
    s.real = static_cast<double>(integer);
    s.quality = quality;
    s.source_time_ms = time_ms ? time_ms : s.source_time_ms + 1;
    versions_[id] = ++clock_;
  }
  void set_real(uint32_t id, double real) {
    values_[id].real = real;
    values_[id].source_time_ms += 1;
    versions_[id] = ++clock_;
  }
  void set_text(uint32_t id, const std::string& text) {
    values_[id].text = text;
    values_[id].source_time_ms += 1;
    versions_[id] = ++clock_;
  }
  void set_quality(uint32_t id, uint8_t quality) {
    values_[id].quality = quality;
    versions_[id] = ++clock_;
  }
  // The next change feed call says the generation moved.
  void reload() {
    model_.generation += 1;
    stale_ = true;
  }

  bool load(PlantModel& model, std::string& error) override {
    if (fail_load_) {
      error = "no driver";
      return false;
    }
    model = model_;
    stale_ = false;
    return true;
  }
  Feed changes(uint64_t& cursor, std::vector<PointSample>& out) override {
    if (stale_) return Feed::kStale;
    for (size_t i = 0; i < values_.size(); ++i) {
      if (cursor == 0 || versions_[i] > cursor) out.push_back(values_[i]);
    }
    cursor = clock_;
    return Feed::kOk;
  }
  void wait(uint32_t) override {}
  std::vector<int32_t> write(const std::vector<PointSample>& values) override {
    std::vector<int32_t> results;
    for (const PointSample& v : values) {
      writes.push_back(v);
      auto it = scripted_results.find(v.id);
      results.push_back(it == scripted_results.end() ? HBT_WRITE_OK : it->second);
    }
    return results;
  }
  DriverStatus status() override {
    DriverStatus s;
    s.running = true;
    s.stalled = false;
    s.generation = model_.generation;
    s.status_text = "Brenlow Ethernet Driver 7.9.21";
    return s;
  }
  std::vector<ChannelCounters> channels() override {
    ChannelCounters c;
    c.channel = 1;
    c.in_service = true;
    c.address = "127.0.0.1:5000";
    c.requests_sent = requests_sent;
    return {c};
  }

  std::vector<PointSample> writes;
  std::map<uint32_t, int32_t> scripted_results;
  uint32_t requests_sent = 0;
  bool fail_load_ = false;

 private:
  PlantModel model_;
  std::vector<PointSample> values_;
  std::vector<uint64_t> versions_;
  uint64_t clock_ = 0;
  bool stale_ = false;
};

}  // namespace hbt::mqtt::testing
