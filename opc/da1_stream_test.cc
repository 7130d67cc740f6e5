// The DA 1.0 stream blocks, read back by a reader written from the published layouts (byte
// offsets, little-endian), not from the builder's code.
#include "opc/da1_stream.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "com/bstr.h"
#include "com/safearray.h"
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

// A one-dimensional array of `vt` with random elements.
VARIANT random_array(std::mt19937& rng, VARTYPE vt) {
  VARIANT v;
  com::VariantInit(&v);
  const ULONG n = rng() % 6;
  SAFEARRAY* a = com::SafeArrayCreateVector(vt, static_cast<LONG>(rng() % 3), n);
  for (ULONG i = 0; i < n; ++i) {
    LONG index = a->rgsabound[0].lLbound + static_cast<LONG>(i);
    if (vt == VT_BSTR) {
      std::u16string text(rng() % 5, u'x');
      BSTR b = com::SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
      com::SafeArrayPutElement(a, &index, b);
      com::SysFreeString(b);
    } else if (vt == VT_BOOL) {
      VARIANT_BOOL b = rng() % 2 ? VARIANT_TRUE : VARIANT_FALSE;
      com::SafeArrayPutElement(a, &index, &b);
    } else {
      float f = std::uniform_real_distribution<float>(-1e6f, 1e6f)(rng);
      com::SafeArrayPutElement(a, &index, &f);
    }
  }
  v.vt = VT_ARRAY | vt;
  v.parray = a;
  return v;
}

bool good(WORD quality) { return (quality & OPC_QUALITY_MASK) == OPC_QUALITY_GOOD; }

