#include "hostlib/message_routine.h"

#include <cstring>

#include "image/message_ring.h"

namespace hbt::hostlib {

namespace {
constexpr char kPrefix[] = "NIO-";
constexpr std::size_t kBufferSize = 256;
}  // namespace

void MessageRoutine::message(std::uint16_t colour, std::string_view text) {
  image::PointerBlock* block = block_.load(std::memory_order_acquire);
  if (block == nullptr) return;
  char line[kBufferSize];
  std::size_t n = sizeof kPrefix - 1;
  std::memcpy(line, kPrefix, n);
  for (char c : text) {
    if (c == '\r' || c == '\n' || n == kBufferSize - 1) break;
    line[n++] = c;
  }
  image::append_to_ring(block, colour, std::string_view(line, n));
}

}  // namespace hbt::hostlib
