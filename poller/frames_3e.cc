// 3E frames (Q-series CPUs): always binary, every word low byte first.
#include <algorithm>

#include "poller/frames.h"
#include "poller/mc_codes.h"

namespace hbt::poller {

namespace {

constexpr std::size_t kHeaderSize = 21;     // up to and including the number of points
constexpr std::size_t kLengthCounted = 12;  // request data length without write data

class RawWriter {
 public:
  explicit RawWriter(ChannelBlock& block) : block_(block) { block_.request_length = 0; }
  void byte(std::uint32_t v) { block_.request[block_.request_length++] = static_cast<std::uint8_t>(v); }
  void word(std::uint32_t v) {
    byte(v);
    byte(v >> 8);
  }

 private:
  ChannelBlock& block_;
};

void put_header(RawWriter& w, const ChannelBlock& block, std::size_t data_bytes, std::uint16_t command,
                std::uint16_t subcommand, std::uint32_t head, std::size_t points) {
  w.byte(0x50);
  w.byte(0x00);
  w.byte(block.network_number);
  w.byte(block.pc_number);
  w.word(module_io_number(block.module_number));
  w.byte(0x00);
  w.word(static_cast<std::uint32_t>(kLengthCounted + data_bytes));
  w.word(monitoring_timer(block.reply_timeout));
  w.word(command);
  w.word(subcommand);
  w.byte(head);
  w.byte(head >> 8);
  w.byte(head >> 16);
  w.byte(kQDeviceCodes[static_cast<int>(block_register_type(block))]);
  w.word(static_cast<std::uint32_t>(points));
}

std::size_t data_bytes(bool bit_units, std::size_t points) { return bit_units ? (points + 1) / 2 : 2 * points; }

}  // namespace

void build_3e_read(ChannelBlock& block) {
  RawWriter w(block);
  // Bit devices too are read in whole 16-point words.
  put_header(w, block, 0, k3EBatchRead, k3EWordUnits, block_start(block), block.area1_size / 2u);
  block.expected_reply_length = 0;
}

std::size_t size_3e_write(bool bit_units, std::size_t points) { return kHeaderSize + data_bytes(bit_units, points); }

bool build_3e_write(ChannelBlock& block, const WriteData& data) {
  const std::size_t points = data.points();
  block.request_length = 0;
  if (size_3e_write(data.bit_units, points) > kRequestBufferSize || points > 0xFFFF) return false;
  block.address_word = image::make_address_word(block_register_type(block), data.head);
  const std::size_t bytes = data_bytes(data.bit_units, points);
  RawWriter w(block);
  put_header(w, block, bytes, k3EBatchWrite, data.bit_units ? k3EBitUnits : k3EWordUnits, data.head, points);
  if (data.bit_units) {
    // Two points per byte, the first in the high nibble.
    for (std::size_t i = 0; i < points; i += 2) {
      std::uint32_t b = (data.bits[i] & 1u) << 4;
      if (i + 1 < points) b |= data.bits[i + 1] & 1u;
      w.byte(b);
    }
  } else {
    for (std::uint16_t v : data.words) w.word(v);
  }
  return true;
}

}  // namespace hbt::poller
