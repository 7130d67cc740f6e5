#include "hostlib/address_text.h"

#include <cstdio>
#include <cstring>
#include <limits>

namespace hbt::hostlib {

using image::RegisterType;

namespace {

constexpr std::size_t npos = std::string_view::npos;

bool hexadecimal_offset(RegisterType t) {
  return t == RegisterType::X || t == RegisterType::Y || t == RegisterType::B || t == RegisterType::W;
}

std::size_t skip_whitespace(std::string_view s, std::size_t i) {
  while (i < s.size() && is_whitespace(s[i])) ++i;
  return i;
}

std::size_t find_separator(std::string_view s, std::size_t i) {
  for (; i < s.size(); ++i)
    if (is_separator(s[i])) return i;
  return npos;
}

// atoi/atol: blanks, a sign, then digits up to the first other character; 0 without digits.
// Saturates instead of overflowing.
std::int64_t leading_number(std::string_view s) {
  std::size_t i = skip_whitespace(s, 0);
  bool negative = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
  std::int64_t value = 0;
  for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) {
    if (value < std::numeric_limits<std::int32_t>::max()) value = value * 10 + (s[i] - '0');
  }
  return negative ? -value : value;
}

// Every character must be a hexadecimal digit, and there must be one; the value must fit 24
// bits.
bool hexadecimal(std::string_view s, std::uint32_t* out) {
  if (s.empty()) return false;
  std::uint32_t value = 0;
  for (char c : s) {
    unsigned d;
    if (c >= '0' && c <= '9')
      d = static_cast<unsigned>(c - '0');
    else if (c >= 'A' && c <= 'F')
      d = static_cast<unsigned>(c - 'A' + 10);
    else
      return false;
    value = value << 4 | d;
    if (value > 0xFFFFFF) return false;
  }
  *out = value;
  return true;
}

// A decimal field as atol reads it (blanks, a sign, digits), except that the digits must be
// there and nothing may follow them but the end of the text or one of `ends`: "D:1A" is no
// D1 and "EX:2X:300" no block 2. "[" may end the offset, where an OPC item ID gives its array
// size ("PLC1:D:100[10]").
bool decimal_field(std::string_view s, const char* ends, std::int64_t* value) {
  std::size_t i = skip_whitespace(s, 0);
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
  const std::size_t digits = i;
  while (i < s.size() && s[i] >= '0' && s[i] <= '9') ++i;
  if (i == digits) return false;
  if (i < s.size() && (s[i] == '\0' || std::strchr(ends, s[i]) == nullptr)) return false;
  *value = leading_number(s);
  return true;
}

// The bit number after the separator that ends the offset: 0 when nothing follows it.
bool bit_number(std::string_view text, std::size_t separator, std::uint8_t* bit) {
  std::string_view field = text.substr(separator + 1);
  std::int64_t n = 0;
  if (skip_whitespace(field, 0) < field.size() && !decimal_field(field, "[", &n)) return false;
  if (n < 0 || n > 15) return false;
  *bit = static_cast<std::uint8_t>(n);
  return true;
}

// The register name is the whole text before its separator, exactly one of the sixteen names.
// A name the driver does not know ("Q", "C", "SM", "ZR"), one with letters after it ("DX",
// "LW") or one after a blank would otherwise be read as another register.
bool register_named(std::string_view name, RegisterType* type) {
  for (int t = 0; t < 16; ++t) {
    if (name == image::kRegisterTypeNames[t]) {
      *type = static_cast<RegisterType>(t);
      return true;
    }
  }
  return false;
}

}  // namespace

bool is_separator(char c) { return c != '\0' && std::strchr(":;,./ ", c) != nullptr; }

bool is_whitespace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

bool parse_register_part(std::string_view rest, std::uint8_t kind, RegisterPart* out) {
  // Blanks at the end separate nothing: "D:100 " is the word D100, not bit 0 of it.
  while (!rest.empty() && is_whitespace(rest.back())) rest.remove_suffix(1);
  RegisterPart part;
  part.kind = kind;
  std::size_t sep = find_separator(rest, skip_whitespace(rest, 0));
  if (sep == npos || !register_named(rest.substr(0, sep), &part.type)) return false;
  if (part.type == RegisterType::EX) {
    const std::size_t from = sep + 1;
    sep = find_separator(rest, skip_whitespace(rest, from));
    std::int64_t ex = 0;
    if (sep == npos || !decimal_field(rest.substr(from, sep - from), "", &ex)) return false;
    if (ex < 0 || ex > 255) return false;
    part.ex_number = static_cast<std::uint8_t>(ex);
  }
  std::string_view offset_text = rest.substr(sep + 1);

  const bool word = image::is_word_device(part.type);
  // The separator after the offset, which a bit number follows.
  std::size_t bit_sep = find_separator(offset_text, skip_whitespace(offset_text, 0));
  if (word && kind == 5) part.kind = bit_sep == npos ? 1 : 2;
  if (!word && kind == 5) part.kind = 2;

  if (part.type == RegisterType::W && part.kind == 2) {
    if (bit_sep == npos) return false;
    std::size_t from = skip_whitespace(offset_text, 0);
    if (!hexadecimal(offset_text.substr(from, bit_sep - from), &part.offset)) return false;
  } else if (hexadecimal_offset(part.type)) {
    if (!hexadecimal(offset_text, &part.offset)) return false;
  } else {
    std::int64_t offset = 0;
    if (!decimal_field(offset_text, ":;,./ [", &offset) || offset < 0 || offset > 0xFFFFFF) return false;
    part.offset = static_cast<std::uint32_t>(offset);
  }

  if (word && part.kind == 2) {
    if (bit_sep == npos || !bit_number(offset_text, bit_sep, &part.bit)) return false;
  }
  *out = part;
  return true;
}

std::uint32_t register_word(const RegisterPart& part) {
  return static_cast<std::uint32_t>(part.type) << 28 | std::uint32_t{part.bit} << 24 | (part.offset & 0xFFFFFF);
}

std::string display_address(std::string_view device, std::uint32_t reg, std::uint8_t ex_number, std::uint8_t kind) {
  auto type = static_cast<RegisterType>(reg >> 28);
  const char* name = image::kRegisterTypeNames[reg >> 28];
  unsigned offset = reg & 0xFFFFFF;
  std::string dev(device);
  char text[96];
  if (hexadecimal_offset(type))
    std::snprintf(text, sizeof text, "%s:%s:%X", dev.c_str(), name, offset);
  else if (type == RegisterType::EX)
    std::snprintf(text, sizeof text, "%s:%s:%d:%u", dev.c_str(), name, ex_number, offset);
  else
    std::snprintf(text, sizeof text, "%s:%s:%u", dev.c_str(), name, offset);
  std::string out = text;
  if (kind == 2 && image::is_word_device(type)) out += ":" + std::to_string((reg >> 24) & 0xF);
  return out;
}

std::string range_text(std::uint32_t address_word, std::uint32_t length, std::uint8_t ex_number) {
  auto type = image::address_register_type(address_word);
  const char* name = image::kRegisterTypeNames[address_word >> 28];
  unsigned a = image::address_start(address_word);
  unsigned e = a + length - 1;
  char text[128];
  if (hexadecimal_offset(type))
    std::snprintf(text, sizeof text, "%s:%X - %s:%X", name, a, name, e);
  else if (type == RegisterType::EX)
    std::snprintf(text, sizeof text, "%s:%d:%u - %s:%d:%u", name, ex_number, a, name, ex_number, e);
  else
    std::snprintf(text, sizeof text, "%s:%u - %s:%u", name, a, name, e);
  return text;
}

}  // namespace hbt::hostlib
