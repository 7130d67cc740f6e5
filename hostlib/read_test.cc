// nio_read and nio_readEx: values, value statuses, qualities, arrays and timestamps.
#include <bit>
#include <cmath>
#include <limits>

#include <gtest/gtest.h>

#include "com/bstr.h"
#include "com/safearray.h"
#include "hostlib/quality.h"
#include "hostlib/test_plant.h"
#include "testsupport/by_value.h"

namespace hbt::hostlib::testing {
namespace {

using testsupport::by_value;

class Reads : public ::testing::Test {
 protected:
  Plant plant{standard_plant()};
  void SetUp() override {
    ASSERT_TRUE(plant.loaded());
    plant.all_good();
  }

  struct Result {
    NioStatus status = -1;
    std::uint8_t type = 0xEE;
    std::uint8_t size = 0;
    std::int16_t value_status = -1;
    std::uint8_t data[128];
    float f() const {
      float v;
      std::memcpy(&v, data, 4);
      return v;
    }
  };
  Result read(Point& p, std::uint8_t capacity = 4) {
    Result r;
    std::memset(r.data, 0xA5, sizeof r.data);
    NioValue value{0xEE, capacity, -1, r.data};
    plant.host().nio_read(&r.status, &p.block, &p.format, &value);
    r.type = value.type;
    r.size = value.size;
    r.value_status = value.status;
    return r;
  }
};

TEST_F(Reads, AnalogDigitalAndTextValuesComeFromTheCurrentValues) {
  plant.set_word(0, 3, 1234);
  auto analog = plant.point("PLC1:D:103", 1);
  Result r = read(*analog);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.type, kValueFloat);
  EXPECT_EQ(r.size, 4);
  EXPECT_EQ(r.value_status, 0);
  EXPECT_EQ(r.f(), 1234.0f);

  plant.set_word(4, 1, 0x8000);  // X1F is bit 15 of the second word
  auto bit = plant.point("PLC1:X:1F", 2);
  r = read(*bit, 1);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.type, kValueDigital);
  EXPECT_EQ(r.size, 1);
  EXPECT_EQ(r.data[0], 1);
  EXPECT_EQ(read(*plant.point("PLC1:X:1E", 2), 1).data[0], 0);

  plant.set_word(5, 0, 0x0008);
  EXPECT_EQ(read(*plant.point("PLC1:D:500:3", 2), 1).data[0], 1);
  EXPECT_EQ(read(*plant.point("PLC1:D:500:2", 2), 1).data[0], 0);

  std::memcpy(plant.area(1, 1) + 4, "HELLO WORLD", 11);  // from D202 on
  auto text = plant.point("PLC1:D:202", 3);
  r = read(*text, 8);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.type, kValueText);
  EXPECT_EQ(r.size, 8);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(r.data), 8), "HELLO WO");
  r = read(*plant.point("PLC1:D:208", 3), 100);
  EXPECT_EQ(r.size, 4) << "no further than the end of the record";
}

TEST_F(Reads, TextLongerThan128BytesIsCopiedAsFarAsTheBufferAndTheRecordReach) {
  // PLC2 D0..D99: 200 bytes of text.
  std::uint8_t* area = plant.area(12, 1);
  for (int i = 0; i < 200; ++i) area[i] = static_cast<std::uint8_t>('A' + i % 26);
  for (int capacity : {127, 128, 129, 200, 255}) {
    for (int start : {0, 1, 30}) {
      auto p = plant.point("PLC2:D:" + std::to_string(start), 3);
      std::uint8_t data[256];
      std::memset(data, 0xA5, sizeof data);
      NioValue value{0xEE, static_cast<std::uint8_t>(capacity), -1, data};
      NioStatus status = -1;
      plant.host().nio_read(&status, &p->block, &p->format, &value);
      const int expected = std::min(capacity, 200 - 2 * start);
      SCOPED_TRACE("capacity " + std::to_string(capacity) + " from D" + std::to_string(start));
      EXPECT_EQ(status, 0);
      EXPECT_EQ(value.type, kValueText);
      EXPECT_EQ(value.size, expected);
      EXPECT_EQ(std::memcmp(data, area + 2 * start, static_cast<std::size_t>(expected)), 0);
      EXPECT_EQ(data[expected], 0xA5) << "nothing past the bytes read";
    }
  }
}

