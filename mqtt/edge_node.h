// The Sparkplug B edge node without its network: it turns the driver's change feed into
// NBIRTH, DBIRTH, DDATA, DDEATH and NDATA messages, answers NCMD and DCMD, keeps seq and
// bdSeq, and puts what cannot be published into the store and forward. The connection to
// the broker (BrokerLink) calls connected/disconnected/message; a loop calls poll.
//
// Threading: one thread calls every member.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "mqtt/point_source.h"
#include "mqtt/settings.h"
#include "mqtt/sparkplug_payload.h"
#include "mqtt/store_forward.h"
#include "mqtt/topics.h"

namespace hbt::mqtt {

// Where the node's messages go while a broker session is up.
class Publisher {
 public:
  virtual ~Publisher() = default;
  // False when the session cannot take the message any more.
  virtual bool publish(const std::string& topic, std::span<const uint8_t> payload, int qos, bool retain) = 0;
};

using LogSink = std::function<void(std::string_view line)>;

struct NodeCounters {
  uint64_t commands_refused = 0;
  uint64_t writes = 0;
  uint64_t messages_published = 0;
  uint64_t metrics_published = 0;
  uint64_t historical_published = 0;
  uint64_t history_dropped = 0;   // stored batches of PLCs that were not online to take them
};

class EdgeNode {
 public:
  // What the connection should do after a message.
  enum class Action { kNone, kReconnect };

  EdgeNode(Settings settings, PointSource& source, StoreForward& store, LogSink log);

  // The NDEATH payload for a session with this bdSeq: the will registered at CONNECT.
  std::vector<uint8_t> death_payload(uint64_t bd_seq) const;
  // The topics to subscribe to at every connection (NCMD, DCMD, and the host's STATE).
  std::vector<std::string> subscriptions() const;

  // A session is up (CONNACK accepted) with this bdSeq in its will; births follow at once,
  // or once the primary host says it is online.
  void connected(Publisher& publisher, uint64_t bd_seq, int64_t now_ms);
  // The session is gone: from now on data goes to the store and forward.
  void disconnected();
  Action message(const std::string& topic, std::span<const uint8_t> payload, int64_t now_ms);
  // Reads the change feed, publishes or stores what is due. Call often (every few ms to every
  // publish interval); `now_ms` is the wall clock (Unix ms).
  void poll(int64_t now_ms);
  // Publishes NDEATH with the session's bdSeq before a clean disconnect; true when handed over.
  bool publish_death(int64_t now_ms);

  bool online() const { return publisher_ != nullptr && births_done_; }
  bool waiting_for_host() const { return publisher_ != nullptr && !host_online_; }
  const NodeCounters& counters() const { return counters_; }
  const PlantModel& model() const { return model_; }
  uint8_t seq() const { return seq_; }

 private:
  struct DeviceState {
    bool born = false;              // DBIRTH sent in this session
    uint32_t points = 0;
    uint32_t failed = 0;            // points in communication failure
    std::vector<PointSample> pending;  // changes since the last flush, in feed order
    bool dead() const { return points > 0 && failed == points; }
  };

  bool load_model();
  // Loads the lists and takes the first look at every value, once; false while it cannot.
  bool ensure_loaded(int64_t now_ms);
  void apply(const PointSample& sample);
  void publish_births(int64_t now_ms);
  void publish_device_birth(uint32_t device, int64_t now_ms);
  void publish_device_death(uint32_t device, int64_t now_ms);
  void flush(int64_t now_ms);
  void flush_device(uint32_t device, int64_t now_ms);
  void drain_store();
  void publish_node_data(int64_t now_ms, bool all);
  std::vector<Metric> node_metrics();
  bool send(const std::string& topic, Payload& payload, bool with_seq);
  Action node_command(std::span<const uint8_t> payload, int64_t now_ms);
  void device_command(const std::string& device, std::span<const uint8_t> payload, int64_t now_ms);
  Action host_state(std::span<const uint8_t> payload, int64_t now_ms);
  void report_write_results(uint32_t device, const std::vector<std::pair<uint32_t, std::string>>& results, int64_t now_ms);
  double deadband_of(const PointDescription& point) const;
  void log(const std::string& line) const { if (log_) log_(line); }

  Settings settings_;
  PointSource& source_;
  StoreForward& store_;
  LogSink log_;

  // The driver's side.
  bool loaded_ = false;
  int64_t next_load_attempt_ms_ = 0;
  PlantModel model_;
  uint64_t cursor_ = 0;
  std::vector<PointSample> current_;      // latest sample of every point
  std::vector<uint8_t> have_current_;
  std::vector<PointSample> published_;    // last value sent of every point (deadband base)
  std::vector<DeviceState> devices_;
  std::unordered_map<std::string, uint32_t> device_index_;
  std::vector<std::unordered_map<std::string, uint32_t>> point_index_;  // per device: name -> id

  // The session's side.
  Publisher* publisher_ = nullptr;
  uint64_t bd_seq_ = 0;
  uint8_t seq_ = 0;
  bool host_online_ = true;
  uint64_t host_timestamp_ = 0;
  bool births_done_ = false;
  int64_t next_flush_ms_ = 0;
  int64_t next_node_data_ms_ = 0;
  std::vector<Metric> last_node_metrics_;
  NodeCounters counters_;
};

}  // namespace hbt::mqtt
