// Random replies, random reply data and random byte streams: whatever arrives, nothing is
// read past what was received and nothing is written outside the places a reply may change.
#include <memory>
#include <random>

#include <gtest/gtest.h>

#include "poller/block_fixtures.h"
#include "poller/convert.h"
#include "poller/poller_fixture.h"
#include "poller/reply_check.h"
#include "poller/reply_framing.h"

namespace hbt::poller {
namespace {

using image::CpuType;
using image::DataType;
using image::ExceptionType;
using image::RegisterType;
using testsupport::ConfigSpec;
using testsupport::RecordSpec;

constexpr std::uint8_t kGuard = 0xA5;

// Exactly `n` bytes on the heap, so that a read past them is an out-of-bounds access.
struct Exact {
  std::unique_ptr<std::uint8_t[]> bytes;
  std::size_t size;
  explicit Exact(std::size_t n) : bytes(new std::uint8_t[n > 0 ? n : 1]), size(n) {}
  std::span<const std::uint8_t> span() const { return {bytes.get(), size}; }
};

TEST(RandomReplies, ConversionStaysInsideDataArea1AndTheExceptionTable) {
  std::mt19937 rng(12345);
  const std::uint16_t types[] = {0, 1, 2, 3, 4, 5, 6, 7, 9};
  for (int round = 0; round < 20000; ++round) {
    ConversionSpec plan;
    plan.register_type = static_cast<RegisterType>(rng() % 16);
    plan.data_type = types[rng() % std::size(types)];
    plan.exception_type = static_cast<std::uint8_t>(rng() % 5);
    plan.dead_band_int = static_cast<std::uint16_t>(rng() % 3 == 0 ? rng() % 100 : 0);
    plan.dead_band = rng() % 3 == 0 ? static_cast<float>(rng() % 1000) / 10 : 0.0f;
    plan.ascii = rng() % 2;
    plan.bit_units = rng() % 4 == 0;
    const std::size_t area1 = rng() % 70;
    const std::size_t area5 = 4 * (rng() % 40) + (rng() % 4 == 0 ? rng() % 4 : 0);
    // Guards on both sides of both areas.
    std::vector<std::uint8_t> a1(area1 + 16, kGuard), a5(area5 + 16, kGuard);
    for (std::size_t i = 8; i < 8 + area5; ++i) a5[i] = static_cast<std::uint8_t>(rng() % 3 == 0 ? rng() : 0);
    Exact data(rng() % 90);
    const char* alphabet = "0123456789ABCDEFabcdef01g";
    for (std::size_t i = 0; i < data.size; ++i)
      data.bytes[i] = plan.ascii && rng() % 8 != 0 ? static_cast<std::uint8_t>(alphabet[rng() % 24])
                                                   : static_cast<std::uint8_t>(rng());
    ExceptionTable table({a5.data() + 8, area5});
    const ConversionResult result = convert_reply(plan, data.span(), {a1.data() + 8, area1}, table);
    for (std::size_t i = 0; i < 8; ++i) {
      ASSERT_EQ(a1[i], kGuard) << "round " << round;
      ASSERT_EQ(a1[a1.size() - 1 - i], kGuard) << "round " << round;
      ASSERT_EQ(a5[i], kGuard) << "round " << round;
      ASSERT_EQ(a5[a5.size() - 1 - i], kGuard) << "round " << round;
    }
    ASSERT_GE(result.flagged, 0);
    ASSERT_LE(static_cast<std::size_t>(result.flagged), area5 / 4);
  }
}

TEST(RandomReplies, ChecksReadOnlyWhatWasReceived) {
  std::mt19937 rng(777);
  image::ChannelRecord channel{};
  image::DeviceRecord device{};
  testsupport::RecordingSink sink;
  ReplyCheckEnv env{channel, &device, sink};
  for (int round = 0; round < 20000; ++round) {
    testing::BlockSpec s;
    s.cpu = static_cast<CpuType>(rng() % 5);
    s.coding = static_cast<image::Coding>(rng() % 2);
    s.type = static_cast<RegisterType>(rng() % 16);
    s.start = rng() % 10000;
    s.length = static_cast<std::uint16_t>(1 + rng() % 300);
    channel.display_alarms = rng() % 2;
    ChannelBlock b = testing::make_block(s);
    build_read_request(b);
    b.is_write = rng() % 4 == 0;
    Exact reply(rng() % 40 == 0 ? rng() % 2100 : rng() % 24);
    for (std::size_t i = 0; i < reply.size; ++i) reply.bytes[i] = static_cast<std::uint8_t>(rng());
    // Often a plausible beginning, so that the later checks are reached.
    if (reply.size >= 2 && rng() % 2) {
      if (is_q_series(b)) {
        reply.bytes[0] = 0xD0;
        reply.bytes[1] = 0x00;
        if (reply.size >= 6) {
          reply.bytes[3] = 0xFF;
          reply.bytes[4] = 0xFF;
          reply.bytes[5] = 0x03;
        }
      } else if (is_ascii(b)) {
        reply.bytes[0] = static_cast<std::uint8_t>(b.request[0] + 8);
        reply.bytes[1] = b.request[1];
      } else {
        reply.bytes[0] = static_cast<std::uint8_t>(b.request[0] | 0x80);
        reply.bytes[1] = rng() % 2 ? 0 : 0x5B;
      }
    }
    const ReplyVerdict v = check_reply(b, reply.span(), env);
    if (!v.data.empty()) {
      ASSERT_GE(v.data.data(), reply.bytes.get());
      ASSERT_LE(v.data.data() + v.data.size(), reply.bytes.get() + reply.size);
    }
  }
}

TEST(RandomReplies, StreamFramingNeverOverrunsItsBuffers) {
  std::mt19937 rng(4242);
  for (int round = 0; round < 3000; ++round) {
    testing::BlockSpec s;
    s.cpu = static_cast<CpuType>(rng() % 5);
    s.coding = static_cast<image::Coding>(rng() % 2);
    s.length = static_cast<std::uint16_t>(1 + rng() % 2000);
    ChannelBlock b = testing::make_block(s);
    build_read_request(b);
    for (int chunk = 0; chunk < 8; ++chunk) {
      std::vector<std::uint8_t> bytes(rng() % 3000);
      for (auto& x : bytes) x = static_cast<std::uint8_t>(rng() % 3 == 0 ? 0xD0 : rng() % 4 == 0 ? 0 : rng());
      append_to_stream(b, bytes);
      ASSERT_LE(b.stream_length, kStreamBufferSize);
      while (take_reply(b)) {
        ASSERT_LE(b.reply_length, kReplyBufferSize);
        ASSERT_GT(b.reply_length, 0);
      }
      ASSERT_LT(b.stream_length, kStreamBufferSize);
    }
  }
}

// Whole ticks over a real image: random replies to real requests of every kind.
struct RandomTicks : testing::PollerFixture {
  // Byte ranges of the image a reply may change.
  std::vector<std::pair<std::size_t, std::size_t>> allowed;

