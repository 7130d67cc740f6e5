#include "editor/live_status.h"

#include <gtest/gtest.h>

#include <random>

#include "editor/fake_driver_link.h"
#include "editor/message_list.h"
#include "editor/test_configs.h"

namespace hbt::editor {
namespace {

class LiveStatusTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::build_small_plant(doc);
    doc.select_channel(1);
    // Records as numbered by a save: 0, 1, 2 for PLC1.
    int k = 0;
    for (auto& r : doc.current_device()->iorecs()) r->set_record_number(k++);
    driver.channels = 1;
    driver.records = 3;
  }
  CDidDoc doc;
  FakeDriverLink driver;
  LiveStatus status{driver};
};

TEST(StateIconTest, IconsFromTheLow13Bits) {
  EXPECT_EQ(state_icon(0), kIconGood);
  EXPECT_EQ(state_icon(4293), kIconCommFailure);
  EXPECT_EQ(state_icon(4296), kIconNotPolled);
  EXPECT_EQ(state_icon(4297), kIconNotPolled);
  EXPECT_EQ(state_icon(4292), kIconUnknown);
  // The high bits carry other flags; the state is the low 13.
  EXPECT_EQ(state_icon(0xE000), kIconGood);
  EXPECT_EQ(state_icon(0x8000 | 4293), kIconCommFailure);
  EXPECT_EQ(state_icon(0x2000 | 4297), kIconNotPolled);
}

TEST_F(LiveStatusTest, PollsPerSecondIsTheHalfDifferenceOn16Bits) {
  status.start();
  std::mt19937 random(7);
  std::uint16_t tx = 0;
  std::uint16_t rx = 0;
  driver.channel_counters[0] = {0, 0};
  auto first = status.tick(doc);
  ASSERT_TRUE(first.traffic);
  EXPECT_EQ(*first.traffic, "TX=0 RX=0 Polls/Sec=0");
  for (int i = 0; i < 2000; ++i) {
    // Steps of any size below 65536, so the counters wrap often.
    std::uint16_t step = static_cast<std::uint16_t>(random() % 65536);
    tx = static_cast<std::uint16_t>(tx + step);
    rx = static_cast<std::uint16_t>(rx + step / 2);
    driver.channel_counters[0] = {tx, rx};
    auto t = status.tick(doc);
    ASSERT_TRUE(t.traffic);
    EXPECT_EQ(*t.traffic, traffic_text(tx, rx, step / 2)) << "step " << step;
  }
}

TEST_F(LiveStatusTest, ARateNeedsAnEarlierCountOfTheSameChannelAndRun) {
  driver.channel_counters[0] = {1000, 998};
  status.start();
  // The count since the poller started is no rate: nothing earlier to compare with yet.
  EXPECT_EQ(*status.tick(doc).traffic, "TX=1000 RX=998 Polls/Sec=0");
  driver.channel_counters[0] = {1100, 1098};
  EXPECT_EQ(*status.tick(doc).traffic, "TX=1100 RX=1098 Polls/Sec=50");
  // A tick without counters: the next count is four seconds after the last, no rate yet.
  driver.readable = false;
  EXPECT_FALSE(status.tick(doc).traffic);
  driver.readable = true;
  driver.alive_counter = 400;
  driver.channel_counters[0] = {1300, 1298};
  EXPECT_EQ(*status.tick(doc).traffic, "TX=1300 RX=1298 Polls/Sec=0");
  driver.alive_counter = 600;
  driver.channel_counters[0] = {1500, 1498};
  EXPECT_EQ(*status.tick(doc).traffic, "TX=1500 RX=1498 Polls/Sec=100");
  // A restarted poller counts from zero again; so does one that loaded another generation.
  driver.alive_counter = 3;
  driver.channel_counters[0] = {12, 12};
  EXPECT_EQ(*status.tick(doc).traffic, "TX=12 RX=12 Polls/Sec=0");
  driver.generation = 1;
  driver.alive_counter = 300;
  driver.channel_counters[0] = {30, 30};
  EXPECT_EQ(*status.tick(doc).traffic, "TX=30 RX=30 Polls/Sec=0");
  driver.channel_counters[0] = {50, 50};
  EXPECT_EQ(*status.tick(doc).traffic, "TX=50 RX=50 Polls/Sec=10");
}

