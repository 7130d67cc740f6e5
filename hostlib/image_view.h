// A snapshot of where the mapped image lies, with bounds-checked ways to its records. The
// records themselves live in shared memory: a view is valid while its ImageHold is held,
// because the image is unmapped only under the exclusive side of the same lock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "image/layout.h"

namespace hbt::hostlib {

// Values in the image sit at any byte offset: load and store them byte-wise.
template <typename T>
T load(const std::uint8_t* p) {
  T v;
  std::memcpy(&v, p, sizeof v);
  return v;
}
template <typename T>
void store(std::uint8_t* p, T v) {
  std::memcpy(p, &v, sizeof v);
}

struct DataArea {
  std::uint8_t* data = nullptr;
  std::size_t size = 0;
};

struct ImageView {
  image::PointerBlock* block = nullptr;
  std::uint8_t* base = nullptr;
  std::size_t size = 0;
  image::ImageHeader* header = nullptr;
  int channels = 0;
  int devices = 0;
  int records = 0;
  std::uint32_t generation = 0;

  bool valid() const { return header != nullptr; }

  // Null when the index is out of range or the record would reach past the image.
  image::ChannelRecord* channel(int i) const;
  image::DeviceRecord* device(int j) const;
  image::PollControlEntry* control(int k) const;
  image::PollRecordHead* record(int k) const;
  // Data area `kind` (1..5) of a record; empty when it lies outside the image.
  DataArea area(image::PollRecordHead* record, int kind) const;

  bool contains(const void* p, std::size_t n) const;

 private:
  std::uint8_t* at_offset(std::uint32_t offset, std::size_t n) const;
  std::uint8_t* table_entry(std::uint32_t table_offset, int index, std::size_t entry_size, int count) const;
};

// Device name of a device record: up to its terminator, or all twelve characters of a name
// that fills the field.
std::string_view device_name(const image::DeviceRecord* device);

}  // namespace hbt::hostlib
