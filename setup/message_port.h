// Where the installer's message boxes go. The library has no windows: by default every box
// becomes lines on standard error, led by its title; tests record them instead.
#pragma once

#include <string>
#include <string_view>

namespace hbt::setup {

class MessagePort {
 public:
  virtual ~MessagePort() = default;
  virtual void show(std::string_view title, std::string_view text) = 0;
};

// "<title>: <first line>" and the box's further non-empty lines indented below it.
class StandardErrorMessages : public MessagePort {
 public:
  void show(std::string_view title, std::string_view text) override;
};

// One box as text, the way StandardErrorMessages prints it.
std::string format_message_box(std::string_view title, std::string_view text);

}  // namespace hbt::setup
