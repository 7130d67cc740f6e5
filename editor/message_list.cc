#include "editor/message_list.h"

namespace hbt::editor {

bool is_alarm_code(std::uint16_t code) { return code == 30 || code == 70 || code == 94; }

std::size_t MessageList::add(std::string text, std::uint16_t code) {
  lines_.push_back(MessageLine{std::move(text), is_alarm_code(code)});
  if (lines_.size() <= kMessageLinesMax) return 0;
  lines_.erase(lines_.begin(), lines_.begin() + kMessageLinesDropped);
  return kMessageLinesDropped;
}

std::optional<std::string> learnable_address(std::string_view text) {
  if (text.find("NIO-*") == std::string_view::npos) return std::nullopt;
  std::size_t dash = text.size() > 9 ? text.find('-', 9) : std::string_view::npos;
  if (dash == std::string_view::npos) return std::nullopt;
  return std::string(text.substr(dash + 1));
}

}  // namespace hbt::editor
