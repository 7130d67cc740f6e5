#include "poller/schedule.h"

#include <gtest/gtest.h>

#include "poller/byte_order.h"
#include "poller/poller_fixture.h"
#include "testsupport/by_value.h"

namespace hbt::poller {
namespace {

using image::ExceptionType;
using image::RegisterType;
using testsupport::ConfigSpec;
using testsupport::RecordSpec;
using testsupport::by_value;

struct Schedule : testing::PollerFixture {
  // Countdowns by value: the entries are packed, and a comparison would bind a reference.
  std::int32_t poll_left(int k) { return entry(k).poll_countdown; }
  std::int32_t access_left(int k) { return entry(k).access_countdown; }
  // Head device of a 3E request as sent.
  static std::uint32_t head_of(const std::vector<std::uint8_t>& frame) {
    return frame[15] | (frame[16] << 8) | (frame[17] << 16);
  }
  static bool is_write(const std::vector<std::uint8_t>& frame) { return load16(&frame[11]) == 0x1401; }

  // Ticks at which requests for `head` went out.
  std::vector<int> send_ticks_of(std::uint32_t head, int ticks_to_run) {
    std::vector<int> at;
    for (int t = 1; t <= ticks_to_run; ++t) {
      const std::size_t before = sockets.sent.size();
      tick();
      for (std::size_t i = before; i < sockets.sent.size(); ++i)
        if (head_of(sockets.sent[i].bytes) == head) at.push_back(t);
    }
    return at;
  }
};

ConfigSpec two_records(std::int32_t poll_time) {
  ConfigSpec plan;
  plan.channels[0].devices[0].records = {RecordSpec{RegisterType::D, 100, 2}, RecordSpec{RegisterType::D, 200, 2}};
  for (auto& r : plan.channels[0].devices[0].records) r.poll_time = poll_time;
  return plan;
}

TEST_F(Schedule, RecordsOfEqualPollTimeAreReadInTurnOncePerPollTime) {
  load(two_records(100));
  std::vector<int> first, second;
  for (int t = 1; t <= 300; ++t) {
    const std::size_t before = sockets.sent.size();
    tick();
    for (std::size_t i = before; i < sockets.sent.size(); ++i)
      (head_of(sockets.sent[i].bytes) == 100 ? first : second).push_back(t);
  }
  EXPECT_EQ(first, (std::vector<int>{1, 101, 201}));
  EXPECT_EQ(second, (std::vector<int>{2, 102, 202}));
  EXPECT_EQ(by_value(record(0).status), image::kStatusGood);
  EXPECT_EQ(by_value(record(1).status), image::kStatusGood);
  EXPECT_EQ(word(0, image::kAreaCurrent, 1), 1);  // the reply counts up from 0
  EXPECT_EQ(by_value(channel(0).stats.requests_sent), 6);
  EXPECT_EQ(by_value(channel(0).stats.replies_received), 6);
  EXPECT_TRUE(sink.contains("UDP Socket Connected"));
}

TEST_F(Schedule, RecordWithDisabledPollTimeIsNeverRead) {
  ConfigSpec plan = two_records(10);
  plan.channels[0].devices[0].records[1].poll_time = image::kPollTimeDisabled;
  load(plan);
  EXPECT_TRUE(send_ticks_of(200, 100).empty());
  EXPECT_EQ(by_value(record(1).status), image::kStatusNotPolled);
  EXPECT_EQ(by_value(record(0).status), image::kStatusGood);
}

TEST_F(Schedule, AccessTimeExpiryStopsPollingUntilAClientReadsAgain) {
  ConfigSpec plan;
  plan.channels[0].devices[0].records[0].poll_time = 10;
  plan.channels[0].devices[0].records[0].access_time = 50;
  plan.channels[0].devices[0].records[0].exception = ExceptionType::Analog;
  load(plan);
  auto& e = entry(0);
  area(0, image::kAreaExceptions)[1] = 7;  // a registered point
  const std::vector<int> reads = send_ticks_of(0, 100);
  EXPECT_EQ(reads, (std::vector<int>{1, 11, 21, 31, 41}));
  EXPECT_EQ(by_value(record(0).status), image::kStatusAccessExpired);
  EXPECT_EQ(e.access_expired, 1);
  // 4297 -> 0 flagged the entry; the expiry itself does not.
  EXPECT_EQ(by_value(e.changed_count), 1);
  area(0, image::kAreaExceptions)[0] = 0;
  e.changed_count = 0;
  // A client reads the record.
  e.access_countdown = 50;
  e.access_expired = 0;
  EXPECT_FALSE(send_ticks_of(0, 3).empty());
  EXPECT_EQ(by_value(record(0).status), image::kStatusGood);
  EXPECT_EQ(by_value(e.changed_count), 1);  // 4296 -> 0 tells the registered client
}

TEST_F(Schedule, FailureReportedOnceRetriedEveryDelayAndRecoveryReportedOnce) {
  ConfigSpec plan = two_records(20);
  auto& ch = plan.channels[0];
  ch.retries = 1;
  ch.reply_timeout = 10;
  ch.delay = 50;
  load(plan);
  auto_reply = false;
  ticks(600);
  const std::string fail1 = "Communication Failure Chan 1 Dev =PLC1 Pollrec 1";
  const std::string fail2 = "Communication Failure Chan 1 Dev =PLC1 Pollrec 2";
  EXPECT_EQ(sink.count(fail1), 1) << sink.all();
  EXPECT_EQ(sink.count(fail2), 1);
  EXPECT_EQ(sink.colour_of(fail1), image::kColourError);
  EXPECT_EQ(by_value(record(0).status), image::kStatusCommFailure);
  EXPECT_EQ(by_value(record(1).status), image::kStatusCommFailure);
  EXPECT_GE(by_value(channel(0).stats.reply_timeouts), 10);
  auto_reply = true;
  ticks(200);
  EXPECT_EQ(sink.count("Communication Recovered Chan 1 Dev =PLC1 Pollrec 1"), 1) << sink.all();
  EXPECT_EQ(sink.count("Communication Recovered Chan 1 Dev =PLC1 Pollrec 2"), 1);
  EXPECT_EQ(sink.colour_of("Communication Recovered Chan 1 Dev =PLC1 Pollrec 2"), image::kColourInfo);
  EXPECT_EQ(by_value(record(0).status), image::kStatusGood);
  EXPECT_EQ(sink.count(fail1), 1);
}

TEST_F(Schedule, FailedRecordWaitsItsDelayBeforeTheNextAttempt) {
  ConfigSpec plan;
  plan.channels[0].retries = 1;
  plan.channels[0].reply_timeout = 10;
  plan.channels[0].delay = 50;
  plan.channels[0].devices[0].records[0].poll_time = 5;
  load(plan);
  auto_reply = false;
  // Send, retry after 10, fail after 10 more, then 50 ticks of DELAY.
  EXPECT_EQ(send_ticks_of(0, 150), (std::vector<int>{1, 11, 71, 81, 141}));
}

TEST_F(Schedule, WithoutDisplayAlarmsFailuresAreSilentButStillFail) {
  ConfigSpec plan;
  plan.channels[0].retries = 0;
  plan.channels[0].reply_timeout = 5;
  plan.channels[0].display_alarms = false;
  load(plan);
  auto_reply = false;
  ticks(20);
  EXPECT_EQ(by_value(record(0).status), image::kStatusCommFailure);
  EXPECT_FALSE(sink.contains("Communication Failure Chan 1 Dev =PLC1 Pollrec 1"));
}

TEST_F(Schedule, StatusChangesFlagRegisteredEntriesOnce) {
  ConfigSpec plan;
  plan.channels[0].devices[0].records[0] = RecordSpec{RegisterType::D, 0, 3, image::DataType::Unsigned,
                                                      ExceptionType::Analog};
  load(plan);
  std::uint8_t* table = area(0, image::kAreaExceptions);
  table[1] = 1;      // entry 0 registered
  table[4 * 2 + 1] = 2;  // entry 2 registered and already pending
  table[4 * 2] = 1;
  set_status(*ctx, 0, 0, image::kStatusGood);  // 4297 -> 0
  EXPECT_EQ(table[0], 1);
  EXPECT_EQ(table[4], 0);
  EXPECT_EQ(by_value(entry(0).changed_count), 1);
  set_status(*ctx, 0, 0, image::kStatusGood);  // 0 -> 0: nothing
  table[0] = 0;
  set_status(*ctx, 0, 0, image::kStatusGood);
  EXPECT_EQ(table[0], 0);
  set_status(*ctx, 0, 0, image::kStatusCommFailure);
  EXPECT_EQ(table[0], 1);
  EXPECT_EQ(by_value(entry(0).changed_count), 2);
  EXPECT_EQ(poll_left(0), 500);  // DELAY
  table[0] = 0;
  set_status(*ctx, 0, 0, image::kStatusCommFailure);  // still failing: no new flags
  EXPECT_EQ(table[0], 0);
  EXPECT_EQ(by_value(entry(0).changed_count), 2);
}

TEST_F(Schedule, ReadsAndWritesTakeTurns) {
  ConfigSpec plan;
  plan.channels[0].devices[0].records[0] = RecordSpec{RegisterType::Y, 0, 16, image::DataType::Digital};
  plan.channels[0].devices[0].records[0].poll_time = 1;
  load(plan);
  // Three separate bits: three write requests.
  queue_write(0, 0, 0x15, 0x15, 3);
  ticks(8);
  std::string order;
  for (const auto& s : sockets.sent) order += is_write(s.bytes) ? 'W' : 'R';
  EXPECT_EQ(order, "RWRWRWRR");
  EXPECT_EQ(by_value(entry(0).write_request_count), 0);
}

TEST_F(Schedule, CountDownStopsAtZeroAndSkipsWhatShouldNotCount) {
  ConfigSpec plan;
  plan.channels[0].devices[0].records = {RecordSpec{}, RecordSpec{RegisterType::D, 10}, RecordSpec{RegisterType::D, 20}};
  plan.channels[0].devices[0].records[2].poll_time = image::kPollTimeDisabled;
  load(plan);
  entry(0).poll_countdown = 3;
  entry(0).access_countdown = 2;
  entry(1).poll_countdown = 10;  // access never expires
  entry(2).poll_countdown = 10;  // not polled
  entry(2).access_countdown = 10;
  CountDown cd = count_down(*ctx, channel(0), 5);
  EXPECT_EQ(poll_left(0), 0);
  EXPECT_EQ(access_left(0), 0);
  EXPECT_EQ(poll_left(1), 5);
  EXPECT_EQ(access_left(1), image::kAccessNeverExpires);
  EXPECT_EQ(poll_left(2), 10);
  EXPECT_EQ(access_left(2), 10);
  EXPECT_FALSE(cd.writes_pending);
  EXPECT_TRUE(cd.reads_possible);  // record 0's access ran out
  entry(0).access_expired = 1;
  cd = count_down(*ctx, channel(0), 1);
  EXPECT_FALSE(cd.reads_possible);
  entry(2).write_request_count = 1;
  EXPECT_TRUE(count_down(*ctx, channel(0), 1).writes_pending);
}

TEST_F(Schedule, ReadScanResumesAfterTheRecordItRead) {
  ConfigSpec plan;
  plan.channels[0].devices[0].records = {RecordSpec{RegisterType::D, 0}, RecordSpec{RegisterType::D, 10},
                                         RecordSpec{RegisterType::D, 20}};
  for (auto& r : plan.channels[0].devices[0].records) r.poll_time = 0;
  load(plan);
  // Every record is always due: they are read round the ring, none starves.
  std::vector<std::uint32_t> heads;
  for (int t = 0; t < 7; ++t) {
    const std::size_t before = sockets.sent.size();
    tick();
    for (std::size_t i = before; i < sockets.sent.size(); ++i) heads.push_back(head_of(sockets.sent[i].bytes));
  }
  EXPECT_EQ(heads, (std::vector<std::uint32_t>{0, 10, 20, 0, 10, 20, 0}));
  EXPECT_EQ(poller->schedules[0].read_cursor, 1);
}

TEST_F(Schedule, ChannelsArePolledSideBySide) {
  ConfigSpec plan;
  plan.channels.push_back(testsupport::ChannelSpec{});
  plan.channels[1].ip_port = 5002;
  plan.channels[1].devices[0].name = "PLC2";
  plan.channels[1].devices[0].records[0].start = 50;
  load(plan);
  auto_reply = false;
  tick();
  ASSERT_EQ(sockets.sent.size(), 2u);  // one request per channel in the same tick
  EXPECT_NE(sockets.sent[0].fd, sockets.sent[1].fd);
  // Channel 2 answers, channel 1 does not: only channel 1 keeps waiting.
  sockets.deliver_to(sockets.sent[1].fd, good_reply(block(1)));
  tick();
  EXPECT_EQ(block(0).waiting, 1);
  EXPECT_EQ(block(1).waiting, 0);
  EXPECT_EQ(by_value(record(1).status), image::kStatusGood);
  EXPECT_EQ(by_value(record(0).status), image::kStatusNotPolled);
}

TEST_F(Schedule, ReadWithoutAConnectionGoesOutOnceThereIsOneAndKeepsTheCursor) {
  ConfigSpec plan = two_records(100);
  plan.channels[0].reply_timeout = 10;
  load(plan);
  sockets.open_results = {-EMFILE, -EMFILE};
  EXPECT_EQ(send_ticks_of(100, 1), std::vector<int>{});
  EXPECT_EQ(by_value(channel(0).stats.reads_not_sent), 1);
  EXPECT_EQ(block(0).waiting, 1);
  EXPECT_EQ(poller->schedules[0].read_cursor, 0);
  // The read goes out on the tick the socket is made, without waiting for a retry; its
  // poll time runs from when it was due, so the next record follows.
  std::vector<std::uint32_t> heads;
  for (int t = 2; t <= 13; ++t) {
    const std::size_t before = sockets.sent.size();
    tick();
    for (std::size_t i = before; i < sockets.sent.size(); ++i) heads.push_back(head_of(sockets.sent[i].bytes));
  }
  EXPECT_EQ(heads, (std::vector<std::uint32_t>{100, 200}));
  EXPECT_EQ(by_value(channel(0).stats.retries), 0);
  EXPECT_EQ(by_value(channel(0).stats.reply_timeouts), 0);
  EXPECT_EQ(by_value(record(0).status), image::kStatusGood);
}

TEST_F(Schedule, TheFirstConnectionMessageNamesTheChannelsDevice) {
  load(two_records(100));
  sockets.connect_results = {-ECONNREFUSED};
  tick();
  const std::string all = sink.all();
  EXPECT_NE(all.find("Connection to PLC1 failed code = " + std::to_string(ECONNREFUSED)), std::string::npos) << all;
  EXPECT_EQ(all.find("Connection to  failed"), std::string::npos) << all;
}

TEST_F(Schedule, CountdownsAnywhereInTheirRangeCountDownWithoutWrapping) {
  ConfigSpec plan = two_records(100);
  load(plan);
  for (std::int32_t start : {INT32_MIN, INT32_MIN + 3, -1, 0, 2, 5, INT32_MAX}) {
    entry(0).poll_countdown = start;
    entry(0).access_countdown = start;
    count_down(*ctx, channel(0), 5);
    const std::int32_t expected = start > 5 ? start - 5 : 0;
    EXPECT_EQ(poll_left(0), start == 0 ? 0 : expected) << start;
    EXPECT_EQ(access_left(0), start == 0 ? 0 : expected) << start;
  }
}

TEST_F(Schedule, IdleChannelsCostOneLookAtTheSocketsPerTickAndNoReceive) {
  ConfigSpec plan = two_records(100000);
  plan.channels.push_back(plan.channels[0]);
  plan.channels[1].ip_port = 5002;
  load(plan);
  ticks(5);  // first reads and their replies
  ASSERT_EQ(by_value(record(3).status), image::kStatusGood);
  const int receives = sockets.receives, polls = sockets.polls;
  ticks(20);
  EXPECT_EQ(sockets.receives, receives);
  EXPECT_EQ(sockets.polls, polls + 20);
  // Something that arrives is still received, but no request asked for it: it is dropped.
  sockets.deliver_to(block(1).socket, good_reply(block(1), 40));
  tick();
  EXPECT_EQ(sockets.receives, receives + 1);
  EXPECT_NE(word(3, image::kAreaCurrent, 0), 40);
  EXPECT_EQ(by_value(record(3).status), image::kStatusGood);
}

}  // namespace
}  // namespace hbt::poller