TEST_F(Reads, SignalConditioningAndEngineeringRangeApply) {
  auto p = plant.point("PLC1:D:104", 1, 0, 100);
  NioStatus status;
  plant.host().nio_psig(&status, &p->block, &p->format, "12AL");
  plant.set_word(0, 4, 4095);
  EXPECT_FLOAT_EQ(read(*p).f(), 100.0f);
  plant.set_word(0, 4, 5000);
  EXPECT_EQ(read(*p).value_status, kValueOutOfRange);

  plant.host().nio_psig(&status, &p->block, &p->format, "FLT");
  std::uint32_t bits = std::bit_cast<std::uint32_t>(6.5f);
  plant.set_word(0, 4, bits & 0xFFFF);
  plant.set_word(0, 5, bits >> 16);
  EXPECT_EQ(read(*p).f(), 6.5f);
  auto last = plant.point("PLC1:D:109", 1);
  plant.host().nio_psig(&status, &last->block, &last->format, "FLT");
  EXPECT_EQ(read(*last).status, kStatusBadAddress) << "the second register lies past the record";
}

TEST_F(Reads, CommunicationFailureGivesTheStatusInsteadOfData) {
  auto p = plant.point("PLC1:D:100", 1);
  plant.set_word(0, 0, 55);
  plant.control(0)->access_countdown = 3;
  plant.control(0)->access_expired = 1;
  for (std::uint16_t failure : {image::kStatusCommFailure, image::kStatusNotPolled}) {
    plant.record(0)->status = failure;
    Result r = read(*p);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.value_status, static_cast<std::int16_t>(failure));
    EXPECT_EQ(r.data[0], 0xA5) << "no data";
    EXPECT_EQ(by_value(plant.control(0)->access_countdown), image::kAccessNeverExpires) << "the access still counts";
    EXPECT_EQ(plant.control(0)->access_expired, 0);
  }
  // With comms alarms disabled on the channel the last value is delivered as good.
  image::ChannelRecord* ch = plant.driver().nio_map_chan(0);
  ch->disable_comms_alarms = 1;
  Result r = read(*p);
  EXPECT_EQ(r.value_status, 0);
  EXPECT_EQ(r.f(), 55.0f);
  // Access expiry is not a communication failure.
  ch->disable_comms_alarms = 0;
  plant.record(0)->status = image::kStatusAccessExpired;
  EXPECT_EQ(read(*p).value_status, 0);
}

TEST_F(Reads, BuffersAndKindsThatDoNotFitAreRefused) {
  EXPECT_EQ(read(*plant.point("PLC1:D:100", 1), 2).status, kStatusBadRequest) << "analog of a 16-bit record";
  EXPECT_EQ(read(*plant.point("PLC1:D:300", 1), 2).status, kStatusWrongKind) << "analog of a 32-bit record";
  EXPECT_EQ(read(*plant.point("PLC1:D:500:1", 2), 0).status, kStatusWrongKind);
  EXPECT_EQ(read(*plant.point("PLC1:X:0", 2), 0).status, kStatusWrongKind);
  EXPECT_EQ(read(*plant.point("PLC1:D:200", 3), 0).status, kStatusWrongKind);
  EXPECT_EQ(read(*plant.point("PLC1:D:300", 3), 10).status, kStatusWrongKind) << "text of a float record";
  EXPECT_EQ(read(*plant.point("PLC1:D:300:1", 2), 1).status, kStatusWrongKind) << "digital of a float record";
  EXPECT_EQ(read(*plant.point("PLC1:D:200", 1)).status, kStatusWrongKind) << "analog of an ASCII record";
  auto odd = plant.point("PLC1:D:100", 1);
  odd->format.kind = 4;
  Result r = read(*odd);
  EXPECT_EQ(r.status, kStatusWrongKind);
  EXPECT_EQ(r.type, 0xEE) << "nothing stored";
}

