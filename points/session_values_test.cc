// Values through the host's read path, every data type, and the one quality mapping:
// record status words, the host's value statuses, and a poller that stalls.
#include <bit>
#include <cmath>

#include "points/test_plant.h"

namespace hbt::points::testing {
namespace {

class Values : public PointsTest {
 protected:
  void SetUp() override {
    poller_.start();
    open();
  }
  // Fills the plant's records with known values and polls them all.
  void poll_everything() {
    for (int k = 0; k < plant_->driver().poll_record_count(); ++k) poller_.poll(k);
  }
};

TEST_F(Values, EveryDataTypeDecodesExactly) {
  look();
  poller_.poll(0, [&] { set_word(0, 3, 65535); });
  poller_.poll(10, [&] { set_word(10, 0, 0xFFFE); });
  poller_.poll(2, [&] { set_long(2, 1, std::bit_cast<std::uint32_t>(-1.5f)); });
  // Beyond a float's 24-bit mantissa: the exact integers must arrive.
  poller_.poll(3, [&] { set_long(3, 0, static_cast<std::uint32_t>(-123456789)); set_long(3, 4, 0x7FFFFFFF); });
  poller_.poll(11, [&] { set_long(11, 2, 0xFFFFFFFF); });
  poller_.poll(4, [&] { set_word(4, 1, 0x8000); });        // X1F
  poller_.poll(5, [&] { set_word(5, 1, 1u << 15); });      // D501 bit 15
  poller_.poll(8, [&] { set_word(8, 0x1A - 0x10, 0x8001); });
  poller_.poll(1, [&] { std::memcpy(plant_->area(1, 1), "HELLO\0JUNK", 10); });
  look();
  EXPECT_EQ(read("PLC1:D:103").integer, 65535);
  EXPECT_EQ(read("PLC1:D:600").integer, -2);
  EXPECT_EQ(read("PLC1:D:302").real, -1.5);
  EXPECT_EQ(read("PLC1:D:400").integer, -123456789);
  EXPECT_EQ(read("PLC1:D:408").integer, 2147483647);
  EXPECT_EQ(read("PLC1:D:704").integer, 4294967295);
  EXPECT_EQ(read("PLC1:X:1F").integer, 1);
  EXPECT_EQ(read("PLC1:X:1E").integer, 0);
  EXPECT_EQ(read("PLC1:D:501:15").integer, 1);
  EXPECT_EQ(read("PLC1:D:501:14").integer, 0);
  EXPECT_EQ(read("PLC1:W:1A").integer, -32767);
  hbt_point_value text = read("PLC1:D:200$20");
  EXPECT_EQ(std::string(text.text, text.text_length), "HELLO") << "a text ends at its first NUL";
  EXPECT_EQ(text.quality, HBT_QUALITY_GOOD);

  // The change feed gives the same values.
  std::uint64_t cursor = 0;
  std::vector<std::string> texts;
  auto all = changes(&cursor, 1000, &texts);
  ASSERT_EQ(all.size(), point_count_);
  for (std::size_t i = 0; i < all.size(); ++i) {
    if (all[i].id == id("PLC1:D:408")) {
      EXPECT_EQ(all[i].integer, 2147483647);
    }
    if (all[i].id == id("PLC1:D:200$20")) {
      EXPECT_EQ(texts[i], "HELLO");
    }
  }
}

TEST_F(Values, QualityFollowsTheRecordStatus) {
  look();
  poller_.poll(0, [&] { set_word(0, 0, 42); });
  look();
  EXPECT_EQ(read("PLC1:D:100").quality, HBT_QUALITY_GOOD);
  const std::int64_t good_time = read("PLC1:D:100").source_time_ms;

  // Communication failure: the last value stays, marked.
  poller_.set_status(0, 4293);
  set_word(0, 0, 0);
  look();
  hbt_point_value v = read("PLC1:D:100");
  EXPECT_EQ(v.quality, HBT_QUALITY_COMM_FAILURE);
  EXPECT_EQ(v.status, 4293);
  EXPECT_EQ(v.integer, 42);

  poller_.set_status(0, 4296);
  look();
  v = read("PLC1:D:100");
  EXPECT_EQ(v.quality, HBT_QUALITY_EXPIRED);
  EXPECT_EQ(v.integer, 0) << "an expired record still gives the values it holds";

  poller_.set_status(0, 4297);
  look();
  EXPECT_EQ(read("PLC1:D:100").quality, HBT_QUALITY_NOT_POLLED);
  poller_.set_status(0, 1234);
  look();
  v = read("PLC1:D:100");
  EXPECT_EQ(v.quality, HBT_QUALITY_OTHER);
  EXPECT_EQ(v.status, 1234);

  // A float that is not a number: the host gives 0.0 and its value status.
  poller_.poll(2, [&] { set_long(2, 0, 0x7FC00000); });
  look();
  v = read("PLC1:D:300");
  EXPECT_EQ(v.quality, HBT_QUALITY_OTHER);
  EXPECT_EQ(v.status, 2185);
  EXPECT_EQ(v.real, 0.0);
  EXPECT_GT(good_time, FakeClock::kEpoch);
}

TEST_F(Values, SourceTimeIsWhenTheReadWasSent) {
  look();
  poller_.poll(0, [&] { set_word(0, 0, 7); });
  const std::int64_t sent = clock_.unix_ms();
  poller_.advance(50);  // the record ages 5 ticks before the look
  session_->update();
  std::uint64_t cursor = 0;
  changes(&cursor);
  hbt_point_value v = read("PLC1:D:100");
  EXPECT_NEAR(static_cast<double>(v.source_time_ms), static_cast<double>(sent), 10.0);
}

TEST_F(Values, AStalledPollerMakesEveryPointStalledWithinOneLook) {
  look();
  poll_everything();
  look();
  std::uint64_t cursor = 0;
  changes(&cursor);
  poller_.freeze();
  look(400);
  EXPECT_EQ(read("PLC1:D:100").quality, HBT_QUALITY_GOOD) << "400 ms is within the stall time";
  look(200);
  auto batch = changes(&cursor);
  EXPECT_EQ(batch.size(), point_count_) << "every point once";
  for (const auto& v : batch) EXPECT_EQ(v.quality, HBT_QUALITY_STALLED);
  EXPECT_EQ(read("PLC3:R:0").quality, HBT_QUALITY_STALLED);
  hbt_driver_state state{sizeof state};
  session_->state(&state);
  EXPECT_TRUE(state.stalled);

  poller_.thaw();
  look();
  batch = changes(&cursor);
  EXPECT_EQ(batch.size(), point_count_);
  EXPECT_EQ(read("PLC1:D:100").quality, HBT_QUALITY_GOOD);

  poller_.stop();
  look();
  EXPECT_EQ(read("PLC1:D:100").quality, HBT_QUALITY_STALLED) << "a stopped poller is stalled at once";
}

}  // namespace

// A session opened on a poller that hung before it came: the watchdog is what it was, the
// state word says running. Nothing it reads may be taken for good, from the very first read.
class NewSession : public PointsTest {};

TEST_F(NewSession, SeesAHungPollerAsStalledFromItsFirstRead) {
  poller_.start();
  poller_.freeze();
  plant_->all_good();
  poller_.header()->watchdog = 1234;
  open();
  hbt_point_value v = read("PLC1:D:100");
  EXPECT_EQ(v.quality, HBT_QUALITY_STALLED);
  std::uint64_t cursor = 0;
  for (const auto& c : changes(&cursor)) EXPECT_EQ(c.quality, HBT_QUALITY_STALLED);
  hbt_driver_state state{sizeof state};
  session_->state(&state);
  EXPECT_TRUE(state.stalled);
  // Later looks keep it so.
  look();
  look();
  EXPECT_EQ(read("PLC1:D:100").quality, HBT_QUALITY_STALLED);
}

TEST_F(NewSession, SeesARunningPollerAsRunningFromItsFirstRead) {
  poller_.start();
  plant_->all_good();
  open();
  EXPECT_EQ(read("PLC1:D:100").quality, HBT_QUALITY_GOOD);
  hbt_driver_state state{sizeof state};
  session_->state(&state);
  EXPECT_FALSE(state.stalled);
  EXPECT_TRUE(state.running);
}

}  // namespace hbt::points::testing
