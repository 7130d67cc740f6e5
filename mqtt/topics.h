// Sparkplug B topic names: spBv1.0/GROUP/TYPE/EDGE[/DEVICE] and the host's spBv1.0/STATE/HOST.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace hbt::mqtt {

enum class MessageType { kNBirth, kNDeath, kDBirth, kDDeath, kNData, kDData, kNCmd, kDCmd };

inline constexpr std::string_view kNamespace = "spBv1.0";

const char* message_type_name(MessageType type);

// An id that may stand as one topic level: not empty, and none of / + # (wildcards and
// separators would make the topic mean something else to the broker).
bool valid_topic_id(std::string_view id);

std::string node_topic(std::string_view group, MessageType type, std::string_view edge);
std::string device_topic(std::string_view group, MessageType type, std::string_view edge, std::string_view device);
std::string state_topic(std::string_view host_id);

struct ParsedTopic {
  MessageType type;
  std::string group;
  std::string edge;
  std::string device;  // empty for node messages
};

// Node and device messages only; anything else (STATE, other namespaces) is nullopt.
std::optional<ParsedTopic> parse_topic(std::string_view topic);

}  // namespace hbt::mqtt
