// The message window's list: the driver's messages, newest last, at most 200 lines.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <string_view>

namespace hbt::editor {

inline constexpr std::size_t kMessageLinesMax = 200;
inline constexpr std::size_t kMessageLinesDropped = 5;

struct MessageLine {
  std::string text;
  bool alarm = false;
};

// Message codes shown with the alarm icon.
bool is_alarm_code(std::uint16_t code);

class MessageList {
 public:
  // Appends a line; when it makes the list 201 lines long, the 5 oldest go. Returns how
  // many lines were dropped from the front.
  std::size_t add(std::string text, std::uint16_t code);
  const std::deque<MessageLine>& lines() const { return lines_; }

 private:
  std::deque<MessageLine> lines_;
};

// The address a driver message asks to learn: for a text holding "NIO-*" and, from its
// tenth character on, a '-', the text after that '-' ("DEVICE:ADDRESS"); else nothing.
std::optional<std::string> learnable_address(std::string_view text);

}  // namespace hbt::editor
