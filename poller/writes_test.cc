#include "poller/writes.h"

#include <cstring>
#include <random>

#include <gtest/gtest.h>

#include "poller/byte_order.h"
#include "poller/block_fixtures.h"
#include "poller/poller_fixture.h"
#include "poller/polling.h"
#include "testsupport/by_value.h"

namespace hbt::poller {
namespace {

using image::CpuType;
using image::DataType;
using image::ExceptionType;
using image::RegisterType;
using testsupport::ConfigSpec;
using testsupport::RecordSpec;
using testsupport::by_value;
using testing::bytes;

constexpr std::int32_t kRarely = 100000;  // poll time: read once at start, then only after writes

struct Writes : testing::PollerFixture {
  std::vector<std::vector<std::uint8_t>> writes_sent() const {
    std::vector<std::vector<std::uint8_t>> out;
    for (const auto& s : sockets.sent)
      if (s.bytes.size() >= 13 && load16(&s.bytes[11]) == 0x1401) out.push_back(s.bytes);
    return out;
  }
  std::vector<std::vector<std::uint8_t>> all_sent() const {
    std::vector<std::vector<std::uint8_t>> out;
    for (const auto& s : sockets.sent) out.push_back(s.bytes);
    return out;
  }
  static std::uint32_t head_of(const std::vector<std::uint8_t>& f) { return f[15] | (f[16] << 8) | (f[17] << 16); }
  static std::uint16_t points_of(const std::vector<std::uint8_t>& f) { return load16(&f[19]); }
  static std::vector<std::uint8_t> data_of(const std::vector<std::uint8_t>& f) { return {f.begin() + 21, f.end()}; }