VARIANT random_value(std::mt19937& rng) {
  VARIANT v;
  com::VariantInit(&v);
  switch (rng() % 9) {
    case 6: return random_array(rng, VT_R4);
    case 7: return random_array(rng, VT_BOOL);
    case 8: return random_array(rng, VT_BSTR);
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
    bool all_good = true;
    for (auto& in : inputs) {
      in.client = static_cast<OPCHANDLE>(rng());
      in.value = random_value(rng);
      // Mostly good, so that blocks of good values alone come up too.
      in.quality = rng() % 8 == 0 ? static_cast<WORD>(rng()) : static_cast<WORD>(0xC0 | rng() % 4);
      all_good = all_good && good(in.quality);
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
    EXPECT_EQ(s.status, all_good ? 0u : 1u) << "S_FALSE when any quality is not good";
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
      if (in.value.vt & VT_ARRAY) {
        const SAFEARRAY* a = in.value.parray;
        EXPECT_EQ(d.raw_value, 0u) << "no server address in the stream";
        EXPECT_EQ(d.dims, 1);
        EXPECT_EQ(d.element_size, a->cbElements);
        EXPECT_EQ(d.locks, 0u);
        EXPECT_EQ(d.data_pointer, 0u);
        ASSERT_EQ(d.bounds.size(), 1u);
        EXPECT_EQ(d.bounds[0].first, a->rgsabound[0].cElements);
        EXPECT_EQ(d.bounds[0].second, a->rgsabound[0].lLbound);
        const std::size_t n = a->rgsabound[0].cElements;
        if (in.value.vt == (VT_ARRAY | VT_BSTR)) {
          ASSERT_EQ(d.element_texts.size(), n);
          for (std::size_t k = 0; k < n; ++k) {
            BSTR e = static_cast<BSTR*>(a->pvData)[k];
            EXPECT_EQ(d.element_texts[k], std::u16string(com::bstr_view(e)));
          }
        } else {
          ASSERT_EQ(d.elements.size(), n * a->cbElements);
          if (n != 0) {
            EXPECT_EQ(std::memcmp(d.elements.data(), a->pvData, d.elements.size()), 0);
          }
        }
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

// An array goes out as published DA 1.0 servers send it: the VARIANT, the SAFEARRAY descriptor
// in its 32-bit layout with no address in it, then the elements, all inside the value area;
// the next item's value follows right after the last element.
TEST(Da1Stream, AnArrayIsFollowedByItsDescriptorAndItsElements) {
  VARIANT array;
  com::VariantInit(&array);
  array.vt = VT_ARRAY | VT_R4;
  array.parray = com::SafeArrayCreateVector(VT_R4, 0, 3);
  const float elements[] = {1.5f, 2.5f, -3.0f};
  for (LONG i = 0; i < 3; ++i) com::SafeArrayPutElement(array.parray, &i, &elements[i]);
  VARIANT bits;
  com::VariantInit(&bits);
  bits.vt = VT_ARRAY | VT_BOOL;
  bits.parray = com::SafeArrayCreateVector(VT_BOOL, 5, 2);
  VARIANT_BOOL on = VARIANT_TRUE;
  LONG six = 6;
  com::SafeArrayPutElement(bits.parray, &six, &on);
  VARIANT after;
  com::VariantInit(&after);
  after.vt = VT_R4;
  after.fltVal = 42.0f;
  StreamValue values[] = {{1, &array, 0xC0, {}}, {2, &bits, 0xC0, {}}, {3, &after, 0xC0, {}}};
  HGLOBAL block = build_data_stream(false, 9, 0, values, 3);
  ASSERT_NE(block, nullptr);
  const std::size_t first = 20 + 3 * 12;
  const std::size_t second = first + 16 + 24 + 3 * 4;
  const std::size_t third = second + 16 + 24 + 2 * 2;
  ASSERT_EQ(GlobalSize(block), third + 16);
  const auto* p = static_cast<const unsigned char*>(GlobalLock(block));
  EXPECT_EQ(u32_at(p + 20 + 4), first);
  EXPECT_EQ(u32_at(p + 20 + 12 + 4), second);
  EXPECT_EQ(u32_at(p + 20 + 24 + 4), third);
  const unsigned char* v = p + first;
  EXPECT_EQ(u16_at(v), VT_ARRAY | VT_R4);
  EXPECT_EQ(u32_at(v + 8) | u32_at(v + 12), 0u) << "the VARIANT holds no address";
  EXPECT_EQ(u16_at(v + 16), 1) << "cDims";
  EXPECT_EQ(u32_at(v + 20), 4u) << "cbElements";
  EXPECT_EQ(u32_at(v + 24), 0u) << "cLocks";
  EXPECT_EQ(u32_at(v + 28), 0u) << "pvData";
  EXPECT_EQ(u32_at(v + 32), 3u) << "cElements";
  EXPECT_EQ(u32_at(v + 36), 0u) << "lLbound";
  EXPECT_EQ(std::memcmp(v + 40, elements, sizeof elements), 0);
  const unsigned char* b = p + second;
  EXPECT_EQ(u16_at(b), VT_ARRAY | VT_BOOL);
  EXPECT_EQ(u32_at(b + 20), 2u);
  EXPECT_EQ(u32_at(b + 32), 2u);
  EXPECT_EQ(static_cast<std::int32_t>(u32_at(b + 36)), 5);
  EXPECT_EQ(u16_at(b + 40), 0);
  EXPECT_EQ(u16_at(b + 42), 0xFFFF);
  EXPECT_EQ(u16_at(p + third), VT_R4);
  GlobalUnlock(block);
  DecodedStream s = decode(block, false);
  ASSERT_EQ(s.items.size(), 3u);
  EXPECT_EQ(s.items[2].value_end, s.size);
  GlobalFree(block);

  // Elements of any size; strings with their lengths and characters.
  VARIANT shorts;
  com::VariantInit(&shorts);
  shorts.vt = VT_ARRAY | VT_I2;
  shorts.parray = com::SafeArrayCreateVector(VT_I2, 1, 3);
  VARIANT texts;
  com::VariantInit(&texts);
  texts.vt = VT_ARRAY | VT_BSTR;
  texts.parray = com::SafeArrayCreateVector(VT_BSTR, 0, 2);
  BSTR word = com::SysAllocString(u"ab");
  LONG zero = 0;
  com::SafeArrayPutElement(texts.parray, &zero, word);
  com::SysFreeString(word);
  StreamValue more[] = {{4, &shorts, 0xC0, {}}, {5, &texts, 0xC0, {}}};
  block = build_data_stream(true, 9, 0, more, 2);
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(GlobalSize(block), 20u + 2 * 20 + (16 + 24 + 3 * 2) + (16 + 24 + (4 + 4) + 4));
  s = decode(block, true);
  ASSERT_EQ(s.items.size(), 2u);
  EXPECT_EQ(s.items[0].bounds, (std::vector<std::pair<std::uint32_t, std::int32_t>>{{3, 1}}));
  EXPECT_EQ(s.items[0].elements.size(), 6u);
  EXPECT_EQ(s.items[1].element_texts, (std::vector<std::u16string>{u"ab", u""}));
  EXPECT_EQ(s.items[1].value_end, s.size);
  GlobalFree(block);
  for (VARIANT* x : {&array, &bits, &after, &shorts, &texts}) com::VariantClear(x);
}

// A value that lives only behind a pointer the client could not follow (an interface, a
// reference) goes out empty rather than as a type whose data is missing.
TEST(Da1Stream, ValuesTheStreamCannotCarryGoOutEmpty) {
  LONG target = 5;
  VARIANT by_reference;
  com::VariantInit(&by_reference);
  by_reference.vt = VT_BYREF | VT_I4;
  by_reference.plVal = &target;
  VARIANT nothing;
  com::VariantInit(&nothing);
  nothing.vt = VT_ARRAY | VT_R4;
  nothing.parray = nullptr;
  StreamValue values[] = {{1, &by_reference, 0xC0, {}}, {2, &nothing, 0xC0, {}}};
  HGLOBAL block = build_data_stream(false, 1, 0, values, 2);
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(GlobalSize(block), 20u + 2 * 12 + 2 * 16);
  DecodedStream s = decode(block, false);
  ASSERT_EQ(s.items.size(), 2u);
  EXPECT_EQ(s.items[0].vt, VT_EMPTY);
  EXPECT_EQ(s.items[1].vt, VT_EMPTY);
  EXPECT_EQ(s.items[0].raw_value, 0u);
  GlobalFree(block);
}

// hrStatus tells at a glance whether every item of the block is good.
TEST(Da1Stream, TheStatusIsFalseWhenAnyQualityIsNotGood) {
  VARIANT v;
  com::VariantInit(&v);
  v.vt = VT_R4;
  for (auto [qualities, status] : std::vector<std::pair<std::vector<WORD>, std::uint32_t>>{
           {{0xC0, 0xC0}, 0u}, {{0xC0, 0xC3, 0xD8}, 0u}, {{0xC0, 0x1C}, 1u}, {{0x40}, 1u}, {{0x00, 0xC0}, 1u},
           {{}, 0u}}) {
    std::vector<StreamValue> values;
    for (WORD q : qualities) values.push_back({1, &v, q, {}});
    for (bool with_time : {false, true}) {
      HGLOBAL block = build_data_stream(with_time, 1, 0, values.data(), values.size());
      ASSERT_NE(block, nullptr);
      EXPECT_EQ(decode(block, with_time).status, status) << qualities.size();
      GlobalFree(block);
    }
  }
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
