#include "image/message_sink.h"

#include <cstdarg>
#include <cstdio>

namespace hbt::image {

namespace {
constexpr std::size_t kMessageBufferSize = 256;
}

void report(MessageSink& sink, std::uint16_t colour, const char* format, ...) {
  char buffer[kMessageBufferSize];
  va_list args;
  va_start(args, format);
  std::vsnprintf(buffer, sizeof buffer, format, args);
  va_end(args);
  sink.message(colour, buffer);
}

std::string format_message(const char* format, ...) {
  char buffer[kMessageBufferSize];
  va_list args;
  va_start(args, format);
  std::vsnprintf(buffer, sizeof buffer, format, args);
  va_end(args);
  return buffer;
}

}  // namespace hbt::image