TEST_F(LiveStatusTest, RowsAreRedrawnOnlyWhenTheirIconChanges) {
  status.start();
  driver.statuses = {{0, 0}, {1, 4293}, {2, 4297}};
  auto t = status.tick(doc);
  EXPECT_EQ(t.changed_rows, (std::vector<int>{0, 1, 2}));
  EXPECT_EQ(status.row_icon(0), kIconGood);
  EXPECT_EQ(status.row_icon(1), kIconCommFailure);
  EXPECT_EQ(status.row_icon(2), kIconNotPolled);
  EXPECT_TRUE(status.tick(doc).changed_rows.empty());
  driver.statuses[1] = 0;
  EXPECT_EQ(status.tick(doc).changed_rows, (std::vector<int>{1}));
  // A record without a number yet, or beyond the image's records, shows icon 4.
  doc.current_device()->iorecs()[2]->set_record_number(-1);
  EXPECT_EQ(status.tick(doc).changed_rows, (std::vector<int>{2}));
  EXPECT_EQ(status.row_icon(2), kIconUnknown);
}

TEST_F(LiveStatusTest, AStoppedDriverFreezesCountersAndShowsIcon4) {
  status.start();
  driver.channel_counters[0] = {10, 10};
  driver.statuses = {{0, 0}, {1, 0}, {2, 0}};
  ASSERT_TRUE(status.tick(doc).traffic);
  driver.readable = false;
  auto t = status.tick(doc);
  EXPECT_FALSE(t.traffic) << "the pane keeps the last counters";
  EXPECT_EQ(t.changed_rows.size(), 3u);
  for (int row = 0; row < 3; ++row) EXPECT_EQ(status.row_icon(row), kIconUnknown);
}

TEST_F(LiveStatusTest, NoImageTriesTwiceThenGivesUp) {
  driver.channels = 0;
  status.start();
  auto t = status.tick(doc);
  EXPECT_EQ(driver.attach_calls, 2);
  EXPECT_EQ(status.image_channels(), -1);
  EXPECT_FALSE(t.traffic);
  for (int row = 0; row < 3; ++row) EXPECT_EQ(status.row_icon(row), kIconUnknown);
  driver.channels = 1;  // a driver that starts later is not looked for again
  status.tick(doc);
  EXPECT_EQ(driver.attach_calls, 2);
}

TEST_F(LiveStatusTest, ChannelBeyondTheImageShowsNoCounters) {
  status.start();
  driver.channel_counters[1] = {5, 5};
  doc.select_channel(2);
  EXPECT_FALSE(status.tick(doc).traffic);
}

TEST(MessageListTest, The201stLineDropsTheFiveOldest) {
  MessageList list;
  for (int i = 0; i < 200; ++i) EXPECT_EQ(list.add("line " + std::to_string(i), 7), 0u);
  EXPECT_EQ(list.add("line 200", 70), 5u);
  ASSERT_EQ(list.lines().size(), 196u);
  EXPECT_EQ(list.lines().front().text, "line 5");
  EXPECT_EQ(list.lines().back().text, "line 200");
  EXPECT_TRUE(list.lines().back().alarm);
  // Invariant over a long run: never more than 200 lines, newest always last.
  for (int i = 201; i < 2000; ++i) {
    list.add("line " + std::to_string(i), static_cast<std::uint16_t>(i % 100));
    ASSERT_LE(list.lines().size(), kMessageLinesMax);
    ASSERT_GE(list.lines().size(), kMessageLinesMax - kMessageLinesDropped + 1);
    ASSERT_EQ(list.lines().back().text, "line " + std::to_string(i));
    ASSERT_EQ(list.lines().back().alarm, i % 100 == 30 || i % 100 == 70 || i % 100 == 94);
  }
}

TEST(MessageListTest, LearnableAddressNeedsTheMarkAndADashFromTheTenthCharacter) {
  EXPECT_EQ(learnable_address("NIO-* IO Address Error; Data not found -PLC1:D:100"), "PLC1:D:100");
  EXPECT_FALSE(learnable_address("IO Address Error; Data not found -PLC1:D:100"));
  EXPECT_FALSE(learnable_address("NIO-*"));
  // The dash of "NIO-" itself is before the tenth character and does not count.
  EXPECT_FALSE(learnable_address("NIO-* abc"));
  EXPECT_EQ(learnable_address("xxNIO-*xx-PLC2:M:5"), "PLC2:M:5");
}

}  // namespace
}  // namespace hbt::editor
