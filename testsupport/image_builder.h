// Builds configuration files for tests straight from the shared layouts, the way the editor
// lays them out (table order, 64 KiB segments, data areas after each poll record).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "image/layout.h"

namespace hbt::testsupport {

struct RecordSpec {
  image::RegisterType type = image::RegisterType::D;
  std::uint32_t start = 0;
  std::uint16_t length = 1;
  image::DataType data_type = image::DataType::Unsigned;
  image::ExceptionType exception = image::ExceptionType::Disabled;
  std::int32_t poll_time = 100;                          // 1/100 s; -100 disabled
  std::int32_t access_time = image::kAccessNeverExpires;  // 1/100 s
  float dead_band = 0;
  std::uint8_t ex_number = 0;
};

struct DeviceSpec {
  std::string name = "PLC1";
  std::string description;
  image::CpuType cpu = image::CpuType::QSeries;
  std::uint16_t pc_number = 255;
  image::Coding coding = image::Coding::Binary;
  std::uint16_t network = 0;
  std::uint16_t module = 0;
  std::vector<RecordSpec> records{RecordSpec{}};
};

struct ChannelSpec {
  std::uint32_t ip_address = 0x7F000001;  // 127.0.0.1
  std::uint32_t ip_port = 5000;
  bool tcp = false;
  std::uint8_t retries = 2;
  std::uint32_t reply_timeout = 100;  // 1/100 s
  std::uint32_t delay = 500;          // 1/100 s
  bool display_alarms = true;
  std::vector<DeviceSpec> devices{DeviceSpec{}};
};

struct ConfigSpec {
  std::vector<ChannelSpec> channels{ChannelSpec{}};
  std::uint32_t version = image::kFormatVersion;
};

// The file's bytes.
std::string build_configuration(const ConfigSpec& plan);

// A configuration with `records` poll records of D registers spread over one channel and as
// many devices as needed (at most 255 records per device).
ConfigSpec large_configuration(int records);

// One PLC named `device` on the loopback port `port` with two records polled every 0.1 s:
// D100..D109 as unsigned words and M0..M15 as bits.
ConfigSpec words_and_bits_configuration(unsigned port, const char* device = "PLC1");

}  // namespace hbt::testsupport
