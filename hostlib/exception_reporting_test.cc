// The exception-reporting life cycle: nio_on, the poller's flags, nio_fetch, the read that
// acknowledges, nio_off.
#include <gtest/gtest.h>

#include "hostlib/test_plant.h"
#include "testsupport/by_value.h"

namespace hbt::hostlib::testing {
namespace {

using testsupport::by_value;

class Exceptions : public ::testing::Test {
 protected:
  Plant plant{standard_plant()};
  void SetUp() override {
    ASSERT_TRUE(plant.loaded());
    plant.all_good();
    plant.host().nio_enable_options(1);
  }
  NioStatus on(Point& p, std::uint8_t id, std::int16_t group, std::int16_t length = 0) {
    NioEventId e{id, 0, group};
    NioStatus status = -1;
    plant.host().nio_on(&status, &p.block, &p.format, &e, length);
    return status;
  }
  NioStatus off(Point& p, std::uint8_t id, std::int16_t group) {
    NioEventId e{id, 0, group};
    NioStatus status = -1;
    plant.host().nio_off(&status, &p.block, &p.format, &e);
    return status;
  }
  std::vector<std::pair<int, int>> fetch(std::int16_t capacity) {
    NioEventId events[64];
    std::int16_t count = -1;
    NioStatus status = -1;
    plant.host().nio_fetch(&status, events, capacity, &count);
    EXPECT_EQ(status, 0);
    std::vector<std::pair<int, int>> out;
    for (int i = 0; i < count; ++i) out.emplace_back(events[i].id, events[i].group);
    return out;
  }
  void read(Point& p) {
    std::uint8_t data[128];
    NioValue value{0, 128, 0, data};
    NioStatus status = -1;
    plant.host().nio_read(&status, &p.block, &p.format, &value);
    ASSERT_EQ(status, 0);
  }
  using Events = std::vector<std::pair<int, int>>;
};

TEST_F(Exceptions, RegisteringTwiceIsRefusedAndNeedsTheOptionBit) {
  auto p = plant.point("PLC1:D:103", 1);
  EXPECT_EQ(on(*p, 7, 300), kStatusRegistered);
  EXPECT_EQ(plant.entry(0, 3).id, 7);
  EXPECT_EQ(by_value(plant.entry(0, 3).group), 300);
  EXPECT_EQ(p->driver.exception_flag, 1);
  EXPECT_EQ(on(*p, 8, 301), kStatusAlreadyRegistered);
  EXPECT_EQ(plant.entry(0, 3).id, 7) << "the first registration stands";

  plant.host().nio_enable_options(0);
  auto q = plant.point("PLC1:D:104", 1);
  EXPECT_EQ(on(*q, 9, 1), 0);
  EXPECT_EQ(plant.entry(0, 4).id, 0) << "nothing registered while exception reporting is off";
  EXPECT_EQ(q->driver.exception_flag, 0);
}

TEST_F(Exceptions, RecordsThatCannotTakeThePointAnswerZero) {
  auto disabled = plant.point("PLC1:D:402", 1);
  EXPECT_EQ(on(*disabled, 1, 1), 0);
  auto digital_on_analog = plant.point("PLC1:D:105:2", 2);
  EXPECT_EQ(on(*digital_on_analog, 1, 1), 0);
  EXPECT_EQ(plant.entry(0, 5).id, 0);
  EXPECT_EQ(off(*disabled, 1, 1), kStatusExceptionsDisabled);
  EXPECT_EQ(off(*digital_on_analog, 1, 1), kStatusWrongKind);
  auto nowhere = plant.point("", 1);
  EXPECT_EQ(on(*nowhere, 1, 1), kStatusBadAddress);
  NioStatus status = -1;
  plant.host().nio_on(&status, &disabled->block, &disabled->format, nullptr, 0);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(disabled->driver.exception_flag, 0) << "a null id switches the point off";
}

TEST_F(Exceptions, DigitalTablesHaveAnEntryPerBit) {
  auto w = plant.point("PLC1:D:501:6", 2);  // entry 16 + 6
  EXPECT_EQ(on(*w, 3, 4), kStatusRegistered);
  EXPECT_EQ(plant.entry(5, 22).id, 3);
  auto x = plant.point("PLC1:X:11", 2);  // bit device: entry 0x11
  EXPECT_EQ(on(*x, 5, 6), kStatusRegistered);
  EXPECT_EQ(plant.entry(4, 0x11).id, 5);
}

TEST_F(Exceptions, TextItemsClaimTheEntriesTheySpan) {
  auto a = plant.point("PLC1:D:200", 3);
  EXPECT_EQ(on(*a, 1, 10, 5), kStatusRegistered);  // 5 bytes: three registers
  EXPECT_EQ(by_value(plant.entry(1, 0).group), 10);
  EXPECT_EQ(by_value(plant.entry(1, 1).group), image::kGroupContinuation);
  EXPECT_EQ(by_value(plant.entry(1, 2).group), image::kGroupContinuation);
  EXPECT_EQ(by_value(plant.entry(1, 3).group), 0);

  // A text that would run into a's entries takes nothing at all.
  auto b = plant.point("PLC1:D:199", 3);  // no such record: D199 is not covered
  EXPECT_NE(b->parse_status, 0);
  auto c = plant.point("PLC1:D:205", 3);
  EXPECT_EQ(on(*c, 2, 20, 4), kStatusRegistered);
  auto d = plant.point("PLC1:D:203", 3);
  EXPECT_EQ(on(*d, 3, 30, 6), kStatusAlreadyRegistered) << "D205 is taken";
  EXPECT_EQ(by_value(plant.entry(1, 3).group), 0) << "released again";
  EXPECT_EQ(by_value(plant.entry(1, 4).group), 0) << "released again";
  EXPECT_EQ(by_value(plant.entry(1, 5).group), 20);

  // A text at the end of the table claims as far as the table reaches.
  auto e = plant.point("PLC1:D:209", 3);
  EXPECT_EQ(on(*e, 4, 40, 20), kStatusRegistered);

  EXPECT_EQ(off(*a, 1, 10), 0);
  EXPECT_EQ(by_value(plant.entry(1, 0).group), 0);
  EXPECT_EQ(by_value(plant.entry(1, 1).group), 0);
  EXPECT_EQ(by_value(plant.entry(1, 2).group), 0);
  EXPECT_EQ(by_value(plant.entry(1, 5).group), 20) << "the next item stays";
}

TEST_F(Exceptions, FetchResumesAfterAFullOutputAndReadsAcknowledge) {
  auto p0 = plant.point("PLC1:D:100", 1), p1 = plant.point("PLC1:D:101", 1), p2 = plant.point("PLC1:D:102", 1);
  ASSERT_EQ(on(*p0, 1, 100), kStatusRegistered);
  ASSERT_EQ(on(*p1, 2, 101), kStatusRegistered);
  ASSERT_EQ(on(*p2, 3, 102), kStatusRegistered);
  plant.flag_change(0, 0);
  plant.flag_change(0, 1);
  plant.flag_change(0, 2);

  EXPECT_EQ(fetch(2), (Events{{1, 100}, {2, 101}}));
  EXPECT_EQ(fetch(2), (Events{{1, 100}, {2, 101}})) << "nothing is acknowledged by fetching";
  read(*p0);
  read(*p1);
  EXPECT_EQ(by_value(plant.control(0)->changed_count), 1);
  EXPECT_EQ(plant.entry(0, 0).changed, 0);
  EXPECT_EQ(fetch(2), (Events{{3, 102}})) << "resumes after record 0, wraps, reaches it last";
  read(*p2);
  EXPECT_EQ(fetch(8), Events{});
  EXPECT_EQ(by_value(plant.control(0)->changed_count), 0);
}

TEST_F(Exceptions, FetchVisitsRecordsInTurnAndClearsDisabledOnes) {
  auto a = plant.point("PLC1:D:100", 1);
  auto b = plant.point("PLC1:X:2", 2);
  ASSERT_EQ(on(*a, 1, 1), kStatusRegistered);
  ASSERT_EQ(on(*b, 2, 2), kStatusRegistered);
  plant.flag_change(0, 0);
  plant.flag_change(4, 2);
  plant.control(3)->changed_count = 5;  // a record without exceptions
  EXPECT_EQ(fetch(1), (Events{{1, 1}}));
  EXPECT_EQ(fetch(1), (Events{{2, 2}}));
  EXPECT_EQ(by_value(plant.control(3)->changed_count), 0);
  EXPECT_EQ(fetch(0), Events{});
}

TEST_F(Exceptions, OnlyRegisteredReadersAcknowledgeUnlessTheRecordFailed) {
  auto p = plant.point("PLC1:D:100", 1);
  ASSERT_EQ(on(*p, 1, 1), kStatusRegistered);
  plant.flag_change(0, 0);
  auto other = plant.point("PLC1:D:100", 1);  // the same register, not registered
  read(*other);
  EXPECT_EQ(plant.entry(0, 0).changed, 1);
  plant.record(0)->status = image::kStatusCommFailure;
  read(*other);
  EXPECT_EQ(plant.entry(0, 0).changed, 0) << "a failed record's change is consumed by any read";
  EXPECT_EQ(by_value(plant.control(0)->changed_count), 0);
}

TEST_F(Exceptions, OffClearsOnlyItsOwnEntryAndItsPendingChange) {
  auto p = plant.point("PLC1:D:101", 1);
  ASSERT_EQ(on(*p, 4, 44), kStatusRegistered);
  plant.flag_change(0, 1);
  EXPECT_EQ(off(*p, 5, 44), 0);
  EXPECT_EQ(plant.entry(0, 1).id, 4) << "another id leaves the entry";
  EXPECT_EQ(off(*p, 4, 44), 0);
  EXPECT_EQ(plant.entry(0, 1).id, 0);
  EXPECT_EQ(by_value(plant.control(0)->changed_count), 0);
  EXPECT_EQ(on(*p, 6, 66), kStatusRegistered) << "free again";
}

}  // namespace
}  // namespace hbt::hostlib::testing
