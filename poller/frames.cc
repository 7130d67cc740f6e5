#include "poller/frames.h"

#include <algorithm>

#include "poller/mc_codes.h"

namespace hbt::poller {

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

}  // namespace

bool read_is_in_bit_units(const ChannelBlock& block) {
  return !is_q_series(block) && reads_in_bit_units(block_register_type(block), block_start(block));
}

std::uint16_t monitoring_timer(std::uint32_t reply_timeout) {
  return static_cast<std::uint16_t>(std::uint64_t{reply_timeout} * 10 / 500);
}

std::uint16_t module_io_number(std::uint16_t module_number) {
  return module_number == 0 ? 0x03FF : static_cast<std::uint16_t>(0x03DF + module_number);
}

bool append_byte(ChannelBlock& block, std::uint8_t value) {
  if (is_ascii(block)) {
    if (block.request_length + 2u > kRequestBufferSize) return false;
    block.request[block.request_length++] = static_cast<std::uint8_t>(kHexDigits[value >> 4]);
    block.request[block.request_length++] = static_cast<std::uint8_t>(kHexDigits[value & 0xF]);
    return true;
  }
  if (block.request_length + 1u > kRequestBufferSize) return false;
  block.request[block.request_length++] = value;
  return true;
}

bool append_char(ChannelBlock& block, char c) {
  if (block.request_length + 1u > kRequestBufferSize) return false;
  block.request[block.request_length++] = static_cast<std::uint8_t>(c);
  return true;
}

}  // namespace hbt::poller

namespace hbt::poller {

void build_read_request(ChannelBlock& block) {
  if (is_q_series(block))
    build_3e_read(block);
  else
    build_1e_read(block);
}

std::size_t write_request_size(const ChannelBlock& block, bool bit_units, std::size_t points) {
  return is_q_series(block) ? size_3e_write(bit_units, points) : size_1e_write(block, bit_units, points);
}

std::size_t max_write_points(const ChannelBlock& block, bool bit_units) {
  const std::size_t empty = write_request_size(block, bit_units, 0);
  if (empty > kRequestBufferSize) return 0;
  const std::size_t room = kRequestBufferSize - empty;
  const bool ascii = !is_q_series(block) && is_ascii(block);
  std::size_t points;
  if (bit_units)
    points = ascii ? room : 2 * room;  // a character, or half a byte, per point
  else
    points = ascii ? room / 4 : room / 2;
  return std::min<std::size_t>(points, 0xFFFF);
}

bool build_write_request(ChannelBlock& block, const WriteData& data) {
  block.expected_reply_length = 0;
  return is_q_series(block) ? build_3e_write(block, data) : build_1e_write(block, data);
}

}  // namespace hbt::poller
