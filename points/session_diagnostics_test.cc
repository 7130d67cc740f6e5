// Channel diagnostics from the statistics blocks, replies per second over the session's
// looks, the driver's messages with a cursor, and the driver state.
#include "image/message_ring.h"
#include "points/test_plant.h"

namespace hbt::points::testing {
namespace {

class Diagnostics : public PointsTest {
 protected:
  void SetUp() override {
    poller_.start();
    open();
  }
};

TEST_F(Diagnostics, ChannelsFromTheirStatisticsBlocks) {
  std::uint32_t n = 0;
  ASSERT_EQ(session_->channels(nullptr, 0, &n), HBT_POINTS_OK);
  ASSERT_EQ(n, 2u) << "a call without room says how many there are";
  image::ChannelRecord* ch = plant_->driver().nio_map_chan(0);
  ch->stats.active_selector = 0;
  ch->primary.port_low = 0;  // as the poller sets both at the start of polling
  ch->stats.requests_sent = 40;
  ch->stats.replies_received = 30;
  ch->stats.retries = 3;
  ch->stats.reply_timeouts = 4;
  ch->stats.rejected_replies = 2;
  ch->ip_address = 0xC0A8000A;
  ch->ip_port = 5000;
  ch->ip_protocol = 1;
  plant_->driver().nio_map_dev(1)->last_end_code = 0xC051;
  // 20 replies a look, a look every 100 ms: 200 a second.
  for (int i = 0; i < 25; ++i) {
    ch->stats.replies_received = static_cast<std::uint16_t>(ch->stats.replies_received + 20);
    look();
  }
  hbt_channel_diag d[4];
  ASSERT_EQ(session_->channels(d, 4, &n), HBT_POINTS_OK);
  ASSERT_EQ(n, 2u);
  EXPECT_EQ(d[0].channel, 1u);
  EXPECT_TRUE(d[0].in_service);
  EXPECT_TRUE(d[0].tcp);
  EXPECT_FALSE(d[0].on_backup);
  EXPECT_STREQ(d[0].address, "192.168.0.10:5000");
  EXPECT_EQ(d[0].requests_sent, 40u);
  EXPECT_EQ(d[0].replies_received, 530u);
  EXPECT_EQ(d[0].retries, 3u);
  EXPECT_EQ(d[0].reply_timeouts, 4u);
  EXPECT_EQ(d[0].rejected_replies, 2u);
  EXPECT_EQ(d[0].last_end_code, 0xC051u);
  EXPECT_EQ(d[0].device_count, 2u);
  EXPECT_EQ(d[0].record_count, 13u);
  EXPECT_NEAR(d[0].polls_per_second, 200.0, 1.0);
  EXPECT_FALSE(d[1].in_service) << "the second channel's selector says not in service";
  // A statistics reset by another client counts on from zero, not as 65000 replies.
  ch->stats.replies_received = 5;
  look();
  session_->channels(d, 4, &n);
  EXPECT_LT(d[0].polls_per_second, 250.0);
}

TEST_F(Diagnostics, MessagesWithACursor) {
  // What was in the ring before the session came is there for a cursor of 0 too.
  image::PointerBlock* b = plant_->block();
  session_.reset();
  image::append_to_ring(b, 0x07, "before");
  open();
  image::append_to_ring(b, 0x46, "Communication Failure Chan 1 Dev =PLC1 Pollrec 1");
  image::append_to_ring(b, 0x17, "Communication Recovered Chan 1 Dev =PLC1 Pollrec 1");
  look();
  std::uint64_t cursor = 0;
  hbt_message m[128];
  std::uint32_t n = 0;
  ASSERT_EQ(session_->messages(&cursor, m, 128, &n), HBT_POINTS_OK);
  ASSERT_GE(n, 3u);
  EXPECT_STREQ(m[n - 3].text, "before");
  EXPECT_STREQ(m[n - 2].text, "Communication Failure Chan 1 Dev =PLC1 Pollrec 1");
  EXPECT_EQ(m[n - 2].colour, 0x46);
  EXPECT_EQ(m[n - 1].sequence, m[n - 2].sequence + 1);
  EXPECT_EQ(m[n - 1].length, std::strlen(m[n - 1].text));
  EXPECT_EQ(cursor, m[n - 1].sequence);
  ASSERT_EQ(session_->messages(&cursor, m, 128, &n), HBT_POINTS_OK);
  EXPECT_EQ(n, 0u);
  image::append_to_ring(b, 0x07, "later");
  look();
  session_->messages(&cursor, m, 128, &n);
  ASSERT_EQ(n, 1u);
  EXPECT_STREQ(m[0].text, "later");
}

TEST_F(Diagnostics, DriverState) {
  std::snprintf(plant_->block()->config_path, 128, "/srv/hbt/PLANT.HBT");
  hbt_driver_state s{};
  s.size = sizeof s;
  ASSERT_EQ(session_->state(&s), HBT_POINTS_OK);
  EXPECT_TRUE(s.running);
  EXPECT_FALSE(s.stalled);
  EXPECT_EQ(s.generation, generation_);
  EXPECT_EQ(s.device_count, 3u);
  EXPECT_EQ(s.record_count, 14u);
  EXPECT_EQ(s.point_count, 350u);
  EXPECT_NE(std::string(s.status_text).find("Brenlow Ethernet Driver"), std::string::npos) << s.status_text;
  EXPECT_STREQ(s.config_path, "/srv/hbt/PLANT.HBT");
  // A caller that knows an older, shorter struct gets only what it has room for.
  hbt_driver_state small{};
  std::memset(&small, 0x5A, sizeof small);
  small.size = offsetof(hbt_driver_state, config_path);
  ASSERT_EQ(session_->state(&small), HBT_POINTS_OK);
  EXPECT_EQ(static_cast<unsigned char>(small.config_path[0]), 0x5Au);
}

}  // namespace
}  // namespace hbt::points::testing
