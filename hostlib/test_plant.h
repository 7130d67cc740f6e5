// For the host library's tests: a configuration loaded into a live image by a driver-side
// NIOLIB (standing in for the poller), a HostLibrary attached to it, and points to use.
#pragma once

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "hostlib/host_library.h"
#include "image/lock_byte.h"
#include "image/message_ring.h"
#include "image/niolib.h"
#include "testsupport/driver_setup.h"
#include "testsupport/recording_sink.h"

namespace hbt::hostlib::testing {

using image::DataType;
using image::ExceptionType;
using image::RegisterType;
using testsupport::ConfigSpec;
using testsupport::DeviceSpec;
using testsupport::RecordSpec;

// A point as a host keeps it: its records, and the block that points at them.
struct Point {
  NioAddress address{};
  NioDriverArea driver{};
  NioFormat format{};
  NioBlock block{nullptr, &address, &driver};
  NioStatus parse_status = -1;
  Point() = default;
  Point(const Point&) = delete;
  Point& operator=(const Point&) = delete;
};

inline RecordSpec record(RegisterType type, std::uint32_t start, std::uint16_t length, DataType data_type,
                         ExceptionType exception = ExceptionType::Disabled, std::uint8_t ex_number = 0) {
  RecordSpec r;
  r.type = type;
  r.start = start;
  r.length = length;
  r.data_type = data_type;
  r.exception = exception;
  r.ex_number = ex_number;
  return r;
}

class Plant {
 public:
  explicit Plant(const ConfigSpec& config) {
    testsupport::install_configuration(env_, config);
    driver_ = std::make_unique<image::Niolib>(image::NiolibOptions{image::NiolibVariant::kDriver}, driver_messages_);
    loaded_ = driver_->init_dit();
    host_ = std::make_unique<HostLibrary>(HostOptions{false});
    ring_start_ = driver_->pointer_block()->ring_next;
  }
  ~Plant() {
    host_.reset();
    driver_.reset();
  }

  bool loaded() const { return loaded_; }
  HostLibrary& host() { return *host_; }
  image::Niolib& driver() { return *driver_; }
  image::PointerBlock* block() { return driver_->pointer_block(); }
  const testsupport::TestEnvironment& env() const { return env_; }
  void drop_host() { host_.reset(); }
  void make_host() { host_ = std::make_unique<HostLibrary>(HostOptions{false}); }

  // The poller's view of poll record k.
  image::PollRecordHead* record(int k) { return driver_->nio_map_dit(k); }
  image::PollControlEntry* control(int k) { return driver_->nio_map_ptr(k); }
  std::uint8_t* area(int k, int kind) { return driver_->nio_find_data(k, kind); }
  std::uint16_t word(int k, int kind, int i) {
    std::uint16_t v;
    std::memcpy(&v, area(k, kind) + 2 * i, 2);
    return v;
  }
  void set_word(int k, int i, std::uint16_t v) { std::memcpy(area(k, 1) + 2 * i, &v, 2); }
  void set_long(int k, int j, std::uint32_t v) { std::memcpy(area(k, 1) + 4 * j, &v, 4); }
  std::uint32_t long_at(int k, int kind, int j) {
    std::uint32_t v;
    std::memcpy(&v, area(k, kind) + 4 * j, 4);
    return v;
  }
  image::ExceptionEntry& entry(int k, int i) { return reinterpret_cast<image::ExceptionEntry*>(area(k, 5))[i]; }
  // What the poller does when a polled value changes for a registered entry.
  void flag_change(int k, int i) {
    entry(k, i).changed = 1;
    control(k)->changed_count = static_cast<std::uint16_t>(control(k)->changed_count + 1);
  }
  // Marks every record polled and good.
  void all_good() {
    for (int k = 0; k < driver_->poll_record_count(); ++k) record(k)->status = image::kStatusGood;
  }

  std::unique_ptr<Point> point(const std::string& text, std::uint8_t kind, float low = 0, float span = 100) {
    auto p = std::make_unique<Point>();
    p->format.kind = kind;
    p->format.egu_low = low;
    p->format.egu_span = span;
    host_->nio_paddr(&p->parse_status, &p->block, &p->format, text.c_str());
    return p;
  }

  // Messages the host library put into the ring since the plant was built.
  std::vector<std::string> ring() {
    std::vector<std::string> out;
    image::RingReader reader(block(), ring_start_);
    while (auto m = reader.next()) out.push_back(m->text);
    return out;
  }
  int ring_count(const std::string& text) {
    int n = 0;
    for (const auto& m : ring()) n += m == text;
    return n;
  }

 private:
  testsupport::TestEnvironment env_;
  testsupport::RecordingSink driver_messages_;
  std::unique_ptr<image::Niolib> driver_;
  std::unique_ptr<HostLibrary> host_;
  bool loaded_ = false;
  std::uint32_t ring_start_ = 0;
};

// The plant most tests use. Poll records, in order:
//  0 D100-109 Unsigned, Analog exceptions      7 EX2:300-349 Unsigned
//  1 D200-209 ASCII, ASCII exceptions          8 W10-2F Signed
//  2 D300-309 Float, Analog exceptions         9 M0-15 bit device, Digital exceptions
//  3 D400-409 Long Signed                     10 D600-609 Signed
//  4 X0-1F bit device, Digital exceptions     11 D700-709 Long Unsigned
//  5 D500-503 Digital, Digital exceptions     12 (PLC2) D0-99 Unsigned
//  6 D100-119 Unsigned (after record 0)       13 (PLC3, channel 1) R0-9 Unsigned
inline ConfigSpec standard_plant() {
  ConfigSpec config;
  auto& ch0 = config.channels[0];
  ch0.devices[0].name = "PLC1";
  ch0.devices[0].records = {
      record(RegisterType::D, 100, 10, DataType::Unsigned, ExceptionType::Analog),
      record(RegisterType::D, 200, 10, DataType::Ascii, ExceptionType::Ascii),
      record(RegisterType::D, 300, 10, DataType::Float, ExceptionType::Analog),
      record(RegisterType::D, 400, 10, DataType::LongSigned),
      record(RegisterType::X, 0, 32, DataType::Digital, ExceptionType::Digital),
      record(RegisterType::D, 500, 4, DataType::Digital, ExceptionType::Digital),
      record(RegisterType::D, 100, 20, DataType::Unsigned),
      record(RegisterType::EX, 300, 50, DataType::Unsigned, ExceptionType::Disabled, 2),
      record(RegisterType::W, 0x10, 0x20, DataType::Signed),
      record(RegisterType::M, 0, 16, DataType::Digital, ExceptionType::Digital),
      record(RegisterType::D, 600, 10, DataType::Signed),
      record(RegisterType::D, 700, 10, DataType::LongUnsigned),
  };
  DeviceSpec plc2;
  plc2.name = "PLC2";
  plc2.records = {record(RegisterType::D, 0, 100, DataType::Unsigned)};
  ch0.devices.push_back(plc2);
  testsupport::ChannelSpec ch1;
  ch1.devices[0].name = "PLC3";
  ch1.devices[0].records = {record(RegisterType::R, 0, 10, DataType::Unsigned)};
  config.channels.push_back(ch1);
  return config;
}

}  // namespace hbt::hostlib::testing
