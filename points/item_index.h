// Item ID to point: an open-addressing table of point ids over the lists' own texts, so that
// the index costs a few bytes per point and no copy of any item ID.
#pragma once

#include <cstdint>
#include <functional>
#include <string_view>
#include <vector>

namespace hbt::points {

inline constexpr std::uint32_t kNoPoint = UINT32_MAX;

class ItemIndex {
 public:
  // `item_id(p)` gives the item ID of point p; it must stay valid while the index is used.
  explicit ItemIndex(std::function<std::string_view(std::uint32_t)> item_id) : item_id_(std::move(item_id)) {}

  // False when the item ID is there already.
  bool insert(std::uint32_t point);
  std::uint32_t find(std::string_view item_id) const;
  std::size_t size() const { return count_; }
  std::size_t bytes() const { return slots_.capacity() * sizeof(std::uint32_t); }

 private:
  static std::uint64_t hash(std::string_view text);
  void grow();

  std::function<std::string_view(std::uint32_t)> item_id_;
  std::vector<std::uint32_t> slots_;
  std::size_t count_ = 0;
};

}  // namespace hbt::points
