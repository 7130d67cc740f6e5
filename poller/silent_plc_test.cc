// A PLC that stops answering: once a request and its retries find no answer, every polled
// record of that PLC shows communication failure, the PLC is probed with one request every
// DELAY, and each record comes back with its next good read. Refusals stay per record.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "poller/poller_fixture.h"
#include "poller/schedule.h"
#include "testsupport/by_value.h"

namespace hbt::poller {
namespace {

using image::RegisterType;
using testsupport::ConfigSpec;
using testsupport::DeviceSpec;
using testsupport::RecordSpec;
using testsupport::by_value;

constexpr int kRetries = 2;
constexpr int kTimeout = 10;  // ticks
constexpr int kDelay = 50;    // ticks
constexpr int kSilentRecords = 8;
// Records of the silent PLC after its polled ones: one never polled, one nobody reads.
constexpr int kDisabled = kSilentRecords;
constexpr int kUnread = kSilentRecords + 1;
constexpr int kOtherFirst = kSilentRecords + 2;  // the other PLC's two records
constexpr int kRecords = kOtherFirst + 2;

struct SilentPlc : testing::PollerFixture {
  bool silent = false;           // PLC1 (PC number 1) answers nothing
  int refused_record = -1;       // this record's reads get an abnormal end code
  std::vector<std::uint16_t> kept;  // first word of each record when PLC1 fell silent

  void SetUp() override {
    ConfigSpec plan;
    auto& ch = plan.channels[0];
    ch.retries = kRetries;
    ch.reply_timeout = kTimeout;
    ch.delay = kDelay;
    DeviceSpec plc1;
    plc1.name = "PLC1";
    plc1.pc_number = 1;
    plc1.records.clear();
    for (int r = 0; r < kSilentRecords; ++r) {
      RecordSpec rec{RegisterType::D, static_cast<std::uint32_t>(100 * r), 2};
      rec.poll_time = 1;
      plc1.records.push_back(rec);
    }
    RecordSpec disabled{RegisterType::D, 5000, 2};
    disabled.poll_time = image::kPollTimeDisabled;
    RecordSpec unread{RegisterType::D, 6000, 2};
    unread.poll_time = 1;
    unread.access_time = 20;
    plc1.records.push_back(disabled);
    plc1.records.push_back(unread);
    DeviceSpec plc2;
    plc2.name = "PLC2";
    plc2.pc_number = 2;
    plc2.records = {RecordSpec{RegisterType::D, 0, 2}, RecordSpec{RegisterType::D, 10, 2}};
    for (auto& r : plc2.records) r.poll_time = 1;
    ch.devices = {plc1, plc2};
    load(plan);
    ASSERT_EQ(nio().poll_record_count(), kRecords);
    // Each record reads values of its own, so that kept values show as such.
    reply_for = [this](const ChannelBlock& b) -> std::vector<std::uint8_t> {
      if (silent && b.pc_number == 1) return {};
      if (b.poll_record_index == refused_record) return refusal(b);
      return good_reply(b, static_cast<std::uint16_t>(1000 + 10 * b.poll_record_index));
    };
  }

  static std::vector<std::uint8_t> refusal(const ChannelBlock& b) {
    const std::uint16_t io = module_io_number(b.module_number);
    // End code 0xC056 and the nine bytes of error information a module adds.
    return {0xD0, 0x00, static_cast<std::uint8_t>(b.network_number), static_cast<std::uint8_t>(b.pc_number),
            static_cast<std::uint8_t>(io), static_cast<std::uint8_t>(io >> 8), 0x00, 11, 0, 0x56, 0xC0,
            0, 0xFF, 0xFF, 0x03, 0, 0x01, 0x04, 0, 0};
  }

  bool polled_silent_records_failed() {
    for (int k = 0; k < kSilentRecords; ++k)
      if (record(k).status != image::kStatusCommFailure) return false;
    return true;
  }
  bool all_polled_good() {
    for (int k = 0; k < kRecords; ++k)
      if (k != kDisabled && k != kUnread && record(k).status != image::kStatusGood) return false;
    return true;
  }
  std::string failure_of(int pollrec, const char* device = "PLC1") {
    return "Communication Failure Chan 1 Dev =" + std::string(device) + " Pollrec " + std::to_string(pollrec);
  }

  // Silent tick in which the first request to PLC1 went out.
  int first_unanswered = -1;