  void allow(const void* p, std::size_t n) {
    const std::size_t at = static_cast<const std::uint8_t*>(p) - nio().image_base();
    allowed.emplace_back(at, at + n);
  }
  bool is_allowed(std::size_t at) const {
    for (auto [from, to] : allowed)
      if (at >= from && at < to) return true;
    return false;
  }
};

TEST_F(RandomTicks, RepliesChangeOnlyStatusesValuesFlagsAndStatistics) {
  ConfigSpec plan;
  auto records = [](std::uint32_t base) {
    return std::vector<RecordSpec>{
        RecordSpec{RegisterType::D, base, 6, DataType::Unsigned, ExceptionType::Analog},
        RecordSpec{RegisterType::D, base + 10, 4, DataType::Float, ExceptionType::Analog},
        RecordSpec{RegisterType::W, base, 3, DataType::Ascii, ExceptionType::Ascii},
        RecordSpec{RegisterType::X, 0, 32, DataType::Digital, ExceptionType::Digital},
        RecordSpec{RegisterType::M, 9000, 20, DataType::Digital, ExceptionType::Digital},
        RecordSpec{RegisterType::R, base, 4, DataType::LongSigned, ExceptionType::Analog},
        RecordSpec{RegisterType::D, base + 40, 5, DataType::Digital, ExceptionType::Digital},
    };
  };
  plan.channels.resize(3);
  const CpuType cpus[] = {CpuType::QSeries, CpuType::AnU, CpuType::AnA};
  const image::Coding codings[] = {image::Coding::Binary, image::Coding::Binary, image::Coding::Ascii};
  for (int c = 0; c < 3; ++c) {
    auto& ch = plan.channels[c];
    ch.ip_port = 6000 + c;
    ch.tcp = c == 1;
    ch.retries = 0;
    ch.reply_timeout = 3;
    ch.delay = 0;
    ch.devices[0].name = "PLC" + std::to_string(c);
    ch.devices[0].cpu = cpus[c];
    ch.devices[0].coding = codings[c];
    ch.devices[0].records = records(100 * c);
    for (auto& r : ch.devices[0].records) r.poll_time = 0;
  }
  load(plan);
  auto_reply = false;
  for (int k = 0; k < nio().poll_record_count(); ++k) {
    auto view = view_record(nio(), k);
    ASSERT_TRUE(view);
    allow(&view->head->status, 2);
    allow(view->values.data(), view->values.size());
    allow(view->entry, sizeof(image::PollControlEntry));
    for (std::size_t e = 0; e < view->exceptions.size(); ++e)
      allow(reinterpret_cast<std::uint8_t*>(view->head) + view->head->areas[4].offset + 4 * e, 1);
  }
  for (int c = 0; c < 3; ++c) {
    allow(&channel(c), sizeof(image::StatisticsBlock));
    allow(&nio().nio_map_dev(c)->last_end_code, 2);
  }
  // Registered points, so that exception flagging runs.
  for (int k = 0; k < nio().poll_record_count(); ++k) {
    auto view = view_record(nio(), k);
    for (std::size_t e = 0; e < view->exceptions.size(); e += 3)
      reinterpret_cast<std::uint8_t*>(view->head)[view->head->areas[4].offset + 4 * e + 1] = 1;
  }

  std::mt19937 rng(99);
  std::vector<std::uint8_t> before(nio().image_base(), nio().image_base() + nio().image_size());
  int good[3] = {0, 0, 0};
  for (int round = 0; round < 4000; ++round) {
    for (int c = 0; c < 3; ++c) {
      ChannelBlock& b = block(c);
      if (!b.prepared) continue;
      std::vector<std::uint8_t> reply = good_reply(b, static_cast<std::uint16_t>(rng()));
      switch (rng() % 5) {
        case 0:
          break;  // as it should be
        case 1:
          reply.resize(rng() % (reply.size() + 8));
          break;
        case 2:
          for (int i = 0; i < 3 && !reply.empty(); ++i) reply[rng() % reply.size()] = static_cast<std::uint8_t>(rng());
          break;
        case 3:
          reply.assign(rng() % 2100, 0);
          for (auto& x : reply) x = static_cast<std::uint8_t>(rng());
          break;
        case 4:
          continue;  // no answer this tick
      }
      if (c == 1) {
        // TCP: in two pieces.
        const std::size_t cut = reply.empty() ? 0 : rng() % reply.size();
        sockets.deliver_to(b.socket, {reply.begin(), reply.begin() + static_cast<long>(cut)});
        sockets.deliver_to(b.socket, {reply.begin() + static_cast<long>(cut), reply.end()});
      } else {
        sockets.deliver_to(b.socket, reply);
      }
    }
    tick();
    const std::uint8_t* now = nio().image_base();
    for (std::size_t i = 0; i < before.size(); ++i)
      if (now[i] != before[i]) {
        ASSERT_TRUE(is_allowed(i)) << "image byte " << i << " changed in round " << round;
      }
    for (int k = 0; k < nio().poll_record_count(); ++k) good[k / 7] += record(k).status == image::kStatusGood;
  }
  // The good replies did get through, on every kind of channel.
  EXPECT_GT(good[0], 1000);
  EXPECT_GT(good[1], 1000);
  EXPECT_GT(good[2], 1000);
}

TEST_F(RandomTicks, RandomWriteFlagsChangeOnlyAreasCountsAndStatistics) {
  ConfigSpec plan;
  plan.channels.resize(2);
  const std::vector<RecordSpec> records = {
      RecordSpec{RegisterType::D, 0, 9, DataType::Unsigned, ExceptionType::Digital},
      RecordSpec{RegisterType::D, 20, 6, DataType::Float, ExceptionType::Analog},
      RecordSpec{RegisterType::D, 40, 7, DataType::LongUnsigned},  // odd: half a value at the end
      RecordSpec{RegisterType::Y, 0, 48, DataType::Digital, ExceptionType::Digital},
      RecordSpec{RegisterType::W, 0, 5, DataType::Digital, ExceptionType::Analog},
      RecordSpec{RegisterType::R, 0, 700, DataType::Signed},  // longer than one request
  };
  for (int c = 0; c < 2; ++c) {
    plan.channels[c].ip_port = 7000 + c;
    plan.channels[c].devices[0].name = c == 0 ? "Q" : "A";
    plan.channels[c].devices[0].cpu = c == 0 ? CpuType::QSeries : CpuType::AnA;
    plan.channels[c].devices[0].coding = c == 0 ? image::Coding::Binary : image::Coding::Ascii;
    plan.channels[c].devices[0].records = records;
    for (auto& r : plan.channels[c].devices[0].records) r.poll_time = image::kPollTimeDisabled;
  }
  load(plan);
  for (int k = 0; k < nio().poll_record_count(); ++k) {
    auto view = view_record(nio(), k);
    ASSERT_TRUE(view);
    allow(&view->head->status, 2);
    allow(view->values.data(), view->values.size());
    allow(view->write_flags.data(), view->write_flags.size());
    allow(view->entry, sizeof(image::PollControlEntry));
    for (std::size_t e = 0; e < view->exceptions.size(); ++e)
      allow(reinterpret_cast<std::uint8_t*>(view->head) + view->head->areas[4].offset + 4 * e, 1);
    // Area 2 takes the merged register of a Q-series bit-in-word write.
    allow(view->write_values.data(), view->write_values.size());
  }
  for (int c = 0; c < 2; ++c) {
    allow(&channel(c), sizeof(image::StatisticsBlock));
    allow(&nio().nio_map_dev(c)->last_end_code, 2);
  }
  std::mt19937 rng(2024);
  // The long records start with every register pending.
  for (int k : {5, 11}) {
    for (int w = 0; w < 700; ++w) store16(area(k, image::kAreaWriteFlags) + 2 * w, 0xFFFF);
    entry(k).write_request_count = 700 * 16;
  }
  std::vector<std::uint8_t> before(nio().image_base(), nio().image_base() + nio().image_size());
  std::size_t longest = 0;
  for (int round = 0; round < 1500; ++round) {
    // A client queues something: random flags, values and counts, sometimes inconsistent.
    if (rng() % 3 == 0) {
      const int k = static_cast<int>(rng() % static_cast<unsigned>(nio().poll_record_count()));
      auto view = view_record(nio(), k);
      const std::size_t flags = view->write_flags.size() / 2;
      const std::size_t w = rng() % flags;
      const std::uint16_t flag = rng() % 2 ? 0xFFFF : static_cast<std::uint16_t>(rng());
      const std::size_t run = rng() % 4 == 0 ? flags - w : 1;
      for (std::size_t i = w; i < w + run; ++i) {
        store16(view->write_flags.data() + 2 * i, flag);
        if (2 * i + 2 <= view->write_values.size())
          store16(view->write_values.data() + 2 * i, static_cast<std::uint16_t>(rng()));
      }
      view->entry->write_request_count = static_cast<std::uint16_t>(rng() % 3 == 0 ? rng() % 40 : 16 * run);
      std::copy(nio().image_base(), nio().image_base() + nio().image_size(), before.begin());
    }
    for (int c = 0; c < 2; ++c)
      if (block(c).prepared && block(c).waiting) sockets.deliver_to(block(c).socket, good_reply(block(c)));
    const std::size_t sent = sockets.sent.size();
    tick();
    for (std::size_t i = sent; i < sockets.sent.size(); ++i) longest = std::max(longest, sockets.sent[i].bytes.size());
    const std::uint8_t* now = nio().image_base();
    for (std::size_t i = 0; i < before.size(); ++i)
      if (now[i] != before[i]) {
        ASSERT_TRUE(is_allowed(i)) << "image byte " << i << " changed in round " << round;
      }
  }
  EXPECT_LE(longest, kRequestBufferSize);
  EXPECT_GT(longest, 1000u);  // the long record's writes were cut to what one request holds
}

}  // namespace
}  // namespace hbt::poller
