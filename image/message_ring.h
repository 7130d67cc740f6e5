// The message ring in the driver pointer block: the last 64 messages of every program.
//
// Writers in any process take the ring's writer word (their process id) for the few
// microseconds of a write, count it as begun, fill the entry at the ring index and only then
// advance the index. So an entry before the index is always complete; a reader copies it and
// throws the copy away when the writes begun meanwhile reached that entry (the ring lapped it).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "image/layout.h"

namespace hbt::image {

// Appends a message when the ring is enabled. An index outside 0..63 is taken as 0.
void append_to_ring(PointerBlock* block, std::uint16_t colour, std::string_view text);

struct RingMessage {
  std::uint16_t colour;
  std::string text;  // cut at the first carriage return
};

// The message held by one ring entry ("" when it was never written). For an entry that no
// writer can reach at the same time (a private copy); shared rings go through RingReader.
RingMessage ring_entry_message(const MessageRingEntry& entry);

// The ring index as readers take it: a value outside 0..63 counts as 0.
std::uint32_t ring_index(const PointerBlock* block);

// Follows the ring from a reader's own index.
class RingReader {
 public:
  // Starts at the ring's current end: only messages appended later are returned.
  explicit RingReader(const PointerBlock* block);
  // Starts at `index` (0..63), e.g. 0 after the block was created, to read what is there,
  // or one past the ring index to read the history from the oldest entry that is safe.
  RingReader(const PointerBlock* block, std::uint32_t index) : block_(block), index_(index % kMessageRingEntries) {}

  // The next complete message, or nothing when the reader has caught up.
  std::optional<RingMessage> next();

 private:
  const PointerBlock* block_;
  std::uint32_t index_;
};

}  // namespace hbt::image
