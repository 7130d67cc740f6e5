// What changed since a cursor. Every point sits once in a list ordered by the sequence number
// of its latest change; a change takes a new number and moves the point to the end. So a
// batch since a cursor is the tail of the list after the cursor, each point once with its
// latest value, found in time proportional to the batch, and nothing is lost between two
// batches however slowly they are taken: a point that changes again moves behind the cursor.
#pragma once

#include <cstdint>
#include <vector>

namespace hbt::points {

class ChangeFeed {
 public:
  // A feed over `points` points, all changed (a cursor of 0 gives every point). Sequence
  // numbers go on from `first_sequence`, so that cursors of an earlier feed stay below them.
  ChangeFeed(std::uint32_t points, std::uint64_t first_sequence);

  void touch(std::uint32_t point);
  std::uint64_t last_sequence() const { return next_sequence_ - 1; }
  std::uint32_t size() const { return static_cast<std::uint32_t>(links_.size()); }

  // Up to `capacity` points changed after `cursor`, oldest change first; *cursor moves to the
  // last one given. *more when others wait.
  void collect(std::uint64_t* cursor, std::uint32_t capacity, std::vector<std::uint32_t>* out, bool* more);

  std::size_t bytes() const { return links_.capacity() * sizeof(Link); }

 private:
  static constexpr std::uint32_t kNone = UINT32_MAX;
  struct Link {
    std::uint64_t sequence;
    std::uint32_t prev, next;
  };
  void unlink(std::uint32_t p);
  void append(std::uint32_t p);

  std::vector<Link> links_;
  std::uint32_t head_ = kNone, tail_ = kNone;
  std::uint64_t next_sequence_;
  // Where the last batch ended, so that the next one from its cursor starts there at once.
  std::uint32_t resume_point_ = kNone;
  std::uint64_t resume_sequence_ = 0;
};

}  // namespace hbt::points
