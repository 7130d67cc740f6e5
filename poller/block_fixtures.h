// Channel blocks set up as a prepared request would leave them, for the frame, reply and
// transport tests.
#pragma once

#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <vector>

#include "image/layout.h"
#include "poller/channel_block.h"
#include "poller/frames.h"

namespace hbt::poller::testing {

struct BlockSpec {
  image::CpuType cpu = image::CpuType::QSeries;
  image::Coding coding = image::Coding::Binary;
  image::RegisterType type = image::RegisterType::D;
  std::uint32_t start = 100;
  std::uint16_t length = 5;  // points (bit devices) or registers
  std::uint16_t pc = 255;
  std::uint16_t module = 0;
  std::uint16_t network = 0;
  std::uint32_t reply_timeout = 100;
  std::uint8_t ex_number = 0;
  bool tcp = false;
};

inline ChannelBlock make_block(const BlockSpec& s) {
  ChannelBlock b;
  b.cpu_type = static_cast<std::uint16_t>(s.cpu);
  b.coding = static_cast<std::uint16_t>(s.coding);
  b.address_word = image::make_address_word(s.type, s.start);
  b.extension = s.ex_number;
  b.length = s.length;
  b.area1_size = image::area_sizes(s.type, s.length, image::ExceptionType::Disabled).size[0];
  b.pc_number = s.pc;
  b.module_number = s.module;
  b.network_number = s.network;
  b.reply_timeout = s.reply_timeout;
  b.reply_countdown = static_cast<std::int32_t>(s.reply_timeout);
  b.protocol = s.tcp ? 1 : 0;
  b.prepared = 1;
  b.waiting = 1;
  std::snprintf(b.device_name, sizeof b.device_name, "PLC1");
  return b;
}

inline std::vector<std::uint8_t> request_bytes(const ChannelBlock& b) {
  return {b.request, b.request + b.request_length};
}
inline std::string request_text(const ChannelBlock& b) {
  return {reinterpret_cast<const char*>(b.request), b.request_length};
}
inline std::vector<std::uint8_t> bytes(std::initializer_list<int> list) {
  std::vector<std::uint8_t> v;
  for (int x : list) v.push_back(static_cast<std::uint8_t>(x));
  return v;
}
inline std::vector<std::uint8_t> text_bytes(const std::string& s) { return {s.begin(), s.end()}; }

}  // namespace hbt::poller::testing
