// The poller process against the MELSEC simulator on loopback: values of every kind over
// every frame kind, a PLC that stops answering and comes back, a refused connection,
// abnormal codes, split and joined TCP replies, writes and their read-back, late replies.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstring>

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
using image::ExceptionType;
using image::RegisterType;
using testsupport::McsimPeer;
using testsupport::PollerProcess;
using testsupport::ChannelSpec;
using testsupport::ConfigSpec;
using testsupport::DeviceSpec;
using testsupport::RecordSpec;
using testsupport::by_value;

ChannelSpec channel_to(std::uint16_t port, bool tcp, CpuType cpu, image::Coding coding, std::vector<RecordSpec> records,
                       const std::string& name = "PLC1") {
  ChannelSpec ch;
  ch.ip_port = port;
  ch.tcp = tcp;
  ch.retries = 1;
  ch.reply_timeout = 50;
  ch.delay = 100;
  DeviceSpec dev;
  dev.name = name;
  dev.cpu = cpu;
  dev.coding = coding;
  dev.records = std::move(records);
  for (auto& r : dev.records) r.poll_time = 10;
  ch.devices = {dev};
  return ch;
}

RecordSpec rec(RegisterType t, std::uint32_t start, std::uint16_t length, DataType d,
               ExceptionType e = ExceptionType::Disabled) {
  return RecordSpec{t, start, length, d, e};
}

// A TCP port on loopback that nobody listens on.
std::uint16_t closed_tcp_port() {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  socklen_t len = sizeof a;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  ::close(fd);
  return ntohs(a.sin_port);
}

struct Protocol : ::testing::Test {
  testsupport::TestEnvironment env;
};

TEST_F(Protocol, EveryKindOfValueArrivesOverEveryFrameKind) {
  McsimPeer plc(env.dir(), {"udp:0:3e-binary", "tcp:0:1e-ascii", "tcp:0:1e-binary", "udp:0:1e-binary"});
  ASSERT_TRUE(plc.ready()) << plc.output();
  for (const char* line : {"set D100 1 2 3 4 5", "set D200 0 0x4148", "set D300 0xFFFE 0xFFFF",
                           "set W10 0x4241 0x4443 0x4645", "set X0 1", "set X5 1", "set X1F 1", "set M9000 1",
                           "set M9003 1", "set D400 77"})
    ASSERT_TRUE(plc.ok(line)) << line;
  auto common = [] {
    return std::vector<RecordSpec>{rec(RegisterType::D, 100, 5, DataType::Unsigned),
                                   rec(RegisterType::D, 200, 2, DataType::Float),
                                   rec(RegisterType::D, 300, 2, DataType::LongSigned),
                                   rec(RegisterType::W, 0x10, 3, DataType::Ascii),
                                   rec(RegisterType::X, 0, 32, DataType::Digital, ExceptionType::Digital),
                                   rec(RegisterType::D, 400, 1, DataType::Signed, ExceptionType::Analog)};
  };
  ConfigSpec plan;
  plan.channels = {channel_to(plc.port(0), false, CpuType::QSeries, image::Coding::Binary, common(), "QUDP"),
                   channel_to(plc.port(1), true, CpuType::AnU, image::Coding::Ascii, common(), "ATCPASC"),
                   channel_to(plc.port(2), true, CpuType::AnA, image::Coding::Binary, common(), "ATCPBIN"),
                   channel_to(plc.port(3), false, CpuType::AnN, image::Coding::Binary,
                              {rec(RegisterType::D, 100, 5, DataType::Unsigned)}, "AUDP")};
  for (int c : {1, 2}) plan.channels[c].devices[0].records.push_back(rec(RegisterType::M, 9000, 16, DataType::Digital));
  PollerProcess poller(env, plan);
  ASSERT_TRUE(poller.mapped());
  const int records = poller.image().poll_record_count();
  ASSERT_EQ(records, 6 + 7 + 7 + 1);
  EXPECT_TRUE(poller.eventually(
      [&] {
        for (int k = 0; k < records; ++k)
          if (poller.status(k) != image::kStatusGood) return false;
        return true;
      },
      8000))
      << poller.output();
  for (int c = 0; c < 3; ++c) {
    const int k = poller.channel(c).first_poll_record;
    SCOPED_TRACE("channel " + std::to_string(c + 1));
    for (int i = 0; i < 5; ++i) EXPECT_EQ(poller.word(k, i), i + 1);
    float f;
    std::uint32_t bits = load32(poller.area(k + 1, image::kAreaCurrent));
    std::memcpy(&f, &bits, 4);
    EXPECT_EQ(f, 12.5f);
    EXPECT_EQ(static_cast<std::int32_t>(load32(poller.area(k + 2, image::kAreaCurrent))), -2);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(poller.area(k + 3, image::kAreaCurrent)), 6), "ABCDEF");
    EXPECT_EQ(poller.word(k + 4, 0), 0x0021);
    EXPECT_EQ(poller.word(k + 4, 1), 0x8000);
    EXPECT_EQ(poller.word(k + 5, 0), 77);
    if (c > 0) {
      EXPECT_EQ(poller.word(k + 6, 0), 0x0009);  // M9000 and M9003, read point by point
    }
    EXPECT_EQ(by_value(poller.channel(c).stats.rejected_replies), 0);
  }
  EXPECT_EQ(poller.word(20, 4), 5);
  EXPECT_TRUE(poller.output().find("UDP Socket Connected") != std::string::npos);
  EXPECT_TRUE(poller.output().find("TCP Socket Connected") != std::string::npos ||
              poller.output().find("Connection Pending") != std::string::npos);
  EXPECT_EQ(poller.stop(), 0);
}

