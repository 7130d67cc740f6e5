#include "image/message_ring.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <thread>

#include "platform/clock.h"
#include "platform/process.h"

namespace hbt::image {

namespace {

// Entries are copied word by word with atomic accesses: a reader may copy an entry that a
// lapping writer is filling, and throws that copy away afterwards.
constexpr std::size_t kEntryWords = sizeof(MessageRingEntry) / sizeof(std::uint32_t);
static_assert(sizeof(MessageRingEntry) % sizeof(std::uint32_t) == 0);
static_assert(offsetof(PointerBlock, ring) % alignof(std::uint32_t) == 0);

std::atomic_ref<std::uint32_t> word(const std::uint32_t& w) { return std::atomic_ref<std::uint32_t>(const_cast<std::uint32_t&>(w)); }

std::uint32_t normalised(std::uint32_t index) { return index < kMessageRingEntries ? index : 0; }

// A writer holds the ring for one memcpy. A writer that waits checks now and then whether the
// holder is still alive, so one killed while writing costs the others about a millisecond;
// a holder that stays stuck (stopped, not dead) is overtaken after a second.
constexpr std::int64_t kLivenessCheckNs = 1'000'000;
constexpr std::int64_t kLongestWaitNs = 1'000'000'000;

class RingWriterLock {
 public:
  explicit RingWriterLock(PointerBlock* block) : writer_(block->ring_writer) {
    const auto me = static_cast<std::uint32_t>(platform::current_process_id());
    const std::int64_t start = platform::monotonic_ns();
    std::int64_t next_check = start + kLivenessCheckNs;
    for (;;) {
      std::uint32_t holder = 0;
      if (writer_.compare_exchange_weak(holder, me, std::memory_order_acquire)) return;
      if (holder == 0) continue;
      const std::int64_t now = platform::monotonic_ns();
      if (now >= next_check) {
        next_check = now + kLivenessCheckNs;
        const bool dead = holder != me && !platform::process_alive(static_cast<int>(holder));
        if ((dead || now - start > kLongestWaitNs) &&
            writer_.compare_exchange_strong(holder, me, std::memory_order_acquire))
          return;
      }
      std::this_thread::yield();
    }
  }
  ~RingWriterLock() { writer_.store(0, std::memory_order_release); }
  RingWriterLock(const RingWriterLock&) = delete;
  RingWriterLock& operator=(const RingWriterLock&) = delete;

 private:
  std::atomic_ref<std::uint32_t> writer_;
};

void store_entry(MessageRingEntry* shared, const MessageRingEntry& entry) {
  std::uint32_t words[kEntryWords];
  std::memcpy(words, &entry, sizeof words);
  auto* target = reinterpret_cast<std::uint32_t*>(shared);
  for (std::size_t i = 0; i < kEntryWords; ++i) word(target[i]).store(words[i], std::memory_order_relaxed);
}

MessageRingEntry load_entry(const MessageRingEntry* shared) {
  std::uint32_t words[kEntryWords];
  const auto* source = reinterpret_cast<const std::uint32_t*>(shared);
  for (std::size_t i = 0; i < kEntryWords; ++i) words[i] = word(source[i]).load(std::memory_order_relaxed);
  MessageRingEntry entry;
  std::memcpy(&entry, words, sizeof entry);
  return entry;
}

}  // namespace

std::uint32_t ring_index(const PointerBlock* block) {
  return normalised(word(block->ring_next).load(std::memory_order_acquire));
}

void append_to_ring(PointerBlock* block, std::uint16_t colour, std::string_view text) {
  if (block == nullptr || word(block->ring_enabled).load(std::memory_order_relaxed) == 0) return;
  MessageRingEntry entry{};
  const std::size_t length = std::min(text.size(), kMessageRingTextMax);
  entry.colour = colour;
  entry.length = static_cast<std::uint16_t>(length);
  std::memcpy(entry.text, text.data(), length);

  RingWriterLock lock(block);
  const std::uint32_t slot = normalised(word(block->ring_next).load(std::memory_order_relaxed));
  word(block->ring_started).fetch_add(1, std::memory_order_relaxed);
  // A reader that copies any of this entry's words also sees the count above.
  std::atomic_thread_fence(std::memory_order_release);
  store_entry(&block->ring[slot], entry);
  word(block->ring_next).store((slot + 1) % kMessageRingEntries, std::memory_order_release);
}

RingReader::RingReader(const PointerBlock* block) : block_(block), index_(block ? ring_index(block) : 0) {}

std::optional<RingMessage> RingReader::next() {
  if (block_ == nullptr) return std::nullopt;
  for (;;) {
    const std::uint32_t started = word(block_->ring_started).load(std::memory_order_acquire);
    const std::uint32_t end = ring_index(block_);
    if (index_ == end) return std::nullopt;
    const std::uint32_t slot = index_;
    const MessageRingEntry entry = load_entry(&block_->ring[slot]);
    std::atomic_thread_fence(std::memory_order_acquire);
    const std::uint32_t started_since = word(block_->ring_started).load(std::memory_order_relaxed) - started;
    index_ = (index_ + 1) % kMessageRingEntries;
    // The writes begun meanwhile filled the entries from `end` on, one each; if they reached
    // this slot the copy may be torn, and the reader has been lapped.
    const std::uint32_t distance = (slot + kMessageRingEntries - end) % kMessageRingEntries;
    if (started_since >= kMessageRingEntries || distance <= started_since) continue;
    return ring_entry_message(entry);
  }
}

RingMessage ring_entry_message(const MessageRingEntry& entry) {
  std::string text(entry.text, strnlen(entry.text, sizeof entry.text));
  std::size_t cr = text.find('\r');
  if (cr != std::string::npos) text.resize(cr);
  return RingMessage{entry.colour, std::move(text)};
}

}  // namespace hbt::image
