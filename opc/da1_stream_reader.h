// For the tests: a reader of the DA 1.0 stream blocks written from the published layouts
// (byte offsets, little-endian), independent of the code that builds them.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "opc/com_base.h"

namespace hbt::opc::testing {

inline std::uint32_t u32_at(const unsigned char* p) { return p[0] | p[1] << 8 | p[2] << 16 | static_cast<std::uint32_t>(p[3]) << 24; }
inline std::uint16_t u16_at(const unsigned char* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }

struct DecodedItem {
  std::uint32_t client = 0;
  std::uint32_t offset = 0;
  std::uint16_t quality = 0;
  std::uint16_t reserved = 0xFFFF;
  std::uint64_t timestamp = 0;
  std::uint16_t vt = 0;
  std::uint64_t raw_value = 0;  // the 8 value bytes of the VARIANT
  std::u16string text;          // VT_BSTR only
  // VT_ARRAY: the SAFEARRAY descriptor that follows the VARIANT, in its 32-bit Windows layout
  // (cDims, fFeatures, cbElements, cLocks, a 4-byte pvData, one {cElements, lLbound} per
  // dimension), then the elements: cbElements bytes each, or for strings a 4-byte byte length
  // and the characters each.
  std::uint16_t dims = 0;
  std::uint16_t features = 0;
  std::uint32_t element_size = 0;
  std::uint32_t locks = 0xFFFFFFFF;
  std::uint32_t data_pointer = 0xFFFFFFFF;
  std::vector<std::pair<std::uint32_t, std::int32_t>> bounds;
  std::vector<unsigned char> elements;     // fixed-size elements, as they lie in the block
  std::vector<std::u16string> element_texts;  // VT_ARRAY | VT_BSTR
  std::size_t value_end = 0;
};

struct DecodedStream {
  std::uint32_t size = 0, count = 0, group = 0, transaction = 0, status = 0xFFFFFFFF;
  std::vector<DecodedItem> items;
};

// Decodes a data stream; fails the test on any field that points outside the block.
inline DecodedStream decode(HGLOBAL block, bool with_time) {
  DecodedStream s;
  const auto* p = static_cast<const unsigned char*>(GlobalLock(block));
  std::size_t block_size = GlobalSize(block);
  EXPECT_GE(block_size, 20u);
  s.size = u32_at(p);
  s.count = u32_at(p + 4);
  s.group = u32_at(p + 8);
  s.transaction = u32_at(p + 12);
  s.status = u32_at(p + 16);
  const std::size_t header = with_time ? 20 : 12;
  for (std::uint32_t i = 0; i < s.count; ++i) {
    if (20 + (i + 1) * header > block_size) {
      ADD_FAILURE() << "item header " << i << " beyond the block";
      break;
    }
    const unsigned char* h = p + 20 + i * header;
    DecodedItem item;
    item.client = u32_at(h);
    item.offset = u32_at(h + 4);
    item.quality = u16_at(h + 8);
    item.reserved = u16_at(h + 10);
    if (with_time) item.timestamp = u32_at(h + 12) | static_cast<std::uint64_t>(u32_at(h + 16)) << 32;
    EXPECT_LE(item.offset + 16u, block_size);
    if (item.offset + 16u > block_size) break;
    const unsigned char* v = p + item.offset;
    item.vt = u16_at(v);
    EXPECT_EQ(u16_at(v + 2) | u16_at(v + 4) | u16_at(v + 6), 0) << "reserved words";
    item.raw_value = u32_at(v + 8) | static_cast<std::uint64_t>(u32_at(v + 12)) << 32;
    item.value_end = item.offset + 16u;
    // A string: its byte length, then its characters; false when it does not fit the block.
    auto read_text = [&](std::size_t at, std::u16string* text, std::size_t* end) {
      if (at + 4 > block_size) return false;
      std::uint32_t bytes = u32_at(p + at);
      EXPECT_EQ(bytes % 2, 0u);
      if (at + 4 + bytes > block_size) return false;
      for (std::uint32_t k = 0; k + 1 < bytes; k += 2) text->push_back(u16_at(p + at + 4 + k));
      *end = at + 4 + bytes;
      return true;
    };
    if (item.vt == VT_BSTR) {
      EXPECT_TRUE(read_text(item.offset + 16u, &item.text, &item.value_end)) << "string " << i << " beyond the block";
    } else if (item.vt & VT_ARRAY) {
      std::size_t at = item.offset + 16u;
      if (at + 16 > block_size) {
        ADD_FAILURE() << "array descriptor " << i << " beyond the block";
        break;
      }
      item.dims = u16_at(p + at);
      item.features = u16_at(p + at + 2);
      item.element_size = u32_at(p + at + 4);
      item.locks = u32_at(p + at + 8);
      item.data_pointer = u32_at(p + at + 12);
      at += 16;
      std::uint64_t count = item.dims == 0 ? 0 : 1;
      for (std::uint16_t d = 0; d < item.dims && at + 8 <= block_size; ++d, at += 8) {
        item.bounds.emplace_back(u32_at(p + at), static_cast<std::int32_t>(u32_at(p + at + 4)));
        count *= item.bounds.back().first;
      }
      if (item.bounds.size() != item.dims || count > block_size) {
        ADD_FAILURE() << "array " << i << " does not fit the block";
        break;
      }
      if ((item.vt & VT_TYPEMASK) == VT_BSTR) {
        for (std::uint64_t k = 0; k < count; ++k) {
          item.element_texts.emplace_back();
          if (!read_text(at, &item.element_texts.back(), &at)) {
            ADD_FAILURE() << "element " << k << " of array " << i << " beyond the block";
            break;
          }
        }
      } else {
        const std::uint64_t bytes = count * item.element_size;
        if (at + bytes > block_size) {
          ADD_FAILURE() << "elements of array " << i << " beyond the block";
          break;
        }
        item.elements.assign(p + at, p + at + bytes);
        at += bytes;
      }
      item.value_end = at;
    }
    s.items.push_back(item);
  }
  GlobalUnlock(block);
  return s;
}

struct DecodedWrite {
  std::uint32_t count = 0, group = 0, transaction = 0, status = 0xFFFFFFFF;
  std::vector<std::pair<std::uint32_t, HRESULT>> results;
};

inline DecodedWrite decode_write(HGLOBAL block) {
  DecodedWrite w;
  const auto* p = static_cast<const unsigned char*>(GlobalLock(block));
  std::size_t size = GlobalSize(block);
  EXPECT_GE(size, 16u);
  w.count = u32_at(p);
  w.group = u32_at(p + 4);
  w.transaction = u32_at(p + 8);
  w.status = u32_at(p + 12);
  EXPECT_EQ(size, 16u + 8u * w.count);
  for (std::uint32_t i = 0; i < w.count && 16u + 8u * (i + 1) <= size; ++i)
    w.results.emplace_back(u32_at(p + 16 + 8 * i), static_cast<HRESULT>(u32_at(p + 20 + 8 * i)));
  GlobalUnlock(block);
  return w;
}

}  // namespace hbt::opc::testing