  // Runs until every record of both PLCs reads good, then lets PLC1 fall silent; the
  // number of ticks until every polled record of PLC1 shows failure, or -1.
  int ticks_until_failed() {
    auto settled = [&] { return all_polled_good() && record(kUnread).status == image::kStatusAccessExpired; };
    for (int t = 0; t < 200 && !settled(); ++t) tick();
    EXPECT_TRUE(settled()) << sink.all();
    kept.clear();
    for (int k = 0; k < kRecords; ++k) kept.push_back(word(k, image::kAreaCurrent, 0));
    silent = true;
    first_unanswered = -1;
    for (int t = 1; t <= 2000; ++t) {
      const std::size_t before = sockets.sent.size();
      tick();
      for (std::size_t i = before; i < sockets.sent.size(); ++i)
        if (first_unanswered < 0 && sockets.sent[i].bytes[3] == 1) first_unanswered = t;
      for (int k = kOtherFirst; k < kRecords; ++k)
        EXPECT_EQ(by_value(record(k).status), image::kStatusGood) << "the other PLC's record " << k << " tick " << t;
      if (polled_silent_records_failed()) return t;
    }
    return -1;
  }
};

TEST_F(SilentPlc, EveryPolledRecordFailsWithinOneRequestsRetriesKeepingItsValues) {
  const int ticks = ticks_until_failed();
  // The first request PLC1 leaves unanswered goes out in the first silent tick, or after
  // the other PLC's turns on the channel; it and its retries each wait one timeout, and
  // then every record has failed, however many there are.
  ASSERT_GE(first_unanswered, 1);
  EXPECT_LE(first_unanswered, 3);
  EXPECT_EQ(ticks - first_unanswered, (kRetries + 1) * kTimeout) << sink.all();
  for (int k = 0; k < kSilentRecords; ++k) {
    EXPECT_EQ(sink.count(failure_of(k + 1)), 1) << sink.all();
    EXPECT_EQ(word(k, image::kAreaCurrent, 0), kept[k]) << "record " << k << " lost its last values";
    EXPECT_NE(kept[k], 0);
    // Every failed record waits its DELAY: none is read again before the PLC is probed.
    EXPECT_GT(entry(k).poll_countdown, kDelay - 2);
  }
  EXPECT_EQ(sink.colour_of(failure_of(1)), image::kColourError);
  // Not polled, or read by nobody: their status says so still.
  EXPECT_EQ(by_value(record(kDisabled).status), image::kStatusNotPolled);
  EXPECT_EQ(by_value(record(kUnread).status), image::kStatusAccessExpired);
  EXPECT_FALSE(sink.contains(failure_of(kDisabled + 1)));
  EXPECT_FALSE(sink.contains(failure_of(1, "PLC2")));
}

TEST_F(SilentPlc, TheSilentPlcIsProbedWithOneRequestEveryDelay) {
  ASSERT_GT(ticks_until_failed(), 0);
  const std::size_t from = sockets.sent.size();
  std::vector<int> at;  // ticks of the frames to PLC1
  std::vector<std::vector<std::uint8_t>> frames;
  for (int t = 1; t <= 600; ++t) {
    const std::size_t before = sockets.sent.size();
    tick();
    for (std::size_t i = before; i < sockets.sent.size(); ++i)
      if (sockets.sent[i].bytes[3] == 1) {
        at.push_back(t);
        frames.push_back(sockets.sent[i].bytes);
      }
  }
  ASSERT_GT(sockets.sent.size(), from);
  // Each probe is one request and its retries, a timeout apart; the next probe comes a
  // DELAY after the last retry timed out (give or take the other PLC's turn on the channel).
  const int cycle = kRetries + 1;
  ASSERT_GE(at.size(), 4u * cycle) << "too few probes";
  for (std::size_t i = 0; i + 1 < at.size(); ++i) {
    SCOPED_TRACE("frame " + std::to_string(i) + " at tick " + std::to_string(at[i]));
    if ((i + 1) % cycle != 0) {
      EXPECT_EQ(at[i + 1] - at[i], kTimeout);
      EXPECT_EQ(frames[i + 1], frames[i]) << "a retry repeats its request";
    } else {
      EXPECT_GE(at[i + 1] - at[i], kTimeout + kDelay);
      EXPECT_LE(at[i + 1] - at[i], kTimeout + kDelay + 2);
    }
  }
  EXPECT_TRUE(polled_silent_records_failed());
  for (int k = 0; k < kSilentRecords; ++k) EXPECT_EQ(sink.count(failure_of(k + 1)), 1) << "reported once";
}

TEST_F(SilentPlc, EveryRecordRecoversOnItsNextGoodRead) {
  ASSERT_GT(ticks_until_failed(), 0);
  ticks(100);
  silent = false;
  int t = 0;
  while (t < 1000 && !all_polled_good()) {
    tick();
    ++t;
  }
  ASSERT_TRUE(all_polled_good()) << sink.all();
  // The probe's DELAY and its retries at most, then one read per record.
  EXPECT_LE(t, kDelay + (kRetries + 1) * kTimeout + kRecords + 2);
  for (int k = 0; k < kSilentRecords; ++k) {
    EXPECT_EQ(sink.count("Communication Recovered Chan 1 Dev =PLC1 Pollrec " + std::to_string(k + 1)), 1);
    EXPECT_EQ(word(k, image::kAreaCurrent, 0), 1000 + 10 * k);
  }
}

TEST_F(SilentPlc, AnAbnormalEndCodeFailsOnlyTheRecordItAnswers) {
  refused_record = 3;
  ticks(300);
  EXPECT_EQ(by_value(record(3).status), image::kStatusCommFailure);
  for (int k = 0; k < kRecords; ++k) {
    if (k == 3 || k == kDisabled || k == kUnread) continue;
    EXPECT_EQ(by_value(record(k).status), image::kStatusGood) << "record " << k;
  }
  EXPECT_EQ(sink.count(failure_of(4)), 1);
  for (int k = 0; k < kSilentRecords; ++k) {
    if (k != 3) {
      EXPECT_FALSE(sink.contains(failure_of(k + 1))) << sink.all();
    }
  }
}

TEST_F(SilentPlc, AWriteThatGetsNoAnswerFailsTheDeviceToo) {
  for (int t = 0; t < 200 && !all_polled_good(); ++t) tick();
  ASSERT_TRUE(all_polled_good());
  // Every record of PLC1 waits out a long poll time, so that only the write goes out.
  for (int k = 0; k < kSilentRecords; ++k) entry(k).poll_countdown = 100000;
  silent = true;
  queue_write(2, 0, 77, 0xFFFF, 16);
  ticks((kRetries + 1) * kTimeout + 3);
  EXPECT_TRUE(polled_silent_records_failed()) << sink.all();
  EXPECT_EQ(by_value(entry(2).write_request_count), 0);
}

}  // namespace
}  // namespace hbt::poller
