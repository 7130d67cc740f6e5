// Device memory of a simulated PLC.
#include "tools/mcsim/device_memory.h"

#include <algorithm>

namespace hbt::mcsim {

DeviceSizes DeviceSizes::defaults() {
  // A Q-series CPU with generous device settings; A-series ranges are applied by the 1E
  // frame code on top of these.
  DeviceSizes s{};
  auto set = [&s](RegisterType t, std::uint32_t n) { s.points[type_index(t)] = n; };
  set(RegisterType::X, 8192);
  set(RegisterType::Y, 8192);
  set(RegisterType::B, 8192);
  set(RegisterType::L, 8192);
  set(RegisterType::M, 16384);
  set(RegisterType::F, 2048);
  set(RegisterType::TC, 2048);
  set(RegisterType::TS, 2048);
  set(RegisterType::TN, 2048);
  set(RegisterType::CC, 1024);
  set(RegisterType::CS, 1024);
  set(RegisterType::CN, 1024);
  set(RegisterType::D, 12288);
  set(RegisterType::W, 8192);
  set(RegisterType::R, 32768);
  set(RegisterType::EX, 8192);
  s.ex_blocks = 8;
  return s;
}

DeviceMemory::DeviceMemory(const DeviceSizes& sizes) : sizes_(sizes) {
  for (int i = 0; i < kRegisterTypeCount; ++i) {
    auto t = static_cast<RegisterType>(i);
    if (t == RegisterType::EX) continue;
    if (is_bit_device(t)) {
      bits_[i].assign(sizes.points[i], 0);
    } else {
      words_[i].assign(sizes.points[i], 0);
    }
  }
}

void DeviceMemory::resize(RegisterType t, std::uint32_t points) {
  int i = type_index(t);
  sizes_.points[i] = points;
  if (t == RegisterType::EX) {
    for (auto& [block, words] : blocks_) words.resize(points, 0);
  } else if (is_bit_device(t)) {
    bits_[i].resize(points, 0);
  } else {
    words_[i].resize(points, 0);
  }
}

void DeviceMemory::set_blocks(std::uint8_t blocks) {
  sizes_.ex_blocks = blocks;
  std::erase_if(blocks_, [blocks](const auto& kv) { return kv.first > blocks; });
}

bool DeviceMemory::bit(RegisterType t, std::uint32_t n) const {
  if (is_bit_device(t)) {
    const auto& v = bits_[type_index(t)];
    return n < v.size() && v[n] != 0;
  }
  return false;
}

namespace {
DeviceMemory::WriteObserver write_observer = nullptr;
}  // namespace

void DeviceMemory::set_write_observer(WriteObserver observer) { write_observer = observer; }

void DeviceMemory::set_bit(RegisterType t, std::uint32_t n, bool on) {
  if (!is_bit_device(t)) return;
  auto& v = bits_[type_index(t)];
  if (n >= v.size() || v[n] == (on ? 1 : 0)) return;
  v[n] = on ? 1 : 0;
  if (write_observer) write_observer(t, n, 0, on ? 1 : 0);
}

const std::vector<std::uint16_t>* DeviceMemory::words_of(RegisterType t,
                                                         std::uint8_t block) const {
  if (t == RegisterType::EX) {
    auto it = blocks_.find(block);
    return it == blocks_.end() ? nullptr : &it->second;
  }
  return &words_[type_index(t)];
}

std::vector<std::uint16_t>* DeviceMemory::words_of(RegisterType t, std::uint8_t block) {
  if (t == RegisterType::EX) {
    if (!has_block(block)) return nullptr;
    auto [it, inserted] = blocks_.try_emplace(block);
    if (inserted) it->second.assign(size(RegisterType::EX), 0);
    return &it->second;
  }
  return &words_[type_index(t)];
}

std::uint16_t DeviceMemory::word(RegisterType t, std::uint32_t n, std::uint8_t block) const {
  if (is_bit_device(t)) {
    std::uint16_t w = 0;
    for (int k = 0; k < 16; ++k) {
      if (bit(t, n + k)) w |= static_cast<std::uint16_t>(1u << k);
    }
    return w;
  }
  const auto* v = words_of(t, block);
  return v != nullptr && n < v->size() ? (*v)[n] : 0;
}

void DeviceMemory::set_word(RegisterType t, std::uint32_t n, std::uint16_t value,
                            std::uint8_t block) {
  if (is_bit_device(t)) {
    for (int k = 0; k < 16; ++k) set_bit(t, n + k, (value >> k) & 1);
    return;
  }
  auto* v = words_of(t, block);
  if (v == nullptr || n >= v->size() || (*v)[n] == value) return;
  (*v)[n] = value;
  if (write_observer) write_observer(t, n, block, value);
}

Plc::Plc(std::string name, DeviceSizes sizes) : name_(std::move(name)), sizes_(sizes) {
  cpus_.push_back(std::make_unique<DeviceMemory>(sizes_));
}

Route Plc::route(std::uint8_t pc, std::uint16_t module_io, DeviceMemory** memory) {
  *memory = nullptr;
  if (pc == kOwnStation) {
    if (module_io == kOwnCpuIo) {
      *memory = cpus_[0].get();
      return Route::kOk;
    }
    int number = module_io - kFirstMultiCpuIo + 1;
    if (module_io >= kFirstMultiCpuIo && number <= cpu_count()) {
      *memory = cpus_[number - 1].get();
      return Route::kOk;
    }
    return Route::kNoModule;
  }
  DeviceMemory* s = station(pc);
  if (s == nullptr) return Route::kNoStation;
  // A station is a single CPU: it answers as itself or as CPU No.1 only.
  if (module_io != kOwnCpuIo && module_io != kFirstMultiCpuIo) return Route::kNoModule;
  *memory = s;
  return Route::kOk;
}

DeviceMemory* Plc::station(std::uint8_t pc) {
  if (pc == kOwnStation) return cpus_[0].get();
  auto it = stations_.find(pc);
  return it == stations_.end() ? nullptr : it->second.get();
}

bool Plc::add_station(std::uint8_t pc) {
  if (pc == kOwnStation) return false;
  auto [it, inserted] = stations_.try_emplace(pc);
  if (inserted) it->second = std::make_unique<DeviceMemory>(sizes_);
  return inserted;
}

bool Plc::reaches_network(std::uint8_t network) const {
  return !networks_ || std::find(networks_->begin(), networks_->end(), network) != networks_->end();
}

bool Plc::remove_station(std::uint8_t pc) { return stations_.erase(pc) > 0; }

std::vector<std::uint8_t> Plc::stations() const {
  std::vector<std::uint8_t> out;
  for (const auto& [pc, mem] : stations_) out.push_back(pc);
  return out;
}

bool Plc::set_cpu_count(int count) {
  if (count < 1 || count > kMaxCpus) return false;
  while (cpu_count() < count) cpus_.push_back(std::make_unique<DeviceMemory>(sizes_));
  cpus_.resize(count);
  return true;
}

DeviceMemory* Plc::cpu(int number) {
  return number >= 1 && number <= cpu_count() ? cpus_[number - 1].get() : nullptr;
}

void Plc::resize(RegisterType t, std::uint32_t points) {
  sizes_.points[type_index(t)] = points;
  for (auto& c : cpus_) c->resize(t, points);
  for (auto& [pc, s] : stations_) s->resize(t, points);
}

void Plc::set_blocks(std::uint8_t blocks) {
  sizes_.ex_blocks = blocks;
  for (auto& c : cpus_) c->set_blocks(blocks);
  for (auto& [pc, s] : stations_) s->set_blocks(blocks);
}

}  // namespace hbt::mcsim
