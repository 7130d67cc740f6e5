#include "poller/frames.h"

#include <gtest/gtest.h>

#include "poller/block_fixtures.h"
#include "poller/mc_codes.h"

namespace hbt::poller {
namespace {

using image::Coding;
using image::CpuType;
using image::RegisterType;
using testing::BlockSpec;
using testing::bytes;
using testing::make_block;
using testing::request_bytes;
using testing::request_text;

BlockSpec a_series(Coding coding) {
  BlockSpec s;
  s.cpu = CpuType::AnA;
  s.coding = coding;
  return s;
}

TEST(MonitoringTimer, IsTheReplyTimeoutInHalfSeconds) {
  EXPECT_EQ(monitoring_timer(100), 2);
  EXPECT_EQ(monitoring_timer(99), 1);
  EXPECT_EQ(monitoring_timer(49), 0);
  EXPECT_EQ(monitoring_timer(250), 5);
  EXPECT_EQ(monitoring_timer(0xFFFFFFFFu), static_cast<std::uint16_t>(0xFFFFFFFFull * 10 / 500));
}

TEST(Frames3E, ReadOfFiveDataRegistersMatchesTheReferenceFrame) {
  ChannelBlock b = make_block({});
  build_read_request(b);
  EXPECT_EQ(request_bytes(b), bytes({0x50, 0x00, 0x00, 0xFF, 0xFF, 0x03, 0x00, 0x0C, 0x00, 0x02, 0x00, 0x01, 0x04,
                                     0x00, 0x00, 0x64, 0x00, 0x00, 0xA8, 0x05, 0x00}));
  EXPECT_EQ(b.request_length, 21);
}

TEST(Frames3E, HeaderCarriesNetworkStationModuleAndAThreeByteHead) {
  BlockSpec s;
  s.network = 3;
  s.pc = 7;
  s.module = 2;
  s.start = 0x12345;
  s.type = RegisterType::W;
  s.length = 3;
  ChannelBlock b = make_block(s);
  build_read_request(b);
  auto r = request_bytes(b);
  EXPECT_EQ(r[2], 3);
  EXPECT_EQ(r[3], 7);
  EXPECT_EQ(r[4], 0xE1);  // 0x03DF + 2
  EXPECT_EQ(r[5], 0x03);
  EXPECT_EQ(r[15], 0x45);
  EXPECT_EQ(r[16], 0x23);
  EXPECT_EQ(r[17], 0x01);
  EXPECT_EQ(r[18], 0xB4);
  EXPECT_EQ(r[19], 3);
}

TEST(Frames3E, BitDevicesAreReadInWholeWords) {
  BlockSpec s;
  s.type = RegisterType::X;
  s.start = 0x20;
  s.length = 48;  // area 1 of 7 bytes: three words
  ChannelBlock b = make_block(s);
  build_read_request(b);
  auto r = request_bytes(b);
  EXPECT_EQ(r[13], 0x00);  // word units
  EXPECT_EQ(r[18], 0x9C);
  EXPECT_EQ(r[19], 3);
  EXPECT_EQ(r[20], 0);
}

TEST(Frames3E, BitWritePacksTwoPointsPerByteFirstInTheHighNibble) {
  BlockSpec s;
  s.type = RegisterType::Y;
  s.start = 0;
  s.length = 16;
  ChannelBlock b = make_block(s);
  const std::uint8_t bits[] = {1, 0, 1};
  WriteData data;
  data.head = 0x13;
  data.bit_units = true;
  data.bits = bits;
  ASSERT_TRUE(build_write_request(b, data));
  EXPECT_EQ(request_bytes(b), bytes({0x50, 0x00, 0x00, 0xFF, 0xFF, 0x03, 0x00, 0x0E, 0x00, 0x02, 0x00, 0x01, 0x14,
                                     0x01, 0x00, 0x13, 0x00, 0x00, 0x9D, 0x03, 0x00, 0x10, 0x10}));
  EXPECT_EQ(b.request_length, 9 + 14);
  EXPECT_EQ(image::address_start(b.address_word), 0x13u);
  EXPECT_EQ(image::address_register_type(b.address_word), RegisterType::Y);
}

TEST(Frames3E, WordWriteSendsRegistersLowByteFirst) {
  ChannelBlock b = make_block({});
  const std::uint16_t words[] = {0x1234, 0xABCD, 0x0001};
  WriteData data;
  data.head = 104;
  data.words = words;
  ASSERT_TRUE(build_write_request(b, data));
  auto r = request_bytes(b);
  ASSERT_EQ(r.size(), 27u);
  EXPECT_EQ(r[7], 18);  // 12 + 6 data bytes
  EXPECT_EQ(r[11], 0x01);
  EXPECT_EQ(r[12], 0x14);
  EXPECT_EQ(r[13], 0x00);  // word units
  EXPECT_EQ(r[15], 104);
  EXPECT_EQ(r[19], 3);
  EXPECT_EQ(std::vector<std::uint8_t>(r.begin() + 21, r.end()), bytes({0x34, 0x12, 0xCD, 0xAB, 0x01, 0x00}));
}

TEST(Frames1E, AsciiReadOfFiveDataRegistersMatchesTheReferenceText) {
  ChannelBlock b = make_block(a_series(Coding::Ascii));
  build_read_request(b);
  EXPECT_EQ(request_text(b), "01FF000A4420000000640500");
  EXPECT_EQ(b.expected_reply_length, 20);
}

TEST(Frames1E, BinaryReadOfFiveDataRegistersMatchesTheReferenceFrame) {
  ChannelBlock b = make_block(a_series(Coding::Binary));
  build_read_request(b);
  EXPECT_EQ(request_bytes(b), bytes({0x01, 0xFF, 0x02, 0x00, 0x64, 0x00, 0x00, 0x00, 0x20, 0x44, 0x05, 0x00}));
  EXPECT_EQ(b.expected_reply_length, 10);
}

TEST(Frames1E, AsciiMonitoringTimerIsAlways000A) {
  BlockSpec s = a_series(Coding::Ascii);
  s.reply_timeout = 1000;
  ChannelBlock b = make_block(s);
  build_read_request(b);
  EXPECT_EQ(request_text(b).substr(4, 4), "000A");
  s.coding = Coding::Binary;
  ChannelBlock binary = make_block(s);
  build_read_request(binary);
  EXPECT_EQ(binary.request[2], 20);
  EXPECT_EQ(binary.request[3], 0);
}

TEST(Frames1E, SpecialRelaysFrom9000AreReadPointByPoint) {
  BlockSpec s = a_series(Coding::Binary);
  s.type = RegisterType::M;
  s.start = 9000;
  s.length = 16;
  ChannelBlock b = make_block(s);
  build_read_request(b);
  EXPECT_EQ(b.request[0], 0x00);
  EXPECT_EQ(b.request[4], 9000 & 0xFF);
  EXPECT_EQ(b.request[5], 9000 >> 8);
  EXPECT_EQ(b.request[8], 0x20);
  EXPECT_EQ(b.request[9], 0x4D);
  EXPECT_EQ(b.request[10], 16);
  EXPECT_EQ(b.expected_reply_length, 8);
  EXPECT_TRUE(read_is_in_bit_units(b));

  s.coding = Coding::Ascii;
  ChannelBlock ascii = make_block(s);
  build_read_request(ascii);
  EXPECT_EQ(request_text(ascii), "00FF000A4D2000002328" "1000");
  EXPECT_EQ(ascii.expected_reply_length, 16);

  s.start = 8999;
  ChannelBlock below = make_block(s);
  build_read_request(below);
  EXPECT_EQ(request_text(below).substr(0, 2), "01");
  EXPECT_EQ(below.expected_reply_length, 4);  // one word: two bytes, doubled
  EXPECT_FALSE(read_is_in_bit_units(below));
}

TEST(Frames1E, OddLengthSpecialRelaysExpectHalfAByteRoundedUp) {
  BlockSpec s = a_series(Coding::Binary);
  s.type = RegisterType::M;
  s.start = 9100;
  s.length = 5;
  ChannelBlock b = make_block(s);
  build_read_request(b);
  EXPECT_EQ(b.request[10], 5);
  EXPECT_EQ(b.expected_reply_length, 3);
}

TEST(Frames1E, BitDevicesExpectTheWordsOfArea1) {
  BlockSpec s = a_series(Coding::Binary);
  s.type = RegisterType::X;
  s.start = 0x40;
  s.length = 32;
  ChannelBlock b = make_block(s);
  build_read_request(b);
  EXPECT_EQ(b.request[0], 0x01);
  EXPECT_EQ(b.request[10], 2);
  EXPECT_EQ(b.expected_reply_length, 4);
}

// Every word-unit read of a bit device, whatever its length, expects exactly the bytes of
// the words it asks for, and asks for enough words to cover every point of the record.
TEST(Frames1E, WordReadsOfBitDevicesExpectTheBytesOfTheWordsAskedFor) {
  for (RegisterType type : {RegisterType::M, RegisterType::X, RegisterType::Y, RegisterType::B}) {
    for (Coding coding : {Coding::Binary, Coding::Ascii}) {
      for (std::uint16_t length = 1; length <= 600; ++length) {
        BlockSpec s = a_series(coding);
        s.type = type;
        s.start = 0;
        s.length = length;
        ChannelBlock b = make_block(s);
        build_read_request(b);
        SCOPED_TRACE(::testing::Message() << "type " << static_cast<int>(type) << " coding "
                                          << static_cast<int>(coding) << " length " << length);
        std::vector<std::uint8_t> r;
        if (coding == Coding::Binary) {
          r = request_bytes(b);
        } else {
          const std::string text = request_text(b);
          for (std::size_t i = 0; i + 1 < text.size(); i += 2)
            r.push_back(static_cast<std::uint8_t>(std::stoi(text.substr(i, 2), nullptr, 16)));
        }
        ASSERT_EQ(r.size(), 12u);
        EXPECT_EQ(r[0], 0x01);
        const std::size_t points = r[10] | (r[11] << 8);
        EXPECT_EQ(points, b.area1_size / 2u);
        EXPECT_EQ(b.expected_reply_length, 2 * points * (coding == Coding::Ascii ? 2 : 1));
        if (type == RegisterType::M || length % 16 == 0) {
          EXPECT_GE(16 * points, length);
        }
      }
    }
  }
}

TEST(Frames1E, ExtensionRegistersCarryTheirBlockNumber) {
  BlockSpec s = a_series(Coding::Binary);
  s.type = RegisterType::EX;
  s.start = 0x0102;
  s.length = 2;
  s.ex_number = 5;
  ChannelBlock b = make_block(s);
  build_read_request(b);
  EXPECT_EQ(request_bytes(b),
            bytes({0x17, 0xFF, 0x02, 0x00, 0x02, 0x01, 0x00, 0x00, 0x20, 0x52, 0x05, 0x00, 0x02, 0x00}));
  s.coding = Coding::Ascii;
  ChannelBlock ascii = make_block(s);
  build_read_request(ascii);
  // ASCII numbers go high digits first, the block number too: block 5 is "0005".
  EXPECT_EQ(request_text(ascii), "17FF000A0005522000000102" "0200");
}

TEST(Frames1E, OnlyTheLowSixteenBitsOfTheHeadAreSent) {
  BlockSpec s = a_series(Coding::Binary);
  s.start = 0x12345;
  ChannelBlock b = make_block(s);
  build_read_request(b);
  EXPECT_EQ(b.request[4], 0x45);
  EXPECT_EQ(b.request[5], 0x23);
  EXPECT_EQ(b.request[6], 0x00);
}

TEST(Frames1E, LinkRelaysUseTheCodeOfInternalRelays) {
  BlockSpec s = a_series(Coding::Ascii);
  s.type = RegisterType::L;
  s.start = 0;
  s.length = 16;
  ChannelBlock b = make_block(s);
  build_read_request(b);
  EXPECT_EQ(request_text(b).substr(8, 4), "4D20");
}

TEST(Frames1E, BitWritesInAsciiSendOneCharacterPerPoint) {
  BlockSpec s = a_series(Coding::Ascii);
  s.type = RegisterType::Y;
  s.start = 0x10;
  s.length = 16;
  ChannelBlock b = make_block(s);
  const std::uint8_t bits[] = {1, 0, 1};
  WriteData data;
  data.head = 0x13;
  data.bit_units = true;
  data.bits = bits;
  ASSERT_TRUE(build_write_request(b, data));
  EXPECT_EQ(request_text(b), "02FF000A592000000013" "0300" "101");
  EXPECT_EQ(b.request_length, write_request_size(b, true, 3));

  s.coding = Coding::Binary;
  ChannelBlock binary = make_block(s);
  ASSERT_TRUE(build_write_request(binary, data));
  EXPECT_EQ(request_bytes(binary),
            bytes({0x02, 0xFF, 0x02, 0x00, 0x13, 0x00, 0x00, 0x00, 0x20, 0x59, 0x03, 0x00, 0x10, 0x10}));
}

TEST(Frames1E, WordWritesAreHighByteFirstInAsciiAndLowByteFirstInBinary) {
  // A 32-bit value is two registers, low word first.
  const std::uint16_t words[] = {0x5678, 0x1234};
  WriteData data;
  data.head = 104;
  data.words = words;
  ChannelBlock ascii = make_block(a_series(Coding::Ascii));
  ASSERT_TRUE(build_write_request(ascii, data));
  EXPECT_EQ(request_text(ascii), "03FF000A442000000068" "0200" "56781234");
  ChannelBlock binary = make_block(a_series(Coding::Binary));
  ASSERT_TRUE(build_write_request(binary, data));
  auto r = request_bytes(binary);
  EXPECT_EQ(r[0], 0x03);
  EXPECT_EQ(std::vector<std::uint8_t>(r.end() - 4, r.end()), bytes({0x78, 0x56, 0x34, 0x12}));
}

TEST(Frames1E, ExtensionWritesUseTheirOwnCommand) {
  BlockSpec s = a_series(Coding::Binary);
  s.type = RegisterType::EX;
  s.ex_number = 2;
  ChannelBlock b = make_block(s);
  const std::uint16_t words[] = {7};
  WriteData data;
  data.head = 100;
  data.words = words;
  ASSERT_TRUE(build_write_request(b, data));
  EXPECT_EQ(b.request[0], k1EWriteExtension);
  EXPECT_EQ(b.request[10], 2);
  EXPECT_EQ(b.request_length, 16);
}

TEST(Frames, WritesThatWouldOverrunTheRequestBufferAreRefused) {
  for (auto plan : {BlockSpec{}, a_series(Coding::Binary), a_series(Coding::Ascii)}) {
    for (bool bits : {false, true}) {
      ChannelBlock b = make_block(plan);
      const std::size_t most = max_write_points(b, bits);
      ASSERT_GT(most, 0u);
      EXPECT_LE(write_request_size(b, bits, most), kRequestBufferSize);
      EXPECT_GT(write_request_size(b, bits, most + 1), kRequestBufferSize);
      std::vector<std::uint8_t> bit_data(most + 1, 1);
      std::vector<std::uint16_t> word_data(most + 1, 0x4142);
      WriteData data;
      data.bit_units = bits;
      data.bits = bit_data;
      data.words = word_data;
      EXPECT_FALSE(build_write_request(b, data));
      EXPECT_EQ(b.request_length, 0);
      if (bits)
        data.bits = std::span<const std::uint8_t>(bit_data).first(most);
      else
        data.words = std::span<const std::uint16_t>(word_data).first(most);
      EXPECT_TRUE(build_write_request(b, data));
      EXPECT_EQ(b.request_length, write_request_size(b, bits, most));
    }
  }
}

TEST(Frames, AppendByteHonoursTheCodingAndTheBufferEnd) {
  ChannelBlock b = make_block(a_series(Coding::Ascii));
  b.request_length = 0;
  EXPECT_TRUE(append_byte(b, 0xA5));
  EXPECT_TRUE(append_byte(b, 0x0F));
  EXPECT_EQ(request_text(b), "A50F");
  b.request_length = kRequestBufferSize - 1;
  EXPECT_FALSE(append_byte(b, 0x12));
  EXPECT_EQ(b.request_length, kRequestBufferSize - 1);
  EXPECT_TRUE(append_char(b, 'x'));
  EXPECT_FALSE(append_char(b, 'y'));
}

}  // namespace
}  // namespace hbt::poller
