// The line-based control language of mcsim.
#include "tools/mcsim/control.h"

#include <cstdio>
#include <vector>

namespace hbt::mcsim {
namespace {

constexpr std::uint32_t kMaxGetCount = 4096;

std::vector<std::string_view> split_words(std::string_view line) {
  std::vector<std::string_view> out;
  std::size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r')) ++i;
    std::size_t start = i;
    while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r') ++i;
    if (i > start) out.push_back(line.substr(start, i - start));
  }
  return out;
}

std::string error(const std::string& text) { return "error " + text; }

// Takes @PC, cpu=N and plc=NAME out of the words.
bool take_target(std::vector<std::string_view>* words, MemoryTarget* t, std::string* err) {
  std::vector<std::string_view> rest;
  for (auto w : *words) {
    if (w.starts_with("@")) {
      auto pc = parse_integer(w.substr(1));
      if (!pc || *pc < 0 || *pc > 255) {
        *err = "bad PC number " + std::string(w);
        return false;
      }
      t->pc = static_cast<std::uint8_t>(*pc);
    } else if (w.starts_with("cpu=")) {
      auto n = parse_integer(w.substr(4));
      if (!n || *n < 1 || *n > kMaxCpus) {
        *err = "bad CPU number " + std::string(w);
        return false;
      }
      t->cpu = static_cast<int>(*n);
    } else if (w.starts_with("plc=")) {
      t->plc = std::string(w.substr(4));
    } else {
      rest.push_back(w);
    }
  }
  *words = std::move(rest);
  return true;
}

std::string target_text(const MemoryTarget& t) {
  std::string s = "plc " + (t.plc.empty() ? std::string(kDefaultPlc) : t.plc);
  if (t.pc != kOwnStation) s += " station " + std::to_string(t.pc);
  if (t.cpu != 1) s += " cpu " + std::to_string(t.cpu);
  return s;
}

// Range of `count` devices from `a` in memory; error text or empty.
std::string check_range(const DeviceMemory& m, const DeviceAddress& a, std::uint64_t count) {
  if (a.type == RegisterType::EX && !m.has_block(a.block)) {
    return "no extension file register block " + std::to_string(a.block);
  }
  if (a.number + count > m.size(a.type)) {
    return device_name(a) + (count > 1 ? " + " + std::to_string(count) : "") +
           " is beyond the last device (" + std::to_string(m.size(a.type)) + " exist)";
  }
  return "";
}

std::string counters_text(const Endpoint& e) {
  const Counters& c = e.counters;
  char buf[400];
  std::snprintf(buf, sizeof buf,
                "%s %s plc=%s requests=%llu replies=%llu abnormal=%llu dropped=%llu "
                "unframeable=%llu bytes_in=%llu bytes_out=%llu accepted=%llu open=%llu closed=%llu",
                e.name().c_str(), frame_format_name(e.plan.format).c_str(), e.plc->name().c_str(),
                (unsigned long long)c.requests, (unsigned long long)c.replies,
                (unsigned long long)c.abnormal, (unsigned long long)c.dropped,
                (unsigned long long)c.unframeable, (unsigned long long)c.bytes_in,
                (unsigned long long)c.bytes_out, (unsigned long long)c.accepted,
                (unsigned long long)c.open, (unsigned long long)c.closed);
  return buf;
}

std::vector<Endpoint*> match_endpoints(Simulator* sim, std::string_view which) {
  std::vector<Endpoint*> out;
  for (auto& e : sim->endpoints()) {
    std::string full = e->name() + ":" + frame_format_name(e->plan.format);
    if (which == "*" || which == "all" || which == e->name() || which == full ||
        which == e->plan.text) {
      out.push_back(e.get());
    }
  }
  return out;
}

}  // namespace

