// The edge node's settings file: `key = value` lines, `#` starts a comment. Every key, its
// default and its meaning are in the README; a bad line is an error that names the line.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>

namespace hbt::mqtt {

struct Settings {
  // Broker.
  std::string host = "localhost";
  uint16_t port = 1883;
  bool tls = false;             // mqtts:// or a CA file given
  std::string ca_file;          // PEM bundle the broker's certificate must chain to
  std::string ca_path;          // or a folder of hashed certificates
  std::string cert_file;        // client certificate (optional, with key_file)
  std::string key_file;
  std::string username;
  std::string password;         // from `password` or the first line of `password_file`
  std::string client_id;        // default hbtmqtt-GROUP-EDGE
  uint32_t keepalive_s = 30;
  uint32_t reconnect_min_ms = 500;
  uint32_t reconnect_max_ms = 30000;
  // Sparkplug identity.
  std::string group_id;
  std::string edge_node_id;
  std::string primary_host_id;  // empty: publish without waiting for a host's STATE
  // Publishing.
  uint32_t publish_interval_ms = 1000;
  uint32_t node_metrics_interval_ms = 10000;
  double deadband = 0;                         // absolute, for every numeric value
  std::map<std::string, double> device_deadbands;  // deadband.PLC = value
  // Store and forward.
  std::string store_dir;
  uint64_t store_max_bytes = 64ull << 20;
  // The driver.
  std::string tag_file;
  std::string host_library;
  uint32_t update_ms = 0;        // how often the points session looks at the image; 0: its own
};

// Reads and checks a settings file. On failure `error` says which line and why.
std::optional<Settings> load_settings(const std::string& path, std::string& error);

// Parses settings text; `origin` names it in errors. `environment` looks up variables
// (STATE_DIRECTORY, XDG_STATE_HOME, HOME) for the default store folder.
std::optional<Settings> parse_settings(const std::string& text, const std::string& origin, std::string& error,
                                       const char* (*environment)(const char*));

}  // namespace hbt::mqtt
