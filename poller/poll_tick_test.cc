#include "poller/poll_tick.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "poller/poller_fixture.h"
#include "testsupport/by_value.h"

namespace hbt::poller {
namespace {

using image::kAccessNeverExpires;
using image::kPollTimeDisabled;
using testsupport::ChannelSpec;
using testsupport::ConfigSpec;
using testsupport::RecordSpec;
using testsupport::by_value;

// The reads of a channel as the rules describe them, tick by tick, with none of the short
// cuts of the real tick: every record counted down, every scan run in full.
struct ModelRecord {
  std::int64_t poll = 0, access = 0;
  int polled = 0, expired = 0;
  std::int32_t poll_time = 0, access_time = 0;
  std::uint16_t status = image::kStatusNotPolled;
};

struct ModelChannel {
  int first = 0;  // image index of its first record
  std::vector<ModelRecord> records;
  int cursor = 0;
  int outstanding = -1;  // answered on the next tick

  // The record read this tick, or -1.
  int tick(int elapsed) {
    for (ModelRecord& r : records) {
      if (r.polled != 1) continue;
      if (r.poll != 0) r.poll = std::max<std::int64_t>(0, r.poll - elapsed);
      if (r.access != 0 && r.access != kAccessNeverExpires) r.access = std::max<std::int64_t>(0, r.access - elapsed);
    }
    if (outstanding >= 0) records[static_cast<std::size_t>(outstanding)].status = image::kStatusGood;
    outstanding = -1;
    const int n = static_cast<int>(records.size());
    for (int step = 0; step < n; ++step) {
      const int k = (cursor + step) % n;
      ModelRecord& r = records[static_cast<std::size_t>(k)];
      if (r.poll > 0) continue;
      if (r.access <= 0) {
        if (r.expired == 0) {
          r.expired = 1;
          if (r.status == image::kStatusGood) r.status = image::kStatusAccessExpired;
        }
        continue;
      }
      if (r.polled != 1) continue;
      r.poll = r.poll_time;
      cursor = (k + 1) % n;
      outstanding = k;
      return k;
    }
    return -1;
  }
};

struct PollTick : testing::PollerFixture {
  static std::uint32_t head_of(const std::vector<std::uint8_t>& frame) {
    return frame[15] | (frame[16] << 8) | (frame[17] << 16);
  }
};

// Random plants of up to 4 channels, records with every kind of poll and access time, clients
// that read records now and then, ticks of uneven length: the reads that go out, in order and
// tick, and every countdown, flag and status a client can see, agree with the model.
TEST_F(PollTick, ReadsAndVisibleCountdownsFollowThePlainRulesOverRandomPlants) {
  std::mt19937 rng(1612);
  int reads = 0, expiries = 0;  // that the plants exercised both
  for (int plant = 0; plant < 40; ++plant) {
    SCOPED_TRACE("plant " + std::to_string(plant));
    ConfigSpec plan;
    plan.channels.clear();
    const int channels = 1 + static_cast<int>(rng() % 4);
    for (int c = 0; c < channels; ++c) {
      ChannelSpec ch;
      ch.ip_port = static_cast<std::uint32_t>(5000 + c);
      ch.devices[0].name = "PLC" + std::to_string(c + 1);
      ch.devices[0].records.clear();
      const int records = 1 + static_cast<int>(rng() % 9);
      for (int r = 0; r < records; ++r) {
        RecordSpec rec{image::RegisterType::D, static_cast<std::uint32_t>(c * 1000 + r * 20),
                       static_cast<std::uint16_t>(1 + rng() % 4)};
        const unsigned kind = rng() % 6;
        rec.poll_time = kind == 0 ? kPollTimeDisabled : kind == 1 ? 0 : static_cast<std::int32_t>(1 + rng() % 30);
        rec.access_time = rng() % 3 == 0 ? static_cast<std::int32_t>(1 + rng() % 60) : kAccessNeverExpires;
        ch.devices[0].records.push_back(rec);
      }
      plan.channels.push_back(ch);
    }
    // Each plant on an image of its own: the previous poller lets go of its image first.
    ctx.reset();
    poller.reset();
    load(plan);
    std::vector<ModelChannel> model(static_cast<std::size_t>(channels));
    int k = 0;
    for (int c = 0; c < channels; ++c) {
      ModelChannel& m = model[static_cast<std::size_t>(c)];
      m.first = k;
      for (std::size_t r = 0; r < plan.channels[c].devices[0].records.size(); ++r, ++k) {
        ModelRecord mr;
        mr.poll = entry(k).poll_countdown;
        mr.access = entry(k).access_countdown;
        mr.polled = entry(k).polled;
        mr.expired = entry(k).access_expired;
        mr.poll_time = record(k).poll_time;
        mr.access_time = record(k).access_time;
        mr.status = record(k).status;
        m.records.push_back(mr);
      }
    }
    ASSERT_EQ(k, nio().poll_record_count());

    for (int t = 1; t <= 250; ++t) {
      SCOPED_TRACE("tick " + std::to_string(t));
      // A client reads a record now and then: its access countdown is reloaded.
      if (rng() % 4 == 0) {
        ModelChannel& m = model[rng() % model.size()];
        const int r = static_cast<int>(rng() % m.records.size());
        entry(m.first + r).access_countdown = record(m.first + r).access_time;
        entry(m.first + r).access_expired = 0;
        m.records[static_cast<std::size_t>(r)].access = m.records[static_cast<std::size_t>(r)].access_time;
        m.records[static_cast<std::size_t>(r)].expired = 0;
      }
      const int elapsed = rng() % 8 == 0 ? static_cast<int>(rng() % 4) : 1;
      const std::size_t before = sockets.sent.size();
      tick(elapsed);
      std::vector<int> sent_now, expected_now;
      for (std::size_t i = before; i < sockets.sent.size(); ++i) {
        const std::uint32_t head = head_of(sockets.sent[i].bytes);
        const int c = static_cast<int>(head / 1000);
        ASSERT_LT(c, channels);
        ASSERT_EQ(sockets.sent[i].fd, block(c).socket);
        sent_now.push_back(model[static_cast<std::size_t>(c)].first + static_cast<int>(head % 1000 / 20));
      }
      for (ModelChannel& m : model)
        if (const int r = m.tick(elapsed); r >= 0) expected_now.push_back(m.first + r);
      ASSERT_EQ(sent_now, expected_now);
      reads += static_cast<int>(sent_now.size());
      for (const ModelChannel& m : model) {
        for (std::size_t r = 0; r < m.records.size(); ++r) {
          const int i = m.first + static_cast<int>(r);
          const std::int64_t poll = entry(i).poll_countdown, access = entry(i).access_countdown;
          ASSERT_EQ(poll, m.records[r].poll) << "record " << i;
          ASSERT_EQ(access, m.records[r].access) << "record " << i;
          ASSERT_EQ(entry(i).access_expired, m.records[r].expired) << "record " << i;
          ASSERT_EQ(by_value(record(i).status), m.records[r].status) << "record " << i;
          expiries += record(i).status == image::kStatusAccessExpired;
        }
      }
    }
  }
  EXPECT_GT(reads, 2000);
  EXPECT_GT(expiries, 0);
}

}  // namespace
}  // namespace hbt::poller
