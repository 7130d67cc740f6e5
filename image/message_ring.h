// The message ring in the driver pointer block: the last 64 messages of every program.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "image/layout.h"

namespace hbt::image {

// Appends a message when the ring is enabled. Each writer claims its slot with an indivisible
// step, so writers in different processes never share one.
void append_to_ring(PointerBlock* block, std::uint16_t colour, std::string_view text);

struct RingMessage {
  std::uint16_t colour;
  std::string text;  // cut at the first carriage return
};

// The message held by one ring entry ("" when it was never written).
RingMessage ring_entry_message(const MessageRingEntry& entry);

// Follows the ring from a reader's own index.
class RingReader {
 public:
  // Starts at the ring's current end: only messages appended later are returned.
  explicit RingReader(const PointerBlock* block);
  // Starts at `index` (0..63), e.g. 0 after the block was created, to read what is there.
  RingReader(const PointerBlock* block, std::uint32_t index) : block_(block), index_(index % kMessageRingEntries) {}

  std::optional<RingMessage> next();

 private:
  const PointerBlock* block_;
  std::uint32_t index_;
};

}  // namespace hbt::image