// Relay records of A-series PLCs are read in whole words even when their length is no
// multiple of 16: the reply of the words asked for must be taken, over both codings.
TEST_F(Protocol, RelayRecordsOfAnyLengthReadOverBothCodingsOf1E) {
  McsimPeer plc(env.dir(), {"tcp:0:1e-binary", "udp:0:1e-ascii"});
  ASSERT_TRUE(plc.ready()) << plc.output();
  for (const char* line : {"set M16 1", "set M32 1", "set M46 1", "set M64 1", "set M79 1", "set M80 1",
                           "set M130 1", "set M158 1"})
    ASSERT_TRUE(plc.ok(line)) << line;
  auto relays = [] {
    return std::vector<RecordSpec>{rec(RegisterType::M, 16, 1, DataType::Digital),
                                   rec(RegisterType::M, 32, 15, DataType::Digital),
                                   rec(RegisterType::M, 64, 17, DataType::Digital),
                                   rec(RegisterType::M, 128, 31, DataType::Digital)};
  };
  ConfigSpec plan;
  plan.channels = {channel_to(plc.port(0), true, CpuType::AnA, image::Coding::Binary, relays(), "ABIN"),
                   channel_to(plc.port(1), false, CpuType::AnU, image::Coding::Ascii, relays(), "AASC")};
  PollerProcess poller(env, plan);
  ASSERT_TRUE(poller.mapped());
  ASSERT_EQ(poller.image().poll_record_count(), 8);
  EXPECT_TRUE(poller.eventually(
      [&] {
        for (int k = 0; k < 8; ++k)
          if (poller.status(k) != image::kStatusGood) return false;
        return true;
      },
      8000))
      << poller.output();
  for (int c = 0; c < 2; ++c) {
    SCOPED_TRACE("channel " + std::to_string(c + 1));
    const int k = poller.channel(c).first_poll_record;
    EXPECT_EQ(poller.word(k, 0), 0x0001);
    EXPECT_EQ(poller.word(k + 1, 0), 0x4001);
    EXPECT_EQ(poller.word(k + 2, 0), 0x8001);
    EXPECT_EQ(poller.word(k + 2, 1), 0x0001);
    EXPECT_EQ(poller.word(k + 3, 0), 0x0004);
    EXPECT_EQ(poller.word(k + 3, 1), 0x4000);
    EXPECT_EQ(by_value(poller.channel(c).stats.rejected_replies), 0);
  }
  // A change of a point is picked up by the next poll.
  ASSERT_TRUE(plc.ok("set M46 0"));
  EXPECT_TRUE(poller.eventually([&] { return poller.word(0, 0) == 0x0001 && poller.word(1, 0) == 0x0001 &&
                                             poller.word(5, 0) == 0x0001; }, 5000))
      << poller.output();
  EXPECT_EQ(poller.stop(), 0);
}

