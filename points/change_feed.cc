#include "points/change_feed.h"

namespace hbt::points {

ChangeFeed::ChangeFeed(std::uint32_t points, std::uint64_t first_sequence)
    : links_(points), next_sequence_(first_sequence < 1 ? 1 : first_sequence) {
  for (std::uint32_t p = 0; p < points; ++p) {
    links_[p].sequence = next_sequence_++;
    append(p);
  }
}

void ChangeFeed::unlink(std::uint32_t p) {
  Link& l = links_[p];
  if (l.prev != kNone) links_[l.prev].next = l.next; else head_ = l.next;
  if (l.next != kNone) links_[l.next].prev = l.prev; else tail_ = l.prev;
}

void ChangeFeed::append(std::uint32_t p) {
  Link& l = links_[p];
  l.prev = tail_;
  l.next = kNone;
  if (tail_ != kNone) links_[tail_].next = p; else head_ = p;
  tail_ = p;
}

void ChangeFeed::touch(std::uint32_t p) {
  if (p >= links_.size()) return;
  if (tail_ != p) {
    unlink(p);
    append(p);
  }
  links_[p].sequence = next_sequence_++;
}

void ChangeFeed::collect(std::uint64_t* cursor, std::uint32_t capacity, std::vector<std::uint32_t>* out,
                         bool* more) {
  *more = false;
  // The first point after the cursor: where the last batch stopped when it is still there
  // unchanged, else found walking back from the end.
  std::uint32_t p;
  if (resume_point_ != kNone && resume_sequence_ == *cursor && links_[resume_point_].sequence == *cursor) {
    p = links_[resume_point_].next;
  } else {
    p = tail_;
    if (p == kNone || links_[p].sequence <= *cursor) return;
    while (links_[p].prev != kNone && links_[links_[p].prev].sequence > *cursor) p = links_[p].prev;
  }
  for (; p != kNone; p = links_[p].next) {
    if (out->size() >= capacity) {
      *more = true;
      break;
    }
    out->push_back(p);
    *cursor = links_[p].sequence;
    resume_point_ = p;
    resume_sequence_ = *cursor;
  }
}

}  // namespace hbt::points
