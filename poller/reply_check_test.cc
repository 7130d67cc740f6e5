#include "poller/reply_check.h"

#include <gtest/gtest.h>

#include "poller/block_fixtures.h"
#include "testsupport/by_value.h"
#include "testsupport/recording_sink.h"

namespace hbt::poller {
namespace {

using testsupport::by_value;

using image::Coding;
using image::CpuType;
using testing::BlockSpec;
using testing::bytes;
using testing::make_block;
using testing::text_bytes;

struct Check : ::testing::Test {
  image::ChannelRecord channel{};
  image::DeviceRecord device{};
  testsupport::RecordingSink sink;
  ReplyCheckEnv env{channel, &device, sink};

  void SetUp() override { channel.display_alarms = 1; }

  ChannelBlock q_read() {
    ChannelBlock b = make_block({});
    b.channel_index = 2;
    b.device_index = 4;
    b.first_poll_record = 10;
    b.poll_record_index = 12;
    build_read_request(b);
    return b;
  }
  ChannelBlock a_block(Coding coding, bool write = false) {
    BlockSpec s;
    s.cpu = CpuType::AnU;
    s.coding = coding;
    ChannelBlock b = make_block(s);
    b.channel_index = 0;
    b.device_index = 1;
    b.first_poll_record = 3;
    b.poll_record_index = 5;
    if (write) {
      const std::uint16_t words[] = {1};
      WriteData data;
      data.head = 100;
      data.words = words;
      b.is_write = 1;
      build_write_request(b, data);
    } else {
      build_read_request(b);
    }
    return b;
  }
};

// A 3E reply: D0 00, network, PC, module I/O, station, response length, end code, data.
std::vector<std::uint8_t> q_reply(std::uint16_t end_code, std::vector<std::uint8_t> data, std::uint8_t pc = 0xFF,
                                  std::uint16_t io = 0x03FF) {
  std::vector<std::uint8_t> r = {0xD0, 0x00, 0x00, pc, static_cast<std::uint8_t>(io), static_cast<std::uint8_t>(io >> 8),
                                 0x00};
  const std::size_t length = 2 + data.size();
  r.push_back(static_cast<std::uint8_t>(length));
  r.push_back(static_cast<std::uint8_t>(length >> 8));
  r.push_back(static_cast<std::uint8_t>(end_code));
  r.push_back(static_cast<std::uint8_t>(end_code >> 8));
  r.insert(r.end(), data.begin(), data.end());
  return r;
}

using Check3E = Check;

// A header-valid reply cut before its end code.
std::vector<std::uint8_t> reply_short() { return bytes({0xD0, 0x00, 0x00, 0xFF, 0xFF, 0x03, 0x00, 0x02, 0x00}); }

TEST_F(Check3E, GoodReadHandsOverTheDataAfterTheEndCode) {
  ChannelBlock b = q_read();
  auto reply = q_reply(0, bytes({1, 0, 2, 0, 3, 0, 4, 0, 5, 0}));
  ReplyVerdict v = check_3e_reply(b, reply, env);
  EXPECT_EQ(v.result, ReplyResult::kGood);
  ASSERT_EQ(v.data.size(), 10u);
  EXPECT_EQ(v.data[0], 1);
  EXPECT_EQ(v.data[8], 5);
  EXPECT_EQ(by_value(channel.stats.replies_received), 1);
  EXPECT_TRUE(sink.entries().empty());
}

TEST_F(Check3E, HeaderMismatchesAreIgnoredAndNotCounted) {
  ChannelBlock b = q_read();
  const auto data = bytes({1, 0, 2, 0, 3, 0, 4, 0, 5, 0});
  auto wrong_subheader = q_reply(0, data);
  wrong_subheader[0] = 0xD4;
  auto wrong_zero = q_reply(0, data);
  wrong_zero[1] = 0x01;
  for (const auto& reply : {wrong_subheader, wrong_zero, q_reply(0, data, 0x01), q_reply(0, data, 0xFF, 0x03E0),
                            std::vector<std::uint8_t>(reply_short())}) {
    EXPECT_EQ(check_3e_reply(b, reply, env).result, ReplyResult::kIgnored);
  }
  EXPECT_EQ(by_value(channel.stats.replies_received), 0);
  EXPECT_EQ(by_value(channel.stats.rejected_replies), 0);
}

TEST_F(Check3E, NetworkAndStationNumbersAreNotExamined) {
  ChannelBlock b = q_read();
  auto reply = q_reply(0, bytes({1, 0, 2, 0, 3, 0, 4, 0, 5, 0}));
  reply[2] = 9;
  reply[6] = 9;
  EXPECT_EQ(check_3e_reply(b, reply, env).result, ReplyResult::kGood);
}

TEST_F(Check3E, ReplyForAnotherRecordSizeIsNotTakenAsThisOne) {
  // A late reply of an earlier request of another size must not fill this record.
  ChannelBlock b = q_read();
  EXPECT_EQ(check_3e_reply(b, q_reply(0, bytes({1, 0, 2, 0})), env).result, ReplyResult::kIgnored);
  // Shorter than its own length field says: a cut datagram.
  auto cut = q_reply(0, bytes({1, 0, 2, 0, 3, 0, 4, 0, 5, 0}));
  cut.pop_back();
  EXPECT_EQ(check_3e_reply(b, cut, env).result, ReplyResult::kIgnored);
  EXPECT_EQ(by_value(channel.stats.replies_received), 0);
}

TEST_F(Check3E, AbnormalEndCodeIsStoredReportedInLowerCaseHexAndFails) {
  ChannelBlock b = q_read();
  channel.display_alarms = 0;  // the 3E message does not depend on it
  auto reply = q_reply(0xC05B, bytes({0, 0xFF, 0xFF, 3, 0, 1, 4, 0, 0}));
  ReplyVerdict v = check_3e_reply(b, reply, env);
  EXPECT_EQ(v.result, ReplyResult::kFailure);
  EXPECT_EQ(by_value(device.last_end_code), 0xC05B);
  EXPECT_EQ(by_value(channel.stats.replies_received), 1);
  EXPECT_TRUE(sink.contains("Got abnormal completetion code c05b, Chan 3, Dev 5, pollrec 3")) << sink.all();
  EXPECT_EQ(sink.colour_of("Got abnormal completetion code c05b, Chan 3, Dev 5, pollrec 3"), image::kColourError);
}

TEST_F(Check3E, WriteRepliesAreGoodWithoutDataButARefusedWriteFails) {
  ChannelBlock b = q_read();
  b.is_write = 1;
  ReplyVerdict v = check_3e_reply(b, q_reply(0, {}), env);
  EXPECT_EQ(v.result, ReplyResult::kGood);
  EXPECT_TRUE(v.data.empty());
  EXPECT_EQ(check_3e_reply(b, q_reply(0x4031, bytes({0, 0xFF, 0xFF, 3, 0, 1, 0x14, 0, 0})), env).result,
            ReplyResult::kFailure);
  EXPECT_EQ(by_value(device.last_end_code), 0x4031);
}

TEST_F(Check3E, WorksWithoutADeviceRecord) {
  ReplyCheckEnv no_device{channel, nullptr, sink};
  ChannelBlock b = q_read();
  EXPECT_EQ(check_3e_reply(b, q_reply(0x0055, {}), no_device).result, ReplyResult::kFailure);
}

using Check1E = Check;

TEST_F(Check1E, BinaryGoodReadStartsAtByteTwo) {
  ChannelBlock b = a_block(Coding::Binary);
  auto reply = bytes({0x81, 0x00, 1, 0, 2, 0, 3, 0, 4, 0, 5, 0});
  ReplyVerdict v = check_1e_reply(b, reply, env);
  EXPECT_EQ(v.result, ReplyResult::kGood);
  ASSERT_EQ(v.data.size(), 10u);
  EXPECT_EQ(v.data[0], 1);
  EXPECT_EQ(by_value(channel.stats.replies_received), 1);
}

TEST_F(Check1E, AsciiGoodReadStartsAtCharacterFour) {
  ChannelBlock b = a_block(Coding::Ascii);
  auto reply = text_bytes("8100" "0001000200030004FFFF");
  ReplyVerdict v = check_1e_reply(b, reply, env);
  EXPECT_EQ(v.result, ReplyResult::kGood);
  EXPECT_EQ(std::string(v.data.begin(), v.data.end()), "0001000200030004FFFF");
}

TEST_F(Check1E, WrongLengthWithNormalCompletionIsRejected) {
  for (Coding coding : {Coding::Binary, Coding::Ascii}) {
    channel.stats = {};
    ChannelBlock b = a_block(coding);
    auto reply = coding == Coding::Binary ? bytes({0x81, 0x00, 1, 0}) : text_bytes("81000001");
    EXPECT_EQ(check_1e_reply(b, reply, env).result, ReplyResult::kFailure);
    EXPECT_EQ(by_value(channel.stats.rejected_replies), 1);
    EXPECT_EQ(by_value(channel.stats.replies_received), 0);
  }
}

// Relays read in words whose record is no whole number of words long (area 1 is even there):
// the reply carrying the words asked for is good, one a byte or a character short is not.
TEST_F(Check1E, RelayReadsTakeTheWordsAskedForAndNothingShorter) {
  for (Coding coding : {Coding::Binary, Coding::Ascii}) {
    for (std::uint16_t length : {1, 15, 16, 17, 31, 32, 33}) {
      SCOPED_TRACE(::testing::Message() << "coding " << static_cast<int>(coding) << " length " << length);
      BlockSpec s;
      s.cpu = CpuType::AnA;
      s.coding = coding;
      s.type = image::RegisterType::M;
      s.start = 16;
      s.length = length;
      ChannelBlock b = make_block(s);
      build_read_request(b);
      const std::size_t words = b.area1_size / 2u;
      std::vector<std::uint8_t> good;
      if (coding == Coding::Binary) {
        good = bytes({0x81, 0x00});
        for (std::size_t i = 0; i < words; ++i) good.insert(good.end(), {0x34, 0x12});
      } else {
        good = text_bytes("8100");
        for (std::size_t i = 0; i < words; ++i) good.insert(good.end(), {'1', '2', '3', '4'});
      }
      channel.stats = {};
      ReplyVerdict v = check_1e_reply(b, good, env);
      EXPECT_EQ(v.result, ReplyResult::kGood);
      EXPECT_EQ(v.data.size(), good.size() - (coding == Coding::Binary ? 2 : 4));
      std::vector<std::uint8_t> one_short(good.begin(), good.end() - 1);
      EXPECT_EQ(check_1e_reply(b, one_short, env).result, ReplyResult::kFailure);
      EXPECT_EQ(by_value(channel.stats.rejected_replies), 1);
      EXPECT_EQ(by_value(channel.stats.replies_received), 1);
    }
  }
}

TEST_F(Check1E, RepliesTooShortForTheirCompletionCodeAreRejected) {
  ChannelBlock binary = a_block(Coding::Binary);
  ChannelBlock ascii = a_block(Coding::Ascii);
  EXPECT_EQ(check_1e_reply(binary, {}, env).result, ReplyResult::kFailure);
  EXPECT_EQ(check_1e_reply(binary, bytes({0x81}), env).result, ReplyResult::kFailure);
  EXPECT_EQ(check_1e_reply(ascii, text_bytes("810"), env).result, ReplyResult::kFailure);
  EXPECT_EQ(by_value(channel.stats.rejected_replies), 3);
}

TEST_F(Check1E, CommandMismatchIsReportedAndCountedOnlyWithAlarms) {
  ChannelBlock b = a_block(Coding::Binary);
  auto reply = bytes({0x83, 0x00, 1, 0, 2, 0, 3, 0, 4, 0, 5, 0});
  EXPECT_EQ(check_1e_reply(b, reply, env).result, ReplyResult::kFailure);
  EXPECT_EQ(by_value(channel.stats.rejected_replies), 1);
  EXPECT_EQ(by_value(channel.stats.replies_received), 1);
  EXPECT_EQ(sink.colour_of("Command code in reply does not match sent message....rejected"), image::kColourNotice);
  channel.display_alarms = 0;
  sink.clear();
  EXPECT_EQ(check_1e_reply(b, reply, env).result, ReplyResult::kFailure);
  EXPECT_EQ(by_value(channel.stats.rejected_replies), 1);
  EXPECT_TRUE(sink.entries().empty());

  ChannelBlock ascii = a_block(Coding::Ascii);
  channel.display_alarms = 1;
  EXPECT_EQ(check_1e_reply(ascii, text_bytes("8000" "0001000200030004FFFF"), env).result, ReplyResult::kFailure);
  EXPECT_EQ(check_1e_reply(ascii, text_bytes("9100" "0001000200030004FFFF"), env).result, ReplyResult::kFailure);
  EXPECT_EQ(by_value(channel.stats.rejected_replies), 3);
}

TEST_F(Check1E, BinaryAbnormalCodeWithExtendedCode) {
  ChannelBlock b = a_block(Coding::Binary);
  EXPECT_EQ(check_1e_reply(b, bytes({0x81, 0x5B, 0x10}), env).result, ReplyResult::kFailure);
  EXPECT_TRUE(sink.contains("Got abnormal completetion code 5b, Chan 1, Dev 2, pollrec 3")) << sink.all();
  EXPECT_TRUE(sink.contains("The Extended error code is 10"));
  EXPECT_EQ(by_value(channel.stats.last_extended_error), 0x10);
  EXPECT_EQ(by_value(channel.stats.abnormal_codes), 1);
  EXPECT_EQ(by_value(channel.stats.last_abnormal_code), 0x5B);
  EXPECT_EQ(by_value(channel.stats.replies_received), 1);
  for (const auto& e : sink.entries()) EXPECT_EQ(e.colour, image::kColourError);
}

TEST_F(Check1E, AsciiAbnormalCodeNamesTheDeviceAndCountsRecordsFromZero) {
  ChannelBlock b = a_block(Coding::Ascii);
  EXPECT_EQ(check_1e_reply(b, text_bytes("815B1F"), env).result, ReplyResult::kFailure);
  EXPECT_TRUE(sink.contains("Got abnormal completetion code 5B, Chan 1, Dev PLC1, pollrec 2")) << sink.all();
  EXPECT_TRUE(sink.contains("The error code is 1F"));
  EXPECT_EQ(by_value(channel.stats.last_extended_error), 0x1F);
  EXPECT_EQ(by_value(channel.stats.last_abnormal_code), 0x5B);
  sink.clear();
  EXPECT_EQ(check_1e_reply(b, text_bytes("8156"), env).result, ReplyResult::kFailure);
  EXPECT_EQ(sink.all(), "Got abnormal completetion code 56, Chan 1, Dev PLC1, pollrec 2\n");
  EXPECT_EQ(by_value(channel.stats.abnormal_codes), 2);
  EXPECT_EQ(by_value(channel.stats.last_abnormal_code), 0x56);
}

TEST_F(Check1E, AbnormalCodesFailSilentlyWithoutAlarms) {
  channel.display_alarms = 0;
  ChannelBlock b = a_block(Coding::Binary);
  EXPECT_EQ(check_1e_reply(b, bytes({0x81, 0x5B, 0x10}), env).result, ReplyResult::kFailure);
  EXPECT_TRUE(sink.entries().empty());
  EXPECT_EQ(by_value(channel.stats.abnormal_codes), 0);
  EXPECT_EQ(by_value(channel.stats.last_extended_error), 0);
}

TEST_F(Check1E, ExtendedCodeMissingFromTheReplyIsNotMadeUp) {
  ChannelBlock b = a_block(Coding::Binary);
  b.reply[2] = 0x77;  // what an earlier reply left in the buffer must not show
  EXPECT_EQ(check_1e_reply(b, bytes({0x81, 0x5B}), env).result, ReplyResult::kFailure);
  EXPECT_FALSE(sink.contains("The Extended error code is 77"));
  EXPECT_EQ(by_value(channel.stats.last_extended_error), 0);
}

TEST_F(Check1E, WritesExpectNoDataAndLeaveNothingToConvert) {
  ChannelBlock b = a_block(Coding::Binary, true);
  ReplyVerdict v = check_1e_reply(b, bytes({0x83, 0x00}), env);
  EXPECT_EQ(v.result, ReplyResult::kGood);
  EXPECT_TRUE(v.data.empty());
  EXPECT_EQ(check_1e_reply(b, bytes({0x83, 0x00, 0x00}), env).result, ReplyResult::kFailure);
  ChannelBlock ascii = a_block(Coding::Ascii, true);
  EXPECT_EQ(check_1e_reply(ascii, text_bytes("8300"), env).result, ReplyResult::kGood);
}

}  // namespace
}  // namespace hbt::poller
