#include "poller/reply_framing.h"

#include <algorithm>
#include <cstring>

#include "poller/byte_order.h"
#include "poller/frames.h"
#include "poller/mc_codes.h"

namespace hbt::poller {

namespace {

constexpr std::size_t k3EFixed = 9;  // bytes up to and including the response data length

StreamCut find_3e(std::span<const std::uint8_t> s) {
  std::size_t i = 0;
  for (;;) {
    while (i < s.size() && s[i] != 0xD0) ++i;
    const std::size_t left = s.size() - i;
    if (left < 2) return {i, 0};
    if (s[i + 1] != 0x00) {
      ++i;
      continue;
    }
    if (left < k3EFixed) return {i, 0};
    const std::size_t length = k3EFixed + load16(&s[i + 7]);
    if (length > kReplyBufferSize) {  // no reply is that long: not a header after all
      ++i;
      continue;
    }
    return {i, left >= length ? length : 0};
  }
}

StreamCut find_1e(const ChannelBlock& block, std::span<const std::uint8_t> s) {
  const bool ascii = is_ascii(block);
  // A reply starts with the command + 0x80, never with 0x00 or the character '0'; such
  // bytes are leftovers (the filler after an extended error code).
  const std::uint8_t filler = ascii ? '0' : 0x00;
  std::size_t i = 0;
  while (i < s.size() && s[i] == filler) ++i;
  const std::size_t head = ascii ? 4 : 2;
  const std::size_t left = s.size() - i;
  if (left < head) return {i, 0};
  std::size_t length = head;
  if (ascii ? (s[i + 2] == '0' && s[i + 3] == '0') : s[i + 1] == 0) {
    length += block.is_write ? 0 : block.expected_reply_length;
  } else if (ascii ? (s[i + 2] == '5' && s[i + 3] == 'B') : s[i + 1] == k1EExtendedError) {
    length += ascii ? 2 : 1;  // the extended error code
  }
  length = std::min(length, kReplyBufferSize);
  return {i, left >= length ? length : 0};
}

void drop_front(ChannelBlock& block, std::size_t n) {
  n = std::min<std::size_t>(n, block.stream_length);
  std::memmove(block.stream, block.stream + n, block.stream_length - n);
  block.stream_length = static_cast<std::uint16_t>(block.stream_length - n);
}

}  // namespace

StreamCut find_reply(const ChannelBlock& block, std::span<const std::uint8_t> stream) {
  return is_q_series(block) ? find_3e(stream) : find_1e(block, stream);
}

bool take_reply(ChannelBlock& block) {
  const StreamCut cut = find_reply(block, {block.stream, block.stream_length});
  drop_front(block, cut.skip);
  if (cut.length == 0) {
    // A full buffer that still holds no whole reply cannot be resynchronised otherwise.
    if (block.stream_length == kStreamBufferSize) block.stream_length = 0;
    return false;
  }
  std::memcpy(block.reply, block.stream, cut.length);
  block.reply_length = static_cast<std::uint16_t>(cut.length);
  drop_front(block, cut.length);
  return true;
}

bool stream_holds_more(const ChannelBlock& block) {
  const std::uint8_t filler = !is_q_series(block) && is_ascii(block) ? '0' : 0x00;
  const std::uint8_t* end = block.stream + block.stream_length;
  return std::find_if(block.stream, end, [&](std::uint8_t b) { return b != filler; }) != end;
}

void append_to_stream(ChannelBlock& block, std::span<const std::uint8_t> bytes) {
  const std::size_t room = kStreamBufferSize - block.stream_length;
  const std::size_t n = std::min(room, bytes.size());
  if (n == 0) return;
  std::memcpy(block.stream + block.stream_length, bytes.data(), n);
  block.stream_length = static_cast<std::uint16_t>(block.stream_length + n);
}

}  // namespace hbt::poller
