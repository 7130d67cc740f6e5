// The edge node's own metrics: bdSeq and the rebirth control the Sparkplug definition asks
// for, then the driver's state, the store and forward and the per-channel counters.
#include <algorithm>

#include "mqtt/edge_node.h"
#include "mqtt/metric_mapping.h"

namespace hbt::mqtt {
namespace {

constexpr uint64_t kRebirthAlias = 1;
constexpr uint64_t kFirstChannelAlias = 64;
constexpr uint64_t kAliasesPerChannel = 16;

Metric node_metric(std::string name, uint64_t alias, DataType type, Value value) {
  Metric m;
  m.name = std::move(name);
  m.alias = alias;
  m.datatype = type;
  m.value = std::move(value);
  return m;
}

}  // namespace

// Counters go as UInt64: its place on the wire (long_value) is the same for every decoder,
// where some older ones look for a UInt32 in long_value instead of int_value.
std::vector<Metric> EdgeNode::node_metrics() {
  std::vector<Metric> out;
  Metric bd;
  bd.name = "bdSeq";
  bd.datatype = DataType::kUInt64;
  bd.value = bd_seq_;
  out.push_back(std::move(bd));
  out.push_back(node_metric("Node Control/Rebirth", kRebirthAlias, DataType::kBoolean, false));
  const DriverStatus status = source_.status();
  out.push_back(node_metric("Driver/Running", 2, DataType::kBoolean, status.running));
  out.push_back(node_metric("Driver/Stalled", 3, DataType::kBoolean, status.stalled));
  out.push_back(node_metric("Driver/Configuration Generation", 4, DataType::kUInt64, uint64_t{model_.generation}));
  out.push_back(node_metric("Driver/Status", 5, DataType::kString, status.status_text));
  out.push_back(node_metric("Driver/Configuration File", 6, DataType::kString, status.config_path));
  out.push_back(node_metric("Driver/PLCs", 7, DataType::kUInt64, uint64_t{model_.devices.size()}));
  out.push_back(node_metric("Driver/Points", 8, DataType::kUInt64, uint64_t{model_.points.size()}));
  out.push_back(node_metric("Store and Forward/Queued", 9, DataType::kUInt64, store_.queued()));
  out.push_back(node_metric("Store and Forward/Dropped", 10, DataType::kUInt64,
                            store_.dropped() + counters_.history_dropped));
  out.push_back(node_metric("Store and Forward/Bytes", 11, DataType::kUInt64, store_.bytes()));
  out.push_back(node_metric("Commands/Refused", 12, DataType::kUInt64, counters_.commands_refused));
  out.push_back(node_metric("Commands/Writes", 13, DataType::kUInt64, counters_.writes));
  for (const ChannelCounters& c : source_.channels()) {
    if (c.channel == 0 || c.channel > 16) continue;
    const std::string prefix = "Channel " + std::to_string(c.channel) + "/";
    uint64_t alias = kFirstChannelAlias + (c.channel - 1) * kAliasesPerChannel;
    out.push_back(node_metric(prefix + "In Service", alias++, DataType::kBoolean, c.in_service));
    out.push_back(node_metric(prefix + "Address", alias++, DataType::kString, c.address));
    out.push_back(node_metric(prefix + "Requests Sent", alias++, DataType::kUInt64, uint64_t{c.requests_sent}));
    out.push_back(node_metric(prefix + "Replies Received", alias++, DataType::kUInt64, uint64_t{c.replies_received}));
    out.push_back(node_metric(prefix + "Retries", alias++, DataType::kUInt64, uint64_t{c.retries}));
    out.push_back(node_metric(prefix + "Reply Timeouts", alias++, DataType::kUInt64, uint64_t{c.reply_timeouts}));
    out.push_back(node_metric(prefix + "Rejected Replies", alias++, DataType::kUInt64, uint64_t{c.rejected_replies}));
    out.push_back(node_metric(prefix + "Abnormal Codes", alias++, DataType::kUInt64, uint64_t{c.abnormal_codes}));
    out.push_back(node_metric(prefix + "Polls Per Second", alias++, DataType::kDouble, c.polls_per_second));
  }
  return out;
}

void EdgeNode::publish_node_data(int64_t now_ms, bool all) {
  std::vector<Metric> now = node_metrics();
  Payload p;
  p.timestamp_ms = static_cast<uint64_t>(now_ms);
  // Metrics are matched by name: a channel that went out of service changes the list.
  for (const Metric& m : now) {
    if (!m.alias) continue;  // bdSeq belongs to births and deaths only
    auto old = std::find_if(last_node_metrics_.begin(), last_node_metrics_.end(),
                            [&](const Metric& o) { return o.name == m.name; });
    if (!all && old != last_node_metrics_.end() && old->value == m.value) continue;
    if (old == last_node_metrics_.end()) continue;  // not born: only a rebirth may add it
    Metric d;
    d.alias = m.alias;
    d.datatype = m.datatype;
    d.value = m.value;
    d.timestamp_ms = static_cast<uint64_t>(now_ms);
    p.metrics.push_back(std::move(d));
  }
  last_node_metrics_ = std::move(now);
  if (p.metrics.empty()) return;
  send(node_topic(settings_.group_id, MessageType::kNData, settings_.edge_node_id), p, true);
}

}  // namespace hbt::mqtt
