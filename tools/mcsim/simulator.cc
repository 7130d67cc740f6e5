// The state one mcsim process serves.
#include "tools/mcsim/simulator.h"

#include "tools/mcsim/faults.h"

namespace hbt::mcsim {

std::optional<ListenSpec> parse_listen_spec(std::string_view text, std::string* error) {
  ListenSpec s;
  s.text = std::string(text);
  std::vector<std::string_view> parts;
  std::string_view rest = text;
  while (true) {
    auto colon = rest.find(':');
    parts.push_back(rest.substr(0, colon));
    if (colon == std::string_view::npos) break;
    rest.remove_prefix(colon + 1);
  }
  if (parts.size() < 3 || parts.size() > 4) {
    *error = "expected PROTOCOL:PORT:FRAME-CODING[:plc=NAME], got '" + s.text + "'";
    return std::nullopt;
  }
  if (parts[0] == "udp") {
    s.transport = Transport::kUdp;
  } else if (parts[0] == "tcp") {
    s.transport = Transport::kTcp;
  } else {
    *error = "protocol must be udp or tcp in '" + s.text + "'";
    return std::nullopt;
  }
  auto port = parse_integer(parts[1]);
  if (!port || *port < 0 || *port > 65535 || parts[1].starts_with("0x") || parts[1].starts_with("-")) {
    *error = "bad port in '" + s.text + "'";
    return std::nullopt;
  }
  s.port = static_cast<std::uint16_t>(*port);
  auto format = parse_frame_format(parts[2]);
  if (!format) {
    *error = "frame must be 3e-binary, 3e-ascii, 1e-binary or 1e-ascii in '" + s.text + "'";
    return std::nullopt;
  }
  s.format = *format;
  if (parts.size() == 4) {
    if (!parts[3].starts_with("plc=") || parts[3].size() == 4) {
      *error = "expected plc=NAME after the frame in '" + s.text + "'";
      return std::nullopt;
    }
    s.plc = std::string(parts[3].substr(4));
  }
  return s;
}

std::string Endpoint::name() const {
  return std::string(plan.transport == Transport::kUdp ? "udp:" : "tcp:") + std::to_string(port);
}

Plc& Simulator::plc(const std::string& name) {
  auto [it, inserted] = plcs_.try_emplace(name);
  if (inserted) it->second = std::make_unique<Plc>(name);
  return *it->second;
}

Plc* Simulator::find_plc(const std::string& name) {
  auto it = plcs_.find(name);
  return it == plcs_.end() ? nullptr : it->second.get();
}

Endpoint& Simulator::add_endpoint(const ListenSpec& plan) {
  auto ep = std::make_unique<Endpoint>();
  ep->plan = plan;
  ep->port = plan.port;
  ep->plc = &plc(plan.plc);
  ep->faults = Faults(seed_ + endpoints_.size());
  endpoints_.push_back(std::move(ep));
  return *endpoints_.back();
}

DeviceMemory* Simulator::memory(const MemoryTarget& t) {
  Plc* p = find_plc(t.plc.empty() ? kDefaultPlc : t.plc);
  if (p == nullptr) return nullptr;
  if (t.pc != kOwnStation) return t.cpu == 1 ? p->station(t.pc) : nullptr;
  return p->cpu(t.cpu);
}

}  // namespace hbt::mcsim
