// Bounded views of a poll record in the image: its head, its poll control entry and its
// data areas, each checked to lie inside the image, so that a hand-edited configuration
// can never make the poller read or write outside it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "image/layout.h"
#include "image/niolib.h"
#include "poller/byte_order.h"

namespace hbt::poller {

// Data area 5: 4-byte entries {changed flag, id, group}, at any alignment.
class ExceptionTable {
 public:
  ExceptionTable() = default;
  explicit ExceptionTable(std::span<std::uint8_t> bytes) : bytes_(bytes) {}

  std::size_t size() const { return bytes_.size() / sizeof(image::ExceptionEntry); }
  // Entries past the end read as unregistered and are never written.
  std::uint8_t changed(std::size_t e) const { return e < size() ? bytes_[4 * e] : 0; }
  std::uint8_t id(std::size_t e) const { return e < size() ? bytes_[4 * e + 1] : 0; }
  std::uint16_t group(std::size_t e) const { return e < size() ? load16(&bytes_[4 * e + 2]) : 0; }
  void set_changed(std::size_t e) {
    if (e < size()) bytes_[4 * e] = 1;
  }
  // Flags the entry when a client registered it and it is not flagged yet; 1 when it did.
  int flag_if_registered(std::size_t e) {
    if (id(e) == 0 || changed(e) != 0) return 0;
    set_changed(e);
    return 1;
  }
  // Flags every registered entry not flagged yet; returns how many it flagged.
  int flag_all_registered() {
    int n = 0;
    for (std::size_t e = 0; e < size(); ++e) n += flag_if_registered(e);
    return n;
  }

 private:
  std::span<std::uint8_t> bytes_;
};

struct RecordView {
  int index = 0;
  image::PollRecordHead* head = nullptr;
  image::PollControlEntry* entry = nullptr;
  std::span<std::uint8_t> values;        // area 1, current values
  std::span<std::uint8_t> write_values;  // area 2
  std::span<std::uint8_t> write_flags;   // area 3
  ExceptionTable exceptions;             // area 5

  image::RegisterType register_type() const { return image::address_register_type(head->address_word); }
  std::uint32_t start() const { return image::address_start(head->address_word); }
  image::ExceptionType exception_type() const { return static_cast<image::ExceptionType>(head->exception_type); }
};

// The poll record k, or nothing when its head or entry lies outside the image. An area that
// does not lie inside the image is given as empty.
std::optional<RecordView> view_record(image::Niolib& niolib, int k);

// The poll control entries of records [first, first + count) when the whole run lies in the
// image, else null.
image::PollControlEntry* control_entries(image::Niolib& niolib, int first, int count);

// Adds to the changed count of a poll control entry under its lock.
void add_changed(image::PollControlEntry* entry, int flagged);

}  // namespace hbt::poller
