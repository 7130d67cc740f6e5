#include "mqtt/edge_node.h"

#include <algorithm>

#include "mqtt/metric_mapping.h"

namespace hbt::mqtt {
namespace {

// Records the store holds before the next live batch goes out: enough to catch up quickly,
// few enough that one poll never floods the broker connection.
constexpr size_t kDrainRecordsPerPoll = 64;
constexpr int64_t kReloadRetryMs = 2000;

}  // namespace

EdgeNode::EdgeNode(Settings settings, PointSource& source, StoreForward& store, LogSink log)
    : settings_(std::move(settings)), source_(source), store_(store), log_(std::move(log)) {
  host_online_ = settings_.primary_host_id.empty();
}

std::vector<uint8_t> EdgeNode::death_payload(uint64_t bd_seq) const {
  Payload p;
  Metric m;
  m.name = "bdSeq";
  m.datatype = DataType::kUInt64;
  m.value = bd_seq;
  p.metrics.push_back(std::move(m));
  return encode_payload(p);
}

std::vector<std::string> EdgeNode::subscriptions() const {
  std::vector<std::string> topics{
      node_topic(settings_.group_id, MessageType::kNCmd, settings_.edge_node_id),
      node_topic(settings_.group_id, MessageType::kDCmd, settings_.edge_node_id) + "/+"};
  if (!settings_.primary_host_id.empty()) topics.push_back(state_topic(settings_.primary_host_id));
  return topics;
}

double EdgeNode::deadband_of(const PointDescription& point) const {
  if (point.deadband > 0) return point.deadband;
  if (point.device < model_.devices.size()) {
    auto it = settings_.device_deadbands.find(model_.devices[point.device].name);
    if (it != settings_.device_deadbands.end()) return it->second;
  }
  return settings_.deadband;
}

bool EdgeNode::load_model() {
  PlantModel model;
  std::string error;
  if (!source_.load(model, error)) {
    log("warning: the driver's points cannot be listed: " + error);
    return false;
  }
  model_ = std::move(model);
  cursor_ = 0;
  current_.assign(model_.points.size(), PointSample{});
  have_current_.assign(model_.points.size(), 0);
  published_.assign(model_.points.size(), PointSample{});
  devices_.assign(model_.devices.size(), DeviceState{});
  device_index_.clear();
  point_index_.assign(model_.devices.size(), {});
  for (uint32_t d = 0; d < model_.devices.size(); ++d) {
    if (!valid_topic_id(model_.devices[d].name)) {
      log("warning: PLC \"" + model_.devices[d].name + "\" cannot be a Sparkplug device id: its points are not published");
      continue;
    }
    device_index_[model_.devices[d].name] = d;
  }
  for (const PointDescription& p : model_.points) {
    if (p.device >= devices_.size()) continue;
    devices_[p.device].points += 1;
    point_index_[p.device][p.name] = p.id;
  }
  loaded_ = true;
  log("the driver has " + std::to_string(model_.devices.size()) + " PLCs and " +
      std::to_string(model_.points.size()) + " points (generation " + std::to_string(model_.generation) + ")");
  return true;
}

void EdgeNode::apply(const PointSample& sample) {
  if (sample.id >= model_.points.size()) return;
  const PointDescription& point = model_.points[sample.id];
  if (point.device >= devices_.size()) return;
  DeviceState& device = devices_[point.device];
  const bool was_failed = have_current_[sample.id] && current_[sample.id].quality == HBT_QUALITY_COMM_FAILURE;
  const bool is_failed = sample.quality == HBT_QUALITY_COMM_FAILURE;
  if (was_failed != is_failed) device.failed += is_failed ? 1 : -1;
  const bool first = !have_current_[sample.id];
  current_[sample.id] = sample;
  have_current_[sample.id] = 1;
  if (first) {
    published_[sample.id] = sample;
    return;
  }
  if (!changed_beyond(published_[sample.id], sample, deadband_of(point))) return;
  published_[sample.id] = sample;
  device.pending.push_back(sample);
}

bool EdgeNode::send(const std::string& topic, Payload& payload, bool with_seq) {
  if (publisher_ == nullptr) return false;
  if (with_seq) {
    payload.seq = seq_;
    seq_ = static_cast<uint8_t>(seq_ + 1);
  }
  const std::vector<uint8_t> bytes = encode_payload(payload);
  if (!publisher_->publish(topic, bytes, 0, false)) return false;
  counters_.messages_published += 1;
  counters_.metrics_published += payload.metrics.size();
  return true;
}

void EdgeNode::connected(Publisher& publisher, uint64_t bd_seq, int64_t now_ms) {
  publisher_ = &publisher;
  bd_seq_ = bd_seq;
  births_done_ = false;
  host_online_ = settings_.primary_host_id.empty();
  for (DeviceState& d : devices_) d.born = false;
  ensure_loaded(now_ms);
  if (host_online_) {
    publish_births(now_ms);
  } else {
    log("connected; waiting for the primary host \"" + settings_.primary_host_id + "\" to be online");
  }
}

void EdgeNode::disconnected() {
  publisher_ = nullptr;
  births_done_ = false;
  for (DeviceState& d : devices_) d.born = false;
}

void EdgeNode::publish_births(int64_t now_ms) {
  if (publisher_ == nullptr) return;
  seq_ = 0;
  Payload nbirth;
  nbirth.timestamp_ms = static_cast<uint64_t>(now_ms);
  nbirth.metrics = node_metrics();
  for (Metric& m : nbirth.metrics) m.timestamp_ms = static_cast<uint64_t>(now_ms);
  last_node_metrics_ = nbirth.metrics;
  if (!send(node_topic(settings_.group_id, MessageType::kNBirth, settings_.edge_node_id), nbirth, true)) return;
  births_done_ = true;
  for (uint32_t d = 0; d < devices_.size(); ++d) {
    devices_[d].born = false;
    if (!devices_[d].dead() && device_index_.count(model_.devices[d].name)) publish_device_birth(d, now_ms);
  }
  next_flush_ms_ = now_ms + settings_.publish_interval_ms;
  next_node_data_ms_ = now_ms + settings_.node_metrics_interval_ms;
}

void EdgeNode::publish_device_birth(uint32_t device, int64_t now_ms) {
  Payload p;
  p.timestamp_ms = static_cast<uint64_t>(now_ms);
  DeviceState& state = devices_[device];
  for (const PointDescription& point : model_.points) {
    if (point.device != device) continue;
    Metric m;
    m.name = point.name;
    m.alias = kFirstPointAlias + point.id;
    m.datatype = datatype_of(point.type);
    uint8_t quality = HBT_QUALITY_NOT_POLLED;
    if (have_current_[point.id]) {
      const PointSample& s = current_[point.id];
      m.value = value_of(s);
      m.timestamp_ms = static_cast<uint64_t>(s.source_time_ms > 0 ? s.source_time_ms : now_ms);
      quality = s.quality;
      published_[point.id] = s;
    } else {
      m.timestamp_ms = static_cast<uint64_t>(now_ms);
    }
    add_birth_properties(point, quality, m.properties);
    p.metrics.push_back(std::move(m));
  }
  // The birth carries every present value: what waited for the next DDATA is in it.
  state.pending.clear();
  if (send(device_topic(settings_.group_id, MessageType::kDBirth, settings_.edge_node_id, model_.devices[device].name), p,
           true)) {
    state.born = true;
  }
}

void EdgeNode::publish_device_death(uint32_t device, int64_t now_ms) {
  Payload p;
  p.timestamp_ms = static_cast<uint64_t>(now_ms);
  send(device_topic(settings_.group_id, MessageType::kDDeath, settings_.edge_node_id, model_.devices[device].name), p,
       true);
  devices_[device].born = false;
}

void EdgeNode::flush_device(uint32_t device, int64_t now_ms) {
  DeviceState& state = devices_[device];
  if (state.pending.empty()) return;
  const std::string& name = model_.devices[device].name;
  if (!device_index_.count(name)) {
    state.pending.clear();
    return;
  }
  const bool live = online() && state.born && store_.empty();
  Payload p;
  p.timestamp_ms = static_cast<uint64_t>(now_ms);
  p.metrics.reserve(state.pending.size());
  for (const PointSample& s : state.pending) {
    const PointDescription& point = model_.points[s.id];
    Metric m;
    if (live) {
      m.alias = kFirstPointAlias + s.id;
    } else {
      // Kept for later: names stay valid when the configuration (and so the aliases) changes.
      m.name = point.name;
      m.is_historical = true;
    }
    m.datatype = datatype_of(point.type);
    m.value = value_of(s);
    m.timestamp_ms = static_cast<uint64_t>(s.source_time_ms > 0 ? s.source_time_ms : now_ms);
    m.properties.push_back({"Quality", DataType::kInt32, int64_t{quality_code(s.quality)}});
    p.metrics.push_back(std::move(m));
  }
  state.pending.clear();
  const std::string topic = device_topic(settings_.group_id, MessageType::kDData, settings_.edge_node_id, name);
  if (live && send(topic, p, true)) return;
  if (live) {
    // The session went away under us: keep the batch as history.
    for (Metric& m : p.metrics) {
      m.name = model_.points[m.alias.value() - kFirstPointAlias].name;
      m.alias.reset();
      m.is_historical = true;
    }
  }
  p.seq.reset();
  if (!store_.append(name, encode_payload(p))) log("warning: store and forward: " + store_.last_error());
}

void EdgeNode::flush(int64_t now_ms) {
  // Live data waits while history is still going out, so a host sees it in order.
  if (online() && !store_.empty()) return;
  for (uint32_t d = 0; d < devices_.size(); ++d) flush_device(d, now_ms);
}

void EdgeNode::drain_store() {
  if (!online() || store_.empty()) return;
  StoredRecord record;
  for (size_t n = 0; n < kDrainRecordsPerPoll && store_.front(record); ++n) {
    auto it = device_index_.find(record.device);
    if (it == device_index_.end() || !devices_[it->second].born) {
      // A PLC that is gone from the configuration or not born now: a host would refuse DDATA
      // for it, so its history goes (counted as dropped).
      log("warning: store and forward: history of \"" + record.device + "\" dropped: the PLC is not online");
      counters_.history_dropped += 1;
      store_.pop();
      continue;
    }
    ReceivedPayload stored;
    std::string error;
    if (!decode_payload(record.payload, stored, error)) {
      log("warning: store and forward: a damaged record dropped: " + error);
      store_.pop();
      continue;
    }
    // Kept by name (aliases may have changed since); sent by the present alias, as DATA
    // messages carry no names once a birth gave aliases.
    Payload p;
    p.timestamp_ms = stored.timestamp_ms;
    const auto& names = point_index_[it->second];
    for (ReceivedMetric& r : stored.metrics) {
      auto point = names.find(r.metric.name);
      if (point == names.end()) {
        counters_.history_dropped += 1;
        continue;
      }
      r.metric.alias = kFirstPointAlias + point->second;
      r.metric.name.clear();
      p.metrics.push_back(std::move(r.metric));
    }
    const size_t count = p.metrics.size();
    if (count == 0) {
      store_.pop();
      continue;
    }
    if (!send(device_topic(settings_.group_id, MessageType::kDData, settings_.edge_node_id, record.device), p, true)) {
      break;
    }
    counters_.historical_published += count;
    store_.pop();
  }
  store_.sync_head();
}

bool EdgeNode::ensure_loaded(int64_t now_ms) {
  if (loaded_) return true;
  if (now_ms < next_load_attempt_ms_) return false;
  next_load_attempt_ms_ = now_ms + kReloadRetryMs;
  if (!load_model()) return false;
  std::vector<PointSample> samples;
  if (source_.changes(cursor_, samples) != PointSource::Feed::kOk) {
    loaded_ = false;
    return false;
  }
  // The first look gives every value: births carry them.
  for (const PointSample& s : samples) apply(s);
  for (DeviceState& d : devices_) d.pending.clear();
  return true;
}

void EdgeNode::poll(int64_t now_ms) {
  if (!loaded_) {
    if (!ensure_loaded(now_ms)) return;
    if (publisher_ && host_online_) publish_births(now_ms);
  }
  std::vector<PointSample> samples;
  PointSource::Feed feed = source_.changes(cursor_, samples);
  if (feed == PointSource::Feed::kStale) {
    log("the driver's configuration changed: publishing births again");
    flush(now_ms);
    loaded_ = false;
    next_load_attempt_ms_ = 0;
    if (ensure_loaded(now_ms) && publisher_ && host_online_) publish_births(now_ms);
    return;
  }
  if (feed == PointSource::Feed::kFailed) return;
  std::vector<uint8_t> was_dead(devices_.size());
  for (uint32_t d = 0; d < devices_.size(); ++d) was_dead[d] = devices_[d].dead();
  for (const PointSample& s : samples) apply(s);
  {
    for (uint32_t d = 0; d < devices_.size(); ++d) {
      const bool dead = devices_[d].dead();
      if (dead && !was_dead[d]) {
        log("PLC " + model_.devices[d].name + " does not answer: DDEATH");
        if (online() && devices_[d].born) {
          // Changes before the failure still go out; the failure itself is what DDEATH says.
          auto& pending = devices_[d].pending;
          std::erase_if(pending, [](const PointSample& s) { return s.quality == HBT_QUALITY_COMM_FAILURE; });
          flush_device(d, now_ms);
          publish_device_death(d, now_ms);
        }
        devices_[d].pending.clear();
      } else if (!dead && was_dead[d]) {
        log("PLC " + model_.devices[d].name + " answers again: DBIRTH");
        if (online() && device_index_.count(model_.devices[d].name)) publish_device_birth(d, now_ms);
      }
    }
  }
  drain_store();
  if (now_ms >= next_flush_ms_) {
    flush(now_ms);
    // Ticks keep their schedule (a late loop does not stretch every interval), but a node
    // that fell far behind starts afresh instead of flushing in a burst.
    next_flush_ms_ += settings_.publish_interval_ms;
    if (next_flush_ms_ <= now_ms) next_flush_ms_ = now_ms + settings_.publish_interval_ms;
  }
  if (online() && now_ms >= next_node_data_ms_) {
    publish_node_data(now_ms, false);
    next_node_data_ms_ = now_ms + settings_.node_metrics_interval_ms;
  }
}

bool EdgeNode::publish_death(int64_t now_ms) {
  if (publisher_ == nullptr) return false;
  Payload p;
  p.timestamp_ms = static_cast<uint64_t>(now_ms);
  Metric m;
  m.name = "bdSeq";
  m.datatype = DataType::kUInt64;
  m.value = bd_seq_;
  p.metrics.push_back(std::move(m));
  const std::vector<uint8_t> bytes = encode_payload(p);
  return publisher_->publish(node_topic(settings_.group_id, MessageType::kNDeath, settings_.edge_node_id), bytes, 1,
                             false);
}

}  // namespace hbt::mqtt
