// Moving values for demonstrations: devices that ramp, follow a sine, count or toggle,
// computed from the time since the movement started so that any clock can drive them.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tools/mcsim/device_memory.h"

namespace hbt::mcsim {

// A device as typed by a person: "D100", "X1F" (hexadecimal for X, Y, B, W), "M9000",
// "TN5", "EX2:300" (extension file register block 2, register 300).
struct DeviceAddress {
  RegisterType type = RegisterType::D;
  std::uint32_t number = 0;
  std::uint8_t block = 0;
};
std::optional<DeviceAddress> parse_device(std::string_view text);
std::string device_name(const DeviceAddress& a);

// Which memory a control command means: PLC name, PC number, CPU number.
struct MemoryTarget {
  std::string plc;
  std::uint8_t pc = kOwnStation;
  int cpu = 1;
};

enum class MoveKind { kRamp, kSine, kCounter, kToggle };

struct Move {
  MemoryTarget target;
  DeviceAddress device;
  MoveKind kind = MoveKind::kRamp;
  double low = 0, high = 0;     // ramp, sine
  double period_ms = 1000;      // ramp, sine: one cycle; counter, toggle: one step
  long long step = 1;           // counter
  double start_ms = 0;
  std::uint16_t start_value = 0;  // counter and toggle start from the device's value
};

// The value a move gives at a time (16-bit, as stored).
std::uint16_t move_value(const Move& m, double now_ms);
std::string describe_move(const Move& m);

class Movers {
 public:
  using Resolve = std::function<DeviceMemory*(const MemoryTarget&)>;

  // Replaces any move of the same device.
  void add(Move m);
  bool remove(const MemoryTarget& t, const DeviceAddress& d);
  void clear() { moves_.clear(); }
  const std::vector<Move>& moves() const { return moves_; }
  bool empty() const { return moves_.empty(); }

  // Writes every move's current value into device memory.
  void apply(double now_ms, const Resolve& resolve) const;

 private:
  std::vector<Move> moves_;
};

}  // namespace hbt::mcsim
