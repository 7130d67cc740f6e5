// What a session keeps for its diagnostics: the driver's messages with a sequence number of
// its own, and each channel's replies per second over its recent looks.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

#include "hbt_points.h"

namespace hbt::points {

class MessageLog {
 public:
  explicit MessageLog(std::size_t capacity = 256) : capacity_(capacity) {}
  void add(std::uint16_t colour, std::string_view text);
  // Messages after *cursor, oldest first; *cursor moves to the last one given. Messages the
  // log no longer holds are skipped.
  void collect(std::uint64_t* cursor, hbt_message* out, std::uint32_t capacity, std::uint32_t* count) const;
  std::uint64_t last_sequence() const { return next_sequence_ - 1; }

 private:
  struct Entry {
    std::uint64_t sequence;
    std::uint16_t colour;
    std::string text;
  };
  std::size_t capacity_;
  std::deque<Entry> entries_;
  std::uint64_t next_sequence_ = 1;
};

// Replies per second of one channel from its 16-bit reply counter, sampled at each look. A
// counter that falls back (statistics reset by a client) counts from zero again.
class ReplyRate {
 public:
  void sample(std::int64_t now_ms, std::uint16_t replies);
  double per_second() const;

 private:
  static constexpr std::int64_t kWindowMs = 2000;
  struct Sample {
    std::int64_t ms;
    std::uint64_t total;
  };
  bool have_ = false;
  std::uint16_t last_ = 0;
  std::uint64_t total_ = 0;
  std::deque<Sample> samples_;
};

}  // namespace hbt::points