TEST_F(Protocol, ExceptionsReachRegisteredPointsWhenValuesMove) {
  McsimPeer plc(env.dir(), {"udp:0:3e-binary"});
  ASSERT_TRUE(plc.ready());
  ASSERT_TRUE(plc.ok("set D400 10"));
  ConfigSpec plan;
  plan.channels = {channel_to(plc.port(0), false, CpuType::QSeries, image::Coding::Binary,
                              {rec(RegisterType::D, 400, 1, DataType::Signed, ExceptionType::Analog)})};
  plan.channels[0].devices[0].records[0].dead_band = 5;
  PollerProcess poller(env, plan);
  ASSERT_TRUE(poller.mapped());
  ASSERT_TRUE(poller.eventually([&] { return poller.word(0, 0) == 10; }, 5000));
  std::uint8_t* entry = poller.area(0, image::kAreaExceptions);
  {
    image::ByteLock lock(&poller.record(0).lock);
    entry[1] = 3;  // registered, as the host library would
  }
  ASSERT_TRUE(plc.ok("set D400 13"));  // inside the dead band
  platform::sleep_ms(500);
  EXPECT_EQ(poller.word(0, 0), 10);
  EXPECT_EQ(entry[0], 0);
  ASSERT_TRUE(plc.ok("set D400 16"));
  EXPECT_TRUE(poller.eventually([&] { return poller.word(0, 0) == 16; }, 3000));
  EXPECT_EQ(entry[0], 1);
  EXPECT_EQ(by_value(poller.entry(0).changed_count), 1);
}

TEST_F(Protocol, APlcThatStopsAnsweringFailsEveryRecordOnceAndRecovers) {
  McsimPeer plc(env.dir(), {"udp:0:3e-binary"});
  ASSERT_TRUE(plc.ready());
  ConfigSpec plan;
  plan.channels = {channel_to(plc.port(0), false, CpuType::QSeries, image::Coding::Binary,
                              {rec(RegisterType::D, 0, 2, DataType::Unsigned),
                               rec(RegisterType::D, 10, 2, DataType::Unsigned)})};
  plan.channels[0].reply_timeout = 20;
  PollerProcess poller(env, plan);
  ASSERT_TRUE(poller.mapped());
  ASSERT_TRUE(poller.eventually([&] { return poller.status(0) == 0 && poller.status(1) == 0; }, 5000));
  ASSERT_TRUE(plc.ok("fault * silent on"));
  const std::string fail1 = "Communication Failure Chan 1 Dev =PLC1 Pollrec 1";
  const std::string fail2 = "Communication Failure Chan 1 Dev =PLC1 Pollrec 2";
  EXPECT_TRUE(poller.eventually([&] { return poller.count(fail1) == 1 && poller.count(fail2) == 1; }, 5000));
  EXPECT_EQ(poller.status(0), image::kStatusCommFailure);
  // While it stays silent the PLC is probed with one request every DELAY, without new
  // messages.
  const std::uint16_t timeouts = poller.channel(0).stats.reply_timeouts;
  const std::uint16_t sent = poller.channel(0).stats.requests_sent;
  poller.eventually([] { return false; }, 2800);
  EXPECT_EQ(poller.count(fail1), 1);
  EXPECT_EQ(poller.count(fail2), 1);
  // 2.8 s: a probe costs 2 timeouts of 0.2 s and then waits 1 s: two probes, give or take
  // one, where a probe of each record would be twice that.
  const int more = poller.channel(0).stats.reply_timeouts - timeouts;
  const int probes = poller.channel(0).stats.requests_sent - sent;
  EXPECT_GE(probes, 1);
  EXPECT_LE(probes, 3);
  // Each probe is a request and its retry; the window may cut one off at either end.
  EXPECT_LE(more, 2 * (probes + 1));
  ASSERT_TRUE(plc.ok("fault * silent off"));
  const std::string back1 = "Communication Recovered Chan 1 Dev =PLC1 Pollrec 1";
  const std::string back2 = "Communication Recovered Chan 1 Dev =PLC1 Pollrec 2";
  EXPECT_TRUE(poller.eventually([&] { return poller.count(back1) == 1 && poller.count(back2) == 1; }, 5000))
      << poller.output();
  EXPECT_EQ(poller.status(0), image::kStatusGood);
  EXPECT_EQ(poller.status(1), image::kStatusGood);
}

