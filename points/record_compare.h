// The comparison of a poll record's current values (data area 1) with the copy taken at the
// last look: done under the record's lock, so that a reply being stored is seen whole, and
// it names the words that differ with the bits that changed in each.
#pragma once

#include <cstdint>
#include <vector>

#include "hostlib/image_view.h"
#include "image/layout.h"

namespace hbt::points {

struct WordChange {
  std::uint32_t word = 0;
  std::uint16_t bits = 0;  // XOR of old and new
};

// Compares `area` with `copy` (the same size), updates the copy and appends the changes.
// Returns whether anything differed.
bool compare_values(image::PollRecordHead* head, const hostlib::DataArea& area, std::uint8_t* copy,
                    std::vector<WordChange>* changes);

// Copies area 1 under the record's lock.
void copy_values(image::PollRecordHead* head, const hostlib::DataArea& area, std::uint8_t* copy);

}  // namespace hbt::points
