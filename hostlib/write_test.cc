// nio_send, nio_sendEx and nio_sendVQT: what lands in data areas 2 and 3, and the write
// request count the poller relies on.
#include <bit>
#include <limits>
#include <utility>

#include <gtest/gtest.h>

#include "com/bstr.h"
#include "com/safearray.h"
#include "hostlib/test_plant.h"
#include "testsupport/by_value.h"

namespace hbt::hostlib::testing {
namespace {

using testsupport::by_value;

class Writes : public ::testing::Test {
 protected:
  Plant plant{standard_plant()};
  void SetUp() override {
    ASSERT_TRUE(plant.loaded());
    plant.all_good();
  }
  NioStatus send_float(Point& p, float f) {
    NioValue v{kValueFloat, 4, -1, &f};
    NioStatus status = -1;
    plant.host().nio_send(&status, &p.block, &p.format, &v);
    EXPECT_EQ(v.status, 0);
    return status;
  }
  NioStatus send_bit(Point& p, std::uint8_t b) {
    NioValue v{kValueDigital, 1, 0, &b};
    NioStatus status = -1;
    plant.host().nio_send(&status, &p.block, &p.format, &v);
    return status;
  }
  NioStatus send_ex(Point& p, com::VARIANT* v, std::int32_t count = 1) {
    NioStatus status = -1;
    plant.host().nio_sendEx(&status, &p.block, &p.format, count, v);
    return status;
  }
  std::uint16_t pending(int k) { return plant.control(k)->write_request_count; }
};

TEST_F(Writes, BitWritesCountOnlyBitsNotYetPending) {
  auto p = plant.point("PLC1:D:500:3", 2);
  ASSERT_EQ(send_bit(*p, 1), 0);
  EXPECT_EQ(plant.word(5, 2, 0), 0x0008);
  EXPECT_EQ(plant.word(5, 3, 0), 0x0008);
  EXPECT_EQ(pending(5), 1);
  ASSERT_EQ(send_bit(*p, 1), 0);
  EXPECT_EQ(pending(5), 1) << "already pending";
  ASSERT_EQ(send_bit(*p, 0), 0);
  EXPECT_EQ(plant.word(5, 2, 0), 0x0000) << "the newest value wins";
  EXPECT_EQ(pending(5), 1);
  auto q = plant.point("PLC1:D:500:9", 2);
  ASSERT_EQ(send_bit(*q, 1), 0);
  EXPECT_EQ(plant.word(5, 3, 0), 0x0208);
  EXPECT_EQ(pending(5), 2);

  auto x = plant.point("PLC1:X:13", 2);  // bit device: word 1, bit 3
  ASSERT_EQ(send_bit(*x, 1), 0);
  EXPECT_EQ(plant.word(4, 2, 1), 0x0008);
  EXPECT_EQ(plant.word(4, 3, 1), 0x0008);
  EXPECT_EQ(pending(4), 1);
  std::uint16_t word_value = 1;
  NioValue two_bytes{kValueDigital, 2, 0, &word_value};
  auto y = plant.point("PLC1:X:14", 2);
  NioStatus status = -1;
  plant.host().nio_send(&status, &y->block, &y->format, &two_bytes);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(plant.word(4, 2, 1), 0x0018) << "a 16-bit 1 sets the bit as well";
}

TEST_F(Writes, WholeWordsReplaceTheirValueAndCountSixteenOnce) {
  auto p = plant.point("PLC1:D:104", 1);
  ASSERT_EQ(send_float(*p, 17), 0);
  EXPECT_EQ(plant.word(0, 2, 4), 17);
  EXPECT_EQ(plant.word(0, 3, 4), 0xFFFF);
  EXPECT_EQ(pending(0), 16);
  ASSERT_EQ(send_float(*p, 18), 0);
  EXPECT_EQ(plant.word(0, 2, 4), 18);
  EXPECT_EQ(pending(0), 16);
  EXPECT_EQ(by_value(plant.control(0)->access_countdown), image::kAccessNeverExpires);
  EXPECT_EQ(by_value(plant.control(0)->changed_count), 0) << "writes do not touch the changed count";
}

TEST_F(Writes, AWholeWordOverPendingBitsAddsOnlyTheRest) {
  auto bit = plant.point("PLC1:D:501:0", 2);
  auto word = plant.point("PLC1:D:501", 1);
  ASSERT_EQ(send_bit(*bit, 1), 0);
  ASSERT_EQ(pending(5), 1);
  NioStatus status = -1;
  float f = 3;
  NioValue v{kValueFloat, 4, 0, &f};
  plant.host().nio_send(&status, &word->block, &word->format, &v);
  ASSERT_EQ(status, 0);
  EXPECT_EQ(plant.word(5, 3, 1), 0xFFFF);
  EXPECT_EQ(pending(5), 16) << "the poller takes 16 off for the whole word";
}

TEST_F(Writes, TwoRegisterConditioningsFillBothWords) {
  auto p = plant.point("PLC1:D:106", 1);
  NioStatus status;
  plant.host().nio_psig(&status, &p->block, &p->format, "FLT");
  ASSERT_EQ(send_float(*p, -2.5f), 0);
  EXPECT_EQ(plant.word(0, 2, 6), 0x0000);
  EXPECT_EQ(plant.word(0, 2, 7), 0xC020);
  EXPECT_EQ(plant.word(0, 3, 6), 0xFFFF);
  EXPECT_EQ(plant.word(0, 3, 7), 0xFFFF);
  EXPECT_EQ(pending(0), 32);
  auto last = plant.point("PLC1:D:109", 1);
  plant.host().nio_psig(&status, &last->block, &last->format, "LONG");
  EXPECT_EQ(send_float(*last, 1), kStatusBadAddress) << "no room for the second register";
  EXPECT_EQ(pending(0), 32);
}

TEST_F(Writes, SignedLinearWritesTheOffsetRaw) {
  auto p = plant.point("PLC1:D:600", 1, -50, 100);
  NioStatus status;
  plant.host().nio_psig(&status, &p->block, &p->format, "LIN");
  ASSERT_EQ(send_float(*p, -50), 0);
  EXPECT_EQ(plant.word(10, 2, 0), 0x8000);
}

TEST_F(Writes, ThirtyTwoBitRecordsTakeWholeValues) {
  auto f = plant.point("PLC1:D:304", 1);
  ASSERT_EQ(send_float(*f, 7.5f), 0);
  EXPECT_EQ(plant.long_at(2, 2, 2), std::bit_cast<std::uint32_t>(7.5f));
  EXPECT_EQ(plant.word(2, 3, 2), 0xFFFF) << "one flag per 4-byte value";
  EXPECT_EQ(pending(2), 16);

  auto l = plant.point("PLC1:D:402", 1);
  NioStatus status;
  plant.host().nio_psig(&status, &l->block, &l->format, "D10");
  ASSERT_EQ(send_float(*l, -1.26f), 0);
  EXPECT_EQ(static_cast<std::int32_t>(plant.long_at(3, 2, 1)), -13) << "x10, rounded half away from zero";
  plant.host().nio_psig(&status, &l->block, &l->format, "NONE");
  ASSERT_EQ(send_float(*l, 1e10f), 0);
  EXPECT_EQ(plant.long_at(3, 2, 1), 0x7FFFFFFFu) << "saturates";

  auto u = plant.point("PLC1:D:700", 1);
  ASSERT_EQ(send_float(*u, 3e9f), 0);
  EXPECT_EQ(plant.long_at(11, 2, 0), 3000000000u);
}

TEST_F(Writes, NegativeValuesRoundAwayFromZeroAndStopAtTheEdgeOfEachSignedType) {
  NioStatus status;
  // Long Signed (D400..D409) without and with a decimal scaling.
  auto l = plant.point("PLC1:D:400", 1);
  const std::pair<float, std::int32_t> longs[] = {
      {-5.0f, -5}, {-4.5f, -5}, {-0.5f, -1}, {-0.49f, 0}, {-1.0f, -1}, {5.0f, 5}, {4.5f, 5},
      {-2147483648.0f, std::numeric_limits<std::int32_t>::min()}, {-3e9f, std::numeric_limits<std::int32_t>::min()},
      {-1e30f, std::numeric_limits<std::int32_t>::min()}, {2147483647.0f, std::numeric_limits<std::int32_t>::max()},
      {-16777216.0f, -16777216}};
  for (auto [value, expected] : longs) {
    ASSERT_EQ(send_float(*l, value), 0);
    EXPECT_EQ(static_cast<std::int32_t>(plant.long_at(3, 2, 0)), expected) << value;
  }
  plant.host().nio_psig(&status, &l->block, &l->format, "D100");
  ASSERT_EQ(send_float(*l, -0.05f), 0);
  EXPECT_EQ(static_cast<std::int32_t>(plant.long_at(3, 2, 0)), -5);
  ASSERT_EQ(send_float(*l, -0.015f), 0);
  EXPECT_EQ(static_cast<std::int32_t>(plant.long_at(3, 2, 0)), -2) << "-1.5 away from zero";

  // Long Unsigned (D700..D709) has no negative values and no room above its top.
  auto u = plant.point("PLC1:D:700", 1);
  for (auto [value, expected] : {std::pair<float, std::uint32_t>{-5.0f, 0u}, {-0.4f, 0u}, {0.5f, 1u},
                                 {5e9f, 0xFFFFFFFFu}, {1e19f, 0xFFFFFFFFu}, {-1e19f, 0u}}) {
    ASSERT_EQ(send_float(*u, value), 0);
    EXPECT_EQ(plant.long_at(11, 2, 0), expected) << value;
  }

  // Signed 16-bit registers (D600..D609).
  auto s = plant.point("PLC1:D:600", 1, -50, 100);
  auto sent = [&](const char* conditioning, float value) {
    plant.host().nio_psig(&status, &s->block, &s->format, conditioning);
    EXPECT_EQ(send_float(*s, value), 0);
    return static_cast<std::int16_t>(plant.word(10, 2, 0));
  };
  EXPECT_EQ(sent("NONE", -1.5f), -2);
  EXPECT_EQ(sent("NONE", -32768.0f), -32768);
  EXPECT_EQ(sent("NONE", -32768.6f), -32768) << "not wrapped to +32767";
  EXPECT_EQ(sent("NONE", -1e6f), -32768);
  EXPECT_EQ(sent("NONE", 32767.6f), 32767);
  EXPECT_EQ(sent("SINT", -2.5f), -3);
  EXPECT_EQ(sent("SINT", -40000.0f), -32768);
  EXPECT_EQ(sent("SINT", 40000.0f), 32767);
  EXPECT_EQ(sent("LIN", -50.0f), -32768);
  EXPECT_EQ(sent("LIN", -51.0f), -32768);
  EXPECT_EQ(sent("LIN", 1e20f), 32767);
  plant.host().nio_psig(&status, &s->block, &s->format, "LD10");
  ASSERT_EQ(send_float(*s, -0.25f), 0);
  EXPECT_EQ(static_cast<std::int32_t>(std::uint32_t{plant.word(10, 2, 1)} << 16 | plant.word(10, 2, 0)), -3);
  plant.host().nio_psig(&status, &s->block, &s->format, "L100");
  ASSERT_EQ(send_float(*s, -1e30f), 0);
  EXPECT_EQ(static_cast<std::int32_t>(std::uint32_t{plant.word(10, 2, 1)} << 16 | plant.word(10, 2, 0)),
            std::numeric_limits<std::int32_t>::min());
}

TEST_F(Writes, TextsArePaddedToWholeRegisters) {
  auto p = plant.point("PLC1:D:200", 3);
  std::memset(plant.area(1, 2), 'z', 20);
  char text[] = "ABC";
  NioValue v{kValueText, 3, 0, text};
  NioStatus status = -1;
  plant.host().nio_send(&status, &p->block, &p->format, &v);
  ASSERT_EQ(status, 0);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(plant.area(1, 2)), 5), std::string("ABC\0z", 5));
  EXPECT_EQ(plant.word(1, 3, 0), 0xFFFF);
  EXPECT_EQ(plant.word(1, 3, 1), 0xFFFF);
  EXPECT_EQ(plant.word(1, 3, 2), 0);
  EXPECT_EQ(pending(1), 32);
  auto tail = plant.point("PLC1:D:208", 3);
  char many[100];
  std::memset(many, 'Q', sizeof many);
  NioValue big{kValueText, 100, 0, many};
  plant.host().nio_send(&status, &tail->block, &tail->format, &big);
  ASSERT_EQ(status, 0);
  EXPECT_EQ(plant.word(1, 3, 0), 0xFFFF) << "area 3 follows area 2 and the text stopped before it";
  EXPECT_EQ(plant.word(1, 3, 7), 0);
  EXPECT_EQ(plant.word(1, 3, 9), 0xFFFF);
  EXPECT_EQ(pending(1), 64);
}

