#include "poller/reply_check.h"

#include "poller/byte_order.h"
#include "poller/frames.h"
#include "poller/mc_codes.h"

namespace hbt::poller {

using namespace hbt::image;

namespace {

constexpr std::size_t k3EHeaderChecked = 6;  // subheader, network, PC number, module I/O
constexpr std::size_t k3EDataStart = 11;     // after the end code
constexpr std::size_t k3EResponseLength = 7;
constexpr std::size_t k3EEndCode = 9;

int hex_value(std::uint8_t c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return 0;
}

int hex_pair(std::uint8_t hi, std::uint8_t lo) { return hex_value(hi) * 16 + hex_value(lo); }

// Position of the outstanding record within its device, counted from 1.
int record_in_device(const ChannelBlock& block) { return block.poll_record_index - block.first_poll_record + 1; }


void report_abnormal_3e(const ChannelBlock& block, std::uint16_t code, ReplyCheckEnv& env) {
  if (env.device) env.device->last_end_code = code;
  report(env.sink, kColourError, "Got abnormal completetion code %02x, Chan %d, Dev %d, pollrec %d", code,
         block.channel_index + 1, block.device_index + 1, record_in_device(block));
}

}  // namespace

ReplyVerdict check_3e_reply(const ChannelBlock& block, std::span<const std::uint8_t> reply, ReplyCheckEnv& env) {
  ReplyVerdict verdict;
  if (reply.size() < k3EHeaderChecked) return verdict;
  if (reply[0] != 0xD0 || reply[1] != 0x00 || reply[3] != static_cast<std::uint8_t>(block.pc_number) ||
      load16(&reply[4]) != module_io_number(block.module_number))
    return verdict;
  // Without its end code a reply cannot be judged; it is not counted and the countdown runs.
  if (reply.size() < k3EDataStart) return verdict;
  const std::uint16_t end_code = load16(&reply[k3EEndCode]);
  if (end_code == 0) {
    // A normal reply carries exactly the data asked for. One of another length answers an
    // earlier request (it came after its timeout) and must not land in this record.
    const std::size_t length = load16(&reply[k3EResponseLength]);
    const std::size_t asked = 2 + (block.is_write ? 0 : 2 * (block.area1_size / 2u));
    if (length != asked || reply.size() < k3EResponseLength + 2 + length) return verdict;
  }
  ++env.channel.stats.replies_received;
  if (end_code != 0) {
    // A refused write is a failure as much as a refused read.
    report_abnormal_3e(block, end_code, env);
    verdict.result = ReplyResult::kFailure;
    return verdict;
  }
  verdict.result = ReplyResult::kGood;
  if (!block.is_write) verdict.data = reply.subspan(k3EDataStart, load16(&reply[k3EResponseLength]) - 2u);
  return verdict;
}

ReplyVerdict check_1e_reply(const ChannelBlock& block, std::span<const std::uint8_t> reply, ReplyCheckEnv& env) {
  ReplyVerdict verdict;
  verdict.result = ReplyResult::kFailure;
  const bool ascii = is_ascii(block);
  const std::size_t head = ascii ? 4 : 2;  // subheader and completion code
  const std::size_t expected = block.is_write ? 0 : block.expected_reply_length;
  ChannelRecord& ch = env.channel;

  // 1. Length. A reply too short to carry its completion code is rejected outright.
  if (reply.size() < head) {
    ++ch.stats.rejected_replies;
    return verdict;
  }
  const bool code_zero = ascii ? (reply[2] == '0' && reply[3] == '0') : reply[1] == 0;
  if (reply.size() - head != expected && code_zero) {
    ++ch.stats.rejected_replies;
    return verdict;
  }
  // 2.
  ++ch.stats.replies_received;
  // 3. Command: the reply code is the command + 0x80.
  bool command_matches;
  if (ascii)
    command_matches = block.request_length >= 2 && reply[0] == block.request[0] + 8 && reply[1] == block.request[1];
  else
    command_matches = block.request_length >= 1 && (reply[0] & 0x7F) == block.request[0];
  if (!command_matches) {
    if (ch.display_alarms) {
      report(env.sink, kColourNotice, "Command code in reply does not match sent message....rejected");
      ++ch.stats.rejected_replies;
    }
    return verdict;
  }
  // 4. Completion code.
  if (!code_zero) {
    if (!ch.display_alarms) return verdict;
    int code;
    if (ascii) {
      code = hex_pair(reply[2], reply[3]);
      report(env.sink, kColourError, "Got abnormal completetion code %c%c, Chan %d, Dev %s, pollrec %d", reply[2],
             reply[3], block.channel_index + 1, block.device_name, record_in_device(block) - 1);
      if (reply[2] == '5' && reply[3] == 'B' && reply.size() >= 6) {
        report(env.sink, kColourError, "The error code is %c%c", reply[4], reply[5]);
        ch.stats.last_extended_error = static_cast<std::uint16_t>(hex_pair(reply[4], reply[5]));
      }
    } else {
      code = reply[1];
      report(env.sink, kColourError, "Got abnormal completetion code %02x, Chan %d, Dev %d, pollrec %d", code,
             block.channel_index + 1, block.device_index + 1, record_in_device(block));
      if (code == k1EExtendedError && reply.size() >= 3) {
        report(env.sink, kColourError, "The Extended error code is %02x", reply[2]);
        ch.stats.last_extended_error = reply[2];
      }
    }
    ++ch.stats.abnormal_codes;
    ch.stats.last_abnormal_code = static_cast<std::uint16_t>(code);
    return verdict;
  }
  // 5.
  verdict.result = ReplyResult::kGood;
  if (!block.is_write) verdict.data = reply.subspan(head);
  return verdict;
}

ReplyVerdict check_reply(const ChannelBlock& block, std::span<const std::uint8_t> reply, ReplyCheckEnv& env) {
  return is_q_series(block) ? check_3e_reply(block, reply, env) : check_1e_reply(block, reply, env);
}

}  // namespace hbt::poller