TEST_F(Protocol, RefusedTcpConnectionFailsTheRecordAndIsTriedAgain) {
  const std::uint16_t port = closed_tcp_port();
  ConfigSpec plan;
  plan.channels = {channel_to(port, true, CpuType::AnA, image::Coding::Binary,
                              {rec(RegisterType::D, 0, 1, DataType::Unsigned)})};
  plan.channels[0].reply_timeout = 20;
  plan.channels[0].delay = 20;
  PollerProcess poller(env, plan);
  ASSERT_TRUE(poller.mapped());
  const std::string refused = "Connection to PLC1 failed code = " + std::to_string(ECONNREFUSED) + " = Connection refused";
  EXPECT_TRUE(poller.wait_for(refused, 5000)) << poller.output();
  EXPECT_TRUE(poller.eventually([&] { return poller.status(0) == image::kStatusCommFailure; }, 5000));
  EXPECT_TRUE(poller.wait_for("Communication Failure Chan 1 Dev =PLC1 Pollrec 1", 1000));
  // A fresh attempt after the failed request.
  EXPECT_TRUE(poller.eventually([&] { return poller.count(refused) >= 2; }, 5000)) << poller.output();
  EXPECT_EQ(poller.count("Communication Failure Chan 1 Dev =PLC1 Pollrec 1"), 1);
  EXPECT_GT(by_value(poller.channel(0).stats.reply_timeouts), 0);
}