TEST_F(Writes, KindsThatDoNotFitChangeNothing) {
  auto text_on_float = plant.point("PLC1:D:300", 3);
  char t[] = "AB";
  NioValue v{kValueText, 2, 0, t};
  NioStatus status = -1;
  plant.host().nio_send(&status, &text_on_float->block, &text_on_float->format, &v);
  EXPECT_EQ(status, kStatusWrongKind);
  auto analog_on_ascii = plant.point("PLC1:D:200", 1);
  EXPECT_EQ(send_float(*analog_on_ascii, 1), kStatusWrongKind);
  auto bit_on_float = plant.point("PLC1:D:300:1", 2);
  EXPECT_EQ(send_bit(*bit_on_float, 1), kStatusWrongKind);
  for (int k = 0; k < 13; ++k) EXPECT_EQ(pending(k), 0) << k;
  auto past = plant.point("PLC1:D:109", 1);
  past->address.element = 1;
  EXPECT_EQ(send_float(*past, 1), kStatusBadAddress);
  auto odd = plant.point("PLC1:D:100", 1);
  odd->format.kind = 4;
  plant.control(0)->access_countdown = 1;
  EXPECT_EQ(send_float(*odd, 1), 0) << "other kinds write nothing";
  EXPECT_EQ(pending(0), 0);
  EXPECT_EQ(by_value(plant.control(0)->access_countdown), image::kAccessNeverExpires);
}

