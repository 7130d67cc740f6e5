#include "mqtt/settings.h"

#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "mqtt/topics.h"

namespace hbt::mqtt {
namespace {

std::string trim(std::string_view s) {
  size_t b = s.find_first_not_of(" \t\r");
  if (b == std::string_view::npos) return {};
  size_t e = s.find_last_not_of(" \t\r");
  return std::string(s.substr(b, e - b + 1));
}

bool parse_u64(const std::string& text, uint64_t& out) {
  if (text.empty()) return false;
  auto [p, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
  return ec == std::errc() && p == text.data() + text.size();
}

bool parse_u32(const std::string& text, uint32_t& out, uint32_t low, uint32_t high) {
  uint64_t v;
  if (!parse_u64(text, v) || v < low || v > high) return false;
  out = static_cast<uint32_t>(v);
  return true;
}

// 64M, 512K, 2G or plain bytes.
bool parse_size(const std::string& text, uint64_t& out) {
  if (text.empty()) return false;
  uint64_t scale = 1;
  std::string digits = text;
  switch (text.back()) {
    case 'K': case 'k': scale = 1ull << 10; digits.pop_back(); break;
    case 'M': case 'm': scale = 1ull << 20; digits.pop_back(); break;
    case 'G': case 'g': scale = 1ull << 30; digits.pop_back(); break;
    default: break;
  }
  uint64_t v;
  if (!parse_u64(digits, v) || v > (UINT64_MAX / scale)) return false;
  out = v * scale;
  return true;
}

bool parse_double(const std::string& text, double& out) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  out = std::strtod(text.c_str(), &end);
  return errno == 0 && end == text.c_str() + text.size() && out >= 0 && out == out;
}

// mqtt://host:port, mqtts://host:port, tcp://, ssl://, or host[:port]; [v6]:port too.
bool parse_broker(const std::string& url, Settings& s, std::string& why) {
  std::string rest = url;
  size_t scheme_end = url.find("://");
  if (scheme_end != std::string::npos) {
    std::string scheme = url.substr(0, scheme_end);
    if (scheme == "mqtts" || scheme == "ssl") {
      s.tls = true;
      s.port = 8883;
    } else if (scheme == "mqtt" || scheme == "tcp") {
      s.tls = false;
      s.port = 1883;
    } else {
      why = "unknown scheme \"" + scheme + "\" (mqtt:// or mqtts://)";
      return false;
    }
    rest = url.substr(scheme_end + 3);
  }
  if (!rest.empty() && rest.back() == '/') rest.pop_back();
  std::string host = rest, port;
  if (!rest.empty() && rest.front() == '[') {
    size_t close = rest.find(']');
    if (close == std::string::npos) {
      why = "unclosed [ in the address";
      return false;
    }
    host = rest.substr(1, close - 1);
    if (close + 1 < rest.size()) {
      if (rest[close + 1] != ':') {
        why = "text after the address";
        return false;
      }
      port = rest.substr(close + 2);
    }
  } else if (size_t colon = rest.rfind(':'); colon != std::string::npos) {
    host = rest.substr(0, colon);
    port = rest.substr(colon + 1);
  }
  if (host.empty() || host.find('/') != std::string::npos) {
    why = "no host name";
    return false;
  }
  s.host = host;
  if (!port.empty()) {
    uint32_t p;
    if (!parse_u32(port, p, 1, 65535)) {
      why = "port \"" + port + "\" is not 1..65535";
      return false;
    }
    s.port = static_cast<uint16_t>(p);
  }
  return true;
}

bool read_first_line(const std::string& path, std::string& out, std::string& why) {
  std::ifstream in(path);
  if (!in) {
    why = "cannot read " + path + ": " + std::strerror(errno);
    return false;
  }
  std::getline(in, out);
  if (!out.empty() && out.back() == '\r') out.pop_back();
  return true;
}

std::string default_store_dir(const Settings& s, const char* (*env)(const char*)) {
  std::string base;
  if (const char* state = env("STATE_DIRECTORY"); state && *state) {
    base = state;
    if (size_t colon = base.find(':'); colon != std::string::npos) base.resize(colon);  // systemd may list several
  } else if (const char* xdg = env("XDG_STATE_HOME"); xdg && *xdg) {
    base = std::string(xdg) + "/hbtmqtt";
  } else if (const char* home = env("HOME"); home && *home) {
    base = std::string(home) + "/.local/state/hbtmqtt";
  } else {
    base = "/var/tmp/hbtmqtt";
  }
  return base + "/" + s.group_id + "-" + s.edge_node_id;
}

}  // namespace

std::optional<Settings> parse_settings(const std::string& text, const std::string& origin, std::string& error,
                                       const char* (*env)(const char*)) {
  Settings s;
  std::string password_file;
  bool have_broker = false, have_host = false, have_port = false;
  std::istringstream lines(text);
  std::string line;
  int number = 0;
  auto fail = [&](const std::string& why) {
    error = number > 0 ? origin + ":" + std::to_string(number) + ": " + why : origin + ": " + why;
    return std::nullopt;
  };
  while (std::getline(lines, line)) {
    ++number;
    std::string content = trim(line);
    if (content.empty() || content[0] == '#') continue;
    size_t eq = content.find('=');
    if (eq == std::string::npos) return fail("expected key = value, got \"" + content + "\"");
    std::string key = trim(content.substr(0, eq));
    std::string value = trim(content.substr(eq + 1));
    std::string why;
    auto bad_value = [&](const std::string& expect) { return fail(key + ": \"" + value + "\" is not " + expect); };
    if (key == "broker") {
      if (!parse_broker(value, s, why)) return fail("broker: " + why);
      have_broker = true;
    } else if (key == "host") {
      if (value.empty()) return bad_value("a host name");
      s.host = value;
      have_host = true;
    } else if (key == "port") {
      uint32_t p;
      if (!parse_u32(value, p, 1, 65535)) return bad_value("a port 1..65535");
      s.port = static_cast<uint16_t>(p);
      have_port = true;
    } else if (key == "tls") {
      if (value != "on" && value != "off") return bad_value("on or off");
      s.tls = value == "on";
    } else if (key == "ca_file") {
      s.ca_file = value;
    } else if (key == "ca_path") {
      s.ca_path = value;
    } else if (key == "cert_file") {
      s.cert_file = value;
    } else if (key == "key_file") {
      s.key_file = value;
    } else if (key == "username") {
      s.username = value;
    } else if (key == "password") {
      s.password = value;
    } else if (key == "password_file") {
      password_file = value;
    } else if (key == "client_id") {
      if (value.empty() || value.size() > 65535) return bad_value("a client id");
      s.client_id = value;
    } else if (key == "keepalive") {
      if (!parse_u32(value, s.keepalive_s, 5, 65535)) return bad_value("seconds 5..65535");
    } else if (key == "reconnect_min_ms") {
      if (!parse_u32(value, s.reconnect_min_ms, 10, 3600000)) return bad_value("milliseconds 10..3600000");
    } else if (key == "reconnect_max_ms") {
      if (!parse_u32(value, s.reconnect_max_ms, 10, 3600000)) return bad_value("milliseconds 10..3600000");
    } else if (key == "group_id") {
      if (!valid_topic_id(value)) return bad_value("an id without / + # (and not empty)");
      s.group_id = value;
    } else if (key == "edge_node_id") {
      if (!valid_topic_id(value)) return bad_value("an id without / + # (and not empty)");
      s.edge_node_id = value;
    } else if (key == "primary_host_id") {
      if (!value.empty() && !valid_topic_id(value)) return bad_value("an id without / + #");
      s.primary_host_id = value;
    } else if (key == "publish_interval_ms") {
      if (!parse_u32(value, s.publish_interval_ms, 10, 3600000)) return bad_value("milliseconds 10..3600000");
    } else if (key == "node_metrics_interval_ms") {
      if (!parse_u32(value, s.node_metrics_interval_ms, 100, 86400000)) return bad_value("milliseconds 100..86400000");
    } else if (key == "deadband") {
      if (!parse_double(value, s.deadband)) return bad_value("a number 0 or more");
    } else if (key.rfind("deadband.", 0) == 0 && key.size() > 9) {
      double d;
      if (!parse_double(value, d)) return bad_value("a number 0 or more");
      std::string device = key.substr(9);
      for (char& c : device) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
      s.device_deadbands[device] = d;
    } else if (key == "store_forward_dir") {
      if (value.empty()) return bad_value("a folder");
      s.store_dir = value;
    } else if (key == "store_forward_max_bytes") {
      if (!parse_size(value, s.store_max_bytes) || s.store_max_bytes < 4096) {
        return bad_value("a size of 4096 bytes or more (K, M, G allowed)");
      }
    } else if (key == "tag_file") {
      s.tag_file = value;
    } else if (key == "host_library") {
      s.host_library = value;
    } else if (key == "update_ms") {
      if (!parse_u32(value, s.update_ms, 0, 60000)) return bad_value("milliseconds 0..60000");
    } else {
      return fail("unknown key \"" + key + "\"");
    }
  }
  number = 0;
  if (have_broker && (have_host || have_port)) return fail("give either broker or host and port, not both");
  if (s.group_id.empty()) return fail("group_id is missing");
  if (s.edge_node_id.empty()) return fail("edge_node_id is missing");
  if (s.reconnect_min_ms > s.reconnect_max_ms) return fail("reconnect_min_ms is above reconnect_max_ms");
  if (!password_file.empty()) {
    if (!s.password.empty()) return fail("give either password or password_file, not both");
    std::string why;
    if (!read_first_line(password_file, s.password, why)) return fail("password_file: " + why);
  }
  if (!s.password.empty() && s.username.empty()) return fail("a password needs a username");
  if (s.cert_file.empty() != s.key_file.empty()) return fail("cert_file and key_file go together");
  if (!s.ca_file.empty() || !s.ca_path.empty() || !s.cert_file.empty()) s.tls = true;
  if (s.tls && s.ca_file.empty() && s.ca_path.empty()) {
    return fail("TLS needs ca_file or ca_path to check the broker's certificate");
  }
  if (s.client_id.empty()) s.client_id = "hbtmqtt-" + s.group_id + "-" + s.edge_node_id;
  if (s.store_dir.empty()) s.store_dir = default_store_dir(s, env);
  return s;
}

std::optional<Settings> load_settings(const std::string& path, std::string& error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = "cannot read " + path + ": " + std::strerror(errno);
    return std::nullopt;
  }
  std::ostringstream text;
  text << in.rdbuf();
  return parse_settings(text.str(), path, error, [](const char* name) -> const char* { return std::getenv(name); });
}

}  // namespace hbt::mqtt
