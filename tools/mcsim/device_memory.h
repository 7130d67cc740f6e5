// Device memory of a simulated PLC: every register type, extension file register blocks,
// and the stations and CPUs that one Ethernet module reaches.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "image/layout.h"
#include "tools/mcsim/cpu_model.h"

namespace hbt::mcsim {

using image::RegisterType;

inline constexpr int kRegisterTypeCount = 16;
inline constexpr std::uint8_t kOwnStation = 0xFF;   // PC number of the CPU carrying the module
inline constexpr std::uint16_t kOwnCpuIo = 0x03FF;  // module I/O number of that CPU
inline constexpr std::uint16_t kFirstMultiCpuIo = 0x03E0;
inline constexpr int kMaxCpus = 4;
inline constexpr std::uint32_t kSpecialRelayFirst = 9000;  // M9000..M9255 on A-series CPUs
inline constexpr std::uint32_t kSpecialRelayLast = 9255;

constexpr int type_index(RegisterType t) { return static_cast<int>(t); }
constexpr bool is_bit_device(RegisterType t) { return !image::is_word_device(t); }

// Points of bit devices, words of word devices; EX is the size of one block.
struct DeviceSizes {
  std::array<std::uint32_t, kRegisterTypeCount> points;
  std::uint8_t ex_blocks;  // blocks 1..ex_blocks exist
  static DeviceSizes defaults();
};

// The devices of one CPU. Callers check ranges with size() before they access, so that
// the frame code can answer range errors the way the CPU does; out-of-range access here
// is still safe (reads give 0, writes are ignored).
class DeviceMemory {
 public:
  explicit DeviceMemory(const DeviceSizes& sizes);

  std::uint32_t size(RegisterType t) const { return sizes_.points[type_index(t)]; }
  bool has_block(std::uint8_t block) const { return block >= 1 && block <= sizes_.ex_blocks; }
  void resize(RegisterType t, std::uint32_t points);
  void set_blocks(std::uint8_t blocks);

  bool bit(RegisterType t, std::uint32_t n) const;
  void set_bit(RegisterType t, std::uint32_t n, bool on);
  // Word devices: the register. Bit devices: points n..n+15, point n in bit 0.
  std::uint16_t word(RegisterType t, std::uint32_t n, std::uint8_t block = 0) const;
  void set_word(RegisterType t, std::uint32_t n, std::uint16_t value, std::uint8_t block = 0);

  // Called for every change of a point or register of any memory (the value history of
  // --history); one observer per process, none by default.
  using WriteObserver = void (*)(RegisterType t, std::uint32_t n, std::uint8_t block, std::uint16_t value);
  static void set_write_observer(WriteObserver observer);

 private:
  std::vector<std::uint16_t>* words_of(RegisterType t, std::uint8_t block);
  const std::vector<std::uint16_t>* words_of(RegisterType t, std::uint8_t block) const;

  DeviceSizes sizes_;
  std::array<std::vector<std::uint8_t>, kRegisterTypeCount> bits_;
  std::array<std::vector<std::uint16_t>, kRegisterTypeCount> words_;
  std::map<std::uint8_t, std::vector<std::uint16_t>> blocks_;  // allocated on first write
};

enum class Route { kOk, kNoStation, kNoModule };

// One simulated PLC as seen through its Ethernet module: the CPU carrying the module
// (PC number 255, possibly a multiple-CPU system) and the stations reached through it.
class Plc {
 public:
  explicit Plc(std::string name, DeviceSizes sizes = DeviceSizes::defaults());

  const std::string& name() const { return name_; }

  // The memory a request addresses, or why there is none.
  Route route(std::uint8_t pc, std::uint16_t module_io, DeviceMemory** memory);
  DeviceMemory& own() { return *cpus_[0]; }
  DeviceMemory* station(std::uint8_t pc);  // nullptr when it does not exist

  // Network numbers a 3E request may name: 0 is the module's own network, others are
  // reached through it. Unset, every number is taken (the number is not examined).
  bool reaches_network(std::uint8_t network) const;
  void set_networks(std::optional<std::vector<std::uint8_t>> networks) { networks_ = std::move(networks); }
  const std::optional<std::vector<std::uint8_t>>& networks() const { return networks_; }

  bool add_station(std::uint8_t pc);
  bool remove_station(std::uint8_t pc);
  std::vector<std::uint8_t> stations() const;
  bool set_cpu_count(int count);  // 1..kMaxCpus
  int cpu_count() const { return static_cast<int>(cpus_.size()); }
  DeviceMemory* cpu(int number);  // 1-based

  const DeviceSizes& sizes() const { return sizes_; }
  void resize(RegisterType t, std::uint32_t points);
  // The CPU type whose ranges requests are held to (apply_cpu_model); without one, the
  // memory sizes and the A-series 1E ranges apply.
  std::optional<CpuModel> model() const { return model_; }
  void set_model(CpuModel model) { model_ = model; }
  void set_blocks(std::uint8_t blocks);

 private:
  std::string name_;
  DeviceSizes sizes_;
  std::vector<std::unique_ptr<DeviceMemory>> cpus_;
  std::map<std::uint8_t, std::unique_ptr<DeviceMemory>> stations_;
  std::optional<CpuModel> model_;
  std::optional<std::vector<std::uint8_t>> networks_;
};

}  // namespace hbt::mcsim
