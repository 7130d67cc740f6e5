// Moving values for demonstrations.
#include "tools/mcsim/moving.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <numbers>

namespace hbt::mcsim {

std::optional<DeviceAddress> parse_device(std::string_view text) {
  std::string t(text);
  for (auto& c : t) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  DeviceAddress a;
  std::string_view rest;
  // Two-letter prefixes first, so that "CN5" is not taken for something else.
  static constexpr std::pair<const char*, RegisterType> kNames[] = {
      {"TC", RegisterType::TC}, {"TS", RegisterType::TS}, {"TN", RegisterType::TN},
      {"CC", RegisterType::CC}, {"CS", RegisterType::CS}, {"CN", RegisterType::CN},
      {"EX", RegisterType::EX}, {"X", RegisterType::X},   {"Y", RegisterType::Y},
      {"B", RegisterType::B},   {"L", RegisterType::L},   {"M", RegisterType::M},
      {"F", RegisterType::F},   {"D", RegisterType::D},   {"W", RegisterType::W},
      {"R", RegisterType::R},
  };
  bool found = false;
  for (const auto& [name, type] : kNames) {
    std::string_view n(name);
    if (std::string_view(t).starts_with(n)) {
      a.type = type;
      rest = std::string_view(t).substr(n.size());
      found = true;
      break;
    }
  }
  if (!found || rest.empty()) return std::nullopt;
  auto number = [](std::string_view s, int base, std::uint32_t* out) {
    if (s.empty() || s.size() > 8) return false;
    std::uint32_t v = 0;
    for (char c : s) {
      int d = std::isdigit(static_cast<unsigned char>(c)) ? c - '0'
              : (base == 16 && c >= 'A' && c <= 'F') ? c - 'A' + 10 : -1;
      if (d < 0) return false;
      v = v * base + d;
    }
    *out = v;
    return true;
  };
  if (a.type == RegisterType::EX) {
    auto colon = rest.find(':');
    std::uint32_t block = 0;
    if (colon == std::string_view::npos || !number(rest.substr(0, colon), 10, &block) ||
        block > 255 || !number(rest.substr(colon + 1), 10, &a.number)) {
      return std::nullopt;
    }
    a.block = static_cast<std::uint8_t>(block);
    return a;
  }
  bool hex = a.type == RegisterType::X || a.type == RegisterType::Y ||
             a.type == RegisterType::B || a.type == RegisterType::W;
  if (!number(rest, hex ? 16 : 10, &a.number)) return std::nullopt;
  return a;
}

std::string device_name(const DeviceAddress& a) {
  char buf[32];
  const char* name = image::kRegisterTypeNames[type_index(a.type)];
  if (a.type == RegisterType::EX) {
    std::snprintf(buf, sizeof buf, "EX%u:%u", a.block, a.number);
  } else if (a.type == RegisterType::X || a.type == RegisterType::Y ||
             a.type == RegisterType::B || a.type == RegisterType::W) {
    std::snprintf(buf, sizeof buf, "%s%X", name, a.number);
  } else {
    std::snprintf(buf, sizeof buf, "%s%u", name, a.number);
  }
  return buf;
}

std::uint16_t move_value(const Move& m, double now_ms) {
  const double t = std::max(0.0, now_ms - m.start_ms);
  switch (m.kind) {
    case MoveKind::kRamp: {
      double phase = std::fmod(t, m.period_ms) / m.period_ms;
      return static_cast<std::uint16_t>(static_cast<long long>(std::floor(m.low + (m.high - m.low) * phase)));
    }
    case MoveKind::kSine: {
      double mid = (m.low + m.high) / 2, amplitude = (m.high - m.low) / 2;
      double v = mid + amplitude * std::sin(2 * std::numbers::pi * t / m.period_ms);
      return static_cast<std::uint16_t>(std::llround(v));
    }
    case MoveKind::kCounter: {
      long long steps = static_cast<long long>(std::floor(t / m.period_ms));
      return static_cast<std::uint16_t>(m.start_value + m.step * steps);
    }
    case MoveKind::kToggle: {
      long long steps = static_cast<long long>(std::floor(t / m.period_ms));
      if (steps % 2 == 0) return m.start_value;
      return m.start_value == 0 ? 1 : 0;
    }
  }
  return 0;
}

std::string describe_move(const Move& m) {
  char buf[160];
  std::string where = device_name(m.device);
  if (m.target.pc != kOwnStation) where += " @" + std::to_string(m.target.pc);
  if (m.target.cpu != 1) where += " cpu=" + std::to_string(m.target.cpu);
  if (!m.target.plc.empty()) where += " plc=" + m.target.plc;
  switch (m.kind) {
    case MoveKind::kRamp:
      std::snprintf(buf, sizeof buf, "%s ramp %g %g %gms", where.c_str(), m.low, m.high, m.period_ms);
      break;
    case MoveKind::kSine:
      std::snprintf(buf, sizeof buf, "%s sine %g %g %gms", where.c_str(), m.low, m.high, m.period_ms);
      break;
    case MoveKind::kCounter:
      std::snprintf(buf, sizeof buf, "%s counter %lld %gms", where.c_str(), m.step, m.period_ms);
      break;
    case MoveKind::kToggle:
      std::snprintf(buf, sizeof buf, "%s toggle %gms", where.c_str(), m.period_ms);
      break;
  }
  return buf;
}

static bool same_place(const Move& m, const MemoryTarget& t, const DeviceAddress& d) {
  return m.target.plc == t.plc && m.target.pc == t.pc && m.target.cpu == t.cpu &&
         m.device.type == d.type && m.device.number == d.number && m.device.block == d.block;
}

void Movers::add(Move m) {
  remove(m.target, m.device);
  moves_.push_back(std::move(m));
}

bool Movers::remove(const MemoryTarget& t, const DeviceAddress& d) {
  return std::erase_if(moves_, [&](const Move& m) { return same_place(m, t, d); }) > 0;
}

void Movers::apply(double now_ms, const Resolve& resolve) const {
  for (const auto& m : moves_) {
    DeviceMemory* memory = resolve(m.target);
    if (memory == nullptr) continue;  // the station was removed meanwhile
    std::uint16_t v = move_value(m, now_ms);
    if (is_bit_device(m.device.type)) {
      memory->set_bit(m.device.type, m.device.number, v != 0);
    } else {
      memory->set_word(m.device.type, m.device.number, v, m.device.block);
    }
  }
}

}  // namespace hbt::mcsim
