// nio_paddr, nio_daddr and resolution against a live image.
#include <gtest/gtest.h>

#include "hostlib/test_plant.h"
#include "platform/clock.h"
#include "testsupport/image_builder.h"

namespace hbt::hostlib::testing {
namespace {

class Addresses : public ::testing::Test {
 protected:
  Plant plant{standard_plant()};
  void SetUp() override { ASSERT_TRUE(plant.loaded()); }
  int record_of(const Point& p) { return static_cast<int>(p.address.handle & 0xFFFF); }
  std::string display(Point& p, std::uint16_t size = 32) {
    char out[64];
    std::memset(out, '#', sizeof out);
    NioStatus status = -1;
    plant.host().nio_daddr(&status, &p.block, &p.format, out, size);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(out[32], '#') << "exactly 32 bytes are written";
    return out;
  }
};

TEST_F(Addresses, ExamplesResolveToTheirRecordsAndDisplayAsWritten) {
  struct {
    const char* text;
    std::uint8_t kind;
    int record;
    std::uint8_t kind_after;
    const char* shown;
  } cases[] = {
      {"PLC1:D:100", 1, 0, 1, "PLC1:D:100"},       {"plc1:d:105", 5, 0, 1, "PLC1:D:105"},
      {"PLC1:D:500:3", 2, 5, 2, "PLC1:D:500:3"},   {"PLC1:X:1F", 2, 4, 2, "PLC1:X:1F"},
      {"PLC1:X:1f", 5, 4, 2, "PLC1:X:1F"},         {"PLC1:W:1A:5", 5, 8, 2, "PLC1:W:1A:5"},
      {"PLC1:EX:2:300", 1, 7, 1, "PLC1:EX:2:300"}, {"PLC1:M:7", 5, 9, 2, "PLC1:M:7"},
      {"PLC2;D;99", 1, 12, 1, "PLC2:D:99"},        {"PLC3 R 9", 1, 13, 1, "PLC3:R:9"},
  };
  for (const auto& c : cases) {
    auto p = plant.point(c.text, c.kind);
    ASSERT_EQ(p->parse_status, 0) << c.text;
    EXPECT_EQ(record_of(*p), c.record) << c.text;
    EXPECT_EQ(p->format.kind, c.kind_after) << c.text;
    EXPECT_TRUE(p->address.handle & kHandleResolved) << c.text;
    EXPECT_EQ(display(*p), c.shown) << c.text;
  }
  EXPECT_TRUE(plant.ring().empty()) << "good addresses say nothing";
}

TEST_F(Addresses, HandleCarriesChannelAndDevicePosition) {
  auto p = plant.point("PLC3:R:0", 1);
  ASSERT_EQ(p->parse_status, 0);
  EXPECT_EQ((p->address.handle >> 19) & 31, 1u) << "channel 1";
  EXPECT_EQ(p->address.handle >> 24, 0u) << "first device of its channel";
  auto q = plant.point("PLC2:D:0", 1);
  EXPECT_EQ((q->address.handle >> 19) & 31, 0u);
  EXPECT_EQ(q->address.handle >> 24, 1u) << "second device of channel 0";
  EXPECT_STREQ(q->driver.device, "PLC2");
}

TEST_F(Addresses, FirstConfiguredRecordWinsAndThirtyTwoBitRecordsEndOneEarly) {
  EXPECT_EQ(record_of(*plant.point("PLC1:D:109", 1)), 0);
  EXPECT_EQ(record_of(*plant.point("PLC1:D:110", 1)), 6) << "only the later record covers it";
  EXPECT_EQ(record_of(*plant.point("PLC1:D:308", 1)), 2);
  auto past = plant.point("PLC1:D:309", 1);
  EXPECT_EQ(past->parse_status, kStatusBadAddress) << "a float needs two registers";
  EXPECT_EQ(plant.ring_count("NIO-*IO Address Error; Data not found -PLC1:D:309"), 1);
}

TEST_F(Addresses, FailuresLeaveTheHostRecordAloneAndSayWhy) {
  struct {
    const char* text;
    std::uint8_t kind;
    const char* message;  // "" for none
  } cases[] = {
      {"PLC1D100", 1, ""},
      {"PLC9:D:100", 1, "NIO-IO Address Error : device PLC9:D:100 Not found"},
      {"PLC1:D:100", 2, "NIO-IO Address Error : Incorrect Address Format - PLC1:D:100"},
      {"PLC1:X:1G", 2, "NIO-IO Address Error : Incorrect Address Format - PLC1:X:1G"},
      {"PLC1:D:100:16", 2, "NIO-IO Address Error : Incorrect Address Format - PLC1:D:100:16"},
      {"PLC1:EX:3:300", 1, "NIO-*IO Address Error; Data not found -PLC1:EX:3:300"},
      {"PLC1:R:100", 1, "NIO-*IO Address Error; Data not found -PLC1:R:100"},
      // Register names the driver does not know, or with more after them, are no X or D.
      {"PLC1:Q:10", 2, "NIO-IO Address Error : Incorrect Address Format - PLC1:Q:10"},
      {"PLC1:DATA:100", 1, "NIO-IO Address Error : Incorrect Address Format - PLC1:DATA:100"},
  };
  for (const auto& c : cases) {
    Point p;
    std::memset(&p.address, 0x5A, sizeof p.address);
    std::memset(p.driver.device, 'z', sizeof p.driver.device);
    p.format.kind = c.kind;
    NioStatus status = 0;
    plant.host().nio_paddr(&status, &p.block, &p.format, c.text);
    EXPECT_EQ(status, kStatusBadAddress) << c.text;
    NioAddress untouched;
    std::memset(&untouched, 0x5A, sizeof untouched);
    EXPECT_EQ(std::memcmp(&p.address, &untouched, sizeof untouched), 0) << c.text;
    EXPECT_EQ(p.driver.device[0], 'z') << c.text;
    EXPECT_EQ(p.format.kind, c.kind) << c.text;
    if (*c.message) {
      EXPECT_EQ(plant.ring_count(c.message), 1) << c.text << "\n" << ::testing::PrintToString(plant.ring());
    }
  }
  EXPECT_EQ(plant.ring().size(), 8u) << "the missing separator says nothing";
}

// " D" names no register: the address is refused rather than read as X:1F, a register the
// text never named.
TEST_F(Addresses, BlankAfterTheSeparatorIsRefused) {
  auto p = plant.point("PLC1: D:1F", 2);
  EXPECT_EQ(p->parse_status, kStatusBadAddress);
  EXPECT_EQ(plant.ring_count("NIO-IO Address Error : Incorrect Address Format - PLC1: D:1F"), 1);
  auto x = plant.point("PLC1:X:1F", 2);
  ASSERT_EQ(x->parse_status, 0);
  EXPECT_EQ(record_of(*x), 4) << "the X register it would have read";
}

TEST_F(Addresses, TextsLongerThanTheirFieldsAreRefused) {
  // 32 characters: one more than the work buffer holds.
  auto long_text = plant.point("PLC1:D:100                      ", 1);
  EXPECT_EQ(long_text->parse_status, kStatusBadAddress);
  auto long_device = plant.point("ABCDEFGHIJKLMN:D:1", 1);
  EXPECT_EQ(long_device->parse_status, kStatusBadAddress);
  auto long_rest = plant.point("PLC1:D:0000000000000000100", 1);  // 20 characters after the separator
  EXPECT_EQ(long_rest->parse_status, kStatusBadAddress);
  auto fits = plant.point("PLC1:D:00000000000000100", 1);  // 19 after the separator
  EXPECT_EQ(fits->parse_status, 0);
  EXPECT_EQ(plant.ring_count("NIO-IO Address Error : device ABCDEFGHIJKLMN:D:1 Not found"), 1);
}

TEST_F(Addresses, EmptyTextIsAnUndefinedPoint) {
  Point p;
  NioStatus status = -1;
  plant.host().nio_paddr(&status, &p.block, &p.format, "");
  EXPECT_EQ(status, 0);
  EXPECT_EQ(p.address.handle >> 24, 255u);
  EXPECT_EQ(display(p), "--UNDEFINED--");
  NioValue value{0, 4, 0, nullptr};
  float f;
  value.data = &f;
  plant.host().nio_read(&status, &p.block, &p.format, &value);
  EXPECT_EQ(status, kStatusBadAddress);
  EXPECT_EQ(plant.ring_count("NIO-IO Address Err: Device name not found - "), 0) << "already marked undefined";
}

TEST_F(Addresses, DisplayNeedsThirtyTwoBytesAndAValidDevicePosition) {
  auto p = plant.point("PLC1:D:100", 1);
  char out[40];
  NioStatus status = 0;
  plant.host().nio_daddr(&status, &p->block, &p->format, out, 31);
  EXPECT_EQ(status, kStatusBufferTooSmall);
  plant.host().nio_daddr(&status, &p->block, &p->format, nullptr, 32);
  EXPECT_EQ(status, kStatusBufferTooSmall);
  p->address.handle = (p->address.handle & 0x00FFFFFF) | 2u << 24;  // channel 0 has only two devices
  EXPECT_EQ(display(*p), "--UNDEFINED--");
}

TEST_F(Addresses, ResolvedHandlesCostNoSearchAndStaleOnesAreRepaired) {
  auto p = plant.point("PLC1:D:105", 1);
  ASSERT_EQ(p->parse_status, 0);
  const std::uint32_t good = p->address.handle;
  p->address.handle = good & ~kHandleResolved & ~0xFFFFu;  // as if never resolved
  plant.all_good();
  float f = 0;
  NioValue value{0, 4, 0, &f};
  NioStatus status = -1;
  plant.host().nio_read(&status, &p->block, &p->format, &value);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(p->address.handle, good) << "resolution put the same handle back";
}

// A second configuration: PLC1 moved behind a new first device; PLC2 removed.
ConfigSpec reloaded_plant() {
  ConfigSpec config = standard_plant();
  DeviceSpec first;
  first.name = "NEW0";
  first.records = {record(RegisterType::D, 0, 10, DataType::Unsigned)};
  auto& devices = config.channels[0].devices;
  devices.erase(devices.begin() + 1);  // PLC2
  devices.insert(devices.begin(), first);
  return config;
}

TEST_F(Addresses, AfterAReloadEveryPointResolvesAgainOnce) {
  plant.all_good();
  auto moved = plant.point("PLC1:D:101", 1);
  auto removed = plant.point("PLC2:D:5", 1);
  ASSERT_EQ(moved->parse_status, 0);
  ASSERT_EQ(removed->parse_status, 0);
  EXPECT_EQ(record_of(*moved), 0);

  testsupport::install_configuration(plant.env(), reloaded_plant());
  ASSERT_TRUE(plant.driver().nio_poll_reload());
  for (int k = 0; k < plant.driver().poll_record_count(); ++k) plant.record(k)->status = 0;
  plant.set_word(1, 1, 4321);  // D101 is now in record 1

  float f = 0;
  NioValue value{0, 4, 0, &f};
  NioStatus status = -1;
  plant.host().nio_read(&status, &moved->block, &moved->format, &value);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(f, 4321.0f);
  EXPECT_EQ(record_of(*moved), 1);
  EXPECT_EQ((moved->address.handle >> 16) & 3, 1u) << "tagged with the new generation";

  for (int i = 0; i < 3; ++i) {
    plant.host().nio_read(&status, &removed->block, &removed->format, &value);
    EXPECT_EQ(status, kStatusBadAddress);
  }
  EXPECT_EQ(plant.ring_count("NIO-IO Address Err: Device name not found - PLC2"), 1);
  EXPECT_EQ(removed->address.handle >> 24, 255u);
  EXPECT_EQ((removed->address.handle >> 19) & 31, 31u);
  char out[32];
  plant.host().nio_daddr(&status, &removed->block, &removed->format, out, 32);
  EXPECT_STREQ(out, "--UNDEFINED--");
}

TEST_F(Addresses, APointWhoseDeviceComesBackIsFoundAgain) {
  plant.all_good();
  auto p = plant.point("PLC2:D:5", 1);
  testsupport::install_configuration(plant.env(), reloaded_plant());
  ASSERT_TRUE(plant.driver().nio_poll_reload());
  float f = 0;
  NioValue value{0, 4, 0, &f};
  NioStatus status = -1;
  plant.host().nio_read(&status, &p->block, &p->format, &value);
  EXPECT_EQ(status, kStatusBadAddress);
  testsupport::install_configuration(plant.env(), standard_plant());
  ASSERT_TRUE(plant.driver().nio_poll_reload());
  plant.all_good();
  plant.set_word(12, 5, 77);
  plant.host().nio_read(&status, &p->block, &p->format, &value);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(f, 77.0f);
  EXPECT_EQ(plant.ring_count("NIO-IO Address Err: Device name not found - PLC2"), 1);
}

TEST_F(Addresses, FindDeviceIgnoresCaseAndNullNames) {
  EXPECT_EQ(plant.host().nio_find_dev("plc3"), 1);
  EXPECT_EQ(plant.host().nio_find_dev("PLC4"), 0);
  EXPECT_EQ(plant.host().nio_find_dev(nullptr), 0);
  EXPECT_EQ(plant.host().nio_find_dev(""), 0);
}

}  // namespace
}  // namespace hbt::hostlib::testing
