// What comes to the node from hosts: NCMD (rebirth), DCMD (writes to PLC values) and the
// primary host's STATE. Every payload is checked whole before anything is done: a command
// with an unknown metric or a value of the wrong type is refused and logged, nothing of it
// is written, and the node carries on.
#include <nlohmann/json.hpp>

#include "mqtt/edge_node.h"
#include "mqtt/metric_mapping.h"

namespace hbt::mqtt {
namespace {

std::string metric_label(const ReceivedMetric& r) {
  if (r.has_name) return "\"" + r.metric.name + "\"";
  if (r.metric.alias) return "alias " + std::to_string(*r.metric.alias);
  return "(no name, no alias)";
}

}  // namespace

EdgeNode::Action EdgeNode::message(const std::string& topic, std::span<const uint8_t> payload, int64_t now_ms) {
  if (!settings_.primary_host_id.empty() && topic == state_topic(settings_.primary_host_id)) {
    return host_state(payload, now_ms);
  }
  auto parsed = parse_topic(topic);
  if (!parsed || parsed->group != settings_.group_id || parsed->edge != settings_.edge_node_id ||
      (parsed->type != MessageType::kNCmd && parsed->type != MessageType::kDCmd)) {
    log("warning: a message on " + topic + " ignored: not a command to this node");
    return Action::kNone;
  }
  if (parsed->type == MessageType::kNCmd) return node_command(payload, now_ms);
  device_command(parsed->device, payload, now_ms);
  return Action::kNone;
}

EdgeNode::Action EdgeNode::node_command(std::span<const uint8_t> payload, int64_t now_ms) {
  ReceivedPayload command;
  std::string error;
  if (!decode_payload(payload, command, error)) {
    log("warning: NCMD refused: " + error);
    counters_.commands_refused += 1;
    return Action::kNone;
  }
  bool rebirth = false;
  std::vector<std::string> problems;
  for (const ReceivedMetric& r : command.metrics) {
    const bool is_rebirth = (r.has_name && r.metric.name == "Node Control/Rebirth") ||
                            (!r.has_name && r.metric.alias == uint64_t{1});
    if (!is_rebirth) {
      problems.push_back(metric_label(r) + ": not a node control this node has");
    } else if (!r.problem.empty()) {
      problems.push_back(metric_label(r) + ": " + r.problem);
    } else if (r.metric.datatype != DataType::kBoolean) {
      problems.push_back(metric_label(r) + ": a " + std::string(data_type_name(r.metric.datatype)) +
                         " value, not a Boolean");
    } else if (auto* b = std::get_if<bool>(&r.metric.value); b && *b) {
      rebirth = true;
    }
  }
  if (command.metrics.empty()) problems.push_back("no metrics");
  if (!problems.empty()) {
    for (const std::string& p : problems) log("warning: NCMD refused: " + p);
    counters_.commands_refused += 1;
    return Action::kNone;
  }
  if (rebirth) {
    log("rebirth asked for: NBIRTH and DBIRTHs again");
    if (publisher_ && host_online_) publish_births(now_ms);
  }
  return Action::kNone;
}

void EdgeNode::device_command(const std::string& device, std::span<const uint8_t> payload, int64_t now_ms) {
  auto device_it = device_index_.find(device);
  if (device_it == device_index_.end()) {
    log("warning: DCMD refused: no PLC \"" + device + "\" on this node");
    counters_.commands_refused += 1;
    return;
  }
  const uint32_t d = device_it->second;
  ReceivedPayload command;
  std::string error;
  if (!decode_payload(payload, command, error)) {
    log("warning: DCMD to " + device + " refused: " + error);
    counters_.commands_refused += 1;
    return;
  }
  std::vector<PointSample> writes;
  std::vector<std::string> problems;
  std::vector<std::pair<uint32_t, std::string>> refused;  // point id, why: reported back
  for (const ReceivedMetric& r : command.metrics) {
    uint32_t id = UINT32_MAX;
    if (r.has_name) {
      auto it = point_index_[d].find(r.metric.name);
      if (it != point_index_[d].end()) id = it->second;
    } else if (r.metric.alias && *r.metric.alias >= kFirstPointAlias &&
               *r.metric.alias - kFirstPointAlias < model_.points.size() &&
               model_.points[*r.metric.alias - kFirstPointAlias].device == d) {
      id = static_cast<uint32_t>(*r.metric.alias - kFirstPointAlias);
    }
    if (id == UINT32_MAX) {
      problems.push_back(metric_label(r) + ": no such metric on " + device);
      continue;
    }
    const PointDescription& point = model_.points[id];
    std::string why = r.problem;
    PointSample value;
    if (why.empty() && !point.writable) why = "read-only";
    if (why.empty() && !command_to_write(point, r.metric, value, why)) {
      // why is set
    }
    if (!why.empty()) {
      problems.push_back(metric_label(r) + ": " + why);
      refused.emplace_back(id, why.find(" value for a ") != std::string::npos ? "type mismatch" : why);
      continue;
    }
    writes.push_back(std::move(value));
  }
  if (command.metrics.empty()) problems.push_back("no metrics");
  if (!problems.empty()) {
    for (const std::string& p : problems) log("warning: DCMD to " + device + " refused: " + p);
    counters_.commands_refused += 1;
    report_write_results(d, refused, now_ms);
    return;
  }
  const std::vector<int32_t> results = source_.write(writes);
  counters_.writes += writes.size();
  std::vector<std::pair<uint32_t, std::string>> reported;
  for (size_t i = 0; i < writes.size(); ++i) {
    const int32_t result = i < results.size() ? results[i] : HBT_WRITE_COMM_FAILURE;
    if (result == HBT_WRITE_OK) continue;
    const std::string text = write_result_text(result);
    log(std::string(result == HBT_WRITE_CLAMPED ? "" : "warning: ") + "DCMD to " + device + ": " +
        model_.points[writes[i].id].name + ": " + text);
    reported.emplace_back(writes[i].id, text);
  }
  report_write_results(d, reported, now_ms);
}

void EdgeNode::report_write_results(uint32_t device, const std::vector<std::pair<uint32_t, std::string>>& results,
                                    int64_t now_ms) {
  if (results.empty() || !online() || !devices_[device].born) return;
  Payload p;
  p.timestamp_ms = static_cast<uint64_t>(now_ms);
  for (const auto& [id, text] : results) {
    const PointDescription& point = model_.points[id];
    Metric m;
    m.alias = kFirstPointAlias + id;
    m.datatype = datatype_of(point.type);
    m.timestamp_ms = static_cast<uint64_t>(now_ms);
    if (have_current_[id]) m.value = value_of(current_[id]);
    m.properties.push_back({"Write Result", DataType::kString, text});
    p.metrics.push_back(std::move(m));
  }
  send(device_topic(settings_.group_id, MessageType::kDData, settings_.edge_node_id, model_.devices[device].name), p,
       true);
}

EdgeNode::Action EdgeNode::host_state(std::span<const uint8_t> payload, int64_t now_ms) {
  // {"online": true, "timestamp": <ms>}: a STATE older than the last one seen is stale.
  auto json = nlohmann::json::parse(payload.begin(), payload.end(), nullptr, false);
  if (json.is_discarded() || !json.is_object() || !json.contains("online") || !json["online"].is_boolean()) {
    log("warning: a STATE message of the primary host ignored: not {\"online\": ..., \"timestamp\": ...}");
    return Action::kNone;
  }
  const bool online_now = json["online"].get<bool>();
  uint64_t timestamp = 0;
  if (json.contains("timestamp") && json["timestamp"].is_number_unsigned()) timestamp = json["timestamp"].get<uint64_t>();
  if (timestamp < host_timestamp_) return Action::kNone;
  host_timestamp_ = timestamp;
  if (online_now) {
    if (!host_online_) {
      log("the primary host \"" + settings_.primary_host_id + "\" is online: births");
      host_online_ = true;
      if (publisher_ && !births_done_) publish_births(now_ms);
    }
    return Action::kNone;
  }
  if (!host_online_) return Action::kNone;
  host_online_ = false;
  log("the primary host \"" + settings_.primary_host_id + "\" went offline: disconnecting until it is back");
  return births_done_ ? Action::kReconnect : Action::kNone;
}

}  // namespace hbt::mqtt