TEST_F(Protocol, AbnormalCodesAreReportedAndFailTheRecord) {
  McsimPeer plc(env.dir(), {"udp:0:3e-binary", "udp:0:1e-binary", "udp:0:1e-ascii"});
  ASSERT_TRUE(plc.ready());
  ConfigSpec plan;
  plan.channels = {channel_to(plc.port(0), false, CpuType::QSeries, image::Coding::Binary,
                              {rec(RegisterType::D, 0, 1, DataType::Unsigned)}, "Q"),
                   channel_to(plc.port(1), false, CpuType::AnA, image::Coding::Binary,
                              {rec(RegisterType::D, 0, 1, DataType::Unsigned)}, "AB"),
                   channel_to(plc.port(2), false, CpuType::AnA, image::Coding::Ascii,
                              {rec(RegisterType::D, 0, 1, DataType::Unsigned)}, "AA")};
  ASSERT_TRUE(plc.ok("fault udp:" + std::to_string(plc.port(0)) + " code 0xC056"));
  ASSERT_TRUE(plc.ok("fault udp:" + std::to_string(plc.port(1)) + " code 0x5B 0x10"));
  ASSERT_TRUE(plc.ok("fault udp:" + std::to_string(plc.port(2)) + " code 0x5B 0x1F"));
  PollerProcess poller(env, plan);
  ASSERT_TRUE(poller.mapped());
  EXPECT_TRUE(poller.wait_for("Got abnormal completetion code c056, Chan 1, Dev 1, pollrec 1", 5000))
      << poller.output();
  EXPECT_TRUE(poller.wait_for("Got abnormal completetion code 5b, Chan 2, Dev 2, pollrec 1", 5000));
  EXPECT_TRUE(poller.wait_for("The Extended error code is 10", 5000));
  EXPECT_TRUE(poller.wait_for("Got abnormal completetion code 5B, Chan 3, Dev AA, pollrec 0", 5000));
  EXPECT_TRUE(poller.wait_for("The error code is 1F", 5000));
  EXPECT_TRUE(poller.eventually(
      [&] {
        return poller.status(0) == image::kStatusCommFailure && poller.status(1) == image::kStatusCommFailure &&
               poller.status(2) == image::kStatusCommFailure;
      },
      3000));
  EXPECT_EQ(by_value(poller.image().nio_map_dev(0)->last_end_code), 0xC056);
  EXPECT_EQ(by_value(poller.channel(1).stats.last_abnormal_code), 0x5B);
  EXPECT_EQ(by_value(poller.channel(1).stats.last_extended_error), 0x10);
  EXPECT_EQ(by_value(poller.channel(2).stats.last_extended_error), 0x1F);
  EXPECT_GT(by_value(poller.channel(2).stats.abnormal_codes), 0);
}

TEST_F(Protocol, SplitAndJoinedTcpRepliesAreTakenWhole) {
  McsimPeer plc(env.dir(), {"tcp:0:3e-binary", "tcp:0:1e-ascii"});
  ASSERT_TRUE(plc.ready());
  ASSERT_TRUE(plc.ok("set D0 11 22 33 44 55 66 77 88"));
  ConfigSpec plan;
  plan.channels = {channel_to(plc.port(0), true, CpuType::QSeries, image::Coding::Binary,
                              {rec(RegisterType::D, 0, 8, DataType::Unsigned)}, "Q"),
                   channel_to(plc.port(1), true, CpuType::AnU, image::Coding::Ascii,
                              {rec(RegisterType::D, 0, 8, DataType::Unsigned)}, "A")};
  for (auto& ch : plan.channels) ch.retries = 2;
  ASSERT_TRUE(plc.ok("fault * split 3 5ms"));
  PollerProcess poller(env, plan);
  ASSERT_TRUE(poller.mapped());
  ASSERT_TRUE(poller.eventually([&] { return poller.status(0) == 0 && poller.status(1) == 0; }, 5000))
      << poller.output();
  EXPECT_EQ(poller.word(0, 7), 88);
  EXPECT_EQ(poller.word(1, 7), 88);
  // Pieces of 3 bytes over several ticks: never a bad reply, never a timeout.
  poller.eventually([] { return false; }, 1000);
  for (int c = 0; c < 2; ++c) {
    EXPECT_EQ(by_value(poller.channel(c).stats.rejected_replies), 0);
    EXPECT_EQ(by_value(poller.channel(c).stats.reply_timeouts), 0);
    EXPECT_GT(by_value(poller.channel(c).stats.replies_received), 5);
  }
  // Joined: each reply comes together with the next one; retries bring them out.
  ASSERT_TRUE(plc.ok("fault * clear"));
  ASSERT_TRUE(plc.ok("fault * join on"));
  ASSERT_TRUE(plc.ok("set D0 1"));
  EXPECT_TRUE(poller.eventually([&] { return poller.word(0, 0) == 1 && poller.word(1, 0) == 1; }, 5000))
      << poller.output();
  const std::uint16_t received = poller.channel(1).stats.replies_received;
  poller.eventually([] { return false; }, 1000);
  EXPECT_GT(by_value(poller.channel(1).stats.replies_received), received);
  EXPECT_EQ(by_value(poller.channel(0).stats.rejected_replies), 0);
  EXPECT_EQ(by_value(poller.channel(1).stats.rejected_replies), 0);
  EXPECT_EQ(poller.status(0), image::kStatusGood);
  EXPECT_EQ(poller.status(1), image::kStatusGood);
}

