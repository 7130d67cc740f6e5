// The poller process against a PLC that misbehaves the way real ones do: it works through
// its requests one at a time, answers some late, loses replies for a while. Whatever it
// does, a record with good status holds values of its own registers and of no others, a
// channel that lost its PLC comes back as soon as the PLC answers, and no write is lost.
#include <cstdio>
#include <random>
#include <sstream>

#include <gtest/gtest.h>

#include "image/lock_byte.h"
#include "platform/clock.h"
#include "poller/byte_order.h"
#include "testsupport/by_value.h"
#include "testsupport/mcsim_peer.h"

namespace hbt::poller {
namespace {

using image::CpuType;
using image::DataType;
using image::RegisterType;
using testsupport::McsimPeer;
using testsupport::PollerProcess;
using testsupport::ChannelSpec;
using testsupport::ConfigSpec;
using testsupport::DeviceSpec;
using testsupport::RecordSpec;
using testsupport::by_value;

// Every register of the test PLC holds a value that names it: D n holds n + 1.
std::uint16_t value_of(std::uint32_t address) { return static_cast<std::uint16_t>(address + 1); }

struct Range {
  std::uint32_t start;
  std::uint16_t length;
};

// Reads of equal and of different lengths side by side, so that an answer that lands in
// the wrong record shows by its values, and one of the wrong length by its length.
const Range kRanges[] = {{0, 10}, {100, 5}, {200, 5}, {300, 10}, {400, 1}};

ChannelSpec channel_to(std::uint16_t port, bool tcp, CpuType cpu, image::Coding coding, const std::string& name) {
  ChannelSpec ch;
  ch.ip_port = port;
  ch.tcp = tcp;
  ch.retries = 1;
  ch.reply_timeout = 30;
  ch.delay = 20;
  DeviceSpec dev;
  dev.name = name;
  dev.cpu = cpu;
  dev.coding = coding;
  dev.records.clear();
  for (const Range& r : kRanges) {
    RecordSpec rec{RegisterType::D, r.start, r.length, DataType::Unsigned};
    rec.poll_time = 0;
    dev.records.push_back(rec);
  }
  ch.devices = {dev};
  return ch;
}

void fill_registers(McsimPeer& plc) {
  for (const Range& r : kRanges) {
    std::string line = "set D" + std::to_string(r.start);
    for (std::uint32_t a = r.start; a < r.start + r.length; ++a) line += " " + std::to_string(value_of(a));
    ASSERT_TRUE(plc.ok(line)) << line;
  }
}

// The first value of record k, which reads range r, that is not its own register's, or -1.
int foreign_word(PollerProcess& poller, int k, const Range& r) {
  for (int w = 0; w < r.length; ++w)
    if (poller.word(k, w) != value_of(r.start + w)) return w;
  return -1;
}
int foreign_word(PollerProcess& poller, int k) { return foreign_word(poller, k, kRanges[k % std::size(kRanges)]); }

struct Faults : ::testing::Test {
  testsupport::TestEnvironment env;
};

TEST_F(Faults, GoodRecordsHoldOnlyTheirOwnRegistersWhateverThePlcDoes) {
  const unsigned seed = std::random_device{}();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 rng(seed);
  McsimPeer plc(env.dir(), {"tcp:0:1e-binary", "tcp:0:1e-ascii", "udp:0:1e-binary", "tcp:0:3e-binary",
                            "udp:0:3e-binary"},
                {"--seed", std::to_string(seed)});
  ASSERT_TRUE(plc.ready()) << plc.output();
  fill_registers(plc);
  ConfigSpec plan;
  plan.channels = {channel_to(plc.port(0), true, CpuType::AnA, image::Coding::Binary, "ATB"),
                   channel_to(plc.port(1), true, CpuType::AnU, image::Coding::Ascii, "ATA"),
                   channel_to(plc.port(2), false, CpuType::AnA, image::Coding::Binary, "AUB"),
                   channel_to(plc.port(3), true, CpuType::QSeries, image::Coding::Binary, "QT"),
                   channel_to(plc.port(4), false, CpuType::QSeries, image::Coding::Binary, "QU")};
  PollerProcess poller(env, plan);
  ASSERT_TRUE(poller.mapped());
  const int records = poller.image().poll_record_count();
  ASSERT_EQ(records, 5 * static_cast<int>(std::size(kRanges)));

  // Phases of random misbehaviour; the PLC always serves one request at a time, so a late
  // answer holds up every answer after it. The reply timeout is 0.3 s, one retry.
  std::uniform_int_distribution<int> base(0, 60), jitter(0, 40), drop(0, 3), slow(0, 1);
  std::vector<int> good_seen(records, 0);
  long checks = 0;
  for (int phase = 0; phase < 8; ++phase) {
    for (int e = 0; e < 5; ++e) {
      const std::string ep = (e == 2 || e == 4 ? "udp:" : "tcp:") + std::to_string(plc.port(e));
      ASSERT_TRUE(plc.ok("fault " + ep + " clear"));
      ASSERT_TRUE(plc.ok("fault " + ep + " serial on"));
      ASSERT_TRUE(plc.ok("fault " + ep + " delay " + std::to_string(base(rng)) + "ms " + std::to_string(jitter(rng)) +
                         "ms"));
      if (slow(rng)) {
        ASSERT_TRUE(plc.ok("fault " + ep + " slow 350ms p=0.25"));
      }
      const int d = drop(rng);
      if (d > 0) {
        ASSERT_TRUE(plc.ok("fault " + ep + " drop " + std::to_string(d * 0.1)));
      }
    }
    const std::int64_t until = platform::monotonic_ns() + 1'500'000'000LL;
    while (platform::monotonic_ns() < until) {
      for (int k = 0; k < records; ++k) {
        if (poller.status(k) != image::kStatusGood) continue;
        ++good_seen[k];
        ++checks;
        const int w = foreign_word(poller, k);
        ASSERT_EQ(w, -1) << "record " << k << " word " << w << " holds " << poller.word(k, w) << " in phase "
                         << phase << "\n"
                         << plc.control("fault *");
      }
      poller.output();
      platform::sleep_ms(2);
    }
  }
  ASSERT_TRUE(plc.ok("fault * clear"));
  EXPECT_TRUE(poller.eventually(
      [&] {
        for (int k = 0; k < records; ++k)
          if (poller.status(k) != image::kStatusGood || foreign_word(poller, k) != -1) return false;
        return true;
      },
      8000))
      << poller.output();
  for (int k = 0; k < records; ++k) EXPECT_GT(good_seen[k], 0) << "record " << k << " was never good";
  EXPECT_GT(checks, 1000);
  // The misbehaviour was real: the channels timed out and retried.
  int timeouts = 0;
  for (int c = 0; c < 5; ++c) timeouts += poller.channel(c).stats.reply_timeouts;
  EXPECT_GT(timeouts, 20);
}

// Reads of D100..D104 and D200..D204 that half the time take longer than the reply timeout,
// on a PLC that serves one request at a time; one retry. A late answer comes while the
// retry or the other record's read waits.
void late_answers_stay_with_their_record(const std::string& listen) {
  testsupport::TestEnvironment env;
  McsimPeer plc(env.dir(), {listen});
  ASSERT_TRUE(plc.ready());
  fill_registers(plc);
  const bool tcp = listen.starts_with("tcp");
  const bool q = listen.find("3e") != std::string::npos;
  ConfigSpec plan;
  plan.channels = {channel_to(plc.port(0), tcp, q ? CpuType::QSeries : CpuType::AnA, image::Coding::Binary, "P")};
  plan.channels[0].reply_timeout = 100;
  // Two reads of equal length: only the values can tell their answers apart.
  auto& recs = plan.channels[0].devices[0].records;
  recs = {recs[1], recs[2]};
  for (auto& r : recs) r.poll_time = 10;
  ASSERT_TRUE(plc.ok("fault * serial on"));
  ASSERT_TRUE(plc.ok("fault * slow 1.2s p=0.5"));
  PollerProcess poller(env, plan);
  ASSERT_TRUE(poller.mapped());
  const std::int64_t until = platform::monotonic_ns() + 6'000'000'000LL;
  int good = 0;
  while (platform::monotonic_ns() < until) {
    for (int k = 0; k < 2; ++k) {
      if (poller.status(k) != image::kStatusGood) continue;
      ++good;
      ASSERT_EQ(foreign_word(poller, k, kRanges[k + 1]), -1) << "record " << k << ": " << poller.word(k, 0) << "\n"
                                             << poller.output();
    }
    poller.output();
    platform::sleep_ms(2);
  }
  EXPECT_GT(good, 100) << poller.output() << plc.control("stats");
  EXPECT_GT(by_value(poller.channel(0).stats.retries), 0);
}

TEST(LateAnswers, OverTcpOneE) { late_answers_stay_with_their_record("tcp:0:1e-binary"); }
TEST(LateAnswers, OverUdpOneE) { late_answers_stay_with_their_record("udp:0:1e-binary"); }
TEST(LateAnswers, OverUdpThreeE) { late_answers_stay_with_their_record("udp:0:3e-binary"); }

TEST_F(Faults, ATcpChannelWithoutRetriesComesBackAsSoonAsItsPlcAnswersAndKeepsItsWrites) {
  McsimPeer plc(env.dir(), {"tcp:0:1e-binary"});
  ASSERT_TRUE(plc.ready());
  fill_registers(plc);
  ConfigSpec plan;
  plan.channels = {channel_to(plc.port(0), true, CpuType::AnA, image::Coding::Binary, "PLC1")};
  plan.channels[0].retries = 0;
  plan.channels[0].reply_timeout = 100;
  plan.channels[0].delay = 50;
  auto& recs = plan.channels[0].devices[0].records;
  recs.resize(2);
  for (auto& r : recs) r.poll_time = 10;
  PollerProcess poller(env, plan);
  ASSERT_TRUE(poller.mapped());
  ASSERT_TRUE(poller.eventually([&] { return poller.status(0) == 0 && poller.status(1) == 0; }, 5000));

  auto queue_write = [&](int k, int w, std::uint16_t value) {
    {
      image::ByteLock lock(&poller.record(k).lock);
      store16(poller.area(k, image::kAreaWriteValues) + 2 * w, value);
      store16(poller.area(k, image::kAreaWriteFlags) + 2 * w, 0xFFFF);
    }
    image::ByteLock lock(&poller.entry(k).lock);
    poller.entry(k).write_request_count = static_cast<std::uint16_t>(poller.entry(k).write_request_count + 16);
  };
  // Replies lost for 1.5 s: both records fail, the connection is made anew for each read.
  ASSERT_TRUE(plc.ok("fault * drop 1"));
  ASSERT_TRUE(poller.eventually([&] { return poller.status(0) == image::kStatusCommFailure; }, 5000));
  queue_write(1, 1, 4242);
  platform::sleep_ms(500);
  ASSERT_TRUE(plc.ok("fault * clear"));
  ASSERT_TRUE(plc.ok("stats reset"));
  queue_write(1, 2, 4343);
  const std::int64_t back = platform::monotonic_ns();
  EXPECT_TRUE(poller.eventually([&] { return poller.status(0) == 0 && poller.status(1) == 0; }, 4000))
      << poller.output() << plc.control("stats");
  std::printf("records good again %.2f s after the PLC answered\n", (platform::monotonic_ns() - back) / 1e9);
  // Both writes reached the PLC; the one queued during the outage may have been answered
  // into the void, but it went out.
  EXPECT_TRUE(poller.eventually([&] { return plc.control("get D101 2") == "ok 4242 4343"; }, 4000))
      << plc.control("get D101 2");
  // The channel keeps reading.
  const std::string before = plc.control("stats");
  platform::sleep_ms(1000);
  EXPECT_NE(plc.control("stats"), before);
  EXPECT_EQ(poller.status(0), image::kStatusGood);
}

// PLCs with many records each that stop answering, one after the other: every record of the
// silent PLC shows communication failure once the request that was out and its retries have
// timed out, (retries + 1) x reply timeout after the silence began (give or take a tick), not
// one such cycle per record; the other PLCs stay good, and every record comes back once the
// PLC answers again.
TEST_F(Faults, ASilentPlcShowsEveryRecordFailedAfterOneRequestsRetries) {
  constexpr int kRecordsPerPlc = 24;
  constexpr int kRetries = 2, kTimeoutTicks = 20, kDelayTicks = 100;
  const std::vector<std::string> listens = {"udp:0:3e-binary", "tcp:0:1e-ascii", "udp:0:1e-binary"};
  McsimPeer plc(env.dir(), listens);
  ASSERT_TRUE(plc.ready());
  ConfigSpec plan;
  plan.channels.clear();
  for (std::size_t c = 0; c < listens.size(); ++c) {
    const bool q = c == 0;
    ChannelSpec ch = channel_to(plc.port(c), listens[c].starts_with("tcp"), q ? CpuType::QSeries : CpuType::AnA,
                                c == 1 ? image::Coding::Ascii : image::Coding::Binary, "PLC" + std::to_string(c + 1));
    ch.retries = kRetries;
    ch.reply_timeout = kTimeoutTicks;
    ch.delay = kDelayTicks;
    auto& recs = ch.devices[0].records;
    recs.clear();
    for (int r = 0; r < kRecordsPerPlc; ++r) {
      RecordSpec rec{RegisterType::D, static_cast<std::uint32_t>(10 * r), 2, DataType::Unsigned};
      rec.poll_time = 0;
      recs.push_back(rec);
    }
    plan.channels.push_back(ch);
  }
  PollerProcess poller(env, plan);
  ASSERT_TRUE(poller.mapped());
  auto count_status = [&](std::size_t c, std::uint16_t status) {
    int n = 0;
    for (int r = 0; r < kRecordsPerPlc; ++r) n += poller.status(static_cast<int>(c) * kRecordsPerPlc + r) == status;
    return n;
  };
  auto all_good = [&] {
    for (std::size_t c = 0; c < listens.size(); ++c)
      if (count_status(c, image::kStatusGood) != kRecordsPerPlc) return false;
    return true;
  };
  ASSERT_TRUE(poller.eventually(all_good, 10000)) << poller.output();
  const double cycle_ms = (kRetries + 1) * kTimeoutTicks * 10.0;
  for (std::size_t c = 0; c < listens.size(); ++c) {
    SCOPED_TRACE(listens[c]);
    const std::string ep = (listens[c].starts_with("tcp") ? "tcp:" : "udp:") + std::to_string(plc.port(c));
    const std::int64_t silent_at = platform::monotonic_ns();
    ASSERT_TRUE(plc.ok("fault " + ep + " silent on"));
    bool others_good = true;
    ASSERT_TRUE(poller.eventually(
        [&] {
          for (std::size_t o = 0; o < listens.size(); ++o)
            if (o != c && count_status(o, image::kStatusGood) != kRecordsPerPlc) others_good = false;
          return count_status(c, image::kStatusCommFailure) == kRecordsPerPlc;
        },
        30000))
        << poller.output();
    const double failed_ms = static_cast<double>(platform::monotonic_ns() - silent_at) / 1e6;
    EXPECT_TRUE(others_good) << "a PLC that kept answering lost its good status";
    ASSERT_TRUE(plc.ok("fault " + ep + " clear"));
    const std::int64_t back_at = platform::monotonic_ns();
    ASSERT_TRUE(poller.eventually(all_good, 10000)) << poller.output();
    const double back_ms = static_cast<double>(platform::monotonic_ns() - back_at) / 1e6;
    std::printf("%s: all %d records failed %.0f ms after the PLC fell silent ((retries + 1) x timeout = %.0f ms, "
                "a tick 10 ms); good again %.0f ms after it answered (DELAY %d ms)\n",
                listens[c].c_str(), kRecordsPerPlc, failed_ms, cycle_ms, back_ms, kDelayTicks * 10);
    // A record at a time would take kRecordsPerPlc cycles; 400 ms for a loaded machine.
    EXPECT_LT(failed_ms, cycle_ms + 10 + 400);
    EXPECT_EQ(poller.count("Communication Failure Chan " + std::to_string(c + 1) + " Dev =PLC" + std::to_string(c + 1) +
                           " Pollrec " + std::to_string(kRecordsPerPlc)),
              1);
  }
}

// A Q-series PLC on UDP whose replies come in datagrams of a few bytes: no piece is a reply,
// each is ignored, and yet the pieces must not hold up the reply countdown. The record fails
// within its poll time plus (retries + 1) reply timeouts, so that its old values stop being
// reported good, and comes back once the PLC answers whole again.
TEST_F(Faults, RepliesInPiecesFailTheRecordOnTimeAndItsValuesStopBeingGood) {
  const unsigned seed = std::random_device{}();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 rng(seed);
  McsimPeer plc(env.dir(), {"udp:0:3e-binary"});
  ASSERT_TRUE(plc.ready());
  fill_registers(plc);
  ConfigSpec plan;
  plan.channels = {channel_to(plc.port(0), false, CpuType::QSeries, image::Coding::Binary, "QU")};
  plan.channels[0].retries = 2;
  plan.channels[0].reply_timeout = 30;
  plan.channels[0].delay = 100;
  auto& recs = plan.channels[0].devices[0].records;
  recs = {recs[0]};  // D0..D9: a reply of 31 bytes
  recs[0].poll_time = 20;
  PollerProcess poller(env, plan);
  ASSERT_TRUE(poller.mapped());
  for (int round = 0; round < 3; ++round) {
    ASSERT_TRUE(poller.eventually([&] { return poller.status(0) == image::kStatusGood; }, 5000)) << poller.output();
    const int piece = 1 + static_cast<int>(rng() % 2), gap = 10 + static_cast<int>(rng() % 6);
    SCOPED_TRACE("pieces of " + std::to_string(piece) + " bytes, " + std::to_string(gap) + " ms apart");
    ASSERT_TRUE(plc.ok("fault * split " + std::to_string(piece) + " " + std::to_string(gap) + "ms"));
    const std::int64_t on = platform::monotonic_ns();
    ASSERT_TRUE(poller.eventually([&] { return poller.status(0) == image::kStatusCommFailure; }, 10000));
    const double ms = static_cast<double>(platform::monotonic_ns() - on) / 1e6;
    std::printf("failed %.0f ms after the replies began to come in pieces\n", ms);
    // Poll time 200 ms, then 3 x 300 ms; 350 ms for a loaded machine.
    EXPECT_LT(ms, 200 + 900 + 350);
    ASSERT_TRUE(plc.ok("fault * clear"));
  }
  EXPECT_TRUE(poller.eventually([&] { return poller.status(0) == image::kStatusGood; }, 5000)) << poller.output();
  EXPECT_EQ(foreign_word(poller, 0), -1);
}

// A Q-series record that reaches past the end of the PLC's D range: every read is refused,
// every write to a register inside the range is answered good. The write replies must not
// make the record good while area 1 holds only what the file held, not after a reload
// either; once the PLC has the registers, the record reads good with the PLC's values, and
// when it loses them again, the write replies do not make those old values good.
TEST_F(Faults, WriteRepliesMakeNoRecordGoodThatIsUnreadSinceItsLoadOrFailed) {
  McsimPeer plc(env.dir(), {"tcp:0:3e-binary"});
  ASSERT_TRUE(plc.ready());
  fill_registers(plc);
  ASSERT_TRUE(plc.ok("size D 5"));
  // Slow answers, so that a status wrongly set good by a write reply stays good a while.
  ASSERT_TRUE(plc.ok("fault * delay 100ms"));
  ConfigSpec plan;
  plan.channels = {channel_to(plc.port(0), true, CpuType::QSeries, image::Coding::Binary, "Q")};
  plan.channels[0].delay = 10;
  auto& recs = plan.channels[0].devices[0].records;
  recs = {recs[0]};  // D0..D9
  recs[0].poll_time = 20;
  PollerProcess poller(env, plan);
  ASSERT_TRUE(poller.mapped());
  auto queue_write = [&](int w, std::uint16_t value) {
    {
      image::ByteLock lock(&poller.record(0).lock);
      store16(poller.area(0, image::kAreaWriteValues) + 2 * w, value);
      store16(poller.area(0, image::kAreaWriteFlags) + 2 * w, 0xFFFF);
    }
    image::ByteLock lock(&poller.entry(0).lock);
    poller.entry(0).write_request_count = static_cast<std::uint16_t>(poller.entry(0).write_request_count + 16);
  };
  std::uint16_t value = 1000;
  long samples = 0;
  auto watch = [&](int ms) {
    const std::int64_t until = platform::monotonic_ns() + ms * 1'000'000LL;
    while (platform::monotonic_ns() < until) {
      if (poller.entry(0).write_request_count == 0) {
        ++value;
        queue_write(1 + value % 4, value);
      }
      ASSERT_NE(poller.status(0), image::kStatusGood) << "after " << samples << " samples, word 0 = "
                                                      << poller.word(0, 0) << "\n"
                                                      << poller.output();
      ++samples;
      poller.output();
      platform::sleep_ms(1);
    }
  };
  watch(2500);
  // A reload starts the record afresh: still no good read, still not good.
  const std::uint32_t generation = poller.image().mapped_generation();
  poller.image().ReloadConfiguration("test", "reload");
  ASSERT_TRUE(poller.eventually(
      [&] { return poller.image().nio_map_hdr() != nullptr && poller.image().mapped_generation() != generation; },
      5000));
  watch(2500);
  ASSERT_FALSE(HasFatalFailure());
  EXPECT_GE(value, 1010) << "the writes did not go through";
  EXPECT_EQ(plc.control("get D1 4").rfind("ok", 0), 0u);
  EXPECT_GT(poller.count("Got abnormal completetion code"), 5);
  ASSERT_TRUE(plc.ok("size D 20000"));
  ASSERT_TRUE(poller.eventually([&] { return poller.status(0) == image::kStatusGood; }, 5000)) << poller.output();
  // Area 1 holds what the PLC holds (D5.. came back as zeros with the larger range).
  ASSERT_TRUE(poller.eventually([&] { return poller.entry(0).write_request_count == 0; }, 5000));
  platform::sleep_ms(600);
  std::string area1 = "ok";
  for (int w = 0; w < 10; ++w) area1 += " " + std::to_string(poller.word(0, w));
  EXPECT_EQ(area1, plc.control("get D0 10"));
  EXPECT_EQ(poller.word(0, 0), value_of(0));
  // Once the record fails again, the write replies must not make the values of its last good
  // read good again: they grow older with every turn the reads keep failing.
  ASSERT_TRUE(plc.ok("size D 5"));
  ASSERT_TRUE(poller.eventually([&] { return poller.status(0) == image::kStatusCommFailure; }, 5000))
      << poller.output();
  const std::uint16_t before = value;
  watch(2500);
  ASSERT_FALSE(HasFatalFailure());
  EXPECT_GE(value, before + 10) << "the writes did not go through";
}

TEST_F(Faults, ExtensionFileRegistersOverOneEAsciiAndBinary) {
  McsimPeer plc(env.dir(), {"tcp:0:1e-ascii", "udp:0:1e-binary"});
  ASSERT_TRUE(plc.ready());
  ASSERT_TRUE(plc.ok("set EX1:100 11 12 13"));
  ASSERT_TRUE(plc.ok("set EX2:100 21 22 23"));
  ASSERT_TRUE(plc.ok("set D100 99 99 99"));  // what a wrong block number would read: R in block 0
  ConfigSpec plan;
  plan.channels.clear();
  for (int c = 0; c < 2; ++c) {
    ChannelSpec ch = channel_to(plc.port(c), c == 0, CpuType::AnA, c == 0 ? image::Coding::Ascii : image::Coding::Binary,
                                c == 0 ? "EXA" : "EXB");
    RecordSpec one{RegisterType::EX, 100, 3, DataType::Unsigned};
    one.ex_number = 1;
    RecordSpec two = one;
    two.ex_number = 2;
    ch.devices[0].records = {one, two};
    plan.channels.push_back(ch);
  }
  PollerProcess poller(env, plan);
  ASSERT_TRUE(poller.mapped());
  EXPECT_TRUE(poller.eventually(
      [&] {
        for (int k = 0; k < 4; ++k)
          if (poller.status(k) != 0) return false;
        return true;
      },
      5000))
      << poller.output();
  for (int c = 0; c < 2; ++c) {
    SCOPED_TRACE(c == 0 ? "ASCII" : "binary");
    for (int w = 0; w < 3; ++w) {
      EXPECT_EQ(poller.word(2 * c, w), 11 + w);
      EXPECT_EQ(poller.word(2 * c + 1, w), 21 + w);
    }
  }
  // A write goes to its own block too.
  {
    image::ByteLock lock(&poller.record(1).lock);
    store16(poller.area(1, image::kAreaWriteValues) + 2, 777);
    store16(poller.area(1, image::kAreaWriteFlags) + 2, 0xFFFF);
  }
  poller.entry(1).write_request_count = 16;
  EXPECT_TRUE(poller.eventually([&] { return plc.control("get EX2:101") == "ok 777"; }, 5000))
      << plc.control("get EX2:100 3") << poller.output();
  EXPECT_EQ(plc.control("get EX1:101"), "ok 12");
  EXPECT_EQ(by_value(poller.channel(0).stats.rejected_replies), 0);
  EXPECT_EQ(by_value(poller.channel(0).stats.abnormal_codes), 0);
}

}  // namespace
}  // namespace hbt::poller
