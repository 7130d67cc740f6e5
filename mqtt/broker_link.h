// One MQTT session with the broker, on libmosquitto's network thread. Each connection gets a
// client of its own, dropped when the session ends: nothing queued for an old session (with
// that session's seq numbers) can go out on the next one, and every CONNECT carries the will
// of its own bdSeq. What the network thread learns is queued as events for the node's thread.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "mqtt/edge_node.h"
#include "mqtt/settings.h"

struct mosquitto;
struct mosquitto_message;

namespace hbt::mqtt {

struct BrokerEvent {
  enum class Kind {
    kConnected,  // CONNACK accepted
    kRefused,    // CONNACK refused: code, text
    kLost,       // the session ended: code, text
    kMessage,    // topic, payload
    kPublished,  // a QoS 1 message was acknowledged: mid
    kError       // the library gave up on the connection (TLS, protocol): text
  };
  Kind kind;
  int code = 0;
  std::string text;
  std::string topic;
  std::vector<uint8_t> payload;
};

class BrokerLink : public Publisher {
 public:
  explicit BrokerLink(const Settings& settings);
  ~BrokerLink() override;  // ends the session without DISCONNECT: the broker sends the will
  BrokerLink(const BrokerLink&) = delete;
  BrokerLink& operator=(const BrokerLink&) = delete;

  enum class Start { kStarted, kRetry, kFailed };
  // Starts connecting in the background with this will (QoS 1, not retained); the broker's
  // answer comes as an event. kRetry: the broker cannot be reached now (`error` says why);
  // kFailed: something here is wrong (TLS files, credentials, the host name).
  Start start(const std::string& will_topic, const std::vector<uint8_t>& will, std::string& error);
  bool subscribe(const std::vector<std::string>& topics);
  bool publish(const std::string& topic, std::span<const uint8_t> payload, int qos, bool retain) override;
  int last_mid() const { return last_mid_; }
  // A clean DISCONNECT (the broker drops the will), then the network thread ends.
  void disconnect();

  // Events since the last call; waits up to timeout_ms for the first.
  std::vector<BrokerEvent> take_events(uint32_t timeout_ms);

 private:
  static void on_connect(mosquitto*, void* self, int rc);
  static void on_disconnect(mosquitto*, void* self, int rc);
  static void on_message(mosquitto*, void* self, const mosquitto_message* message);
  static void on_publish(mosquitto*, void* self, int mid);
  static void on_log(mosquitto*, void* self, int level, const char* text);
  void push(BrokerEvent event);

  const Settings& settings_;
  mosquitto* client_ = nullptr;
  bool thread_started_ = false;
  int last_mid_ = 0;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<BrokerEvent> events_;
};

}  // namespace hbt::mqtt