TEST_F(Protocol, PeerClosingTheConnectionIsFollowedByANewOne) {
  McsimPeer plc(env.dir(), {"tcp:0:1e-binary"});
  ASSERT_TRUE(plc.ready());
  ConfigSpec plan;
  plan.channels = {channel_to(plc.port(0), true, CpuType::AnA, image::Coding::Binary,
                              {rec(RegisterType::D, 0, 2, DataType::Unsigned)})};
  PollerProcess poller(env, plan);
  ASSERT_TRUE(poller.mapped());
  ASSERT_TRUE(poller.eventually([&] { return poller.status(0) == 0; }, 5000));
  ASSERT_TRUE(plc.ok("fault * close p=0.3"));
  ASSERT_TRUE(plc.ok("set D0 5"));
  poller.eventually([] { return false; }, 1500);
  ASSERT_TRUE(plc.ok("fault * clear"));
  ASSERT_TRUE(plc.ok("set D0 6"));
  EXPECT_TRUE(poller.eventually([&] { return poller.word(0, 0) == 6 && poller.status(0) == 0; }, 5000))
      << poller.output();
  const std::string stats = plc.control("stats");
  EXPECT_NE(stats.find("closed="), std::string::npos);
  EXPECT_GT(poller.count("TCP Socket Connected") + poller.count("Connection Pending"), 1) << poller.output();
}

TEST_F(Protocol, WritesReachThePlcAndAreReadBack) {
  McsimPeer plc(env.dir(), {"udp:0:3e-binary", "tcp:0:1e-ascii"});
  ASSERT_TRUE(plc.ready());
  ConfigSpec plan;
  auto records = [] {
    return std::vector<RecordSpec>{rec(RegisterType::D, 500, 4, DataType::Unsigned),
                                   rec(RegisterType::Y, 0x20, 16, DataType::Digital),
                                   rec(RegisterType::D, 600, 2, DataType::Float)};
  };
  plan.channels = {channel_to(plc.port(0), false, CpuType::QSeries, image::Coding::Binary, records(), "Q"),
                   channel_to(plc.port(1), true, CpuType::AnU, image::Coding::Ascii, records(), "A")};
  for (auto& ch : plan.channels)
    for (auto& r : ch.devices[0].records) r.poll_time = 100000;  // read once; writes bring reads back
  PollerProcess poller(env, plan);
  ASSERT_TRUE(poller.mapped());
  const int records_count = poller.image().poll_record_count();
  ASSERT_TRUE(poller.eventually(
      [&] {
        for (int k = 0; k < records_count; ++k)
          if (poller.status(k) != 0) return false;
        return true;
      },
      5000));
  auto queue = [&](int k, int w, std::uint16_t value, std::uint16_t flag, int bits) {
    {
      image::ByteLock lock(&poller.record(k).lock);
      store16(poller.area(k, image::kAreaWriteValues) + 2 * w, value);
      std::uint8_t* f = poller.area(k, image::kAreaWriteFlags) + 2 * w;
      store16(f, static_cast<std::uint16_t>(load16(f) | flag));
    }
    image::ByteLock lock(&poller.entry(k).lock);
    poller.entry(k).write_request_count = static_cast<std::uint16_t>(poller.entry(k).write_request_count + bits);
  };
  for (int c = 0; c < 2; ++c) {
    const int k = 3 * c;
    queue(k, 1, static_cast<std::uint16_t>(1000 + c), 0xFFFF, 16);
    queue(k, 2, static_cast<std::uint16_t>(2000 + c), 0xFFFF, 16);
    queue(k + 1, 0, 0x0028, 0x0028, 2);  // Y23 and Y25 on
    float f = 3.25f;
    std::uint32_t bits;
    std::memcpy(&bits, &f, 4);
    {
      image::ByteLock lock(&poller.record(k + 2).lock);
      store32(poller.area(k + 2, image::kAreaWriteValues), bits);
      store16(poller.area(k + 2, image::kAreaWriteFlags), 0xFFFF);
    }
    poller.entry(k + 2).write_request_count = 16;
  }
  // The Q channel and the A channel write to the same PLC memory; the last write wins, and
  // every record is read back with what the PLC holds.
  EXPECT_TRUE(poller.eventually(
      [&] {
        for (int k = 0; k < records_count; ++k)
          if (poller.entry(k).write_request_count != 0) return false;
        return true;
      },
      5000));
  const std::string d = plc.control("get D501 2");
  EXPECT_TRUE(d == "ok 1000 2000" || d == "ok 1001 2001") << d;
  EXPECT_EQ(plc.control("get Y23"), "ok 1");
  EXPECT_EQ(plc.control("get Y25"), "ok 1");
  EXPECT_EQ(plc.control("get Y24"), "ok 0");
  EXPECT_EQ(plc.control("get D600 2"), "ok 0 16464");  // 3.25f = 0x40500000
  EXPECT_TRUE(poller.eventually(
      [&] {
        return poller.word(0, 1) == poller.word(3, 1) && poller.word(0, 1) >= 1000 && poller.word(1, 0) == 0x0028 &&
               poller.word(4, 0) == 0x0028 && poller.word(2, 1) == 0x4050;
      },
      3000))
      << poller.word(0, 1) << " " << poller.word(3, 1);
  EXPECT_NE(poller.output().find("Analog Write Q:D:501 len=2"), std::string::npos) << poller.output();
  EXPECT_NE(poller.output().find("Digital Write A:Y:35 len=1"), std::string::npos);
}

