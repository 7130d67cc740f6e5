#include "mqtt/topics.h"

#include <array>
#include <vector>

namespace hbt::mqtt {
namespace {

constexpr std::array<std::pair<MessageType, std::string_view>, 8> kTypes{{
    {MessageType::kNBirth, "NBIRTH"},
    {MessageType::kNDeath, "NDEATH"},
    {MessageType::kDBirth, "DBIRTH"},
    {MessageType::kDDeath, "DDEATH"},
    {MessageType::kNData, "NDATA"},
    {MessageType::kDData, "DDATA"},
    {MessageType::kNCmd, "NCMD"},
    {MessageType::kDCmd, "DCMD"},
}};

bool is_device_type(MessageType t) {
  return t == MessageType::kDBirth || t == MessageType::kDDeath || t == MessageType::kDData ||
         t == MessageType::kDCmd;
}

}  // namespace

const char* message_type_name(MessageType type) {
  for (const auto& [t, name] : kTypes) {
    if (t == type) return name.data();
  }
  return "?";
}

bool valid_topic_id(std::string_view id) {
  return !id.empty() && id.find_first_of("/+#") == std::string_view::npos &&
         id.find('\0') == std::string_view::npos;
}

std::string node_topic(std::string_view group, MessageType type, std::string_view edge) {
  std::string t(kNamespace);
  t += '/';
  t += group;
  t += '/';
  t += message_type_name(type);
  t += '/';
  t += edge;
  return t;
}

std::string device_topic(std::string_view group, MessageType type, std::string_view edge, std::string_view device) {
  std::string t = node_topic(group, type, edge);
  t += '/';
  t += device;
  return t;
}

std::string state_topic(std::string_view host_id) {
  std::string t(kNamespace);
  t += "/STATE/";
  t += host_id;
  return t;
}

std::optional<ParsedTopic> parse_topic(std::string_view topic) {
  std::vector<std::string_view> levels;
  size_t start = 0;
  while (true) {
    size_t slash = topic.find('/', start);
    levels.push_back(topic.substr(start, slash == std::string_view::npos ? std::string_view::npos : slash - start));
    if (slash == std::string_view::npos) break;
    start = slash + 1;
  }
  if (levels.size() < 4 || levels.size() > 5 || levels[0] != kNamespace) return std::nullopt;
  for (auto level : levels) {
    if (level.empty()) return std::nullopt;
  }
  for (const auto& [type, name] : kTypes) {
    if (levels[2] != name) continue;
    if (is_device_type(type) != (levels.size() == 5)) return std::nullopt;
    ParsedTopic parsed{type, std::string(levels[1]), std::string(levels[3]), {}};
    if (levels.size() == 5) parsed.device = std::string(levels[4]);
    return parsed;
  }
  return std::nullopt;
}

}  // namespace hbt::mqtt
