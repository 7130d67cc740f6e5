// The DA 1.0 stream reader against blocks laid out here from the OPC DA 1.0 layouts, with
// random items, and against damaged blocks: it reads back every field, and a block that lies
// about its sizes is refused without reading past its end.
#include "da1_stream.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "oleauto.h"

namespace hbt::hbtopc {
namespace {

struct Sent {
  OPCHANDLE client;
  WORD quality;
  FILETIME time;
  VARTYPE vt;
  float number;
  bool bit;
  std::u16string text;
  std::vector<float> elements;  // VT_ARRAY | VT_R4
};

constexpr VARTYPE kFloats = VT_ARRAY | VT_R4;

void put32(std::vector<unsigned char>& b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<unsigned char>(v >> (8 * i));
}
void put16(std::vector<unsigned char>& b, std::size_t at, std::uint16_t v) {
  b[at] = static_cast<unsigned char>(v);
  b[at + 1] = static_cast<unsigned char>(v >> 8);
}

// Little-endian, field by field, as OPC DA 1.0 lays out the block: 20-byte group
// header, 20-byte (with time) or 12-byte item headers, 16-byte VARIANTs, strings after theirs,
// arrays' SAFEARRAY descriptors (32-bit layout, one dimension) and elements after theirs.
std::vector<unsigned char> lay_out(bool with_time, OPCHANDLE group, DWORD transaction, const std::vector<Sent>& items) {
  const std::size_t item_header = with_time ? 20 : 12;
  std::size_t size = 20 + items.size() * item_header;
  for (const auto& s : items)
    size += 16 + (s.vt == VT_BSTR ? 4 + 2 * s.text.size() : 0) + (s.vt == kFloats ? 24 + 4 * s.elements.size() : 0);
  std::vector<unsigned char> b(size, 0xEE);  // filler the reader must not take for data
  put32(b, 0, static_cast<std::uint32_t>(size));
  put32(b, 4, static_cast<std::uint32_t>(items.size()));
  put32(b, 8, group);
  put32(b, 12, transaction);
  put32(b, 16, 0);
  std::size_t value_at = 20 + items.size() * item_header;
  for (std::size_t i = 0; i < items.size(); ++i) {
    const Sent& s = items[i];
    const std::size_t h = 20 + i * item_header;
    put32(b, h, s.client);
    put32(b, h + 4, static_cast<std::uint32_t>(value_at));
    put16(b, h + 8, s.quality);
    put16(b, h + 10, 0);
    if (with_time) {
      put32(b, h + 12, s.time.dwLowDateTime);
      put32(b, h + 16, s.time.dwHighDateTime);
    }
    put16(b, value_at, s.vt);
    put16(b, value_at + 2, 0);
    put32(b, value_at + 4, 0);
    if (s.vt == VT_R4) {
      std::uint32_t bits;
      std::memcpy(&bits, &s.number, 4);
      put32(b, value_at + 8, bits);
    } else if (s.vt == VT_BOOL) {
      put16(b, value_at + 8, s.bit ? 0xFFFF : 0);
    } else if (s.vt == VT_I2) {
      put16(b, value_at + 8, static_cast<std::uint16_t>(static_cast<std::int16_t>(s.number)));
    }
    value_at += 16;
    if (s.vt == VT_BSTR) {
      put32(b, value_at, static_cast<std::uint32_t>(2 * s.text.size()));
      for (std::size_t k = 0; k < s.text.size(); ++k) put16(b, value_at + 4 + 2 * k, s.text[k]);
      value_at += 4 + 2 * s.text.size();
    }
    if (s.vt == kFloats) {
      put16(b, value_at, 1);       // cDims
      put16(b, value_at + 2, 0);   // fFeatures
      put32(b, value_at + 4, 4);   // cbElements
      put32(b, value_at + 8, 0);   // cLocks
      put32(b, value_at + 12, 0);  // pvData
      put32(b, value_at + 16, static_cast<std::uint32_t>(s.elements.size()));
      put32(b, value_at + 20, 0);  // lLbound
      value_at += 24;
      for (float f : s.elements) {
        std::uint32_t bits;
        std::memcpy(&bits, &f, 4);
        put32(b, value_at, bits);
        value_at += 4;
      }
    }
  }
  return b;
}

std::vector<Sent> random_items(std::mt19937& rng) {
  std::vector<Sent> items(rng() % 40);
  const VARTYPE types[] = {VT_R4, VT_BOOL, VT_BSTR, VT_I2, kFloats};
  for (auto& s : items) {
    s.client = rng();
    s.quality = static_cast<WORD>(rng() & 0xFF);
    s.time = {static_cast<DWORD>(rng()), static_cast<DWORD>(rng())};
    s.vt = types[rng() % 5];
    s.number = static_cast<float>(static_cast<int>(rng() % 60000) - 30000) / 8.0f;
    if (s.vt == VT_I2) s.number = static_cast<float>(static_cast<int>(rng() % 60000) - 30000);
    s.bit = rng() & 1;
    for (std::size_t k = rng() % 30; k > 0; --k) s.text.push_back(static_cast<char16_t>(0x20 + rng() % 0x3000));
    if (s.vt == kFloats)
      for (std::size_t k = rng() % 12; k > 0; --k) s.elements.push_back(static_cast<float>(rng() % 1000) / 4.0f);
  }
  return items;
}

void expect_same(const Sent& s, const StreamItem& r, bool with_time) {
  EXPECT_EQ(r.client, s.client);
  EXPECT_EQ(r.quality, s.quality);
  if (with_time) {
    EXPECT_EQ(r.timestamp.dwLowDateTime, s.time.dwLowDateTime);
    EXPECT_EQ(r.timestamp.dwHighDateTime, s.time.dwHighDateTime);
  }
  ASSERT_EQ(r.value.vt, s.vt);
  switch (s.vt) {
    case VT_R4: EXPECT_EQ(r.value.fltVal, s.number); break;
    case VT_I2: EXPECT_EQ(r.value.iVal, static_cast<SHORT>(s.number)); break;
    case VT_BOOL: EXPECT_EQ(r.value.boolVal, s.bit ? VARIANT_TRUE : VARIANT_FALSE); break;
    case VT_BSTR:
      ASSERT_EQ(SysStringLen(r.value.bstrVal), s.text.size());
      EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(r.value.bstrVal), s.text.size()), s.text);
      break;
    case kFloats: {
      const SAFEARRAY* a = r.value.parray;
      ASSERT_NE(a, nullptr);
      ASSERT_EQ(a->rgsabound[0].cElements, s.elements.size());
      EXPECT_EQ(a->rgsabound[0].lLbound, 0);
      for (std::size_t k = 0; k < s.elements.size(); ++k) EXPECT_EQ(static_cast<const float*>(a->pvData)[k], s.elements[k]);
      break;
    }
  }
}

