// The rules that decide which records a look compares, against a simulated poller: channels
// with one request outstanding, replies some ticks after their requests, a reply counted in
// one part of a tick and stored in the next, looks at random moments (between the two parts
// too), and poller hiccups. Every stored reply must be compared by some later look.
#include "points/change_detection.h"

#include <gtest/gtest.h>

#include <deque>
#include <random>
#include <vector>

namespace hbt::points {
namespace {

// Looks come 2 to 9 ticks apart: a stored reply is compared within two gaps.
constexpr std::int64_t kLookLatest = 2 * 9 + 3;

struct SimRecord {
  std::int32_t poll_time;
  std::int32_t countdown = 0;
  int channel;
  // The watcher's side.
  RecordTrack track;
  std::int64_t unseen_store = -1;  // time of the oldest store no look has compared since
  int compares = 0;
};

struct SimChannel {
  int outstanding = -1;        // record with a request out
  std::int64_t reply_at = 0;   // tick its reply arrives
  std::uint16_t replies = 0;
  int cursor = 0;
  int pending_store = -1;      // counted in this tick, stored in its second part
  std::uint16_t seen_replies = 0;  // the watcher's reading
};

class Simulation {
 public:
  explicit Simulation(unsigned seed) : rng_(seed) {
    std::uniform_int_distribution<int> poll(1, 120);
    for (int c = 0; c < 4; ++c) channels_.push_back({});
    for (int r = 0; r < 40; ++r) {
      SimRecord rec{r % 10 == 9 ? -100 : poll(rng_), 0, r % 4, {}, -1, 0};
      records_.push_back(rec);
    }
  }

  // The first part of a poller tick: watchdog, countdowns, replies counted, requests sent.
  void tick_counting(std::int32_t elapsed) {
    ++watchdog_;
    for (SimRecord& r : records_)
      if (r.poll_time >= 0) r.countdown = std::max(0, r.countdown - elapsed);
    for (int c = 0; c < static_cast<int>(channels_.size()); ++c) {
      SimChannel& ch = channels_[c];
      if (ch.outstanding >= 0 && now_ >= ch.reply_at) {
        ++ch.replies;
        ch.pending_store = ch.outstanding;
        ch.outstanding = -1;
      }
      if (ch.outstanding < 0 && ch.pending_store < 0) send(c);
    }
  }
  // Its second part: the replies counted are stored.
  void tick_storing() {
    for (SimChannel& ch : channels_) {
      if (ch.pending_store < 0) continue;
      SimRecord& r = records_[ch.pending_store];
      if (r.unseen_store < 0) r.unseen_store = now_;
      ch.pending_store = -1;
    }
  }
  void send(int c) {
    SimChannel& ch = channels_[c];
    std::vector<int> mine;
    for (int r = 0; r < static_cast<int>(records_.size()); ++r)
      if (records_[r].channel == c) mine.push_back(r);
    for (std::size_t i = 0; i < mine.size(); ++i) {
      SimRecord& r = records_[mine[(ch.cursor + i) % mine.size()]];
      if (r.poll_time < 0 || r.countdown > 0) continue;
      r.countdown = r.poll_time;
      ch.outstanding = mine[(ch.cursor + i) % mine.size()];
      // Mostly a quick answer; now and then one after retries.
      std::uniform_int_distribution<int> delay(1, 4);
      ch.reply_at = now_ + delay(rng_) + (rng_() % 20 == 0 ? 150 : 0);
      ch.cursor = static_cast<int>((ch.cursor + i + 1) % mine.size());
      return;
    }
  }

  // A look, in the order the session takes it.
  void look() {
    const std::uint16_t w = watchdog_;
    if (w != last_watchdog_) {
      last_watchdog_ = w;
      last_move_ = now_;
    }
    LookTiming timing{static_cast<std::int32_t>(now_ - last_look_), freeze_};
    std::vector<int> seen;
    for (int r = 0; r < static_cast<int>(records_.size()); ++r) {
      SimRecord& rec = records_[r];
      if (read_request_seen(rec.track.countdown, rec.countdown, rec.poll_time, timing)) seen.push_back(r);
      rec.track.countdown = rec.countdown;
    }
    for (SimChannel& ch : channels_) ch.seen_replies = ch.replies;
    for (int r : seen) await_reply(records_[r].track, channels_[records_[r].channel].seen_replies, w);
    for (SimRecord& rec : records_) {
      if (!rec.track.awaiting) continue;
      note_replies(rec.track, channels_[rec.channel].seen_replies, w);
      ++rec.compares;
      rec.unseen_store = -1;  // the comparison sees every store made so far
      settle(rec.track, w, 400);
    }
    freeze_ = static_cast<std::int32_t>(now_ - last_move_) + 1;
    last_look_ = now_;
  }

