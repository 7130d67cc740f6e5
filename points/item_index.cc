#include "points/item_index.h"

#include <cstring>

namespace hbt::points {

std::uint32_t ItemIndex::hash(std::string_view text) {
  std::uint64_t h = 1469598103934665603ull;  // FNV-1a
  for (unsigned char c : text) {
    h ^= c;
    h *= 1099511628211ull;
  }
  return static_cast<std::uint32_t>(h ^ (h >> 32));
}

bool ItemIndex::same(std::uint32_t point, std::string_view text) const {
  const char* id = item_id_(point);
  return std::strncmp(id, text.data(), text.size()) == 0 && id[text.size()] == 0;
}

void ItemIndex::rehash(std::size_t slots) {
  std::vector<Slot> old = std::move(slots_);
  slots_.assign(slots, Slot{kNoPoint, 0});
  const std::size_t mask = slots_.size() - 1;
  for (const Slot& s : old) {
    if (s.point == kNoPoint) continue;
    std::size_t i = s.hash & mask;
    while (slots_[i].point != kNoPoint) i = (i + 1) & mask;
    slots_[i] = s;
  }
}

void ItemIndex::reserve(std::size_t n) {
  std::size_t slots = 64;
  while (slots < 2 * n) slots *= 2;
  if (slots > slots_.size()) rehash(slots);
}

bool ItemIndex::insert(std::uint32_t point) {
  if (2 * (count_ + 1) > slots_.size()) rehash(slots_.empty() ? 64 : 2 * slots_.size());
  const std::string_view id = item_id_(point);
  const std::uint32_t h = hash(id);
  const std::size_t mask = slots_.size() - 1;
  std::size_t i = h & mask;
  while (slots_[i].point != kNoPoint) {
    if (slots_[i].hash == h && same(slots_[i].point, id)) return false;
    i = (i + 1) & mask;
  }
  slots_[i] = Slot{point, h};
  ++count_;
  return true;
}

std::uint32_t ItemIndex::find(std::string_view id) const {
  if (slots_.empty()) return kNoPoint;
  const std::uint32_t h = hash(id);
  const std::size_t mask = slots_.size() - 1;
  for (std::size_t i = h & mask; slots_[i].point != kNoPoint; i = (i + 1) & mask)
    if (slots_[i].hash == h && same(slots_[i].point, id)) return slots_[i].point;
  return kNoPoint;
}

}  // namespace hbt::points
