// The DA 1.0 stream blocks, read back by a reader written from the published layouts (byte
// offsets, little-endian), not from the builder's code.
#include "opc/da1_stream.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "com/bstr.h"
#include "com/variant.h"
#include "opc/da1_stream_reader.h"

namespace hbt::opc {
namespace {

using testing::decode;
using testing::DecodedItem;
using testing::DecodedStream;
using testing::u16_at;
using testing::u32_at;

struct Input {
  OPCHANDLE client;
  VARIANT value;
  WORD quality;
  FILETIME stamp;
};

VARIANT random_value(std::mt19937& rng) {
  VARIANT v;
  com::VariantInit(&v);
  switch (rng() % 6) {
    case 0:
      v.vt = VT_R4;
      v.fltVal = std::uniform_real_distribution<float>(-1e6f, 1e6f)(rng);
      break;
    case 1:
      v.vt = VT_BOOL;
      v.boolVal = rng() % 2 ? VARIANT_TRUE : VARIANT_FALSE;
      break;
    case 2: {
      std::u16string text(rng() % 40, u'\0');
      for (auto& c : text) c = static_cast<char16_t>(1 + rng() % 0xD7FF);
      v.vt = VT_BSTR;
      v.bstrVal = com::SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
      break;
    }
    case 3:
      v.vt = VT_I2;
      v.iVal = static_cast<SHORT>(rng());
      break;
    case 4:
      v.vt = VT_R8;
      v.dblVal = std::uniform_real_distribution<double>(-1e9, 1e9)(rng);
      break;
    default:
      break;  // VT_EMPTY: a conversion that failed
  }
  return v;
}

TEST(Da1Stream, RandomItemSetsDecodeToTheirInputs) {
  std::mt19937 rng(20261208);
  for (int run = 0; run < 400; ++run) {
    bool with_time = run % 2 == 0;
    std::vector<Input> inputs(rng() % 50);
    for (auto& in : inputs) {
      in.client = static_cast<OPCHANDLE>(rng());
      in.value = random_value(rng);
      in.quality = static_cast<WORD>(rng());
      in.stamp = {static_cast<DWORD>(rng()), static_cast<DWORD>(rng())};
    }
    std::vector<StreamValue> values;
    for (auto& in : inputs) values.push_back({in.client, &in.value, in.quality, in.stamp});
    OPCHANDLE group = static_cast<OPCHANDLE>(rng());
    DWORD transaction = static_cast<DWORD>(rng());
    HGLOBAL block = build_data_stream(with_time, group, transaction, values.data(), values.size());
    ASSERT_NE(block, nullptr);
    DecodedStream s = decode(block, with_time);
    EXPECT_EQ(s.size, GlobalSize(block)) << "dwSize is the whole block";
    EXPECT_EQ(s.count, inputs.size());
    EXPECT_EQ(s.group, group);
    EXPECT_EQ(s.transaction, transaction);
    EXPECT_EQ(s.status, 0u);
    ASSERT_EQ(s.items.size(), inputs.size());
    // The values follow the headers in item order with no gap, and end the block.
    std::size_t expected_offset = 20 + inputs.size() * (with_time ? 20 : 12);
    for (std::size_t i = 0; i < inputs.size(); ++i) {
      const DecodedItem& d = s.items[i];
      const Input& in = inputs[i];
      EXPECT_EQ(d.client, in.client);
      EXPECT_EQ(d.offset, expected_offset);
      EXPECT_EQ(d.quality, in.quality);
      EXPECT_EQ(d.reserved, 0);
      if (with_time) {
        EXPECT_EQ(d.timestamp, in.stamp.dwLowDateTime | static_cast<std::uint64_t>(in.stamp.dwHighDateTime) << 32);
      }
      EXPECT_EQ(d.vt, in.value.vt);
      switch (in.value.vt) {
        case VT_R4: {
          float f;
          std::uint32_t bits = static_cast<std::uint32_t>(d.raw_value);
          std::memcpy(&f, &bits, 4);
          EXPECT_EQ(f, in.value.fltVal);
          break;
        }
        case VT_BOOL: EXPECT_EQ(static_cast<std::int16_t>(d.raw_value), in.value.boolVal); break;
        case VT_I2: EXPECT_EQ(static_cast<std::int16_t>(d.raw_value), in.value.iVal); break;
        case VT_R8: {
          double f;
          std::memcpy(&f, &d.raw_value, 8);
          EXPECT_EQ(f, in.value.dblVal);
          break;
        }
        case VT_BSTR:
          EXPECT_EQ(d.raw_value, 0u) << "no server address in the stream";
          EXPECT_EQ(d.text, std::u16string(in.value.bstrVal, com::SysStringLen(in.value.bstrVal)));
          break;
        default: break;
      }
      expected_offset = d.value_end;
    }
    EXPECT_EQ(expected_offset, s.size);
    for (auto& in : inputs) com::VariantClear(&in.value);
    EXPECT_EQ(GlobalFree(block), nullptr);
  }
}

TEST(Da1Stream, AStringTakesTwentyBytesPlusItsCharacters) {
  // One item of each kind, sizes by hand from the layout.
  VARIANT text;
  com::VariantInit(&text);
  text.vt = VT_BSTR;
  text.bstrVal = com::SysAllocString(u"abc");
  VARIANT number;
  com::VariantInit(&number);
  number.vt = VT_R4;
  number.fltVal = 12.5f;
  StreamValue values[] = {{7, &text, 0xC0, {1, 2}}, {8, &number, 0x1C, {3, 4}}};
  HGLOBAL plain = build_data_stream(false, 1, 2, values, 2);
  HGLOBAL timed = build_data_stream(true, 1, 2, values, 2);
  ASSERT_NE(plain, nullptr);
  ASSERT_NE(timed, nullptr);
  EXPECT_EQ(GlobalSize(plain), 20u + 2 * 12 + (16 + 4 + 6) + 16);
  EXPECT_EQ(GlobalSize(timed), 20u + 2 * 20 + (16 + 4 + 6) + 16);
  auto* p = static_cast<const unsigned char*>(GlobalLock(plain));
  EXPECT_EQ(u32_at(p + 20 + 4), 44u) << "first value right after the two headers";
  EXPECT_EQ(u32_at(p + 44 + 16), 6u) << "byte length, not characters";
  EXPECT_EQ(std::memcmp(p + 44 + 20, u"abc", 6), 0);
  EXPECT_EQ(u32_at(p + 20 + 12 + 4), 70u) << "the next value follows the characters, no terminator";
  GlobalUnlock(plain);
  GlobalFree(plain);
  GlobalFree(timed);

  HGLOBAL empty = build_data_stream(true, 5, 6, nullptr, 0);
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(GlobalSize(empty), 20u);
  DecodedStream s = decode(empty, true);
  EXPECT_EQ(s.size, 20u);
  EXPECT_EQ(s.count, 0u);
  GlobalFree(empty);
  com::VariantClear(&text);
}

TEST(Da1Stream, WriteCompleteCarriesEveryItemsResult) {
  std::mt19937 rng(7);
  for (int run = 0; run < 100; ++run) {
    std::vector<StreamWriteResult> results(rng() % 40);
    for (auto& r : results) r = {static_cast<OPCHANDLE>(rng()), static_cast<HRESULT>(rng())};
    DWORD transaction = static_cast<DWORD>(rng());
    HGLOBAL block = build_write_complete_stream(99, transaction, results.data(), results.size());
    ASSERT_NE(block, nullptr);
    ASSERT_EQ(GlobalSize(block), 16 + 8 * results.size());
    auto* p = static_cast<const unsigned char*>(GlobalLock(block));
    EXPECT_EQ(u32_at(p), results.size());
    EXPECT_EQ(u32_at(p + 4), 99u);
    EXPECT_EQ(u32_at(p + 8), transaction);
    EXPECT_EQ(u32_at(p + 12), 0u);
    for (std::size_t i = 0; i < results.size(); ++i) {
      EXPECT_EQ(u32_at(p + 16 + 8 * i), results[i].client_handle);
      EXPECT_EQ(static_cast<HRESULT>(u32_at(p + 20 + 8 * i)), results[i].error);
    }
    GlobalUnlock(block);
    GlobalFree(block);
  }
}

}  // namespace
}  // namespace hbt::opc
