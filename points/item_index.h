// Item ID to point: an open-addressing table of point ids and their hashes over the lists' own
// texts, so that the index costs a few bytes per point and no copy of any item ID.
#pragma once

#include <cstdint>
#include <functional>
#include <string_view>
#include <vector>

namespace hbt::points {

inline constexpr std::uint32_t kNoPoint = UINT32_MAX;

class ItemIndex {
 public:
  // `item_id(p)` gives the NUL-terminated item ID of point p; it must stay valid while the
  // index is used.
  explicit ItemIndex(std::function<const char*(std::uint32_t)> item_id) : item_id_(std::move(item_id)) {}

  // Room for n item IDs without growing.
  void reserve(std::size_t n);
  // False when the item ID is there already.
  bool insert(std::uint32_t point);
  std::uint32_t find(std::string_view item_id) const;
  std::size_t size() const { return count_; }
  std::size_t bytes() const { return slots_.capacity() * sizeof(Slot); }

 private:
  struct Slot {
    std::uint32_t point;
    std::uint32_t hash;
  };
  static std::uint32_t hash(std::string_view text);
  bool same(std::uint32_t point, std::string_view text) const;
  void rehash(std::size_t slots);

  std::function<const char*(std::uint32_t)> item_id_;
  std::vector<Slot> slots_;
  std::size_t count_ = 0;
};

}  // namespace hbt::points