TEST_F(Writes, VariantScalarsAreConverted) {
  auto p = plant.point("PLC1:D:100", 1);
  com::VARIANT v;
  com::VariantInit(&v);
  v.vt = com::VT_BSTR;
  v.bstrVal = com::SysAllocString(u"42.4");
  EXPECT_EQ(send_ex(*p, &v), 0);
  com::VariantClear(&v);
  EXPECT_EQ(plant.word(0, 2, 0), 42);
  v.vt = com::VT_UI4;
  v.ulVal = 65535;
  EXPECT_EQ(send_ex(*p, &v), 0);
  EXPECT_EQ(plant.word(0, 2, 0), 65535);
  v.vt = com::VT_BSTR;
  v.bstrVal = com::SysAllocString(u"lots");
  EXPECT_EQ(send_ex(*p, &v), kStatusWrongKind);
  com::VariantClear(&v);

  auto bit = plant.point("PLC1:D:500:0", 2);
  v.vt = com::VT_R8;
  v.dblVal = 0.25;
  EXPECT_EQ(send_ex(*bit, &v), 0);
  EXPECT_EQ(plant.word(5, 2, 0), 1);
  v.vt = com::VT_BSTR;
  v.bstrVal = com::SysAllocString(u"maybe");
  EXPECT_EQ(send_ex(*bit, &v), kStatusWrongKind);
  NioStatus status = -1;
  plant.host().nio_sendVQT(&status, &bit->block, &bit->format, 1, &v);
  EXPECT_EQ(status, 0) << "VQT writes 0 for what it cannot read as a boolean";
  EXPECT_EQ(plant.word(5, 2, 0), 0);
  com::VariantClear(&v);
}