TEST(HbtopcDa1Stream, ReadsBackEveryFieldOfRandomBlocks) {
  std::mt19937 rng(7);
  for (int run = 0; run < 300; ++run) {
    const bool with_time = run % 2 == 0;
    const auto items = random_items(rng);
    const OPCHANDLE group = rng();
    const DWORD transaction = rng();
    const auto block = lay_out(with_time, group, transaction, items);
    DecodedStream out;
    std::string error;
    ASSERT_TRUE(decode_stream(with_time ? StreamFormat::kDataTime : StreamFormat::kData, block.data(), block.size(),
                              &out, &error))
        << error;
    EXPECT_EQ(out.size, block.size());
    EXPECT_EQ(out.group, group);
    EXPECT_EQ(out.transaction, transaction);
    ASSERT_EQ(out.items.size(), items.size());
    for (std::size_t i = 0; i < items.size(); ++i) expect_same(items[i], out.items[i], with_time);
  }
}

TEST(HbtopcDa1Stream, AGlobalBlockLargerThanTheStreamIsReadByTheHeadersSize) {
  std::mt19937 rng(3);
  auto items = random_items(rng);
  auto block = lay_out(true, 1, 2, items);
  const std::size_t stream_size = block.size();
  block.resize(stream_size + 64, 0xAB);  // allocators round blocks up
  DecodedStream out;
  std::string error;
  ASSERT_TRUE(decode_stream(StreamFormat::kDataTime, block.data(), block.size(), &out, &error)) << error;
  EXPECT_EQ(out.size, stream_size);
}

