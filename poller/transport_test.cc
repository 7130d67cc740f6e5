#include "poller/transport.h"

#include <arpa/inet.h>

#include <random>

#include <gtest/gtest.h>

#include "poller/block_fixtures.h"
#include "poller/fake_sockets.h"
#include "testsupport/by_value.h"
#include "testsupport/recording_sink.h"

namespace hbt::poller {
namespace {

using testsupport::by_value;

using image::Coding;
using image::CpuType;
using testing::BlockSpec;
using testing::bytes;
using testing::FakeSockets;
using testing::make_block;
using testing::text_bytes;

struct Transport : ::testing::Test {
  FakeSockets sockets;
  testsupport::RecordingSink sink;
  image::ChannelRecord channel{};
  TransportEnv env{sockets, sink, channel, nullptr};

  void SetUp() override { channel.display_alarms = 1; }

  // A 1E binary read of D100..D104 over `tcp`, with the given timeout and retries.
  ChannelBlock read_block(bool tcp, std::uint32_t timeout = 100, std::uint16_t retries = 2) {
    BlockSpec s;
    s.cpu = CpuType::AnA;
    s.tcp = tcp;
    s.reply_timeout = timeout;
    ChannelBlock b = make_block(s);
    b.retries_left = retries;
    b.remote.sin_family = AF_INET;
    b.remote.sin_port = htons(5001);
    b.remote.sin_addr.s_addr = htonl(0x7F000001);
    b.connection_state = kConnectionNone;
    build_read_request(b);
    return b;
  }

  static std::vector<std::uint8_t> good_reply() { return bytes({0x81, 0x00, 1, 0, 2, 0, 3, 0, 4, 0, 5, 0}); }