TEST_F(Reads, StoredFloatsThatAreNotNumbersReadAsZeroWithAStatus) {
  auto p = plant.point("PLC1:D:302", 1);
  struct {
    std::uint32_t bits;
    float value;
    std::int16_t value_status;
  } cases[] = {
      {std::bit_cast<std::uint32_t>(2.5f), 2.5f, 0},
      {0x00000000u, 0.0f, 0},
      {0x80000000u, -0.0f, 0},
      {0x7FC00000u, 0.0f, kValueBadFloat},  // quiet NaN
      {0x7F800000u, 0.0f, kValueBadFloat},  // infinity
      {0x00000001u, 0.0f, kValueBadFloat},  // denormal
  };
  for (const auto& c : cases) {
    plant.set_long(2, 1, c.bits);
    Result r = read(*p);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.f(), c.value) << std::hex << c.bits;
    EXPECT_EQ(r.value_status, c.value_status) << std::hex << c.bits;
  }
}

TEST_F(Reads, LongRecordsHonourTheDecimalConditionings) {
  auto p = plant.point("PLC1:D:402", 1);
  plant.set_long(3, 1, static_cast<std::uint32_t>(-15));
  EXPECT_EQ(read(*p).f(), -15.0f);
  NioStatus status;
  plant.host().nio_psig(&status, &p->block, &p->format, "D10");
  EXPECT_FLOAT_EQ(read(*p).f(), -1.5f);
  plant.host().nio_psig(&status, &p->block, &p->format, "D100");
  EXPECT_FLOAT_EQ(read(*p).f(), -0.15f);
  plant.host().nio_psig(&status, &p->block, &p->format, "LIN");
  EXPECT_EQ(read(*p).f(), -15.0f) << "other conditionings do not act on 32-bit records";
  auto u = plant.point("PLC1:D:700", 1);
  plant.set_long(11, 0, 0xFFFFFFFFu);
  EXPECT_EQ(read(*u).f(), 4294967295.0f);
}

TEST_F(Reads, ElementsWalkThroughTheRecordAndStopAtItsEnd) {
  for (int i = 0; i < 10; ++i) plant.set_word(0, i, static_cast<std::uint16_t>(100 + i));
  auto p = plant.point("PLC1:D:101", 1);
  p->address.element = 3;
  EXPECT_EQ(read(*p).f(), 104.0f);
  p->address.element = 8;
  EXPECT_EQ(read(*p).f(), 109.0f);
  p->address.element = 9;
  EXPECT_EQ(read(*p).status, kStatusBadAddress);

  plant.set_long(2, 2, std::bit_cast<std::uint32_t>(7.25f));
  auto f = plant.point("PLC1:D:300", 1);
  f->address.element = 2;  // two registers per element: D304
  EXPECT_EQ(read(*f).f(), 7.25f);
  f->address.element = 4;  // D308-309: still inside
  EXPECT_EQ(read(*f).status, 0);
  f->address.element = 5;
  EXPECT_EQ(read(*f).status, kStatusBadAddress);

  plant.set_word(5, 1, 0x0002);
  auto bit = plant.point("PLC1:D:500:14", 2);
  bit->address.element = 3;  // bit 17 = D501 bit 1
  EXPECT_EQ(read(*bit, 1).data[0], 1);
  bit->address.element = 50;  // bit 64 = D504: past the record
  EXPECT_EQ(read(*bit, 1).status, kStatusBadAddress);

  plant.set_word(4, 0, 0x0020);
  auto x = plant.point("PLC1:X:3", 2);
  x->address.element = 2;
  EXPECT_EQ(read(*x, 1).data[0], 1);
  x->address.element = 29;
  EXPECT_EQ(read(*x, 1).status, kStatusBadAddress);
}

