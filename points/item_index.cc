#include "points/item_index.h"

namespace hbt::points {

std::uint64_t ItemIndex::hash(std::string_view text) {
  std::uint64_t h = 1469598103934665603ull;  // FNV-1a
  for (unsigned char c : text) {
    h ^= c;
    h *= 1099511628211ull;
  }
  return h;
}

void ItemIndex::grow() {
  std::vector<std::uint32_t> old = std::move(slots_);
  slots_.assign(old.empty() ? 64 : 2 * old.size(), kNoPoint);
  const std::size_t mask = slots_.size() - 1;
  for (std::uint32_t p : old) {
    if (p == kNoPoint) continue;
    std::size_t i = hash(item_id_(p)) & mask;
    while (slots_[i] != kNoPoint) i = (i + 1) & mask;
    slots_[i] = p;
  }
}

bool ItemIndex::insert(std::uint32_t point) {
  if (2 * (count_ + 1) > slots_.size()) grow();
  const std::string_view id = item_id_(point);
  const std::size_t mask = slots_.size() - 1;
  std::size_t i = hash(id) & mask;
  while (slots_[i] != kNoPoint) {
    if (item_id_(slots_[i]) == id) return false;
    i = (i + 1) & mask;
  }
  slots_[i] = point;
  ++count_;
  return true;
}

std::uint32_t ItemIndex::find(std::string_view id) const {
  if (slots_.empty()) return kNoPoint;
  const std::size_t mask = slots_.size() - 1;
  for (std::size_t i = hash(id) & mask; slots_[i] != kNoPoint; i = (i + 1) & mask)
    if (item_id_(slots_[i]) == id) return slots_[i];
  return kNoPoint;
}

}  // namespace hbt::points