const char* Controller::summary() {
  return "commands: get DEV [COUNT] | set DEV VALUE... | fill DEV COUNT VALUE | "
         "station add|remove PC | station list | network N... | network any | network list | cpus N | size TYPE POINTS | blocks N | "
         "model AnN|AnA|AnU|Q | "
         "fault EP KIND [ARG...] [p=SHARE] | fault EP | move DEV ramp|sine LOW HIGH PERIOD | "
         "move DEV counter STEP INTERVAL | move DEV toggle INTERVAL | move DEV stop | move list | "
         "move clear | stats [EP] | stats reset [EP] | endpoints | trace on|off | echo TEXT | quit; "
         "device commands take @PC cpu=N plc=NAME";
}

std::string Controller::execute(std::string_view line, double now_ms) {
  auto words = split_words(line);
  if (words.empty() || words[0].starts_with("#")) return "";
  const std::string_view cmd = words[0];
  words.erase(words.begin());

  if (cmd == "help") return std::string("ok ") + summary();
  if (cmd == "echo") {
    std::string out = "ok";
    for (auto w : words) out += " " + std::string(w);
    return out;
  }
  if (cmd == "trace") {
    if (words.size() != 1 || (words[0] != "on" && words[0] != "off")) return error("usage: trace on|off");
    sim_->set_trace(words[0] == "on");
    return "ok";
  }
  if (cmd == "quit" || cmd == "exit") {
    sim_->request_quit();
    return "ok bye";
  }

  if (cmd == "get" || cmd == "set" || cmd == "fill") {
    MemoryTarget t;
    std::string err;
    if (!take_target(&words, &t, &err)) return error(err);
    if (words.empty()) return error("usage: " + std::string(cmd) + " DEVICE ...");
    auto a = parse_device(words[0]);
    if (!a) return error("bad device " + std::string(words[0]));
    DeviceMemory* m = sim_->memory(t);
    if (m == nullptr) return error("no such memory: " + target_text(t));
    std::vector<std::uint16_t> values;
    std::uint64_t count = 1;
    if (cmd == "get") {
      if (words.size() > 2) return error("usage: get DEVICE [COUNT]");
      if (words.size() == 2) {
        auto n = parse_integer(words[1]);
        if (!n || *n < 1 || *n > kMaxGetCount) return error("bad count " + std::string(words[1]));
        count = static_cast<std::uint64_t>(*n);
      }
    } else {
      std::size_t first = 1;
      if (cmd == "fill") {
        if (words.size() != 3) return error("usage: fill DEVICE COUNT VALUE");
        auto n = parse_integer(words[1]);
        if (!n || *n < 1 || *n > 1 << 20) return error("bad count " + std::string(words[1]));
        count = static_cast<std::uint64_t>(*n);
        first = 2;
      } else if (words.size() < 2) {
        return error("usage: set DEVICE VALUE...");
      }
      for (std::size_t i = first; i < words.size(); ++i) {
        auto v = parse_integer(words[i]);
        if (!v || *v < -32768 || *v > 65535) return error("bad value " + std::string(words[i]));
        if (is_bit_device(a->type) && *v != 0 && *v != 1) {
          return error("bit devices take 0 or 1, not " + std::string(words[i]));
        }
        values.push_back(static_cast<std::uint16_t>(*v));
      }
      if (cmd == "set") count = values.size();
    }
    std::string range = check_range(*m, *a, count);
    if (!range.empty()) return error(range);
    if (cmd == "get") {
      std::string out = "ok";
      for (std::uint64_t i = 0; i < count; ++i) {
        std::uint32_t n = a->number + static_cast<std::uint32_t>(i);
        unsigned v = is_bit_device(a->type) ? m->bit(a->type, n) : m->word(a->type, n, a->block);
        out += " " + std::to_string(v);
      }
      return out;
    }
    for (std::uint64_t i = 0; i < count; ++i) {
      std::uint32_t n = a->number + static_cast<std::uint32_t>(i);
      std::uint16_t v = cmd == "fill" ? values[0] : values[i];
      if (is_bit_device(a->type)) {
        m->set_bit(a->type, n, v != 0);
      } else {
        m->set_word(a->type, n, v, a->block);
      }
    }
    return "ok " + std::to_string(count);
  }

  if (cmd == "station" || cmd == "network" || cmd == "cpus" || cmd == "size" || cmd == "blocks" || cmd == "model") {
    MemoryTarget t;
    std::string err;
    if (!take_target(&words, &t, &err)) return error(err);
    Plc& p = sim_->plc(t.plc.empty() ? kDefaultPlc : t.plc);
    if (cmd == "station") {
      if (words.size() == 1 && words[0] == "list") {
        std::string out = "ok 255";
        for (auto pc : p.stations()) out += " " + std::to_string(pc);
        return out;
      }
      if (words.size() != 2 || (words[0] != "add" && words[0] != "remove")) {
        return error("usage: station add|remove PC | station list");
      }
      auto pc = parse_integer(words[1]);
      if (!pc || *pc < 0 || *pc > 254) return error("bad PC number " + std::string(words[1]));
      auto n = static_cast<std::uint8_t>(*pc);
      if (words[0] == "add") return p.add_station(n) ? "ok" : error("station exists");
      return p.remove_station(n) ? "ok" : error("no such station");
    }
    if (cmd == "network") {
      if (words.size() == 1 && words[0] == "list") {
        if (!p.networks()) return "ok any";
        std::string out = "ok";
        for (auto n : *p.networks()) out += " " + std::to_string(n);
        return out;
      }
      if (words.size() == 1 && words[0] == "any") {
        p.set_networks(std::nullopt);
        return "ok";
      }
      if (words.empty()) return error("usage: network N... | network any | network list");
      std::vector<std::uint8_t> networks;
      for (auto w : words) {
        auto n = parse_integer(w);
        if (!n || *n < 0 || *n > 255) return error("bad network number " + std::string(w));
        networks.push_back(static_cast<std::uint8_t>(*n));
      }
      p.set_networks(std::move(networks));
      return "ok";
    }
    if (cmd == "cpus") {
      auto n = words.size() == 1 ? parse_integer(words[0]) : std::nullopt;
      if (!n || !p.set_cpu_count(static_cast<int>(*n))) return error("usage: cpus 1..4");
      return "ok";
    }
    if (cmd == "model") {
      auto model = words.size() == 1 ? parse_cpu_model(words[0]) : std::nullopt;
      if (!model) return error("usage: model AnN|AnA|AnU|Q");
      apply_cpu_model(p, *model);
      return "ok " + std::string(cpu_model_name(*model));
    }
    if (cmd == "blocks") {
      auto n = words.size() == 1 ? parse_integer(words[0]) : std::nullopt;
      if (!n || *n < 0 || *n > 255) return error("usage: blocks 0..255");
      p.set_blocks(static_cast<std::uint8_t>(*n));
      return "ok";
    }
    // size TYPE POINTS
    if (words.size() != 2) return error("usage: size TYPE POINTS");
    auto a = parse_device(std::string(words[0]) + (words[0] == "EX" || words[0] == "ex" ? "0:0" : "0"));
    auto n = parse_integer(words[1]);
    if (!a || a->number != 0) return error("bad device type " + std::string(words[0]));
    if (!n || *n < 0 || *n > (1 << 24)) return error("bad size " + std::string(words[1]));
    p.resize(a->type, static_cast<std::uint32_t>(*n));
    return "ok";
  }

  if (cmd == "fault") {
    if (words.empty()) return error("usage: fault ENDPOINT KIND [ARG...] [p=SHARE]");
    auto eps = match_endpoints(sim_, words[0]);
    if (eps.empty()) return error("no endpoint " + std::string(words[0]));
    if (words.size() == 1) {
      std::string out = "ok";
      for (auto* e : eps) out += " " + e->name() + " " + e->faults.describe() + ";";
      out.pop_back();
      return out;
    }
    std::vector<std::string_view> args(words.begin() + 1, words.end());
    // Check on a copy first so that a bad line changes no endpoint.
    Faults probe = eps[0]->faults;
    std::string err = probe.configure(args);
    if (!err.empty()) return error(err);
    for (auto* e : eps) e->faults.configure(args);
    return "ok";
  }

  if (cmd == "move") {
    if (words.size() == 1 && words[0] == "list") {
      std::string out = "ok " + std::to_string(sim_->movers().moves().size());
      for (const auto& m : sim_->movers().moves()) out += "; " + describe_move(m);
      return out;
    }
    if (words.size() == 1 && words[0] == "clear") {
      sim_->movers().clear();
      return "ok";
    }
    MemoryTarget t;
    std::string err;
    if (!take_target(&words, &t, &err)) return error(err);
    if (words.size() < 2) return error("usage: move DEVICE KIND ARGS... | move DEVICE stop");
    auto a = parse_device(words[0]);
    if (!a) return error("bad device " + std::string(words[0]));
    if (words[1] == "stop") {
      return sim_->movers().remove(t, *a) ? "ok" : error("no move on " + device_name(*a));
    }
    DeviceMemory* mem = sim_->memory(t);
    if (mem == nullptr) return error("no such memory: " + target_text(t));
    std::string range = check_range(*mem, *a, 1);
    if (!range.empty()) return error(range);
    Move m;
    m.target = t;
    m.device = *a;
    m.start_ms = now_ms;
    m.start_value = is_bit_device(a->type) ? mem->bit(a->type, a->number)
                                           : mem->word(a->type, a->number, a->block);
    const std::string_view kind = words[1];
    if (kind == "ramp" || kind == "sine") {
      if (words.size() != 5) return error("usage: move DEVICE " + std::string(kind) + " LOW HIGH PERIOD");
      auto lo = parse_integer(words[2]), hi = parse_integer(words[3]);
      auto period = parse_duration_ms(words[4]);
      if (!lo || !hi || *lo < -32768 || *hi > 65535 || *lo > *hi) return error("bad LOW HIGH");
      if (!period || *period < 1) return error("bad period " + std::string(words[4]));
      if (is_bit_device(a->type)) return error("ramp and sine need a word device");
      m.kind = kind == "ramp" ? MoveKind::kRamp : MoveKind::kSine;
      m.low = static_cast<double>(*lo);
      m.high = static_cast<double>(*hi);
      m.period_ms = *period;
    } else if (kind == "counter") {
      if (words.size() != 4) return error("usage: move DEVICE counter STEP INTERVAL");
      auto step = parse_integer(words[2]);
      auto interval = parse_duration_ms(words[3]);
      if (!step || *step < -65535 || *step > 65535) return error("bad step " + std::string(words[2]));
      if (!interval || *interval < 1) return error("bad interval " + std::string(words[3]));
      if (is_bit_device(a->type)) return error("counter needs a word device");
      m.kind = MoveKind::kCounter;
      m.step = *step;
      m.period_ms = *interval;
    } else if (kind == "toggle") {
      if (words.size() != 3) return error("usage: move DEVICE toggle INTERVAL");
      auto interval = parse_duration_ms(words[2]);
      if (!interval || *interval < 1) return error("bad interval " + std::string(words[2]));
      m.kind = MoveKind::kToggle;
      m.period_ms = *interval;
    } else {
      return error("unknown movement " + std::string(kind));
    }
    sim_->movers().add(m);
    return "ok";
  }

  if (cmd == "stats") {
    bool reset = !words.empty() && words[0] == "reset";
    if (reset) words.erase(words.begin());
    if (words.size() > 1) return error("usage: stats [reset] [ENDPOINT]");
    auto eps = match_endpoints(sim_, words.empty() ? "*" : words[0]);
    if (eps.empty()) return error("no endpoint " + (words.empty() ? "" : std::string(words[0])));
    std::string out = "ok";
    for (auto* e : eps) {
      if (reset) {
        std::uint64_t open = e->counters.open;
        e->counters = Counters{};
        e->counters.open = open;
      } else {
        out += " " + counters_text(*e) + ";";
      }
    }
    if (!reset) out.pop_back();
    return out;
  }

  if (cmd == "endpoints") {
    std::string out = "ok";
    for (auto& e : sim_->endpoints()) {
      out += " " + e->name() + ":" + frame_format_name(e->plan.format) + ":plc=" + e->plc->name();
    }
    return out;
  }

  return error("unknown command " + std::string(cmd) + " (try help)");
}

}  // namespace hbt::mcsim
