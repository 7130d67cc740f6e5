#include "poller/frames.h"

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
