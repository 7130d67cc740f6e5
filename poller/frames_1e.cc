// 1E frames (A-series CPUs), binary or ASCII: every field goes through append_byte, so one
// builder serves both codings; only the field orders of the two codings differ.
#include "poller/frames.h"
#include "poller/mc_codes.h"

namespace hbt::poller {

namespace {

bool is_extension(const ChannelBlock& block) { return block_register_type(block) == image::RegisterType::EX; }

// Command, PC number, monitoring timer, head device and device code, number of points.
std::size_t header_bytes(const ChannelBlock& block) { return is_extension(block) ? 14 : 12; }

void put_header(ChannelBlock& block, std::uint8_t command, std::uint32_t head, std::size_t points) {
  block.request_length = 0;
  const std::uint16_t code = kADeviceCodes[static_cast<int>(block_register_type(block))];
  const std::uint8_t ex_number = static_cast<std::uint8_t>(block.extension);
  append_byte(block, command);
  append_byte(block, static_cast<std::uint8_t>(block.pc_number));
  if (is_ascii(block)) {
    // The ASCII frame always asks for the characters 000A.
    append_byte(block, 0x00);
    append_byte(block, 0x0A);
    if (is_extension(block)) {
      // Like every other number of an ASCII frame the block number goes high digits first:
      // block 1 is "0001" (the binary frame sends it low byte first, 01 00).
      append_byte(block, 0x00);
      append_byte(block, ex_number);
    }
    append_byte(block, static_cast<std::uint8_t>(code >> 8));
    append_byte(block, static_cast<std::uint8_t>(code));
    append_byte(block, 0x00);
    append_byte(block, 0x00);
    append_byte(block, static_cast<std::uint8_t>(head >> 8));
    append_byte(block, static_cast<std::uint8_t>(head));
  } else {
    append_byte(block, static_cast<std::uint8_t>(monitoring_timer(block.reply_timeout)));
    append_byte(block, 0x00);
    append_byte(block, static_cast<std::uint8_t>(head));
    append_byte(block, static_cast<std::uint8_t>(head >> 8));
    append_byte(block, 0x00);
    append_byte(block, 0x00);
    append_byte(block, static_cast<std::uint8_t>(code));
    append_byte(block, static_cast<std::uint8_t>(code >> 8));
    if (is_extension(block)) {
      append_byte(block, ex_number);
      append_byte(block, 0x00);
    }
  }
  append_byte(block, static_cast<std::uint8_t>(points));
  append_byte(block, static_cast<std::uint8_t>(points >> 8));
}

}  // namespace

void build_1e_read(ChannelBlock& block) {
  const image::RegisterType type = block_register_type(block);
  const std::uint32_t start = block_start(block);
  std::size_t points;
  std::size_t expected;
  if (reads_in_bit_units(type, start)) {
    points = block.length;
    expected = (block.length + 1u) / 2;
  } else {
    // Word units, bit devices too (in whole 16-point words): the reply holds the two bytes
    // of every word asked for. Area 1 of an M record whose length is no multiple of 16 is
    // even, so its size less one would be a byte short of the words the request names.
    points = block.area1_size / 2u;
    expected = 2u * points;
  }
  if (is_ascii(block)) expected *= 2;
  put_header(block, read_command_1e(type, start), start, points);
  block.expected_reply_length = static_cast<std::uint16_t>(expected);
}

std::size_t size_1e_write(const ChannelBlock& block, bool bit_units, std::size_t points) {
  const bool ascii = is_ascii(block);
  std::size_t data;
  if (bit_units)
    data = ascii ? points : (points + 1) / 2;
  else
    data = ascii ? 4 * points : 2 * points;
  return header_bytes(block) * (ascii ? 2 : 1) + data;
}

bool build_1e_write(ChannelBlock& block, const WriteData& data) {
  const std::size_t points = data.points();
  block.request_length = 0;
  if (size_1e_write(block, data.bit_units, points) > kRequestBufferSize || points > 0xFFFF) return false;
  block.address_word = image::make_address_word(block_register_type(block), data.head);
  put_header(block, write_command_1e(block_register_type(block)), data.head, points);
  if (data.bit_units) {
    if (is_ascii(block)) {
      for (std::uint8_t bit : data.bits) append_char(block, (bit & 1) ? '1' : '0');
    } else {
      for (std::size_t i = 0; i < points; i += 2) {
        std::uint8_t b = static_cast<std::uint8_t>((data.bits[i] & 1u) << 4);
        if (i + 1 < points) b |= data.bits[i + 1] & 1u;
        append_byte(block, b);
      }
    }
  } else {
    for (std::uint16_t v : data.words) {
      // Binary: low byte first; ASCII: the register as four digits, most significant first.
      const std::uint8_t lo = static_cast<std::uint8_t>(v), hi = static_cast<std::uint8_t>(v >> 8);
      append_byte(block, is_ascii(block) ? hi : lo);
      append_byte(block, is_ascii(block) ? lo : hi);
    }
  }
  block.expected_reply_length = 0;
  return true;
}

}  // namespace hbt::poller