TEST_F(Reads, EveryReadKeepsTheRecordPolled) {
  auto p = plant.point("PLC1:D:100", 1);
  plant.record(0)->access_time = 500;
  plant.control(0)->access_countdown = 0;
  plant.control(0)->access_expired = 1;
  ASSERT_EQ(read(*p).status, 0);
  EXPECT_EQ(by_value(plant.control(0)->access_countdown), 500);
  EXPECT_EQ(plant.control(0)->access_expired, 0);
}

class ReadsEx : public Reads {
 protected:
  struct ExResult {
    NioStatus status = -1;
    std::uint16_t quality;
    com::FILETIME timestamp{};
    com::VARIANT value;
    ExResult() { com::VariantInit(&value); }
    ~ExResult() { com::VariantClear(&value); }
  };
  void read_ex(Point& p, std::int32_t count, ExResult* r, std::uint16_t incoming = 0) {
    r->quality = incoming;
    plant.host().nio_readEx(&r->status, &p.block, &p.format, &r->timestamp, &r->quality, count, &r->value);
  }
};

TEST_F(ReadsEx, QualityFollowsTheValueStatus) {
  EXPECT_EQ(opc_quality(0, 0, 0x1234), 0xC0);
  EXPECT_EQ(opc_quality(0, kStatusBadAddress, 0xFFFF), 0xFFC3);
  EXPECT_EQ(opc_quality(kValueStatus4162, 0, 0), 0x55);
  EXPECT_EQ(opc_quality(kValueStatus4163, 0, 0), 0x56);
  EXPECT_EQ(opc_quality(kValueOutOfRange, 0, 0), 0x54);
  EXPECT_EQ(opc_quality(4293, 0, 0x03), 0x1B);
  EXPECT_EQ(opc_quality(4296, 0, 0x01), 0x45);
  EXPECT_EQ(opc_quality(4297, 0, 0xFF), 0x1F);
  EXPECT_EQ(opc_quality(kValueBadFloat, 0, 0xFFFF), 0xFFC3);

  auto p = plant.point("PLC1:D:100", 1);
  plant.record(0)->status = image::kStatusCommFailure;
  ExResult r;
  read_ex(*p, 1, &r, 0x03);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.quality, 0x1B);
  EXPECT_EQ(r.value.vt, com::VT_R4);
  EXPECT_EQ(r.value.fltVal, 0.0f);
  plant.record(0)->status = 0;
  plant.set_word(0, 0, 9);
  ExResult good;
  read_ex(*p, 1, &good, 0x03);
  EXPECT_EQ(good.quality, 0xC0);
  EXPECT_EQ(good.value.fltVal, 9.0f);
}

TEST_F(ReadsEx, ArraysReadConsecutiveValuesAndPutTheElementIndexBack) {
  for (int i = 0; i < 10; ++i) plant.set_word(0, i, static_cast<std::uint16_t>(10 * i));
  auto p = plant.point("PLC1:D:100", 1);
  ExResult r;
  read_ex(*p, 5, &r);
  ASSERT_EQ(r.value.vt, com::VT_ARRAY | com::VT_R4);
  com::LONG upper = -1;
  com::SafeArrayGetUBound(r.value.parray, 1, &upper);
  EXPECT_EQ(upper, 4);
  for (com::LONG i = 0; i < 5; ++i) {
    float f = -1;
    com::SafeArrayGetElement(r.value.parray, &i, &f);
    EXPECT_EQ(f, 10.0f * i);
  }
  EXPECT_EQ(p->address.element, 0);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.quality, 0xC0);

  // Past the record: the further elements are zero and the status says why.
  auto tail = plant.point("PLC1:D:108", 1);
  ExResult t;
  read_ex(*tail, 4, &t);
  com::LONG i = 3;
  float f = -1;
  com::SafeArrayGetElement(t.value.parray, &i, &f);
  EXPECT_EQ(f, 0.0f);
  EXPECT_EQ(t.status, kStatusBadAddress);
  EXPECT_EQ(t.quality, 0xC0) << "the quality is element 0's";

  plant.set_word(5, 0, 0xC000);
  plant.set_word(5, 1, 0x0001);
  auto bits = plant.point("PLC1:D:500:14", 2);
  ExResult b;
  read_ex(*bits, 4, &b);
  ASSERT_EQ(b.value.vt, com::VT_ARRAY | com::VT_BOOL);
  const com::VARIANT_BOOL expected[] = {com::VARIANT_TRUE, com::VARIANT_TRUE, com::VARIANT_TRUE, com::VARIANT_FALSE};
  for (com::LONG k = 0; k < 4; ++k) {
    com::VARIANT_BOOL v = 7;
    com::SafeArrayGetElement(b.value.parray, &k, &v);
    EXPECT_EQ(v, expected[k]) << k;
  }
}

