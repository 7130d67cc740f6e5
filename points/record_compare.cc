#include "points/record_compare.h"

#include <cstring>

#include "image/lock_byte.h"

namespace hbt::points {

bool compare_values(image::PollRecordHead* head, const hostlib::DataArea& area, std::uint8_t* copy,
                    std::vector<WordChange>* changes) {
  if (area.data == nullptr || area.size == 0) return false;
  image::ByteLock lock(&head->lock);
  if (std::memcmp(area.data, copy, area.size) == 0) return false;
  const std::size_t before = changes->size();
  for (std::size_t i = 0; i < area.size; i += 2) {
    std::uint16_t now = area.data[i], old = copy[i];
    if (i + 1 < area.size) {
      now = static_cast<std::uint16_t>(now | area.data[i + 1] << 8);
      old = static_cast<std::uint16_t>(old | copy[i + 1] << 8);
    }
    if (now != old) changes->push_back(WordChange{static_cast<std::uint32_t>(i / 2), static_cast<std::uint16_t>(now ^ old)});
  }
  std::memcpy(copy, area.data, area.size);
  return changes->size() != before;
}

void copy_values(image::PollRecordHead* head, const hostlib::DataArea& area, std::uint8_t* copy) {
  if (area.data == nullptr || area.size == 0) return;
  image::ByteLock lock(&head->lock);
  std::memcpy(copy, area.data, area.size);
}

}  // namespace hbt::points
