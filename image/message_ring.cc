#include "image/message_ring.h"

#include <atomic>
#include <cstring>

namespace hbt::image {

void append_to_ring(PointerBlock* block, std::uint16_t colour, std::string_view text) {
  if (block == nullptr || block->ring_enabled == 0) return;
  std::atomic_ref<std::uint32_t> next(block->ring_next);
  std::uint32_t slot = next.load(std::memory_order_relaxed);
  // The index stays within 0..63 for readers, so claim with compare-and-swap, not a plain add.
  while (!next.compare_exchange_weak(slot, (slot % kMessageRingEntries + 1) % kMessageRingEntries,
                                     std::memory_order_acq_rel)) {
  }
  MessageRingEntry& entry = block->ring[slot % kMessageRingEntries];
  std::size_t length = std::min(text.size(), kMessageRingTextMax);
  entry.colour = colour;
  entry.length = static_cast<std::uint16_t>(length);
  std::memcpy(entry.text, text.data(), length);
  entry.text[length] = '\0';
}

RingReader::RingReader(const PointerBlock* block)
    : block_(block),
      index_(block ? std::atomic_ref<std::uint32_t>(const_cast<std::uint32_t&>(block->ring_next)).load() % kMessageRingEntries : 0) {}

std::optional<RingMessage> RingReader::next() {
  if (block_ == nullptr) return std::nullopt;
  std::uint32_t end =
      std::atomic_ref<std::uint32_t>(const_cast<std::uint32_t&>(block_->ring_next)).load(std::memory_order_acquire) %
      kMessageRingEntries;
  if (index_ == end) return std::nullopt;
  const MessageRingEntry& entry = block_->ring[index_];
  index_ = (index_ + 1) % kMessageRingEntries;
  return ring_entry_message(entry);
}

RingMessage ring_entry_message(const MessageRingEntry& entry) {
  std::string text(entry.text, strnlen(entry.text, sizeof entry.text));
  std::size_t cr = text.find('\r');
  if (cr != std::string::npos) text.resize(cr);
  return RingMessage{entry.colour, std::move(text)};
}

}  // namespace hbt::image
