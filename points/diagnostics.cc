#include "points/diagnostics.h"

#include <algorithm>
#include <cstring>

namespace hbt::points {

void MessageLog::add(std::uint16_t colour, std::string_view text) {
  entries_.push_back(Entry{next_sequence_++, colour, std::string(text)});
  while (entries_.size() > capacity_) entries_.pop_front();
}

void MessageLog::collect(std::uint64_t* cursor, hbt_message* out, std::uint32_t capacity,
                         std::uint32_t* count) const {
  *count = 0;
  auto it = std::upper_bound(entries_.begin(), entries_.end(), *cursor,
                             [](std::uint64_t c, const Entry& e) { return c < e.sequence; });
  for (; it != entries_.end() && *count < capacity; ++it) {
    hbt_message& m = out[(*count)++];
    std::memset(&m, 0, sizeof m);
    m.sequence = it->sequence;
    m.colour = it->colour;
    const std::size_t n = std::min(it->text.size(), sizeof m.text - 1);
    std::memcpy(m.text, it->text.data(), n);
    m.length = static_cast<std::uint16_t>(n);
    *cursor = it->sequence;
  }
}

void ReplyRate::sample(std::int64_t now_ms, std::uint16_t replies) {
  if (have_) {
    const auto delta = static_cast<std::uint16_t>(replies - last_);
    // No channel answers 32768 times between two looks: a counter that went back was reset.
    total_ += delta > 32768 ? replies : delta;
  }
  have_ = true;
  last_ = replies;
  samples_.push_back(Sample{now_ms, total_});
  while (samples_.size() > 2 && now_ms - samples_[1].ms >= kWindowMs) samples_.pop_front();
}

double ReplyRate::per_second() const {
  if (samples_.size() < 2) return 0;
  const Sample& first = samples_.front();
  const Sample& last = samples_.back();
  if (last.ms <= first.ms) return 0;
  return static_cast<double>(last.total - first.total) * 1000.0 / static_cast<double>(last.ms - first.ms);
}

}  // namespace hbt::points
