// MC protocol code tables: device codes of the 3E and 1E frames and the 1E command codes.
#pragma once

#include <cstdint>

#include "image/layout.h"

namespace hbt::poller {

// 3E device codes (one byte), indexed by register type.
inline constexpr std::uint8_t kQDeviceCodes[16] = {
    0x9C, 0x9D, 0xA0, 0x92, 0x90, 0x93, 0xC0, 0xC1, 0xC2, 0xC3, 0xC4, 0xC5, 0xA8, 0xB4, 0xAF, 0x00};

// 1E device codes, indexed by register type; L shares the code of M.
inline constexpr std::uint16_t kADeviceCodes[16] = {
    0x5820, 0x5920, 0x4220, 0x4D20, 0x4D20, 0x4620, 0x5443, 0x5453,
    0x544E, 0x4343, 0x4353, 0x434E, 0x4420, 0x5720, 0x5220, 0x5220};

// 3E commands and subcommands.
inline constexpr std::uint16_t k3EBatchRead = 0x0401;
inline constexpr std::uint16_t k3EBatchWrite = 0x1401;
inline constexpr std::uint16_t k3EWordUnits = 0x0000;
inline constexpr std::uint16_t k3EBitUnits = 0x0001;

// 1E commands.
inline constexpr std::uint8_t k1EReadBits = 0x00;
inline constexpr std::uint8_t k1EReadWords = 0x01;
inline constexpr std::uint8_t k1EWriteBits = 0x02;
inline constexpr std::uint8_t k1EWriteWords = 0x03;
inline constexpr std::uint8_t k1EReadExtension = 0x17;
inline constexpr std::uint8_t k1EWriteExtension = 0x18;

// 1E completion code that carries an extended error code after it.
inline constexpr std::uint8_t k1EExtendedError = 0x5B;

// Special relays from M9000 up are read point by point on A-series CPUs.
inline constexpr std::uint32_t kBitUnitReadStart = 9000;

constexpr bool reads_in_bit_units(image::RegisterType type, std::uint32_t start) {
  return type == image::RegisterType::M && start >= kBitUnitReadStart;
}

constexpr std::uint8_t read_command_1e(image::RegisterType type, std::uint32_t start) {
  if (type == image::RegisterType::EX) return k1EReadExtension;
  return reads_in_bit_units(type, start) ? k1EReadBits : k1EReadWords;
}

constexpr std::uint8_t write_command_1e(image::RegisterType type) {
  if (type == image::RegisterType::EX) return k1EWriteExtension;
  return image::is_word_device(type) ? k1EWriteWords : k1EWriteBits;
}

constexpr const char* register_type_name(image::RegisterType type) {
  return image::kRegisterTypeNames[static_cast<int>(type) & 0xF];
}

}  // namespace hbt::poller
