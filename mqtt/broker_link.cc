#include "mqtt/broker_link.h"

#include <mosquitto.h>

#include <chrono>
#include <cstring>
#include <fstream>

namespace hbt::mqtt {
namespace {

struct LibraryInit {
  LibraryInit() { mosquitto_lib_init(); }
  ~LibraryInit() { mosquitto_lib_cleanup(); }
};

bool readable(const std::string& path, std::string& error, const char* what) {
  if (path.empty()) return true;
  std::ifstream in(path);
  if (in) return true;
  error = std::string("cannot read the ") + what + " " + path + ": " + std::strerror(errno);
  return false;
}

}  // namespace

BrokerLink::BrokerLink(const Settings& settings) : settings_(settings) {
  static LibraryInit init;
  client_ = mosquitto_new(settings_.client_id.c_str(), true, this);
}

BrokerLink::~BrokerLink() {
  if (client_ == nullptr) return;
  if (thread_started_) mosquitto_loop_stop(client_, true);
  mosquitto_destroy(client_);
}

BrokerLink::Start BrokerLink::start(const std::string& will_topic, const std::vector<uint8_t>& will, std::string& error) {
  if (client_ == nullptr) {
    error = "cannot create an MQTT client";
    return Start::kFailed;
  }
  mosquitto_int_option(client_, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
  // Each message is a whole batch already (one per PLC per interval): waiting for more bytes
  // to fill a segment would only add delay.
  mosquitto_int_option(client_, MOSQ_OPT_TCP_NODELAY, 1);
  mosquitto_connect_callback_set(client_, &BrokerLink::on_connect);
  mosquitto_disconnect_callback_set(client_, &BrokerLink::on_disconnect);
  mosquitto_message_callback_set(client_, &BrokerLink::on_message);
  mosquitto_publish_callback_set(client_, &BrokerLink::on_publish);
  mosquitto_log_callback_set(client_, &BrokerLink::on_log);
  // The library only retries the TCP connection itself, between the bounds configured.
  mosquitto_reconnect_delay_set(client_, std::max(1u, settings_.reconnect_min_ms / 1000),
                                std::max(1u, settings_.reconnect_max_ms / 1000), true);
  int rc = mosquitto_will_set(client_, will_topic.c_str(), static_cast<int>(will.size()), will.data(), 1, false);
  if (rc != MOSQ_ERR_SUCCESS) {
    error = std::string("cannot set the will: ") + mosquitto_strerror(rc);
    return Start::kFailed;
  }
  if (!settings_.username.empty()) {
    rc = mosquitto_username_pw_set(client_, settings_.username.c_str(),
                                   settings_.password.empty() ? nullptr : settings_.password.c_str());
    if (rc != MOSQ_ERR_SUCCESS) {
      error = std::string("bad username or password setting: ") + mosquitto_strerror(rc);
      return Start::kFailed;
    }
  }
  if (settings_.tls) {
    if (!readable(settings_.ca_file, error, "CA file") || !readable(settings_.cert_file, error, "certificate file") ||
        !readable(settings_.key_file, error, "key file")) {
      return Start::kFailed;
    }
    rc = mosquitto_tls_set(client_, settings_.ca_file.empty() ? nullptr : settings_.ca_file.c_str(),
                           settings_.ca_path.empty() ? nullptr : settings_.ca_path.c_str(),
                           settings_.cert_file.empty() ? nullptr : settings_.cert_file.c_str(),
                           settings_.key_file.empty() ? nullptr : settings_.key_file.c_str(), nullptr);
    if (rc != MOSQ_ERR_SUCCESS) {
      error = std::string("TLS settings refused: ") + mosquitto_strerror(rc);
      return Start::kFailed;
    }
    // The broker's certificate must chain to the CA and name the host we asked for.
    mosquitto_tls_opts_set(client_, 1, "tlsv1.2", nullptr);
    mosquitto_tls_insecure_set(client_, false);
  }
  rc = mosquitto_connect_async(client_, settings_.host.c_str(), settings_.port, static_cast<int>(settings_.keepalive_s));
  if (rc == MOSQ_ERR_ERRNO) {
    // Refused at once (nothing listens there yet): the library would not try again itself.
    error = std::string("cannot connect to ") + settings_.host + ":" + std::to_string(settings_.port) + ": " +
            std::strerror(errno);
    return Start::kRetry;
  }
  if (rc != MOSQ_ERR_SUCCESS) {
    const std::string where = settings_.host + ":" + std::to_string(settings_.port);
    error = rc == MOSQ_ERR_TLS ? "TLS with " + where + " failed: " : "cannot connect to " + where + ": ";
    error += mosquitto_strerror(rc);
    // The library's own words on it (OpenSSL's reason for a refused certificate).
    for (const BrokerEvent& e : take_events(0)) {
      if (e.kind == BrokerEvent::Kind::kError) error += " (" + e.text + ")";
    }
    return Start::kFailed;
  }
  rc = mosquitto_loop_start(client_);
  if (rc != MOSQ_ERR_SUCCESS) {
    error = std::string("cannot start the MQTT network thread: ") + mosquitto_strerror(rc);
    return Start::kFailed;
  }
  thread_started_ = true;
  return Start::kStarted;
}

bool BrokerLink::subscribe(const std::vector<std::string>& topics) {
  for (const std::string& topic : topics) {
    if (mosquitto_subscribe(client_, nullptr, topic.c_str(), 1) != MOSQ_ERR_SUCCESS) return false;
  }
  return true;
}

bool BrokerLink::publish(const std::string& topic, std::span<const uint8_t> payload, int qos, bool retain) {
  int mid = 0;
  const int rc = mosquitto_publish(client_, &mid, topic.c_str(), static_cast<int>(payload.size()), payload.data(), qos,
                                   retain);
  if (rc != MOSQ_ERR_SUCCESS) return false;
  last_mid_ = mid;
  return true;
}

void BrokerLink::disconnect() {
  if (client_ == nullptr) return;
  mosquitto_disconnect(client_);
  if (thread_started_) {
    mosquitto_loop_stop(client_, false);
    thread_started_ = false;
  }
}

std::vector<BrokerEvent> BrokerLink::take_events(uint32_t timeout_ms) {
  std::unique_lock lock(mutex_);
  if (events_.empty() && timeout_ms > 0) {
    changed_.wait_for(lock, std::chrono::milliseconds(timeout_ms), [this] { return !events_.empty(); });
  }
  std::vector<BrokerEvent> out(std::make_move_iterator(events_.begin()), std::make_move_iterator(events_.end()));
  events_.clear();
  return out;
}

void BrokerLink::push(BrokerEvent event) {
  {
    std::lock_guard lock(mutex_);
    events_.push_back(std::move(event));
  }
  changed_.notify_all();
}

void BrokerLink::on_connect(mosquitto* client, void* self, int rc) {
  auto* link = static_cast<BrokerLink*>(self);
  if (rc == 0) {
    link->push({BrokerEvent::Kind::kConnected});
    return;
  }
  // A refusal is final for this client: the node decides whether and when to try again.
  mosquitto_disconnect(client);
  link->push({BrokerEvent::Kind::kRefused, rc, mosquitto_connack_string(rc)});
}

void BrokerLink::on_disconnect(mosquitto* client, void* self, int rc) {
  auto* link = static_cast<BrokerLink*>(self);
  // Stops the library from reconnecting this client: the next session gets a new client.
  mosquitto_disconnect(client);
  link->push({BrokerEvent::Kind::kLost, rc, rc == 0 ? "disconnected" : mosquitto_strerror(rc)});
}

void BrokerLink::on_message(mosquitto*, void* self, const mosquitto_message* message) {
  BrokerEvent e{BrokerEvent::Kind::kMessage};
  e.topic = message->topic ? message->topic : "";
  const auto* bytes = static_cast<const uint8_t*>(message->payload);
  if (bytes != nullptr && message->payloadlen > 0) e.payload.assign(bytes, bytes + message->payloadlen);
  static_cast<BrokerLink*>(self)->push(std::move(e));
}

void BrokerLink::on_publish(mosquitto*, void* self, int mid) {
  static_cast<BrokerLink*>(self)->push({BrokerEvent::Kind::kPublished, mid});
}

void BrokerLink::on_log(mosquitto*, void* self, int level, const char* text) {
  // Only failures that end the connection without a callback (TLS handshakes above all).
  if (level != MOSQ_LOG_ERR || text == nullptr) return;
  static_cast<BrokerLink*>(self)->push({BrokerEvent::Kind::kError, 0, text});
}

}  // namespace hbt::mqtt