TEST_F(Protocol, LateRepliesNeverLandInAnotherRecord) {
  McsimPeer plc(env.dir(), {"udp:0:3e-binary"});
  ASSERT_TRUE(plc.ready());
  ASSERT_TRUE(plc.ok("set D100 11 12"));
  ASSERT_TRUE(plc.ok("set D200 21 22 23"));
  ConfigSpec plan;
  plan.channels = {channel_to(plc.port(0), false, CpuType::QSeries, image::Coding::Binary,
                              {rec(RegisterType::D, 100, 2, DataType::Unsigned),
                               rec(RegisterType::D, 200, 3, DataType::Unsigned)})};
  plan.channels[0].retries = 0;
  plan.channels[0].reply_timeout = 10;
  plan.channels[0].delay = 0;
  for (auto& r : plan.channels[0].devices[0].records) r.poll_time = 0;
  ASSERT_TRUE(plc.ok("fault * delay 150ms"));
  PollerProcess poller(env, plan);
  ASSERT_TRUE(poller.mapped());
  const std::int64_t until = platform::monotonic_ns() + 3'000'000'000LL;
  while (platform::monotonic_ns() < until) {
    const std::uint16_t a0 = poller.word(0, 0), b0 = poller.word(1, 0);
    ASSERT_TRUE(a0 == 0 || a0 == 11) << a0;
    ASSERT_TRUE(b0 == 0 || b0 == 21) << b0;
    poller.output();
    platform::sleep_ms(5);
  }
  // Each request times out; its late answer is awaited (and dropped) before the next.
  EXPECT_GT(by_value(poller.channel(0).stats.reply_timeouts), 5);
  EXPECT_EQ(poller.status(0), image::kStatusCommFailure);
  // Once replies come in time again, both records are good.
  ASSERT_TRUE(plc.ok("fault * clear"));
  EXPECT_TRUE(poller.eventually([&] { return poller.word(0, 0) == 11 && poller.word(1, 2) == 23; }, 5000));
}

}  // namespace
}  // namespace hbt::poller
