#include "mqtt/node_service.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>

#include "mqtt/broker_link.h"

namespace hbt::mqtt {
namespace {

int64_t wall_ms() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
      .count();
}

int64_t steady_ms() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// How long the node waits for the driver between looks at the broker's events.
constexpr uint32_t kWaitMs = 10;
// A session that lasted this long resets the backoff to its minimum.
constexpr int64_t kStableSessionMs = 30000;

}  // namespace

NodeService::NodeService(Settings settings, PointSource& source, LogSink log)
    : settings_(std::move(settings)), source_(source), log_(std::move(log)) {}

// bdSeq goes 0..255 and on by one with every session the broker accepted, across restarts
// too, so that a host can tell an old session's death (a will the broker delivers late) from
// the present one's. Attempts that never reached the broker use no number up.
uint64_t NodeService::next_bd_seq() const {
  int64_t last = -1;
  if (std::ifstream in(settings_.store_dir + "/bdseq"); in) in >> last;
  return last < 0 ? 0 : static_cast<uint64_t>(last + 1) % 256;
}

void NodeService::bd_seq_used(uint64_t bd_seq) const {
  const std::string path = settings_.store_dir + "/bdseq";
  const std::string tmp = path + ".tmp";
  if (FILE* f = std::fopen(tmp.c_str(), "w")) {
    std::fprintf(f, "%llu\n", static_cast<unsigned long long>(bd_seq));
    std::fclose(f);
    std::rename(tmp.c_str(), path.c_str());
  }
}

int NodeService::run(const std::atomic<bool>& stop, std::string& error) {
  StoreForward store(settings_.store_dir, settings_.store_max_bytes);
  if (!store.open(error)) return 1;
  if (!store.empty()) log("store and forward: " + std::to_string(store.queued()) + " batches from an earlier run");
  EdgeNode node(settings_, source_, store, log_);
  const std::string will_topic = node_topic(settings_.group_id, MessageType::kNDeath, settings_.edge_node_id);
  const std::string broker = settings_.host + ":" + std::to_string(settings_.port);

  std::unique_ptr<BrokerLink> link;
  bool session_up = false;
  bool ever_connected = false;
  int64_t next_attempt = 0;
  int64_t attempt_started = 0;
  int64_t session_started = 0;
  int64_t last_waiting_note = 0;
  uint32_t backoff = settings_.reconnect_min_ms;
  uint64_t bd_seq = 0;

  auto end_session = [&](const std::string& why) {
    if (session_up) node.disconnected();
    session_up = false;
    link.reset();
    const int64_t now = steady_ms();
    if (session_started && now - session_started >= kStableSessionMs) backoff = settings_.reconnect_min_ms;
    next_attempt = now + backoff;
    log(why + "; next attempt in " + std::to_string(backoff) + " ms");
    backoff = std::min(backoff * 2, settings_.reconnect_max_ms);
    session_started = 0;
  };

  while (!stop.load()) {
    const int64_t mono = steady_ms();
    if (!link && mono >= next_attempt) {
      bd_seq = next_bd_seq();
      link = std::make_unique<BrokerLink>(settings_);
      std::string why;
      const BrokerLink::Start started = link->start(will_topic, node.death_payload(bd_seq), why);
      if (started == BrokerLink::Start::kFailed) {
        error = why;
        return 1;
      }
      if (started == BrokerLink::Start::kRetry) end_session(why);
      attempt_started = mono;
      last_waiting_note = mono;
    }
    if (link) {
      for (BrokerEvent& e : link->take_events(0)) {
        switch (e.kind) {
          case BrokerEvent::Kind::kConnected:
            log("connected to " + broker + " (bdSeq " + std::to_string(bd_seq) + ")");
            ever_connected = true;
            session_up = true;
            bd_seq_used(bd_seq);
            session_started = steady_ms();
            link->subscribe(node.subscriptions());
            node.connected(*link, bd_seq, wall_ms());
            break;
          case BrokerEvent::Kind::kRefused:
            if (!ever_connected) {
              error = "the broker " + broker + " refused the connection: " + e.text;
              link.reset();
              return 1;
            }
            end_session("the broker " + broker + " refused the connection: " + e.text);
            break;
          case BrokerEvent::Kind::kLost:
            if (link) end_session("the connection to " + broker + " was lost: " + e.text);
            break;
          case BrokerEvent::Kind::kError:
            if (!ever_connected && e.text.find("OpenSSL") != std::string::npos) {
              error = "TLS with " + broker + " failed: " + e.text;
              link.reset();
              return 1;
            }
            log("warning: MQTT: " + e.text);
            break;
          case BrokerEvent::Kind::kMessage:
            if (session_up && node.message(e.topic, e.payload, wall_ms()) == EdgeNode::Action::kReconnect) {
              node.publish_death(wall_ms());
              link->disconnect();
              end_session("disconnected while the primary host is offline");
              next_attempt = steady_ms() + settings_.reconnect_min_ms;
            }
            break;
          case BrokerEvent::Kind::kPublished:
            break;
        }
        if (!link) break;
      }
      if (link && !session_up && mono - last_waiting_note >= 30000) {
        log("warning: no connection to the broker " + broker + " for " +
            std::to_string((mono - attempt_started) / 1000) + " s; still trying");
        last_waiting_note = mono;
      }
    }
    node.poll(wall_ms());
    source_.wait(kWaitMs);
  }

  // A clean stop: NDEATH with this session's bdSeq, acknowledged, then DISCONNECT (which
  // makes the broker drop the will, so hosts see exactly one death).
  if (link && session_up) {
    if (node.publish_death(wall_ms())) {
      const int mid = link->last_mid();
      const int64_t deadline = steady_ms() + 3000;
      bool acknowledged = false;
      while (!acknowledged && steady_ms() < deadline) {
        for (const BrokerEvent& e : link->take_events(50)) {
          if (e.kind == BrokerEvent::Kind::kPublished && e.code == mid) acknowledged = true;
          if (e.kind == BrokerEvent::Kind::kLost) acknowledged = true;  // nothing more to wait for
        }
      }
      log(acknowledged ? "NDEATH sent" : "warning: NDEATH not acknowledged by the broker");
    }
    link->disconnect();
  }
  node.disconnected();
  return 0;
}

}  // namespace hbt::mqtt