TEST_F(Writes, VariantTextsAreBoundedByTheirCount) {
  auto p = plant.point("PLC1:D:200", 3);
  com::VARIANT v;
  com::VariantInit(&v);
  v.vt = com::VT_BSTR;
  v.bstrVal = com::bstr_from_utf8(std::string(200, 'x'));
  EXPECT_EQ(send_ex(*p, &v, 200), kStatusBadAddress);
  EXPECT_EQ(send_ex(*p, &v, -1), kStatusBadAddress);
  EXPECT_EQ(pending(1), 0);
  com::VariantClear(&v);
  v.vt = com::VT_BSTR;
  v.bstrVal = com::SysAllocString(u"Caf\u00E9!");
  EXPECT_EQ(send_ex(*p, &v, 4), 0);
  com::VariantClear(&v);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(plant.area(1, 2)), 4), "Caf\xE9");
  NioStatus status = -1;
  v.vt = com::VT_I4;
  v.lVal = 5;
  plant.host().nio_sendVQT(&status, &p->block, &p->format, 4, &v);
  EXPECT_EQ(status, kStatusBadRequest) << "no text through VQT";
  auto odd = plant.point("PLC1:D:100", 1);
  odd->format.kind = 4;
  EXPECT_EQ(send_ex(*odd, &v), kStatusBadRequest);
}

