#include "poller/reply_framing.h"

#include <gtest/gtest.h>

#include "poller/block_fixtures.h"

namespace hbt::poller {
namespace {

using image::Coding;
using image::CpuType;
using testing::BlockSpec;
using testing::bytes;
using testing::make_block;
using testing::text_bytes;

std::vector<std::uint8_t> q_read_reply(std::uint8_t fill) {
  std::vector<std::uint8_t> r = bytes({0xD0, 0x00, 0x00, 0xFF, 0xFF, 0x03, 0x00, 12, 0x00, 0x00, 0x00});
  r.insert(r.end(), 10, fill);
  return r;
}

ChannelBlock q_block() {
  ChannelBlock b = make_block({});
  b.protocol = 1;
  build_read_request(b);
  return b;
}

ChannelBlock a_block(Coding coding, bool write = false) {
  BlockSpec s;
  s.cpu = CpuType::AnN;
  s.coding = coding;
  ChannelBlock b = make_block(s);
  b.protocol = 1;
  build_read_request(b);
  b.is_write = write ? 1 : 0;
  return b;
}

std::vector<std::uint8_t> taken(const ChannelBlock& b) { return {b.reply, b.reply + b.reply_length}; }

TEST(Framing, ThreeEReplyArrivingInPiecesIsTakenOnceWhole) {
  ChannelBlock b = q_block();
  const auto reply = q_read_reply(7);
  for (std::size_t i = 0; i < reply.size(); ++i) {
    append_to_stream(b, std::span(reply).subspan(i, 1));
    const bool whole = i + 1 == reply.size();
    ASSERT_EQ(take_reply(b), whole) << "after byte " << i;
  }
  EXPECT_EQ(taken(b), reply);
  EXPECT_EQ(b.stream_length, 0);
}

TEST(Framing, JoinedRepliesAreTakenOneAfterTheOther) {
  ChannelBlock b = q_block();
  auto first = q_read_reply(1), second = q_read_reply(2);
  auto both = first;
  both.insert(both.end(), second.begin(), second.end());
  both.push_back(0xD0);  // the start of a third
  append_to_stream(b, both);
  ASSERT_TRUE(take_reply(b));
  EXPECT_EQ(taken(b), first);
  ASSERT_TRUE(take_reply(b));
  EXPECT_EQ(taken(b), second);
  EXPECT_FALSE(take_reply(b));
  EXPECT_EQ(b.stream_length, 1);
}

TEST(Framing, ThreeEBytesThatCannotStartAReplyAreSkipped) {
  ChannelBlock b = q_block();
  auto reply = q_read_reply(3);
  std::vector<std::uint8_t> stream = bytes({0x11, 0xD0, 0x05, 0x22});
  // A header announcing more than any reply can hold is not a header.
  stream.insert(stream.end(), {0xD0, 0x00, 0x00, 0xFF, 0xFF, 0x03, 0x00, 0xFF, 0xFF});
  stream.insert(stream.end(), reply.begin(), reply.end());
  append_to_stream(b, stream);
  ASSERT_TRUE(take_reply(b));
  EXPECT_EQ(taken(b), reply);
}

TEST(Framing, OneEBinaryReplyLengthFollowsTheRequestAndTheCompletionCode) {
  ChannelBlock b = a_block(Coding::Binary);
  ASSERT_EQ(b.expected_reply_length, 10);
  auto good = bytes({0x81, 0x00, 1, 0, 2, 0, 3, 0, 4, 0, 5, 0});
  EXPECT_EQ(find_reply(b, std::span(good).first(11)).length, 0u);
  EXPECT_EQ(find_reply(b, good).length, 12u);
  EXPECT_EQ(find_reply(b, bytes({0x81, 0x56, 0x81})).length, 2u);
  EXPECT_EQ(find_reply(b, bytes({0x81, 0x5B})).length, 0u);
  EXPECT_EQ(find_reply(b, bytes({0x81, 0x5B, 0x10})).length, 3u);
  ChannelBlock w = a_block(Coding::Binary, true);
  EXPECT_EQ(find_reply(w, bytes({0x83, 0x00, 0x81})).length, 2u);
}

TEST(Framing, OneEFillerAfterAnExtendedCodeIsSkipped) {
  ChannelBlock b = a_block(Coding::Binary);
  append_to_stream(b, bytes({0x81, 0x5B, 0x10, 0x00}));
  ASSERT_TRUE(take_reply(b));
  EXPECT_EQ(taken(b), bytes({0x81, 0x5B, 0x10}));
  auto good = bytes({0x81, 0x00, 1, 0, 2, 0, 3, 0, 4, 0, 5, 0});
  append_to_stream(b, good);
  ASSERT_TRUE(take_reply(b));
  EXPECT_EQ(taken(b), good);
}

TEST(Framing, OneEAsciiReplyLengthInCharacters) {
  ChannelBlock b = a_block(Coding::Ascii);
  ASSERT_EQ(b.expected_reply_length, 20);
  auto good = text_bytes("8100" "00010002000300040005");
  EXPECT_EQ(find_reply(b, std::span(good).first(23)).length, 0u);
  EXPECT_EQ(find_reply(b, good).length, 24u);
  EXPECT_EQ(find_reply(b, text_bytes("8157")).length, 4u);
  EXPECT_EQ(find_reply(b, text_bytes("815B10")).length, 6u);
  const StreamCut cut = find_reply(b, text_bytes("00" "8157"));
  EXPECT_EQ(cut.skip, 2u);
  EXPECT_EQ(cut.length, 4u);
}

TEST(Framing, AFullBufferWithoutAReplyIsDropped) {
  ChannelBlock b = q_block();
  std::vector<std::uint8_t> header = bytes({0xD0, 0x00, 0x00, 0xFF, 0xFF, 0x03, 0x00, 0xF0, 0x07});  // 2041 bytes
  append_to_stream(b, header);
  std::vector<std::uint8_t> filler(kStreamBufferSize, 0xD0);
  append_to_stream(b, filler);
  EXPECT_EQ(b.stream_length, kStreamBufferSize);
  // The header at the front announces a reply that is there in full (it fits), so it is
  // taken; then only filler is left, which is never a reply.
  EXPECT_TRUE(take_reply(b));
  EXPECT_EQ(b.reply_length, 9 + 0x7F0);
  while (take_reply(b)) {
  }
  EXPECT_LT(b.stream_length, kStreamBufferSize);
}

TEST(Framing, AppendNeverOverrunsTheStreamBuffer) {
  ChannelBlock b = q_block();
  std::vector<std::uint8_t> lots(3 * kStreamBufferSize, 0x42);
  append_to_stream(b, lots);
  EXPECT_EQ(b.stream_length, kStreamBufferSize);
  append_to_stream(b, lots);
  EXPECT_EQ(b.stream_length, kStreamBufferSize);
  EXPECT_FALSE(take_reply(b));
  EXPECT_EQ(b.stream_length, 0);
}

}  // namespace
}  // namespace hbt::poller
