// Register types as the editor types them: prefixes, number bases, ranges by CPU,
// address text parsing and the display form of an address.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "editor/messages.h"
#include "image/layout.h"

namespace hbt::editor {

using image::RegisterType;

struct RegisterInfo {
  const char* prefix;
  bool word_device;
  bool hexadecimal;
  std::uint32_t max_ann;    // CPU "AnN/AnS"
  std::uint32_t max_other;  // any other CPU
};

inline constexpr std::uint32_t kMExtendedLow = 9000;   // M 9000..9255: special relays
inline constexpr std::uint32_t kMExtendedHigh = 9255;
inline constexpr std::size_t kMaxAddressToken = 10;

const RegisterInfo& register_info(RegisterType type);

struct ParsedAddress {
  RegisterType type = RegisterType::X;
  std::uint32_t address = 0;
  std::uint8_t ex_number = 0;
};

// Parses "D:100", "x.1f", "EX:3:200" (any of , . : ; separates). The text is read in upper
// case. Fails with "Invalid Register Type", "Invalid Address - Incorrect format." or the
// number-base message.
Message parse_address(std::string_view text, ParsedAddress* out);

// Bit devices start on a multiple of 16, except M 9000..9255; word devices are not rounded.
std::uint32_t round_start(RegisterType type, std::uint32_t address);
bool is_extended_m(RegisterType type, std::uint32_t address);

// The range message for an address outside its register type's range on this CPU.
Message check_range(RegisterType type, std::uint32_t address, bool ann_cpu);

// "%s:%X" (X, Y, B, W), "%s:%d:%d" (EX), "%s:%d" otherwise.
std::string format_address(RegisterType type, std::uint32_t address, std::uint8_t ex_number);

}  // namespace hbt::editor