  TickOutcome ticks(ChannelBlock& b, int n, int elapsed = 1) {
    TickOutcome last;
    for (int i = 0; i < n; ++i) {
      last = handle_channel_tick(b, env, elapsed);
      if (last.event != ChannelEvent::kNone) break;
    }
    return last;
  }
};

TEST_F(Transport, UdpConnectsWithoutTrafficAndBindsThePlcPortOnAnyAddress) {
  ChannelBlock b = read_block(false);
  EXPECT_TRUE(check_connection(b, env));
  EXPECT_EQ(b.connection_state, kConnectionConnected);
  EXPECT_EQ(sink.all(), "UDP Socket Connected\n");
  EXPECT_EQ(sink.colour_of("UDP Socket Connected"), image::kColourInfo);
  ASSERT_EQ(sockets.bound.size(), 1u);
  EXPECT_EQ(ntohs(sockets.bound[0].sin_port), 5001);
  EXPECT_EQ(sockets.bound[0].sin_addr.s_addr, htonl(INADDR_ANY));
  EXPECT_TRUE(sockets.sent.empty());
  // Connected: no further socket work.
  EXPECT_TRUE(check_connection(b, env));
  EXPECT_EQ(sockets.opened.size(), 1u);
  EXPECT_EQ(sockets.connects, 1);
}

TEST_F(Transport, PendingTcpConnectionWaitsOneCheck) {
  ChannelBlock b = read_block(true);
  sockets.connect_results = {-EINPROGRESS};
  EXPECT_FALSE(check_connection(b, env));
  EXPECT_TRUE(sockets.bound.empty());  // TCP takes any local port
  EXPECT_EQ(sockets.slept_ms, kConnectionPendingMs);
  EXPECT_EQ(sink.all(), "Connection Pending\n");
  EXPECT_TRUE(check_connection(b, env));
  EXPECT_EQ(sockets.connects, 1);
}

TEST_F(Transport, AlreadyConnectedCountsAsConnected) {
  for (int error : {EALREADY, EISCONN}) {
    sink.clear();
    ChannelBlock b = read_block(true);
    sockets.connect_results = {-error};
    EXPECT_TRUE(check_connection(b, env));
    EXPECT_EQ(sink.all(), "Socket connected\nTCP Socket Connected\n");
  }
}

TEST_F(Transport, RefusedConnectionIsReportedOnceThenSendErrorsTimeoutsAndANewAttempt) {
  ChannelBlock b = read_block(true, 10, 1);
  sockets.connect_results = {-ECONNREFUSED};
  sockets.send_results = {-EPIPE, -EPIPE};
  EXPECT_TRUE(send_read_request(b, env));
  const std::string refused =
      "Connection to PLC1 failed code = " + std::to_string(ECONNREFUSED) + " = Connection refused\n\r ";
  EXPECT_EQ(sink.count(refused), 1) << sink.all();
  EXPECT_EQ(sink.colour_of(refused), image::kColourInfo);
  const std::string send_error = "Sending to PLC1 error " + std::to_string(EPIPE) + " Broken pipe";
  EXPECT_EQ(sink.colour_of(send_error), image::kColourError);
  EXPECT_EQ(by_value(channel.stats.requests_sent), 0);
  // Timeout, a retry (its send fails silently), timeout, failure.
  EXPECT_EQ(ticks(b, 30).event, ChannelEvent::kFailed);
  EXPECT_EQ(by_value(channel.stats.reply_timeouts), 2);
  EXPECT_EQ(by_value(channel.stats.retries), 1);
  EXPECT_EQ(b.connection_state, kConnectionNone);
  EXPECT_EQ(sink.count(refused), 1);
  // The next use closes the old socket and connects again.
  EXPECT_TRUE(check_connection(b, env));
  EXPECT_EQ(sockets.opened.size(), 2u);
  EXPECT_EQ(sockets.closed.back(), sockets.opened.front());
}

TEST_F(Transport, SocketThatCannotBeMadeLeavesTheReadUnsent) {
  ChannelBlock b = read_block(false);
  sockets.open_results = {-EMFILE};
  EXPECT_FALSE(send_read_request(b, env));
  EXPECT_EQ(sink.colour_of("Failed to create socket, Is TCP/IP installed ?"), image::kColourNotice);
  EXPECT_EQ(by_value(channel.stats.reads_not_sent), 1);
  EXPECT_EQ(by_value(channel.stats.requests_sent), 0);
  EXPECT_EQ(b.connection_state, kConnectionNone);
  EXPECT_TRUE(sockets.sent.empty());
}

TEST_F(Transport, NonBlockingFailureIsReportedAndTheConnectionGoesOn) {
  ChannelBlock b = read_block(false);
  sockets.non_blocking_result = -EINVAL;
  EXPECT_TRUE(check_connection(b, env));
  EXPECT_EQ(sink.all(), "Socket could not be set to Non Blocking Mode\nUDP Socket Connected\n");
}

TEST_F(Transport, StrayDataIsTakenByTheTickAndARequestCostsOneSendAndOneReceive) {
  ChannelBlock b = read_block(false);
  b.waiting = 0;
  sockets.deliver(bytes({0x81, 0x00}));
  sockets.deliver(good_reply());
  // Nothing is outstanding: one receive takes both datagrams, and neither is examined.
  EXPECT_EQ(ticks(b, 1).event, ChannelEvent::kNone);
  EXPECT_EQ(sockets.receives, 1);
  EXPECT_TRUE(sockets.inbox().empty());
  EXPECT_EQ(by_value(channel.stats.replies_received), 0);
  b.waiting = 1;
  EXPECT_TRUE(send_read_request(b, env));
  EXPECT_EQ(sockets.receives, 1);  // no receive before the send
  ASSERT_EQ(sockets.sent.size(), 1u);
  EXPECT_EQ(sockets.sent[0].bytes, std::vector<std::uint8_t>(b.request, b.request + b.request_length));
  EXPECT_EQ(by_value(channel.stats.requests_sent), 1);
  sockets.deliver(good_reply());
  EXPECT_EQ(handle_channel_tick(b, env, 1, true).event, ChannelEvent::kReplyGood);
  EXPECT_EQ(sockets.receives, 2);
  // A socket the readiness look found empty costs no receive.
  EXPECT_EQ(handle_channel_tick(b, env, 1, false).event, ChannelEvent::kNone);
  EXPECT_EQ(sockets.receives, 2);
}

TEST_F(Transport, WritesAlwaysCountAsSent) {
  ChannelBlock b = read_block(false);
  b.is_write = 1;
  sockets.open_results = {-EMFILE};
  send_write_request(b, env);
  EXPECT_EQ(by_value(channel.stats.writes_not_sent), 1);
  EXPECT_EQ(by_value(channel.stats.requests_sent), 1);
  sockets.send_results = {-ECONNREFUSED};
  send_write_request(b, env);
  EXPECT_EQ(by_value(channel.stats.requests_sent), 2);
  EXPECT_TRUE(sink.contains("Sending to PLC1 error " + std::to_string(ECONNREFUSED) + " Connection refused"));
  EXPECT_EQ(sockets.receives, 0);  // no discard before a write
}

TEST_F(Transport, TimeoutsAndRetriesOnTheTickClock) {
  ChannelBlock b = read_block(false, 100, 2);
  ASSERT_TRUE(send_read_request(b, env));
  // Ten ticks of 10: the first countdown expires on the tenth.
  EXPECT_EQ(ticks(b, 9, 10).event, ChannelEvent::kNone);
  EXPECT_EQ(by_value(channel.stats.reply_timeouts), 0);
  EXPECT_EQ(ticks(b, 1, 10).event, ChannelEvent::kNone);
  EXPECT_EQ(by_value(channel.stats.reply_timeouts), 1);
  EXPECT_EQ(by_value(channel.stats.retries), 1);
  EXPECT_EQ(sockets.sent.size(), 2u);
  EXPECT_EQ(sockets.sent[1].bytes, sockets.sent[0].bytes);
  EXPECT_EQ(b.retries_left, 1);
  EXPECT_EQ(b.reply_countdown, 100);
  EXPECT_EQ(ticks(b, 10, 10).event, ChannelEvent::kNone);
  EXPECT_EQ(sockets.sent.size(), 3u);
  EXPECT_EQ(ticks(b, 9, 10).event, ChannelEvent::kNone);
  EXPECT_EQ(ticks(b, 1, 10).event, ChannelEvent::kFailed);
  EXPECT_EQ(by_value(channel.stats.reply_timeouts), 3);
  EXPECT_EQ(by_value(channel.stats.retries), 2);
  EXPECT_EQ(b.waiting, 0);
  EXPECT_EQ(b.connection_state, kConnectionNone);
  EXPECT_EQ(by_value(channel.stats.requests_sent), 1);  // retries are not requests
}

TEST_F(Transport, NoRetriesFailsOnTheFirstExpiry) {
  ChannelBlock b = read_block(false, 30, 0);
  ASSERT_TRUE(send_read_request(b, env));
  EXPECT_EQ(ticks(b, 1, 29).event, ChannelEvent::kNone);
  // A late tick counts all its elapsed time.
  EXPECT_EQ(ticks(b, 1, 5).event, ChannelEvent::kFailed);
  EXPECT_EQ(by_value(channel.stats.retries), 0);
  EXPECT_EQ(by_value(channel.stats.reply_timeouts), 1);
  EXPECT_EQ(sockets.sent.size(), 1u);
}

TEST_F(Transport, AReplyEndsTheWait) {
  ChannelBlock b = read_block(false);
  ASSERT_TRUE(send_read_request(b, env));
  ticks(b, 3, 10);
  sockets.deliver(good_reply());
  TickOutcome out = ticks(b, 1, 10);
  EXPECT_EQ(out.event, ChannelEvent::kReplyGood);
  ASSERT_EQ(out.data.size(), 10u);
  EXPECT_EQ(out.data[8], 5);
  EXPECT_EQ(b.waiting, 0);
  EXPECT_EQ(by_value(channel.stats.replies_received), 1);
  // Idle: nothing happens, no countdown runs.
  EXPECT_EQ(ticks(b, 50, 10).event, ChannelEvent::kNone);
  EXPECT_EQ(by_value(channel.stats.reply_timeouts), 0);
}

TEST_F(Transport, AnIgnoredReplyDoesNotHoldTheCountdown) {
  BlockSpec s;
  ChannelBlock b = make_block(s);  // Q-series
  b.connection_state = kConnectionNone;
  b.retries_left = 0;
  build_read_request(b);
  b.reply_countdown = 20;
  ASSERT_TRUE(send_read_request(b, env));
  sockets.deliver(bytes({0xD0, 0x00, 0x00, 0x01, 0xFF, 0x03, 0x00, 0x02, 0x00, 0x00, 0x00}));  // PC 1
  EXPECT_EQ(ticks(b, 1, 10).event, ChannelEvent::kNone);
  EXPECT_EQ(b.reply_countdown, 10);
  EXPECT_EQ(b.waiting, 1);
  EXPECT_EQ(by_value(channel.stats.replies_received), 0);
  sockets.deliver(bytes({0xD0}));
  EXPECT_EQ(ticks(b, 1, 10).event, ChannelEvent::kFailed);
}

// A PLC that keeps sending what answers nothing (the pieces of a reply split into datagrams
// of a few bytes, answers for another station) must not keep a record's old values good: on
// whatever ticks such data arrives, a request fails after (retries + 1) reply timeouts of
// time, not sooner and no later than a late tick per timeout.
TEST_F(Transport, DataThatAnswersNothingNeverStretchesTheRetries) {
  std::mt19937 rng(::testing::UnitTest::GetInstance()->random_seed());
  for (int run = 0; run < 200; ++run) {
    BlockSpec s;  // Q-series
    s.tcp = false;
    s.reply_timeout = 5 + rng() % 60;
    ChannelBlock b = make_block(s);
    b.connection_state = kConnectionNone;
    const int retries = static_cast<int>(rng() % 4);
    b.retries_left = static_cast<std::uint16_t>(retries);
    build_read_request(b);
    const std::size_t sent_before = sockets.sent.size();
    ASSERT_TRUE(send_read_request(b, env));
    const int allowed = (retries + 1) * static_cast<int>(s.reply_timeout);
    const int share = static_cast<int>(rng() % 101);  // percent of ticks with arrivals
    int elapsed = 0;
    TickOutcome out;
    while (out.event == ChannelEvent::kNone && elapsed < 10 * allowed) {
      if (static_cast<int>(rng() % 100) < share) {
        // Between 1 and 10 bytes of a reply (too short to judge), or a whole one for PC 1.
        std::vector<std::uint8_t> piece = {0xD0, 0x00, 0x00, 0xFF, 0xFF, 0x03, 0x00, 0x0C, 0x00, 0x00};
        piece.resize(1 + rng() % piece.size());
        if (rng() % 4 == 0) piece = bytes({0xD0, 0x00, 0x00, 0x01, 0xFF, 0x03, 0x00, 0x02, 0x00, 0x00, 0x00});
        const int datagrams = 1 + static_cast<int>(rng() % 3);
        for (int d = 0; d < datagrams; ++d) sockets.deliver(piece);
      }
      const int step = 1 + static_cast<int>(rng() % 10);
      out = handle_channel_tick(b, env, step);
      elapsed += step;
    }
    ASSERT_EQ(out.event, ChannelEvent::kFailed) << "run " << run << ": still waiting after " << elapsed;
    EXPECT_GE(elapsed, allowed) << "run " << run;
    // Each expiry may come up to one late tick after its time (a retry starts a fresh countdown).
    EXPECT_LT(elapsed, allowed + 10 * (retries + 1)) << "run " << run << ", " << share << "% of ticks with data";
    EXPECT_EQ(sockets.sent.size() - sent_before, static_cast<std::size_t>(retries + 1)) << "run " << run;
    sockets.inboxes.clear();
  }
}

TEST_F(Transport, TcpReplySplitOverSeveralReceivesIsOneGoodReply) {
  ChannelBlock b = read_block(true, 100, 0);
  ASSERT_TRUE(send_read_request(b, env));
  const auto reply = good_reply();
  sockets.deliver({reply.begin(), reply.begin() + 1});
  sockets.deliver({reply.begin() + 1, reply.begin() + 7});
  sockets.deliver({reply.begin() + 7, reply.end()});
  EXPECT_EQ(ticks(b, 1, 10).event, ChannelEvent::kNone);
  EXPECT_EQ(ticks(b, 1, 10).event, ChannelEvent::kNone);
  TickOutcome out = ticks(b, 1, 10);
  EXPECT_EQ(out.event, ChannelEvent::kReplyGood);
  EXPECT_EQ(by_value(channel.stats.rejected_replies), 0);
  EXPECT_EQ(by_value(channel.stats.replies_received), 1);
  EXPECT_EQ(out.data.size(), 10u);
}

TEST_F(Transport, TcpJoinedAnswersToARequestAndItsRetryAreTakenOneAtATime) {
  ChannelBlock b = read_block(true, 10, 1);
  ASSERT_TRUE(send_read_request(b, env));
  ASSERT_EQ(ticks(b, 1, 10).event, ChannelEvent::kNone);  // timeout: the retry goes out
  ASSERT_EQ(sockets.sent.size(), 2u);
  auto two = good_reply();
  auto second = good_reply();
  second[2] = 9;
  two.insert(two.end(), second.begin(), second.end());
  sockets.deliver(two);
  TickOutcome out = ticks(b, 1);
  ASSERT_EQ(out.event, ChannelEvent::kReplyGood);
  EXPECT_EQ(out.data[0], 1);
  EXPECT_EQ(b.stream_length, 12);
  // The second answers the retry of a request that is over: taken, but examined by nobody,
  // and only then may the channel send again.
  EXPECT_TRUE(channel_busy(b));
  EXPECT_EQ(ticks(b, 1).event, ChannelEvent::kNone);
  EXPECT_EQ(b.stream_length, 0);
  EXPECT_FALSE(channel_busy(b));
  EXPECT_EQ(by_value(channel.stats.replies_received), 1);
  // Leftovers never reach a new request.
  const auto reply = good_reply();
  sockets.deliver({reply.begin(), reply.begin() + 6});
  EXPECT_EQ(ticks(b, 1).event, ChannelEvent::kNone);
  EXPECT_EQ(b.stream_length, 6);
  b.waiting = 1;
  ASSERT_TRUE(send_read_request(b, env));
  EXPECT_EQ(b.stream_length, 0);
}

TEST_F(Transport, TcpOneEReplyFollowedByMoreThanItsRequestExplainsIsRefused) {
  // A late answer to a read of 10 registers while a read of 5 waits: cut at 5 registers it
  // would look whole. What follows gives it away; nothing is stored and the stream restarts.
  ChannelBlock b = read_block(true, 100, 0);
  ASSERT_TRUE(send_read_request(b, env));
  auto longer = bytes({0x81, 0x00});
  for (int i = 0; i < 20; ++i) longer.push_back(static_cast<std::uint8_t>(i));
  sockets.deliver(longer);
  EXPECT_EQ(ticks(b, 1).event, ChannelEvent::kFailed);
  EXPECT_EQ(by_value(channel.stats.rejected_replies), 1);
  EXPECT_EQ(b.stream_length, 0);
  EXPECT_EQ(b.connection_state, kConnectionNone);
  EXPECT_FALSE(channel_busy(b));
  // The filler that trails an extended error code is no such excess.
  b = read_block(true, 100, 0);
  ASSERT_TRUE(send_read_request(b, env));
  sockets.deliver(bytes({0x81, 0x5B, 0x10, 0x00}));
  EXPECT_EQ(ticks(b, 1).event, ChannelEvent::kFailed);
  EXPECT_EQ(by_value(channel.stats.rejected_replies), 1);
  EXPECT_EQ(by_value(channel.stats.last_extended_error), 0x10);
}

TEST_F(Transport, AnswersToCopiesOfAnEndedRequestNeverReachTheNextOne) {
  // UDP, one retry: the PLC answers the first copy late, after the retry went out. The
  // answer to the retry that follows belongs to the same record, not to the next request.
  ChannelBlock b = read_block(false, 10, 1);
  ASSERT_TRUE(send_read_request(b, env));
  ASSERT_EQ(ticks(b, 1, 10).event, ChannelEvent::kNone);
  ASSERT_EQ(sockets.sent.size(), 2u);
  sockets.deliver(good_reply());
  ASSERT_EQ(ticks(b, 1).event, ChannelEvent::kReplyGood);
  EXPECT_TRUE(channel_busy(b));
  // Silence shorter than the quiet spell keeps the channel waiting for the second answer.
  EXPECT_EQ(ticks(b, 15).event, ChannelEvent::kNone);
  EXPECT_TRUE(channel_busy(b));
  auto stale = good_reply();
  stale[2] = 77;
  sockets.deliver(stale);
  EXPECT_EQ(ticks(b, 1).event, ChannelEvent::kNone);
  EXPECT_FALSE(channel_busy(b));
  EXPECT_EQ(by_value(channel.stats.replies_received), 1);
  // Copies that are never answered hold the channel for a quiet spell of two timeouts.
  b.waiting = 1;
  b.retries_left = 1;
  b.reply_countdown = 10;
  ASSERT_TRUE(send_read_request(b, env));
  ASSERT_EQ(ticks(b, 20).event, ChannelEvent::kFailed);
  EXPECT_TRUE(channel_busy(b));
  ticks(b, 19);
  EXPECT_TRUE(channel_busy(b));
  ticks(b, 1);
  EXPECT_FALSE(channel_busy(b));
}

TEST_F(Transport, ARequestThatFoundNoConnectionGoesOutAsSoonAsItIsReady) {
  // TCP, no retries: the connection is still being made when the read is due.
  ChannelBlock b = read_block(true, 100, 0);
  sockets.connect_results = {-EINPROGRESS};
  EXPECT_FALSE(send_read_request(b, env));
  EXPECT_TRUE(sockets.sent.empty());
  EXPECT_EQ(by_value(channel.stats.reads_not_sent), 1);
  // Still connecting on the next tick: the send would block, the request keeps waiting.
  sockets.send_results = {-EAGAIN};
  EXPECT_EQ(ticks(b, 1).event, ChannelEvent::kNone);
  EXPECT_TRUE(sockets.sent.empty());
  EXPECT_FALSE(sink.contains("Sending to")) << sink.all();
  EXPECT_EQ(ticks(b, 1).event, ChannelEvent::kNone);
  ASSERT_EQ(sockets.sent.size(), 1u);
  EXPECT_EQ(sockets.sent[0].bytes, std::vector<std::uint8_t>(b.request, b.request + b.request_length));
  sockets.deliver(good_reply());
  EXPECT_EQ(ticks(b, 1).event, ChannelEvent::kReplyGood);
  EXPECT_EQ(by_value(channel.stats.reply_timeouts), 0);
}

TEST_F(Transport, AWriteIsNeverGivenUpBeforeItReachedTheWire) {
  ChannelBlock b = read_block(false, 10, 0);
  b.is_write = 1;
  sockets.open_results = {-EMFILE, -EMFILE, -EMFILE, -EMFILE, -EMFILE, -EMFILE, -EMFILE, -EMFILE,
                          -EMFILE, -EMFILE, -EMFILE, -EMFILE, -EMFILE, -EMFILE, -EMFILE};
  send_write_request(b, env);
  EXPECT_EQ(by_value(channel.stats.writes_not_sent), 1);
  // Fourteen more ticks of 1/100 s without a socket: past the reply timeout, and no retries.
  EXPECT_EQ(ticks(b, 14, 1).event, ChannelEvent::kNone);
  EXPECT_EQ(b.waiting, 1);
  EXPECT_TRUE(sockets.sent.empty());
  EXPECT_EQ(ticks(b, 1, 1).event, ChannelEvent::kNone);
  ASSERT_EQ(sockets.sent.size(), 1u);
  sockets.deliver(bytes({0x81, 0x00}));  // the frame in the block is a read's; its command
  EXPECT_EQ(ticks(b, 1).event, ChannelEvent::kReplyGood);
}

TEST_F(Transport, PeerClosingTheConnectionResetsIt) {
  ChannelBlock b = read_block(true, 100, 1);
  ASSERT_TRUE(send_read_request(b, env));
  sockets.deliver(good_reply());
  ASSERT_EQ(ticks(b, 1, 10).event, ChannelEvent::kReplyGood);
  b.waiting = 1;
  b.reply_countdown = 100;
  ASSERT_TRUE(send_read_request(b, env));
  sockets.deliver({});
  EXPECT_EQ(ticks(b, 1, 10).event, ChannelEvent::kNone);
  EXPECT_EQ(b.connection_state, kConnectionNone);
  EXPECT_EQ(by_value(channel.stats.rejected_replies), 0);
  // The next tick makes a new socket; the request is re-sent when its countdown expires.
  EXPECT_EQ(ticks(b, 1, 10).event, ChannelEvent::kNone);
  EXPECT_EQ(sockets.opened.size(), 2u);
  ticks(b, 9, 10);
  EXPECT_EQ(sockets.sent.size(), 3u);
  EXPECT_EQ(sockets.sent.back().fd, sockets.opened.back());
  sockets.deliver(good_reply());
  EXPECT_EQ(ticks(b, 1, 10).event, ChannelEvent::kReplyGood);
}

TEST_F(Transport, RefusalNoticedWhilePendingIsReportedAndTheSocketKept) {
  ChannelBlock b = read_block(true, 20, 1);
  sockets.connect_results = {-EINPROGRESS};
  sockets.pending_errors = {ECONNREFUSED};
  sockets.send_results = {-EPIPE};
  EXPECT_TRUE(send_read_request(b, env));
  EXPECT_EQ(sink.count("Connection Pending"), 1);
  EXPECT_EQ(sink.count("Connection to PLC1 failed code = " + std::to_string(ECONNREFUSED) +
                       " = Connection refused\n\r "),
            1)
      << sink.all();
  // A connection that never came up reads as ended: that is not a close by the peer, the
  // request runs its countdown and retries and only then is a new socket made.
  sockets.deliver({});
  EXPECT_EQ(ticks(b, 19, 1).event, ChannelEvent::kNone);
  EXPECT_EQ(sockets.opened.size(), 1u);
  EXPECT_EQ(ticks(b, 30, 1).event, ChannelEvent::kFailed);
  EXPECT_EQ(by_value(channel.stats.retries), 1);
  EXPECT_EQ(sockets.opened.size(), 1u);
  EXPECT_EQ(b.connection_state, kConnectionNone);
}

TEST_F(Transport, ReplyAfterClosingIsStillTaken) {
  ChannelBlock b = read_block(true);
  ASSERT_TRUE(send_read_request(b, env));
  sockets.tcp_stream = true;
  sockets.deliver(good_reply());
  sockets.deliver({});
  EXPECT_EQ(ticks(b, 1).event, ChannelEvent::kReplyGood);
  EXPECT_EQ(ticks(b, 1).event, ChannelEvent::kNone);
  EXPECT_EQ(b.connection_state, kConnectionNone);
}

TEST_F(Transport, DataBeforeAnyRequestIsNotExamined) {
  ChannelBlock b = read_block(false);
  b.prepared = 0;
  b.waiting = 0;
  sockets.deliver(good_reply());
  EXPECT_EQ(ticks(b, 1).event, ChannelEvent::kNone);
  EXPECT_EQ(by_value(channel.stats.replies_received), 0);
}

TEST_F(Transport, LateReplyIsExaminedAgainstTheNewRequest) {
  ChannelBlock b = read_block(false, 10, 0);
  ASSERT_TRUE(send_read_request(b, env));
  EXPECT_EQ(ticks(b, 1, 10).event, ChannelEvent::kFailed);
  // The next request is a write of the same device; the read reply comes late.
  const std::uint16_t words[] = {1};
  WriteData data;
  data.head = 100;
  data.words = words;
  b.is_write = 1;
  b.waiting = 1;
  ASSERT_TRUE(build_write_request(b, data));
  b.reply_countdown = 10;
  send_write_request(b, env);
  sockets.deliver(good_reply());
  EXPECT_EQ(ticks(b, 1).event, ChannelEvent::kFailed);
  EXPECT_EQ(by_value(channel.stats.rejected_replies), 1);  // wrong length for a write
}

TEST_F(Transport, AsciiTcpRepliesAreFramedInCharacters) {
  BlockSpec s;
  s.cpu = CpuType::AnN;
  s.coding = Coding::Ascii;
  s.tcp = true;
  ChannelBlock b = make_block(s);
  b.connection_state = kConnectionNone;
  build_read_request(b);
  ASSERT_TRUE(send_read_request(b, env));
  sockets.deliver(text_bytes("8100" "0001000200"));
  sockets.deliver(text_bytes("0300040005"));
  EXPECT_EQ(ticks(b, 1).event, ChannelEvent::kNone);
  TickOutcome out = ticks(b, 1);
  ASSERT_EQ(out.event, ChannelEvent::kReplyGood);
  EXPECT_EQ(std::string(out.data.begin(), out.data.end()), "00010002000300040005");
  EXPECT_EQ(b.stream_length, 0);
}

}  // namespace
}  // namespace hbt::poller