// Every cut and every single damaged 32-bit field: either refused or decoded, never a read past
// the end (the sanitizer builds would see one) and never a value outside the block.
TEST(HbtopcDa1Stream, DamagedBlocksAreRefusedWithoutReadingPastTheirEnd) {
  std::mt19937 rng(11);
  int refused = 0;
  for (int run = 0; run < 200; ++run) {
    const bool with_time = run % 2 == 0;
    auto items = random_items(rng);
    if (items.empty()) continue;
    const auto whole = lay_out(with_time, 5, 6, items);
    // Cut short: the header's size no longer fits, always refused.
    const std::size_t cut = rng() % whole.size();
    std::vector<unsigned char> shorter(whole.begin(), whole.begin() + static_cast<long>(cut));
    DecodedStream a;
    std::string error;
    EXPECT_FALSE(decode_stream(with_time ? StreamFormat::kDataTime : StreamFormat::kData, shorter.data(),
                               shorter.size(), &a, &error));
    ++refused;
    // One 32-bit field replaced by a random or extreme number.
    auto damaged = whole;
    const std::size_t at = (rng() % (whole.size() / 4)) * 4;
    const std::uint32_t values[] = {0xFFFFFFFFu, 0x7FFFFFFFu, static_cast<std::uint32_t>(whole.size()),
                                     static_cast<std::uint32_t>(rng())};
    put32(damaged, at, values[rng() % 4]);
    DecodedStream b;
    if (!decode_stream(with_time ? StreamFormat::kDataTime : StreamFormat::kData, damaged.data(), damaged.size(), &b,
                       &error)) {
      ++refused;
      EXPECT_FALSE(error.empty());
    } else {
      EXPECT_LE(b.size, damaged.size());
      for (const auto& item : b.items) {
        if (item.value.vt == VT_BSTR) {
          EXPECT_LE(2 * SysStringLen(item.value.bstrVal), damaged.size());
        }
      }
    }
  }
  EXPECT_GT(refused, 200);
}

// An array's elements come from the descriptor and data after its VARIANT, never from the
// pointer in it (an address in the server); an array whose elements would run past the block
// is refused.
TEST(HbtopcDa1Stream, ArraysAreReadFromTheDescriptorAndTheElementsAfterTheirVariant) {
  std::vector<Sent> items = {{7, 0xC0, {1, 2}, kFloats, 0, false, u"", {1.5f, -2.0f, 8.25f}},
                             {8, 0xC0, {1, 2}, VT_R4, 3.5f, false, u"", {}}};
  auto block = lay_out(false, 1, 0, items);
  put32(block, 20 + 24 + 8, 0xDEADBEEF);  // a pointer of the server's own in the VARIANT
  DecodedStream out;
  std::string error;
  ASSERT_TRUE(decode_stream(StreamFormat::kData, block.data(), block.size(), &out, &error)) << error;
  ASSERT_EQ(out.items.size(), 2u);
  expect_same(items[0], out.items[0], false);
  EXPECT_EQ(out.items[0].sent_type, kFloats);
  expect_same(items[1], out.items[1], false);

  // Claims of more elements than the block holds, or of element sizes the type does not have.
  for (auto [field, value] : std::vector<std::pair<std::size_t, std::uint32_t>>{
           {16 + 16, 100}, {16 + 16, 0xFFFFFFFF}, {16 + 4, 0x40000000}, {16 + 4, 2}, {16, 0x2000}}) {
    auto damaged = block;
    put32(damaged, 20 + 24 + field, value);
    DecodedStream refused;
    EXPECT_FALSE(decode_stream(StreamFormat::kData, damaged.data(), damaged.size(), &refused, &error))
        << field << " " << value;
  }
}

TEST(HbtopcDa1Stream, WriteCompleteBlocks) {
  std::vector<unsigned char> b(16 + 3 * 8);
  put32(b, 0, 3);
  put32(b, 4, 42);
  put32(b, 8, 77);
  put32(b, 12, 0);
  const HRESULT errors[] = {S_OK, static_cast<HRESULT>(0xC0040004u), E_FAIL};
  for (int i = 0; i < 3; ++i) {
    put32(b, 16 + 8 * i, 100 + i);
    put32(b, 20 + 8 * i, static_cast<std::uint32_t>(errors[i]));
  }
  DecodedStream out;
  std::string error;
  ASSERT_TRUE(decode_stream(StreamFormat::kWriteComplete, b.data(), b.size(), &out, &error)) << error;
  EXPECT_EQ(out.group, 42u);
  EXPECT_EQ(out.transaction, 77u);
  ASSERT_EQ(out.items.size(), 3u);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(out.items[i].client, 100u + i);
    EXPECT_EQ(out.items[i].error, errors[i]);
  }
  put32(b, 0, 4);  // one item more than the block holds
  DecodedStream refused;
  EXPECT_FALSE(decode_stream(StreamFormat::kWriteComplete, b.data(), b.size(), &refused, &error));
}

}  // namespace
}  // namespace hbt::hbtopc
