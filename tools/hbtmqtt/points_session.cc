#include "tools/hbtmqtt/points_session.h"

#include <chrono>
#include <cstring>
#include <thread>

namespace hbt::mqtt {
namespace {

constexpr uint32_t kBatch = 4096;

std::string text_of(const char* s) { return s ? s : ""; }

}  // namespace

PointsSession::PointsSession(const Settings& settings)
    : host_library_(settings.host_library), tag_file_(settings.tag_file), update_ms_(settings.update_ms),
      buffer_(kBatch) {}

PointsSession::~PointsSession() {
  if (session_) hbt_points_close(session_);
}

bool PointsSession::open(std::string& error, bool& fatal) {
  fatal = false;
  if (session_) return true;
  hbt_points_options options{};
  options.size = sizeof options;
  options.host_library = host_library_.empty() ? nullptr : host_library_.c_str();
  options.tag_file = tag_file_.empty() ? nullptr : tag_file_.c_str();
  options.update_ms = update_ms_;
  const int32_t rc = hbt_points_open(&options, &session_);
  if (rc == HBT_POINTS_OK && session_) return true;
  error = text_of(hbt_points_last_error(nullptr));
  if (error.empty()) error = "the points library answered " + std::to_string(rc);
  fatal = rc == HBT_POINTS_E_TAGS || rc == HBT_POINTS_E_ARGUMENT;
  session_ = nullptr;
  return false;
}

bool PointsSession::load(PlantModel& model, std::string& error) {
  bool fatal = false;
  if (!session_ && !open(error, fatal)) return false;
  uint32_t generation = 0, device_count = 0, record_count = 0, point_count = 0;
  const hbt_device_info* devices = nullptr;
  const hbt_record_info* records = nullptr;
  const hbt_point_info* points = nullptr;
  const int32_t rc = hbt_points_list(session_, &generation, &devices, &device_count, &records, &record_count, &points,
                                     &point_count);
  if (rc != HBT_POINTS_OK) {
    error = text_of(hbt_points_last_error(session_));
    return false;
  }
  model = PlantModel{};
  model.generation = generation;
  model.devices.reserve(device_count);
  for (uint32_t i = 0; i < device_count; ++i) {
    model.devices.push_back({text_of(devices[i].name), text_of(devices[i].description), devices[i].channel});
  }
  model.points.reserve(point_count);
  for (uint32_t i = 0; i < point_count; ++i) {
    const hbt_point_info& p = points[i];
    PointDescription d;
    d.id = p.id;
    d.device = p.device;
    d.type = p.type;
    d.writable = p.writable != 0;
    d.analog = p.analog != 0;
    d.name = text_of(p.name);
    d.item_id = text_of(p.item_id);
    d.eu_low = p.eu_low;
    d.eu_high = p.eu_high;
    d.eu_units = text_of(p.eu_units);
    d.deadband = p.deadband;
    model.points.push_back(std::move(d));
  }
  return true;
}

PointSource::Feed PointsSession::changes(uint64_t& cursor, std::vector<PointSample>& out) {
  if (!session_) return Feed::kFailed;
  uint32_t more = 1;
  while (more) {
    uint32_t count = 0;
    more = 0;
    const int32_t rc = hbt_points_changes(session_, &cursor, buffer_.data(), kBatch, &count, &more);
    if (rc == HBT_POINTS_E_STALE) return Feed::kStale;
    if (rc != HBT_POINTS_OK) return Feed::kFailed;
    for (uint32_t i = 0; i < count && i < kBatch; ++i) {
      const hbt_point_value& v = buffer_[i];
      PointSample s;
      s.id = v.id;
      s.type = v.type;
      s.quality = v.quality;
      s.status = v.status;
      s.source_time_ms = v.source_time_ms;
      s.integer = v.integer;
      s.real = v.real;
      if (v.text && v.text_length) s.text.assign(v.text, v.text_length);
      out.push_back(std::move(s));
    }
  }
  return Feed::kOk;
}

void PointsSession::wait(uint32_t timeout_ms) {
  if (session_) {
    hbt_points_wait(session_, timeout_ms);
  } else {
    std::this_thread::sleep_for(std::chrono::milliseconds(timeout_ms));
  }
}

std::vector<int32_t> PointsSession::write(const std::vector<PointSample>& values) {
  std::vector<int32_t> results(values.size(), HBT_WRITE_COMM_FAILURE);
  if (!session_ || values.empty()) return results;
  std::vector<hbt_point_value> wire(values.size());
  for (size_t i = 0; i < values.size(); ++i) {
    hbt_point_value& w = wire[i];
    std::memset(&w, 0, sizeof w);
    w.id = values[i].id;
    w.type = values[i].type;
    w.integer = values[i].integer;
    w.real = values[i].real;
    w.text = values[i].text.c_str();
    w.text_length = static_cast<uint32_t>(values[i].text.size());
  }
  if (hbt_points_write(session_, wire.data(), static_cast<uint32_t>(wire.size()), results.data()) != HBT_POINTS_OK) {
    std::fill(results.begin(), results.end(), HBT_WRITE_COMM_FAILURE);
  }
  return results;
}

DriverStatus PointsSession::status() {
  DriverStatus s;
  if (!session_) {
    s.status_text = "the driver is not there";
    return s;
  }
  hbt_driver_state state{};
  state.size = sizeof state;
  if (hbt_points_state(session_, &state) != HBT_POINTS_OK) return s;
  s.running = state.running != 0;
  s.stalled = state.stalled != 0;
  s.generation = state.generation;
  s.status_text.assign(state.status_text, strnlen(state.status_text, sizeof state.status_text));
  s.config_path.assign(state.config_path, strnlen(state.config_path, sizeof state.config_path));
  return s;
}

std::vector<ChannelCounters> PointsSession::channels() {
  std::vector<ChannelCounters> out;
  if (!session_) return out;
  hbt_channel_diag diag[16];
  uint32_t count = 0;
  if (hbt_points_channels(session_, diag, 16, &count) != HBT_POINTS_OK) return out;
  for (uint32_t i = 0; i < count && i < 16; ++i) {
    const hbt_channel_diag& d = diag[i];
    ChannelCounters c;
    c.channel = d.channel;
    c.in_service = d.in_service != 0;
    c.address.assign(d.address, strnlen(d.address, sizeof d.address));
    c.requests_sent = d.requests_sent;
    c.replies_received = d.replies_received;
    c.retries = d.retries;
    c.reply_timeouts = d.reply_timeouts;
    c.rejected_replies = d.rejected_replies;
    c.abnormal_codes = d.abnormal_codes;
    c.polls_per_second = d.polls_per_second;
    out.push_back(std::move(c));
  }
  return out;
}

}  // namespace hbt::mqtt
