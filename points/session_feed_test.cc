// The change feed of a session: what changed since a cursor, each point once with its latest
// value, nothing lost for a slow reader, dead bands, and how a look finds the changes.
#include <map>

#include "points/test_plant.h"

namespace hbt::points::testing {
namespace {

class Feed : public PointsTest {
 protected:
  void SetUp() override {
    poller_.start();
    open();
    look();
    for (int k = 0; k < plant_->driver().poll_record_count(); ++k) poller_.poll(k);
    look();
    everything_ = changes(&cursor_);
  }
  std::map<std::string, hbt_point_value> by_item(const std::vector<hbt_point_value>& batch) {
    std::map<std::string, hbt_point_value> out;
    for (const auto& v : batch) {
      EXPECT_TRUE(out.emplace(points_[v.id].item_id, v).second) << "twice in one batch: " << points_[v.id].item_id;
    }
    return out;
  }
  std::uint64_t cursor_ = 0;
  std::vector<hbt_point_value> everything_;
};

TEST_F(Feed, CursorZeroGivesEveryPointThenOnlyWhatChanged) {
  EXPECT_EQ(everything_.size(), point_count_);
  EXPECT_TRUE(changes(&cursor_).empty()) << "nothing changed since";
  poller_.poll(0, [&] { set_word(0, 2, 5); });
  poller_.poll(9, [&] { set_word(9, 0, 0x0011); });  // M0 and M4
  look();
  auto batch = by_item(changes(&cursor_));
  ASSERT_EQ(batch.size(), 3u);
  EXPECT_EQ(batch["PLC1:D:102"].integer, 5);
  EXPECT_EQ(batch["PLC1:M:0"].integer, 1);
  EXPECT_EQ(batch["PLC1:M:4"].integer, 1);
  EXPECT_TRUE(changes(&cursor_).empty());
  // A cursor of 0 still gives every point, with the latest values.
  std::uint64_t fresh = 0;
  auto all = by_item(changes(&fresh));
  EXPECT_EQ(all.size(), point_count_);
  EXPECT_EQ(all["PLC1:D:102"].integer, 5);
}

TEST_F(Feed, ManyChangesOfOnePointComeOnceWithTheLatestValue) {
  for (std::uint16_t v = 1; v <= 5; ++v) {
    poller_.poll(0, [&] { set_word(0, 0, v); });
    look();
  }
  auto batch = changes(&cursor_);
  ASSERT_EQ(batch.size(), 1u);
  EXPECT_EQ(batch[0].integer, 5);
}

TEST_F(Feed, ASlowReaderLosesNothing) {
  // Batches of 3 while values keep changing: at the end the reader has seen the latest value
  // of every point that changed, and no batch held a point twice.
  std::map<std::string, std::int64_t> seen, truth;
  for (int round = 0; round < 20; ++round) {
    for (int w = 0; w < 10; ++w) {
      const auto v = static_cast<std::uint16_t>(100 * round + w * (round % 3));
      poller_.poll(0, [&] { set_word(0, w, v); });
      truth["PLC1:D:" + std::to_string(100 + w)] = v;
    }
    look();
    std::vector<hbt_point_value> out(3);
    std::uint32_t n = 0, more = 0;
    ASSERT_EQ(session_->changes(&cursor_, out.data(), 3, &n, &more), HBT_POINTS_OK);
    by_item(std::vector<hbt_point_value>(out.begin(), out.begin() + n));
    for (std::uint32_t i = 0; i < n; ++i) seen[points_[out[i].id].item_id] = out[i].integer;
  }
  for (const auto& v : changes(&cursor_, 3)) seen[points_[v.id].item_id] = v.integer;
  for (const auto& [item, value] : truth) EXPECT_EQ(seen[item], value) << item;
}

TEST_F(Feed, CapacityAndMoreAndTheCursor) {
  poller_.poll(0, [&] {
    for (int w = 0; w < 10; ++w) set_word(0, w, static_cast<std::uint16_t>(w + 1));
  });
  look();
  std::vector<hbt_point_value> out(4);
  std::uint32_t n = 0, more = 0;
  std::uint64_t c = cursor_;
  ASSERT_EQ(session_->changes(&c, out.data(), 4, &n, &more), HBT_POINTS_OK);
  EXPECT_EQ(n, 4u);
  EXPECT_EQ(more, 1u);
  // The same cursor again gives the same batch: nothing is taken away by reading.
  std::uint64_t again = cursor_;
  std::vector<hbt_point_value> out2(4);
  session_->changes(&again, out2.data(), 4, &n, &more);
  EXPECT_EQ(again, c);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(out2[i].id, out[i].id);
  // A point that changes again after it was given moves behind the cursor and comes again.
  poller_.poll(0, [&] { set_word(0, 0, 99); });  // D100 was in the first batch
  look();
  auto rest = by_item(changes(&c));
  EXPECT_EQ(rest.size(), 7u) << "six left from before and D100 again";
  EXPECT_EQ(rest["PLC1:D:100"].integer, 99);
  // A cursor from the future gives nothing.
  std::uint64_t future = c + 1000;
  EXPECT_TRUE(changes(&future).empty());
  // Capacity 0 only says whether something waits.
  std::uint64_t zero = 0;
  session_->changes(&zero, nullptr, 0, &n, &more);
  EXPECT_EQ(n, 0u);
  EXPECT_EQ(more, 1u);
}

TEST_F(Feed, AStatusChangeGivesEveryPointOfTheRecord) {
  poller_.set_status(9, 4293);
  look();
  auto batch = changes(&cursor_);
  EXPECT_EQ(batch.size(), 16u);
  for (const auto& v : batch) EXPECT_EQ(v.quality, HBT_QUALITY_COMM_FAILURE);
}

TEST_F(Feed, WaitWakesForAChange) {
  EXPECT_EQ(session_->wait(0), 0);
  poller_.poll(0, [&] { set_word(0, 0, 3); });
  look();
  EXPECT_EQ(session_->wait(0), 1);
  changes(&cursor_);
  EXPECT_EQ(session_->wait(0), 0);
}

TEST_F(Feed, OnlyRecordsWhoseReadsCameAreCompared) {
  // A value that changes in the image without a read of its record (nothing the poller does)
  // is not looked for: the look follows the poll countdowns, not every value.
  // Record 0's last read is answered once its channel has counted a reply after it: here
  // the reply to a read of another record of the channel.
  // Looks come faster than the records are polled, as they do in a plant.
  poller_.poll(3);
  look(20);
  look(20);
  changes(&cursor_);
  set_word(0, 5, 77);
  look(20);
  look(20);
  EXPECT_TRUE(changes(&cursor_).empty());
  // The next read of the record shows it.
  poller_.advance(100);
  poller_.poll(0);
  look(20);
  auto batch = by_item(changes(&cursor_));
  EXPECT_EQ(batch.size(), 1u);
  EXPECT_EQ(batch["PLC1:D:105"].integer, 77);
}

TEST_F(Feed, AReplyStoredAfterTheRequestWasSeenIsFoundAtALaterLook) {
  // The request goes out (countdown reloaded); its reply lands only after the look.
  image::PollRecordHead* head = plant_->record(0);
  look();
  plant_->control(0)->poll_countdown = head->poll_time;
  look(20);
  EXPECT_TRUE(changes(&cursor_).empty());
  set_word(0, 1, 4242);
  poller_.channel_of(0)->stats.replies_received++;
  look(20);
  look(20);
  auto batch = by_item(changes(&cursor_));
  ASSERT_EQ(batch.size(), 1u);
  EXPECT_EQ(batch["PLC1:D:101"].integer, 4242);
}

class DeadBands : public PointsTest {
 public:
  static ConfigSpec config() {
    ConfigSpec c;
    RecordSpec analog = record(RegisterType::D, 100, 4, DataType::Unsigned, ExceptionType::Analog);
    analog.dead_band = 10;
    RecordSpec plain = record(RegisterType::D, 200, 4, DataType::Unsigned);
    c.channels[0].devices[0].records = {analog, plain};
    return c;
  }
  DeadBands() : PointsTest(config()) {}
};

TEST_F(DeadBands, ChangesSmallerThanTheDeadBandStayOutOfTheFeed) {
  poller_.start();
  open(write_tags("PLC1:D:200 deadband=5 units=rpm\nPLC1:D:201|LIN,0,100,,% deadband=2\n"));
  EXPECT_EQ(points_[id("PLC1:D:100")].deadband, 10.0) << "from the record's dead band";
  EXPECT_EQ(points_[id("PLC1:D:200")].deadband, 5.0);
  EXPECT_STREQ(points_[id("PLC1:D:200")].eu_units, "rpm");
  EXPECT_EQ(points_[id("PLC1:D:202")].deadband, 0.0);
  look();
  poller_.poll(0);
  poller_.poll(1);
  look();
  std::uint64_t cursor = 0;
  changes(&cursor);

  poller_.poll(1, [&] { set_word(1, 0, 3); set_word(1, 2, 1); });
  look();
  auto batch = changes(&cursor);
  ASSERT_EQ(batch.size(), 1u) << "D200 moved 3, below its dead band; D202 has none";
  EXPECT_EQ(points_[batch[0].id].item_id, std::string("PLC1:D:202"));
  EXPECT_EQ(read("PLC1:D:200").integer, 3) << "a read always gives the value as it is";

  poller_.poll(1, [&] { set_word(1, 0, 6); });
  look();
  batch = changes(&cursor);
  ASSERT_EQ(batch.size(), 1u) << "6 is 6 away from the value the feed last gave (0)";
  EXPECT_EQ(batch[0].integer, 6);
  poller_.poll(1, [&] { set_word(1, 0, 9); });
  look();
  EXPECT_TRUE(changes(&cursor).empty()) << "3 away from 6";

  // The conditioned tag on D201: 1 % of 0..100 is about 655 counts; its dead band is 2 %. The
  // plain point of the same register has none.
  poller_.poll(1, [&] { set_word(1, 1, 655); });
  look();
  batch = changes(&cursor);
  ASSERT_EQ(batch.size(), 1u);
  EXPECT_EQ(points_[batch[0].id].item_id, std::string("PLC1:D:201"));
  poller_.poll(1, [&] { set_word(1, 1, 1400); });
  look();
  batch = changes(&cursor);
  ASSERT_EQ(batch.size(), 2u);
  const hbt_point_value& tag = batch[0].id == id("PLC1:D:201") ? batch[1] : batch[0];
  EXPECT_EQ(tag.id, id("PLC1:D:201|LIN,0,100,,%"));
  EXPECT_EQ(tag.real, 2.0) << "LIN rounds to the decimals of its low limit (\"0\": none)";
  EXPECT_EQ(tag.type, HBT_POINT_DOUBLE);

  // A quality change passes any dead band.
  poller_.set_status(1, 4293);
  look();
  batch = changes(&cursor);
  EXPECT_EQ(batch.size(), 5u);
  for (const auto& v : batch) EXPECT_EQ(v.quality, HBT_QUALITY_COMM_FAILURE) << points_[v.id].item_id;
}

}  // namespace
}  // namespace hbt::points::testing
