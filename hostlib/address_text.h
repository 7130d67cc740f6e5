// The I/O address text of a point ("PLC1:D:100", "PLC1:W:1A:5", "PLC1:EX:2:300") and its
// display form. Pure text work: finding the device and the poll record is resolution's job.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "image/layout.h"

namespace hbt::hostlib {

inline constexpr std::size_t kAddressTextMax = 31;  // characters of a whole address
inline constexpr std::size_t kDeviceTextMax = 13;   // before the first separator
inline constexpr std::size_t kRestTextMax = 19;     // after it

bool is_separator(char c);   // one of ":;,./ "
bool is_whitespace(char c);  // blank, tab, line feed, vertical tab, form feed, return

// The register part of an address: what follows the first separator, upper-cased.
struct RegisterPart {
  image::RegisterType type = image::RegisterType::X;
  std::uint8_t ex_number = 0;
  std::uint32_t offset = 0;  // 24 bits
  std::uint8_t bit = 0;      // 0..15, digital access to a word device
  std::uint8_t kind = 0;     // the kind the point ends up with (5 becomes 1 or 2)
};

// False for text that does not follow the grammar, for a register name other than exactly
// one of the sixteen, for numbers without digits or with other characters after them, and
// for numbers beyond their fields (EX number 8 bits, bit number 0..15, offset 24 bits).
bool parse_register_part(std::string_view rest, std::uint8_t kind, RegisterPart* out);

std::uint32_t register_word(const RegisterPart& part);

// Display text of a defined point: "PLC1:D:100", "PLC1:X:1F", "PLC1:EX:2:300", with ":bit"
// for digital access to a word device.
std::string display_address(std::string_view device, std::uint32_t register_word, std::uint8_t ex_number,
                            std::uint8_t kind);

// Range text of a poll record for enumeration: "D:0 - D:99", "X:0 - X:1FF", "EX:3:0 - EX:3:49".
std::string range_text(std::uint32_t address_word, std::uint32_t length, std::uint8_t ex_number);

}  // namespace hbt::hostlib
