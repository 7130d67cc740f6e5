// A point as hbtio keeps it for the library (address, driver area, format), built from the
// command line: ADDRESS [--kind analog|digital|text] [--sig NAME] [--egu LOW,HIGH]
// [--decimals D] [--options LOW:HIGH] [--count N].
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "com/filetime.h"
#include "com/variant.h"
#include "tools/hbtio/host_api.h"

namespace hbt::hbtio {

struct PointOptions {
  std::uint8_t kind = 5;  // automatic unless asked
  std::string sig;
  std::string hardware_options;
  float egu_low = 0;
  float egu_span = 65535;
  std::int8_t decimals = 0;
  std::int32_t count = 0;  // 0: one value (or, for text, the library's full buffer)
};

// Takes the point options out of args; false with *error set when one is malformed.
bool take_point_options(std::vector<std::string>& args, PointOptions* options, std::string* error);

struct HostPoint {
  std::string text;  // the address as given
  hostlib::NioAddress address{};
  hostlib::NioDriverArea driver{};
  NioFormat format{};
  NioBlock block{nullptr, &address, &driver};
  HostPoint() = default;
  HostPoint(const HostPoint&) = delete;
  HostPoint& operator=(const HostPoint&) = delete;
};

// Parses the address and applies the conditioning and options; null with *error set when
// the library refuses one of them.
std::unique_ptr<HostPoint> make_point(HostApi& api, const std::string& address, const PointOptions& options,
                                      std::string* error);

// One value read with nio_readEx.
struct Reading {
  NioStatus status = 0;
  std::uint16_t quality = 0;
  com::FILETIME timestamp{};
  // The values: one per element (numbers for analog, 0/1 for digital) or the text.
  std::vector<double> numbers;
  std::string text;
  bool is_text = false;
};

Reading read_point(HostApi& api, HostPoint& point, std::int32_t count);

// Prints one line per value: "PLC1:D:100 = 12.5  quality 0xC0 (good)  2024-...Z", or with
// --json {"address":...,"value":...,"status":...,"quality":...,"timestamp":...}.
void print_reading(const HostPoint& point, const Reading& reading, bool json);

std::string quality_text(std::uint16_t quality);

}  // namespace hbt::hbtio