  void run(std::int64_t ticks) {
    std::uniform_int_distribution<int> look_gap(2, 9);
    std::int64_t next_look = look_gap(rng_);
    std::int64_t frozen_until = 0;
    std::int32_t owed = 1;
    for (now_ = 1; now_ <= ticks; ++now_) {
      if (now_ < frozen_until) {
        ++owed;
      } else {
        if (rng_() % 80 == 0) {
          frozen_until = now_ + 5 + rng_() % 60;  // the poller is descheduled
          ++owed;
        } else {
          tick_counting(owed);
          owed = 1;
          // A look can come between counting a reply and storing it.
          if (now_ == next_look && rng_() % 2) {
            look();
            next_look = now_ + look_gap(rng_);
          }
          tick_storing();
        }
      }
      if (now_ >= next_look) {
        look();
        next_look = now_ + look_gap(rng_);
      }
      for (SimRecord& r : records_)
        if (r.unseen_store >= 0) {
          ASSERT_LT(now_ - r.unseen_store, kLookLatest) << "a stored reply no look compared";
        }
    }
  }

  std::vector<SimRecord> records_;

 private:
  std::mt19937 rng_;
  std::vector<SimChannel> channels_;
  std::int64_t now_ = 0;
  std::uint16_t watchdog_ = 0;
  std::uint16_t last_watchdog_ = 0;
  std::int64_t last_move_ = 0;
  std::int64_t last_look_ = 0;
  std::int32_t freeze_ = 1;
};

TEST(ChangeDetection, EveryStoredReplyIsComparedByALaterLook) {
  for (unsigned seed = 1; seed <= 20; ++seed) {
    Simulation sim(seed);
    sim.run(20000);
    if (::testing::Test::HasFatalFailure()) FAIL() << "seed " << seed;
    for (std::size_t r = 0; r < sim.records_.size(); ++r) {
      if (sim.records_[r].poll_time < 0) {
        EXPECT_EQ(sim.records_[r].compares, 0) << "a record nobody polls";
      }
    }
  }
}

TEST(ChangeDetection, ACountdownThatRoseShowsARequest) {
  LookTiming t{5, 1};
  EXPECT_TRUE(read_request_seen(3, 100, 100, t));
  EXPECT_FALSE(read_request_seen(60, 55, 100, t)) << "counted down as expected";
  EXPECT_FALSE(read_request_seen(60, 60, 100, t)) << "a poller that did not tick sent nothing";
  EXPECT_FALSE(read_request_seen(0, 0, -100, t)) << "poll time disabled";
  // A record polled about as fast as the looks come may have gone round unseen.
  EXPECT_TRUE(read_request_seen(6, 4, 8, t));
  // So may one after a poller hiccup as long as its poll time.
  EXPECT_TRUE(read_request_seen(40, 30, 50, LookTiming{5, 45}));
}

TEST(ChangeDetection, AnAwaitedRecordSettlesTwoWatchdogTicksAfterAReply) {
  RecordTrack t;
  await_reply(t, 7, 100);
  note_replies(t, 7, 101);
  settle(t, 101, 400);
  EXPECT_TRUE(t.awaiting);
  note_replies(t, 8, 102);
  settle(t, 103, 400);
  EXPECT_TRUE(t.awaiting) << "the tick that counted the reply may still be storing it";
  settle(t, 104, 400);
  EXPECT_FALSE(t.awaiting);
  // No reply at all: the wait ends when the channel's retries are over.
  await_reply(t, 8, 65530);
  settle(t, 300, 400);
  EXPECT_TRUE(t.awaiting) << "across the watchdog's wrap";
  settle(t, 400, 400);
  EXPECT_FALSE(t.awaiting);
}

}  // namespace
}  // namespace hbt::points
