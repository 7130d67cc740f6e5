// Request frames of the MC protocol, built into a channel block's request buffer:
// 3E binary frames for Q-series CPUs, 1E frames in binary or ASCII coding for A-series.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "image/layout.h"
#include "poller/channel_block.h"

namespace hbt::poller {

inline bool is_q_series(const ChannelBlock& block) {
  return block.cpu_type == static_cast<std::uint16_t>(image::CpuType::QSeries);
}
inline bool is_ascii(const ChannelBlock& block) {
  return block.coding == static_cast<std::uint16_t>(image::Coding::Ascii);
}
inline image::RegisterType block_register_type(const ChannelBlock& block) {
  return image::address_register_type(block.address_word);
}
inline std::uint32_t block_start(const ChannelBlock& block) { return image::address_start(block.address_word); }

// Whether the outstanding read asks for single points (A-series M from 9000), so that its
// reply carries one point per nibble or character instead of 16 per word.
bool read_is_in_bit_units(const ChannelBlock& block);

// The module's monitoring timer: the reply timeout in units of 500 ms.
std::uint16_t monitoring_timer(std::uint32_t reply_timeout);

// 3E request destination module I/O number.
std::uint16_t module_io_number(std::uint16_t module_number);

// Appends one byte in the block's coding: the byte itself, or two upper-case hexadecimal
// characters, high nibble first. False (and nothing appended) when the buffer is full.
bool append_byte(ChannelBlock& block, std::uint8_t value);
// Appends one character as it is (ASCII bit data).
bool append_char(ChannelBlock& block, char c);

// Builds the batch read of the block's poll record and sets the expected reply data length
// (1E only: bytes, or characters in ASCII coding).
void build_read_request(ChannelBlock& block);

// What a write request carries: either one 0/1 entry per point (bit units), or one 16-bit
// register value per point (a 32-bit value is two registers, low word first).
struct WriteData {
  std::uint32_t head = 0;
  bool bit_units = false;
  std::span<const std::uint8_t> bits;
  std::span<const std::uint16_t> words;
  std::size_t points() const { return bit_units ? bits.size() : words.size(); }
};

// Bytes (characters in ASCII) a write request of `points` points takes.
std::size_t write_request_size(const ChannelBlock& block, bool bit_units, std::size_t points);
// The most points one write request can carry within the request buffer.
std::size_t max_write_points(const ChannelBlock& block, bool bit_units);

// Builds the batch write; the head device replaces the start address of the block's
// address word. False, with the buffer empty, when the frame would not fit.
bool build_write_request(ChannelBlock& block, const WriteData& data);

}  // namespace hbt::poller

namespace hbt::poller {

// Per frame type; build_read_request and build_write_request choose by CPU type.
void build_3e_read(ChannelBlock& block);
bool build_3e_write(ChannelBlock& block, const WriteData& data);
std::size_t size_3e_write(bool bit_units, std::size_t points);
void build_1e_read(ChannelBlock& block);
bool build_1e_write(ChannelBlock& block, const WriteData& data);
std::size_t size_1e_write(const ChannelBlock& block, bool bit_units, std::size_t points);

}  // namespace hbt::poller
