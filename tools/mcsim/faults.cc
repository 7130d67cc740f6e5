// Fault injection of one endpoint.
#include "tools/mcsim/faults.h"

#include <charconv>
#include <cstdio>

namespace hbt::mcsim {

std::optional<long long> parse_integer(std::string_view t) {
  bool negative = false;
  if (!t.empty() && (t[0] == '-' || t[0] == '+')) {
    negative = t[0] == '-';
    t.remove_prefix(1);
  }
  int base = 10;
  if (t.size() > 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X')) {
    base = 16;
    t.remove_prefix(2);
  }
  if (t.empty()) return std::nullopt;
  long long v = 0;
  auto [p, ec] = std::from_chars(t.data(), t.data() + t.size(), v, base);
  if (ec != std::errc() || p != t.data() + t.size()) return std::nullopt;
  return negative ? -v : v;
}

static std::optional<double> parse_double(std::string_view t) {
  if (t.empty()) return std::nullopt;
  double v = 0;
  auto [p, ec] = std::from_chars(t.data(), t.data() + t.size(), v);
  if (ec != std::errc() || p != t.data() + t.size()) return std::nullopt;
  return v;
}

std::optional<double> parse_duration_ms(std::string_view t) {
  double scale = 1;
  if (t.ends_with("ms")) {
    t.remove_suffix(2);
  } else if (t.ends_with("s")) {
    t.remove_suffix(1);
    scale = 1000;
  } else if (t.ends_with("m")) {
    t.remove_suffix(1);
    scale = 60000;
  }
  auto v = parse_double(t);
  if (!v || *v < 0) return std::nullopt;
  return *v * scale;
}

std::optional<double> parse_share(std::string_view t) {
  double scale = 1;
  if (t.ends_with("%")) {
    t.remove_suffix(1);
    scale = 0.01;
  }
  auto v = parse_double(t);
  if (!v) return std::nullopt;
  double share = *v * scale;
  if (share < 0 || share > 1) return std::nullopt;
  return share;
}

bool Faults::chance(double share) {
  if (share <= 0) return false;
  if (share >= 1) return true;
  return std::uniform_real_distribution<double>(0, 1)(rng_) < share;
}

ReplyPlan Faults::plan() {
  ReplyPlan p;
  if (s_.silent) {
    p.silent = true;
    return p;
  }
  if (chance(s_.close)) {
    p.close = true;
    return p;
  }
  if (chance(s_.drop)) {
    p.drop = true;
    return p;
  }
  if (s_.code_on && chance(s_.code_share)) {
    p.forced = {true, s_.code, s_.extended};
  }
  p.wrong_command = chance(s_.wrong_command);
  p.delay_ms = s_.delay_ms;
  if (s_.delay_jitter_ms > 0) {
    p.delay_ms += std::uniform_int_distribution<int>(0, s_.delay_jitter_ms)(rng_);
  }
  if (s_.slow_ms > 0 && chance(s_.slow_share)) p.delay_ms += s_.slow_ms;
  p.split_bytes = s_.split_bytes;
  p.split_gap_ms = s_.split_gap_ms;
  p.join = s_.join;
  p.serial = s_.serial;
  return p;
}

std::string Faults::configure(const std::vector<std::string_view>& in) {
  if (in.empty()) return "missing fault kind";
  // A trailing p=SHARE applies to the kinds that happen at random.
  std::vector<std::string_view> args = in;
  std::optional<double> share;
  if (args.size() > 1 && args.back().starts_with("p=")) {
    share = parse_share(args.back().substr(2));
    if (!share) return "bad share " + std::string(args.back());
    args.pop_back();
  }
  const std::string_view kind = args[0];
  auto need = [&](std::size_t n) { return args.size() == n + 1; };
  auto on_off = [&](bool* flag) -> std::string {
    if (args.size() == 1 || args[1] == "on") {
      *flag = true;
    } else if (args[1] == "off") {
      *flag = false;
    } else {
      return "expected on or off";
    }
    return "";
  };

  if (kind == "clear" || kind == "none") {
    if (args.size() != 1) return "clear takes no argument";
    s_ = FaultSettings{};
    return "";
  }
  if (kind == "drop") {
    if (!need(1)) return "usage: drop SHARE";
    auto v = parse_share(args[1]);
    if (!v) return "bad share " + std::string(args[1]);
    s_.drop = *v;
    return "";
  }
  if (kind == "delay") {
    if (args.size() < 2 || args.size() > 3) return "usage: delay DURATION [JITTER]";
    auto d = parse_duration_ms(args[1]);
    auto j = args.size() == 3 ? parse_duration_ms(args[2]) : std::optional<double>(0);
    if (!d || !j || *d > 3600000 || *j > 3600000) return "bad duration";
    s_.delay_ms = static_cast<int>(*d);
    s_.delay_jitter_ms = static_cast<int>(*j);
    return "";
  }
  if (kind == "code") {
    if (args.size() == 2 && args[1] == "off") {
      s_.code_on = false;
      return "";
    }
    if (args.size() < 2 || args.size() > 3) return "usage: code CODE [EXTENDED] [p=SHARE]";
    auto c = parse_integer(args[1]);
    std::optional<long long> e = args.size() == 3 ? parse_integer(args[2]) : 0;
    if (!c || *c <= 0 || *c > 0xFFFF) return "bad code " + std::string(args[1]);
    if (!e || *e < 0 || *e > 0xFF) return "bad extended code";
    s_.code_on = true;
    s_.code = static_cast<std::uint16_t>(*c);
    s_.extended = static_cast<std::uint8_t>(*e);
    s_.code_share = share.value_or(1);
    return "";
  }
  if (kind == "badcmd") {
    if (args.size() == 2 && args[1] == "off") {
      s_.wrong_command = 0;
      return "";
    }
    if (!need(0)) return "usage: badcmd [p=SHARE] | badcmd off";
    s_.wrong_command = share.value_or(1);
    return "";
  }
  if (kind == "close") {
    if (args.size() == 2 && args[1] == "off") {
      s_.close = 0;
      return "";
    }
    if (!need(0)) return "usage: close [p=SHARE] | close off";
    s_.close = share.value_or(1);
    return "";
  }
  if (kind == "split") {
    if (args.size() < 2 || args.size() > 3) return "usage: split BYTES [GAP] | split off";
    if (args[1] == "off") {
      s_.split_bytes = 0;
      return "";
    }
    auto n = parse_integer(args[1]);
    auto g = args.size() == 3 ? parse_duration_ms(args[2]) : std::optional<double>(20);
    if (!n || *n < 1 || *n > 65535) return "bad piece size";
    if (!g || *g > 60000) return "bad gap";
    s_.split_bytes = static_cast<int>(*n);
    s_.split_gap_ms = static_cast<int>(*g);
    return "";
  }
  if (kind == "slow") {
    if (args.size() == 2 && args[1] == "off") {
      s_.slow_ms = 0;
      s_.slow_share = 0;
      return "";
    }
    if (!need(1)) return "usage: slow TIME [p=SHARE] | slow off";
    auto d = parse_duration_ms(args[1]);
    if (!d || *d > 3600000) return "bad duration";
    s_.slow_ms = static_cast<int>(*d);
    s_.slow_share = share.value_or(1);
    return "";
  }
  if (kind == "serial") return on_off(&s_.serial);
  if (kind == "join") return on_off(&s_.join);
  if (kind == "refuse") return on_off(&s_.refuse);
  if (kind == "silent") return on_off(&s_.silent);
  return "unknown fault " + std::string(kind);
}

std::string Faults::describe() const {
  std::string out;
  char buf[96];
  auto add = [&out](const char* text) {
    if (!out.empty()) out += ' ';
    out += text;
  };
  if (s_.drop > 0) std::snprintf(buf, sizeof buf, "drop=%g", s_.drop), add(buf);
  if (s_.delay_ms > 0 || s_.delay_jitter_ms > 0) {
    std::snprintf(buf, sizeof buf, "delay=%dms+%dms", s_.delay_ms, s_.delay_jitter_ms), add(buf);
  }
  if (s_.code_on) {
    std::snprintf(buf, sizeof buf, "code=0x%X/0x%02X p=%g", s_.code, s_.extended, s_.code_share);
    add(buf);
  }
  if (s_.wrong_command > 0) std::snprintf(buf, sizeof buf, "badcmd=%g", s_.wrong_command), add(buf);
  if (s_.split_bytes > 0) {
    std::snprintf(buf, sizeof buf, "split=%d/%dms", s_.split_bytes, s_.split_gap_ms), add(buf);
  }
  if (s_.slow_ms > 0) std::snprintf(buf, sizeof buf, "slow=%dms p=%g", s_.slow_ms, s_.slow_share), add(buf);
  if (s_.serial) add("serial");
  if (s_.join) add("join");
  if (s_.close > 0) std::snprintf(buf, sizeof buf, "close=%g", s_.close), add(buf);
  if (s_.refuse) add("refuse");
  if (s_.silent) add("silent");
  return out.empty() ? "none" : out;
}

}  // namespace hbt::mcsim
