// Where a program's messages go. Each program (poller, host library, editor, tools)
// supplies its own routine; the library code only names a colour and a text.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace hbt::image {

// Console text attributes: low nibble foreground, high nibble background.
enum Colour : std::uint16_t {
  kColourNormal = 0x07,
  kColourInfo = 0x17,
  kColourNotice = 0x27,
  kColourError = 0x46,
  kColourSevere = 0x47,
  kColourWarning = 0x50,
};

class MessageSink {
 public:
  virtual ~MessageSink() = default;
  // Called from the thread that issues the message; must not throw.
  virtual void message(std::uint16_t colour, std::string_view text) = 0;
};

// printf-style formatting into a 256-character buffer, then sink.message().
void report(MessageSink& sink, std::uint16_t colour, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

std::string format_message(const char* format, ...) __attribute__((format(printf, 1, 2)));

// A sink that drops everything (for callers that have nowhere to report).
class NullSink final : public MessageSink {
 public:
  void message(std::uint16_t, std::string_view) override {}
};

}  // namespace hbt::image