TEST_F(Writes, ArrayWritesNeedTheirCountAndPutTheElementIndexBack) {
  auto p = plant.point("PLC1:D:100", 1);
  com::VARIANT v;
  com::VariantInit(&v);
  v.vt = com::VT_ARRAY | com::VT_R4;
  v.parray = com::SafeArrayCreateVector(com::VT_R4, 0, 4);
  for (com::LONG i = 0; i < 4; ++i) {
    float f = 10.0f + i;
    com::SafeArrayPutElement(v.parray, &i, &f);
  }
  EXPECT_EQ(send_ex(*p, &v, 3), kStatusBadRequest);
  EXPECT_EQ(pending(0), 0) << "nothing written for a wrong count";
  EXPECT_EQ(send_ex(*p, &v, 4), 0);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(plant.word(0, 2, i), 10 + i);
  EXPECT_EQ(pending(0), 64);
  EXPECT_EQ(p->address.element, 0);
  com::VariantClear(&v);

  // Whole-number elements go through as raw 32-bit values; 16-bit ones as unsigned.
  v.vt = com::VT_ARRAY | com::VT_I4;
  v.parray = com::SafeArrayCreateVector(com::VT_I4, 0, 2);
  com::LONG i = 1, minus = -5;
  com::SafeArrayPutElement(v.parray, &i, &minus);
  auto s = plant.point("PLC1:W:10", 1);
  EXPECT_EQ(send_ex(*s, &v, 2), 0);
  EXPECT_EQ(plant.word(8, 2, 1), 0xFFFB) << "-5 on a signed record";
  com::VariantClear(&v);

  v.vt = com::VT_ARRAY | com::VT_BOOL;
  v.parray = com::SafeArrayCreateVector(com::VT_BOOL, 0, 3);
  com::VARIANT_BOOL t = com::VARIANT_TRUE;
  com::LONG two = 2;
  com::SafeArrayPutElement(v.parray, &two, &t);
  auto bits = plant.point("PLC1:D:500:15", 2);
  EXPECT_EQ(send_ex(*bits, &v, 3), 0);
  EXPECT_EQ(plant.word(5, 3, 0), 0x8000);
  EXPECT_EQ(plant.word(5, 3, 1), 0x0003);
  EXPECT_EQ(plant.word(5, 2, 1), 0x0002) << "the third element is D501 bit 1";
  com::VariantClear(&v);

  v.vt = com::VT_ARRAY | com::VT_BSTR;
  v.parray = com::SafeArrayCreateVector(com::VT_BSTR, 0, 2);
  com::BSTR word = com::SysAllocString(u"12");
  com::LONG zero = 0;
  com::SafeArrayPutElement(v.parray, &zero, word);
  com::SysFreeString(word);
  auto q = plant.point("PLC1:D:105", 1);
  EXPECT_EQ(send_ex(*q, &v, 2), kStatusWrongKind) << "the empty second string is not a number";
  EXPECT_EQ(plant.word(0, 2, 5), 12) << "elements before the failure stay written";
  com::VariantClear(&v);

  auto text = plant.point("PLC1:D:200", 3);
  v.vt = com::VT_ARRAY | com::VT_R4;
  v.parray = com::SafeArrayCreateVector(com::VT_R4, 0, 1);
  EXPECT_EQ(send_ex(*text, &v, 1), kStatusBadAddress) << "no text arrays";
  com::VariantClear(&v);
  v.vt = com::VT_ARRAY | com::VT_R4;
  v.parray = nullptr;
  EXPECT_EQ(send_ex(*p, &v, 1), kStatusBadRequest);
}