  void load_one(RecordSpec r, CpuType cpu = CpuType::QSeries, image::Coding coding = image::Coding::Binary) {
    ConfigSpec plan;
    r.poll_time = kRarely;
    plan.channels[0].devices[0].records = {r};
    plan.channels[0].devices[0].cpu = cpu;
    plan.channels[0].devices[0].coding = coding;
    load(plan);
    ticks(2);  // the first read and its reply
    ASSERT_EQ(by_value(record(0).status), image::kStatusGood);
  }
};

TEST_F(Writes, SeparateRunsOfBitsGoOutOneRequestEach) {
  load_one(RecordSpec{RegisterType::Y, 0, 16, DataType::Digital});
  // Bits 3, 4, 5 and 9 pending; new values 1, 0, 1 and 1.
  queue_write(0, 0, (1 << 3) | (1 << 5) | (1 << 9), (1 << 3) | (1 << 4) | (1 << 5) | (1 << 9), 4);
  tick();
  auto w = writes_sent();
  ASSERT_EQ(w.size(), 1u);
  EXPECT_EQ(w[0][13], 0x01);  // bit units
  EXPECT_EQ(head_of(w[0]), 3u);
  EXPECT_EQ(points_of(w[0]), 3);
  EXPECT_EQ(data_of(w[0]), bytes({0x10, 0x10}));
  EXPECT_EQ(by_value(entry(0).write_request_count), 1);
  EXPECT_EQ(word(0, image::kAreaWriteFlags, 0), 1 << 9);
  EXPECT_TRUE(sink.contains("Digital Write PLC1:Y:3 len=3")) << sink.all();
  ticks(3);
  w = writes_sent();
  ASSERT_EQ(w.size(), 2u);
  EXPECT_EQ(head_of(w[1]), 9u);
  EXPECT_EQ(points_of(w[1]), 1);
  EXPECT_EQ(data_of(w[1]), bytes({0x10}));
  EXPECT_EQ(by_value(entry(0).write_request_count), 0);
  EXPECT_EQ(word(0, image::kAreaWriteFlags, 0), 0);
  EXPECT_TRUE(sink.contains("Digital Write PLC1:Y:9 len=1"));
  EXPECT_EQ(sink.colour_of("Digital Write PLC1:Y:9 len=1"), image::kColourInfo);
}

TEST_F(Writes, TheRecordIsReadBackAfterEachWriteWhateverItsPollTime) {
  load_one(RecordSpec{RegisterType::Y, 0, 16, DataType::Digital});
  queue_write(0, 0, 0, (1 << 3) | (1 << 9), 2);
  ticks(6);
  std::string order;
  for (const auto& f : all_sent()) order += load16(&f[11]) == 0x1401 ? 'W' : 'R';
  EXPECT_EQ(order, "RWRWR");
}

TEST_F(Writes, FloatValueTwoOfARecordAtD100WritesTwoRegistersAtD104) {
  load_one(RecordSpec{RegisterType::D, 100, 6, DataType::Float});
  float f = 1.5f;
  std::uint32_t bits;
  std::memcpy(&bits, &f, 4);
  store32(area(0, image::kAreaWriteValues) + 8, bits);
  set_word(0, image::kAreaWriteFlags, 2, 0xFFFF);
  entry(0).write_request_count = 16;
  tick();
  auto w = writes_sent();
  ASSERT_EQ(w.size(), 1u);
  EXPECT_EQ(w[0][13], 0x00);  // word units
  EXPECT_EQ(head_of(w[0]), 104u);
  EXPECT_EQ(points_of(w[0]), 2);
  EXPECT_EQ(data_of(w[0]), bytes({0x00, 0x00, 0xC0, 0x3F}));
  EXPECT_EQ(load16(&w[0][7]), 12 + 4);
  EXPECT_EQ(by_value(entry(0).write_request_count), 0);
  EXPECT_TRUE(sink.contains("Analog Write PLC1:D:102 len=1")) << sink.all();
}

TEST_F(Writes, ConsecutiveWholeWordsShareARequestAndAGapSplitsThem) {
  load_one(RecordSpec{RegisterType::D, 0, 10, DataType::Unsigned});
  for (int w : {1, 2, 3}) queue_write(0, w, static_cast<std::uint16_t>(0x100 + w), 0xFFFF, 16);
  for (int w : {5, 7}) queue_write(0, w, static_cast<std::uint16_t>(0x100 + w), 0xFFFF, 16);
  ticks(12);
  auto w = writes_sent();
  ASSERT_EQ(w.size(), 3u);
  EXPECT_EQ(head_of(w[0]), 1u);
  EXPECT_EQ(points_of(w[0]), 3);
  EXPECT_EQ(data_of(w[0]), bytes({0x01, 0x01, 0x02, 0x01, 0x03, 0x01}));
  EXPECT_EQ(head_of(w[1]), 5u);
  EXPECT_EQ(points_of(w[1]), 1);
  EXPECT_EQ(head_of(w[2]), 7u);
  EXPECT_EQ(by_value(entry(0).write_request_count), 0);
}

TEST_F(Writes, BitInWordMergesWithTheLastPolledValue) {
  RecordSpec r{RegisterType::D, 200, 2, DataType::Unsigned, ExceptionType::Digital};
  load_one(r);
  // The first read stored 0 and 1; register 1 becomes 0xFF01 | bit 4 set, bit 0 cleared.
  set_word(0, image::kAreaCurrent, 1, 0xFF01);
  area(0, image::kAreaExceptions)[4 * (16 + 4) + 1] = 9;  // bit 4 of register 1 registered
  area(0, image::kAreaExceptions)[4 * (16 + 0) + 1] = 9;  // bit 0 too
  queue_write(0, 1, 0x0010, 0x0011, 2);
  tick();
  auto w = writes_sent();
  ASSERT_EQ(w.size(), 1u);
  EXPECT_EQ(head_of(w[0]), 201u);
  EXPECT_EQ(points_of(w[0]), 1);
  EXPECT_EQ(w[0][13], 0x00);
  EXPECT_EQ(data_of(w[0]), bytes({0x10, 0xFF}));
  EXPECT_EQ(word(0, image::kAreaCurrent, 1), 0xFF10);
  EXPECT_EQ(word(0, image::kAreaWriteValues, 1), 0xFF10);  // Q-series keeps area 2 in step
  EXPECT_EQ(word(0, image::kAreaWriteFlags, 1), 0);
  EXPECT_EQ(by_value(entry(0).write_request_count), 0);
  EXPECT_EQ(by_value(entry(0).changed_count), 2);
  EXPECT_TRUE(sink.contains("Bit in word Write PLC1:D:201")) << sink.all();
}

TEST_F(Writes, BitInWordOnANeverPolledRecordMergesWithZeros) {
  ConfigSpec plan;
  plan.channels[0].devices[0].records = {RecordSpec{RegisterType::W, 0x10, 1, DataType::Unsigned}};
  plan.channels[0].devices[0].records[0].poll_time = image::kPollTimeDisabled;
  load(plan);
  set_word(0, image::kAreaWriteValues, 0, 0xFFFF);
  queue_write(0, 0, 0xFFFF, 0x0100, 1);
  tick();
  auto w = writes_sent();
  ASSERT_EQ(w.size(), 1u);
  EXPECT_EQ(data_of(w[0]), bytes({0x00, 0x01}));
}

TEST_F(Writes, ASeriesBitInWordLeavesAreaTwoAndTheStatusAlone) {
  RecordSpec r{RegisterType::D, 0, 1, DataType::Signed};
  load_one(r, CpuType::AnU, image::Coding::Ascii);
  set_word(0, image::kAreaWriteValues, 0, 0x8001);
  queue_write(0, 0, 0x8001, 0x8000, 1);
  record(0).status = image::kStatusNotPolled;  // to see that a good A-series write keeps it
  tick();
  ASSERT_FALSE(sockets.sent.empty());
  const auto& f = sockets.sent.back().bytes;
  EXPECT_EQ(std::string(f.begin(), f.end()), "03FF000A442000000000" "0100" "8000");
  EXPECT_EQ(word(0, image::kAreaWriteValues, 0), 0x8001);
  tick();
  EXPECT_EQ(by_value(record(0).status), image::kStatusNotPolled);
}

TEST_F(Writes, ASeriesLongValuesGoLowRegisterFirstEachHighByteFirst) {
  RecordSpec r{RegisterType::D, 10, 2, DataType::LongSigned};
  load_one(r, CpuType::AnA, image::Coding::Ascii);
  store32(area(0, image::kAreaWriteValues), 0x12345678);
  set_word(0, image::kAreaWriteFlags, 0, 0xFFFF);
  entry(0).write_request_count = 16;
  tick();
  const auto& f = sockets.sent.back().bytes;
  EXPECT_EQ(std::string(f.begin(), f.end()), "03FF000A44200000000A" "0200" "56781234");
}

// Only a read refreshes area 1, so only a read reply makes a record good: a write reply
// leaves a good record good and a failed or expired one as it was until its read-back.
TEST_F(Writes, QSeriesWriteRepliesLeaveTheStatusAndFailuresSetItBad) {
  load_one(RecordSpec{RegisterType::D, 0, 1, DataType::Unsigned});
  queue_write(0, 0, 4, 0xFFFF, 16);
  ticks(2);
  EXPECT_EQ(by_value(record(0).status), image::kStatusGood);
  ticks(2);  // the read-back and its reply
  for (const std::uint16_t stale : {image::kStatusCommFailure, image::kStatusAccessExpired}) {
    SCOPED_TRACE(stale);
    record(0).status = stale;
    const std::uint16_t value = static_cast<std::uint16_t>(stale & 0xFF);
    queue_write(0, 0, value, 0xFFFF, 16);
    ticks(2);
    EXPECT_EQ(data_of(writes_sent().back()), bytes({static_cast<std::uint8_t>(value), 0}));
    EXPECT_EQ(by_value(record(0).status), stale);
    ticks(2);  // the read-back the write made due, and its reply
    EXPECT_EQ(by_value(record(0).status), image::kStatusGood);
  }
  EXPECT_EQ(sink.count("Communication Recovered Chan 1 Dev =PLC1 Pollrec 1"), 1);
  // A write that is never answered fails like a read once its retries are spent, and is
  // not repeated after that: its flags were cleared when it was built.
  auto_reply = false;
  const std::size_t writes_before = writes_sent().size();
  queue_write(0, 0, 6, 0xFFFF, 16);
  ticks(2000);
  EXPECT_EQ(by_value(record(0).status), image::kStatusCommFailure);
  EXPECT_EQ(writes_sent().size(), writes_before + 1 + 2);  // sent, then two retries
  EXPECT_EQ(word(0, image::kAreaWriteFlags, 0), 0);
  EXPECT_EQ(by_value(entry(0).write_request_count), 0);
}

// A Q-series write reply says the PLC answers, not what area 1 holds: until a read has been
// good since polling started, area 1 holds the file's zeros, and after a failed read it holds
// values of unknown age; a write reply must make neither good. Random runs of refused and good reads,
// writes and restarts of polling; the invariant: the status is good only while the last read
// since the start was good and area 1 holds its values.
TEST_F(Writes, AQSeriesWriteReplyMakesGoodOnlyARecordWhoseLastReadWasGood) {
  ConfigSpec plan;
  RecordSpec r{RegisterType::D, 0, 2, DataType::Unsigned};
  r.poll_time = 5;
  plan.channels[0].devices[0].records = {r};
  plan.channels[0].delay = 3;
  load(plan);
  auto_reply = false;
  const unsigned seed = ::testing::UnitTest::GetInstance()->random_seed();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 rng(seed);
  bool read_good = false;  // the last read since the start was good
  std::uint16_t last_read = 0;
  enum class Answer { kNone, kWrite, kGoodRead, kRefusedRead } answer = Answer::kNone;
  std::size_t answered = 0;
  int writes_not_good = 0, writes_good_read = 0;
  for (int step = 0; step < 4000; ++step) {
    if (rng() % 150 == 0) {
      // A restart of polling, as a reload does: area 1 back to what the file held.
      stop_polling(*poller);
      set_word(0, image::kAreaCurrent, 0, 0);
      set_word(0, image::kAreaCurrent, 1, 0);
      entry(0).write_request_count = 0;
      set_word(0, image::kAreaWriteFlags, 0, 0);
      set_word(0, image::kAreaWriteFlags, 1, 0);
      start_polling(*poller);
      read_good = false;
      last_read = 0;
      answer = Answer::kNone;
      answered = sockets.sent.size();
    }
    if (entry(0).write_request_count == 0 && rng() % 2 == 0)
      queue_write(0, static_cast<int>(rng() % 2), static_cast<std::uint16_t>(rng()), 0xFFFF, 16);
    tick();
    const std::uint16_t status = record(0).status;
    // What the answer given on the last step did.
    switch (answer) {
      case Answer::kWrite:
        if (read_good) {
          EXPECT_EQ(status, image::kStatusGood) << "step " << step;  // the rule as before
          ++writes_good_read;
        } else {
          EXPECT_NE(status, image::kStatusGood) << "step " << step;
          ++writes_not_good;
        }
        break;
      case Answer::kGoodRead:
        read_good = true;
        EXPECT_EQ(status, image::kStatusGood) << "step " << step;
        break;
      case Answer::kRefusedRead:
        read_good = false;
        EXPECT_EQ(status, image::kStatusCommFailure) << "step " << step;
        break;
      case Answer::kNone:
        break;
    }
    answer = Answer::kNone;
    if (status == image::kStatusGood) {
      ASSERT_TRUE(read_good) << "step " << step << ": good without a good last read since the start";
      ASSERT_EQ(word(0, image::kAreaCurrent, 0), last_read) << "step " << step;
    }
    if (sockets.sent.size() == answered) continue;
    answered = sockets.sent.size();
    // Answer what the tick sent: writes always, reads good or refused (end code 0xC056).
    ChannelBlock& b = block(0);
    if (b.is_write) {
      sockets.deliver_to(b.socket, good_reply(b));
      answer = Answer::kWrite;
    } else if (rng() % 5 == 0) {
      last_read = static_cast<std::uint16_t>(rng());
      sockets.deliver_to(b.socket, good_reply(b, last_read));
      answer = Answer::kGoodRead;
    } else {
      std::vector<std::uint8_t> refused = good_reply(b);
      refused.resize(11);
      refused[7] = 2;
      refused[8] = 0;
      refused[9] = 0x56;
      refused[10] = 0xC0;
      sockets.deliver_to(b.socket, refused);
      answer = Answer::kRefusedRead;
    }
  }
  // Both kinds of write reply happened often enough to mean something.
  EXPECT_GT(writes_not_good, 20);
  EXPECT_GT(writes_good_read, 20);
}

TEST_F(Writes, RunsLongerThanOneRequestAreSentInParts) {
  ConfigSpec plan;
  plan.channels[0].devices[0].records = {RecordSpec{RegisterType::D, 0, 1200, DataType::Unsigned}};
  plan.channels[0].devices[0].records[0].poll_time = image::kPollTimeDisabled;
  load(plan);
  for (int w = 0; w < 1200; ++w) queue_write(0, w, static_cast<std::uint16_t>(w), 0xFFFF, 16);
  ticks(4);
  auto w = writes_sent();
  ASSERT_EQ(w.size(), 2u);
  const std::size_t most = (kRequestBufferSize - 21) / 2;
  EXPECT_EQ(points_of(w[0]), most);
  EXPECT_LE(w[0].size(), kRequestBufferSize);
  EXPECT_EQ(head_of(w[1]), most);
  EXPECT_EQ(points_of(w[1]), 1200 - most);
  EXPECT_EQ(by_value(entry(0).write_request_count), 0);
}

TEST_F(Writes, FlagsWithoutACountWaitAndACountWithoutFlagsIsPassedOver) {
  load_one(RecordSpec{RegisterType::D, 0, 2, DataType::Unsigned});
  set_word(0, image::kAreaWriteFlags, 1, 0xFFFF);  // the client has not raised the count yet
  ticks(3);
  EXPECT_TRUE(writes_sent().empty());
  entry(0).write_request_count = 8;  // less than what is flagged: never below zero
  ticks(2);
  ASSERT_EQ(writes_sent().size(), 1u);
  EXPECT_EQ(by_value(entry(0).write_request_count), 0);
  // A count whose flags were already served finds nothing and sends nothing.
  entry(0).write_request_count = 16;
  const std::size_t sent = sockets.sent.size();
  EXPECT_EQ(issue_next_write(*ctx, block(0), 0, 0), WriteAnswer::kNothingFound);
  EXPECT_EQ(sockets.sent.size(), sent);
  EXPECT_EQ(block(0).waiting, 0);
}

TEST_F(Writes, MorePendingKeepsTheWriteCursorOnTheRecord) {
  ConfigSpec plan;
  plan.channels[0].devices[0].records = {RecordSpec{RegisterType::D, 0, 4}, RecordSpec{RegisterType::D, 10, 1}};
  for (auto& r : plan.channels[0].devices[0].records) r.poll_time = image::kPollTimeDisabled;
  load(plan);
  queue_write(0, 0, 1, 0xFFFF, 16);
  queue_write(0, 2, 3, 0xFFFF, 16);
  queue_write(1, 0, 9, 0xFFFF, 16);
  EXPECT_EQ(issue_next_write(*ctx, block(0), 0, 0), WriteAnswer::kMorePending);
  block(0).waiting = 0;
  EXPECT_EQ(issue_next_write(*ctx, block(0), 0, 0), WriteAnswer::kDone);
  block(0).waiting = 0;
  EXPECT_EQ(issue_next_write(*ctx, block(0), 0, 1), WriteAnswer::kDone);
  auto w = writes_sent();
  ASSERT_EQ(w.size(), 3u);
  EXPECT_EQ(head_of(w[0]), 0u);
  EXPECT_EQ(head_of(w[1]), 2u);
  EXPECT_EQ(head_of(w[2]), 10u);
  EXPECT_EQ(by_value(channel(0).stats.requests_sent), 3);
}

}  // namespace
}  // namespace hbt::poller