TEST_F(ReadsEx, ScalarsTextsAndUnknownKinds) {
  plant.set_word(5, 0, 0x0001);
  auto bit = plant.point("PLC1:D:500:0", 2);
  ExResult b;
  read_ex(*bit, 1, &b);
  EXPECT_EQ(b.value.vt, com::VT_BOOL);
  EXPECT_EQ(b.value.boolVal, com::VARIANT_TRUE);

  plant.set_word(4, 0, 0x0004);
  auto x = plant.point("PLC1:X:2", 1);  // a bit asked for as an analog value
  ExResult a;
  read_ex(*x, 1, &a);
  EXPECT_EQ(a.value.vt, com::VT_R4);
  EXPECT_EQ(a.value.fltVal, 1.0f);

  const char bytes[] = {'C', 'A', 'F', '\xE9', '\0', 'X'};
  std::memcpy(plant.area(1, 1), bytes, sizeof bytes);
  auto text = plant.point("PLC1:D:200", 3);
  ExResult t;
  read_ex(*text, 20, &t);
  ASSERT_EQ(t.value.vt, com::VT_BSTR);
  EXPECT_EQ(com::bstr_view(t.value.bstrVal), u"CAF\u00E9") << "bytes widen one for one and stop at the NUL";
  ExResult cut;
  read_ex(*text, 2, &cut);
  EXPECT_EQ(com::bstr_view(cut.value.bstrVal), u"CA") << "the count is the text capacity";

  auto odd = plant.point("PLC1:D:100", 1);
  odd->format.kind = 4;
  ExResult o;
  o.value.vt = com::VT_I4;
  o.value.lVal = 99;
  read_ex(*odd, 1, &o);
  EXPECT_EQ(o.status, kStatusBadRequest);
  EXPECT_EQ(o.value.vt, com::VT_I4) << "the VARIANT is not set";
}

TEST_F(ReadsEx, TimestampIsNowLessTheAgeOfTheData) {
  auto p = plant.point("PLC1:D:100", 1);
  plant.record(0)->poll_time = 100;     // 1 s
  plant.control(0)->poll_countdown = 40;  // the request went out 600 ms ago
  com::FILETIME now;
  com::GetSystemTimeAsFileTime(&now);
  ExResult r;
  read_ex(*p, 1, &r);
  const std::int64_t age = com::filetime_ticks(now) - com::filetime_ticks(r.timestamp);
  EXPECT_NEAR(static_cast<double>(age) / 10000.0, 600.0, 60.0) << "milliseconds";
  plant.control(0)->poll_countdown = 100;  // just sent
  ExResult fresh;
  read_ex(*p, 1, &fresh);
  com::GetSystemTimeAsFileTime(&now);
  EXPECT_NEAR(static_cast<double>(com::filetime_ticks(now) - com::filetime_ticks(fresh.timestamp)) / 10000.0, 0.0,
              60.0);
}

}  // namespace
}  // namespace hbt::hostlib::testing