// A write whose value had to be changed to fit (held at the edge of its range, or a text cut
// to its room) is still queued, and its result word says so; the status word stays 0.
TEST_F(Writes, AValueChangedToFitIsWrittenAndSaidSo) {
  NioStatus status = -1;
  auto d = plant.point("PLC1:D:102", 1);
  com::VARIANT v;
  com::VariantInit(&v);
  v.vt = com::VT_I4;
  v.lVal = -5;
  EXPECT_EQ(plant.host().nio_sendEx(&status, &d->block, &d->format, 1, &v), kValueOutOfRange);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(plant.word(0, 2, 2), 0) << "held at the bottom of the unsigned register";
  EXPECT_EQ(plant.word(0, 3, 2), 0xFFFF) << "and queued";
  v.lVal = 77;
  EXPECT_EQ(plant.host().nio_sendEx(&status, &d->block, &d->format, 1, &v), 0);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(plant.host().nio_sendVQT(&status, &d->block, &d->format, 1, &v), 0);
  v.lVal = 70000;
  EXPECT_EQ(plant.host().nio_sendVQT(&status, &d->block, &d->format, 1, &v), kValueOutOfRange);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(plant.word(0, 2, 2), 0xFFFF);

  float too_big = 1e10f;
  NioValue raw{kValueFloat, 4, 0, &too_big};
  EXPECT_EQ(plant.host().nio_send(&status, &d->block, &d->format, &raw), kValueOutOfRange);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(raw.status, 0) << "the value status of a write stays 0";
  auto longs = plant.point("PLC1:D:700", 1);
  EXPECT_EQ(plant.host().nio_send(&status, &longs->block, &longs->format, &raw), kValueOutOfRange);
  float fine = 1e9f;
  raw.data = &fine;
  EXPECT_EQ(plant.host().nio_send(&status, &longs->block, &longs->format, &raw), 0);

  // Eight characters to a text of four: the first four are written.
  auto text = plant.point("PLC1:D:200", 3);
  v.vt = com::VT_BSTR;
  v.bstrVal = com::SysAllocString(u"ABCDEFGH");
  EXPECT_EQ(plant.host().nio_sendEx(&status, &text->block, &text->format, 4, &v), kValueOutOfRange);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(plant.area(1, 2)), 4), "ABCD");
  EXPECT_EQ(plant.host().nio_sendEx(&status, &text->block, &text->format, 8, &v), 0);
  EXPECT_EQ(plant.host().nio_sendEx(&status, &text->block, &text->format, 12, &v), 0) << "shorter is padded";
  // The record's room cuts as well: D208 leaves four bytes.
  auto tail = plant.point("PLC1:D:208", 3);
  EXPECT_EQ(plant.host().nio_sendEx(&status, &tail->block, &tail->format, 8, &v), kValueOutOfRange);
  EXPECT_EQ(status, 0);
  com::VariantClear(&v);

  // An array with one element out of range: every element written, the write said changed.
  v.vt = com::VT_ARRAY | com::VT_R4;
  v.parray = com::SafeArrayCreateVector(com::VT_R4, 0, 3);
  for (com::LONG i = 0; i < 3; ++i) {
    float f = i == 1 ? -1.0f : 5.0f + i;
    com::SafeArrayPutElement(v.parray, &i, &f);
  }
  auto a = plant.point("PLC1:D:105", 1);
  EXPECT_EQ(plant.host().nio_sendEx(&status, &a->block, &a->format, 3, &v), kValueOutOfRange);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(plant.word(0, 2, 5), 5);
  EXPECT_EQ(plant.word(0, 2, 6), 0);
  EXPECT_EQ(plant.word(0, 2, 7), 7);
  com::VariantClear(&v);
}

TEST_F(Writes, ReadsAfterAWriteStillShowTheCurrentValue) {
  plant.set_word(0, 0, 5);
  auto p = plant.point("PLC1:D:100", 1);
  ASSERT_EQ(send_float(*p, 9), 0);
  float f = 0;
  NioValue v{0, 4, 0, &f};
  NioStatus status = -1;
  plant.host().nio_read(&status, &p->block, &p->format, &v);
  EXPECT_EQ(f, 5.0f) << "area 1 changes only when the poller reads the PLC back";
}

}  // namespace
}  // namespace hbt::hostlib::testing
