// Register-type table and address text handling.
#include "editor/address.h"

#include <cstdio>
#include <vector>

#include "editor/number_text.h"

namespace hbt::editor {

namespace {

constexpr RegisterInfo kRegisters[16] = {
    {"X", false, true, 0xFFFF, 0xFFFFFF},   {"Y", false, true, 0xFFFF, 0xFFFFFF},
    {"B", false, true, 0xFFFF, 0xFFFFFF},   {"L", false, false, 9999, 999999},
    {"M", false, false, 2047, 8191},        {"F", false, false, 9999, 999999},
    {"TC", false, false, 991, 99999},       {"TS", false, false, 991, 99999},
    {"TN", true, false, 999, 99999},        {"CC", false, false, 991, 99999},
    {"CS", false, false, 991, 99999},       {"CN", true, false, 999, 99999},
    {"D", true, false, 9999, 999999},       {"W", true, true, 0xFFFF, 0xFFFFFF},
    {"R", true, false, 9999, 999999},       {"EX", true, false, 999999, 999999},
};

bool is_separator(char c) { return c == ',' || c == '.' || c == ':' || c == ';'; }

std::vector<std::string_view> split_tokens(std::string_view text) {
  std::vector<std::string_view> tokens;
  std::size_t start = 0;
  for (std::size_t i = 0; i <= text.size(); ++i) {
    if (i == text.size() || is_separator(text[i])) {
      tokens.push_back(text.substr(start, i - start));
      start = i + 1;
    }
  }
  return tokens;
}

bool parse_number(std::string_view token, bool hexadecimal, std::uint64_t* value) {
  std::uint64_t v = 0;
  for (char c : token) {
    int digit;
    if (c >= '0' && c <= '9') {
      digit = c - '0';
    } else if (hexadecimal && c >= 'A' && c <= 'F') {
      digit = c - 'A' + 10;
    } else {
      return false;
    }
    v = v * (hexadecimal ? 16 : 10) + static_cast<std::uint64_t>(digit);
  }
  *value = v;
  return true;
}

}  // namespace

const RegisterInfo& register_info(RegisterType type) {
  return kRegisters[static_cast<std::size_t>(type) & 15];
}

Message parse_address(std::string_view raw, ParsedAddress* out) {
  std::string text = to_upper(trim_blanks(raw));
  std::vector<std::string_view> tokens = split_tokens(text);
  int type = -1;
  for (int t = 0; t < 16; ++t) {
    if (tokens[0].starts_with(kRegisters[t].prefix)) {
      type = t;
      break;
    }
  }
  if (type < 0) return message(kMsgInvalidRegisterType);
  for (std::string_view token : tokens) {
    if (token.size() > kMaxAddressToken) return message(kMsgIncorrectFormat);
  }
  const RegisterInfo& info = kRegisters[type];
  ParsedAddress parsed;
  parsed.type = static_cast<RegisterType>(type);
  std::size_t address_index = 1;
  if (parsed.type == RegisterType::EX) {
    address_index = 2;
    if (tokens.size() < 2 || tokens[1].empty()) return message(kMsgIncorrectFormat);
    std::uint64_t ex = 0;
    if (!parse_number(tokens[1], false, &ex)) return message(kMsgUseDecimal);
    if (ex > 0xFF) return message(kMsgIncorrectFormat);
    parsed.ex_number = static_cast<std::uint8_t>(ex);
  }
  // An empty address, or one followed by another separator, is malformed.
  if (tokens.size() != address_index + 1 || tokens[address_index].empty()) {
    return message(kMsgIncorrectFormat);
  }
  std::uint64_t address = 0;
  if (!parse_number(tokens[address_index], info.hexadecimal, &address)) {
    return message(info.hexadecimal ? kMsgUseHexadecimal : kMsgUseDecimal);
  }
  parsed.address = address > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<std::uint32_t>(address);
  *out = parsed;
  return accepted();
}

bool is_extended_m(RegisterType type, std::uint32_t address) {
  return type == RegisterType::M && address >= kMExtendedLow;
}

std::uint32_t round_start(RegisterType type, std::uint32_t address) {
  if (register_info(type).word_device || is_extended_m(type, address)) return address;
  return address & ~std::uint32_t{15};
}

Message check_range(RegisterType type, std::uint32_t address, bool ann_cpu) {
  const RegisterInfo& info = register_info(type);
  std::uint32_t max = ann_cpu ? info.max_ann : info.max_other;
  char buffer[160];
  if (type == RegisterType::M) {
    if (address <= max || (address >= kMExtendedLow && address <= kMExtendedHigh)) return accepted();
    unsigned long a1 = 0, b1 = max, a2 = kMExtendedLow, b2 = kMExtendedHigh;
    if (address >= kMExtendedLow) std::swap(a1, a2), std::swap(b1, b2);
    std::snprintf(buffer, sizeof buffer, message_text(kMsgRangeM).data(), a1, b1, a2, b2);
    return Message{kMsgRangeM, buffer};
  }
  if (address <= max) return accepted();
  if (info.hexadecimal) {
    std::snprintf(buffer, sizeof buffer, message_text(kMsgRangeHex).data(), 0ul,
                  static_cast<unsigned long>(max));
    return Message{kMsgRangeHex, buffer};
  }
  std::snprintf(buffer, sizeof buffer, message_text(kMsgRange).data(), 0ul,
                static_cast<unsigned long>(max));
  return Message{kMsgRange, buffer};
}

std::string format_address(RegisterType type, std::uint32_t address, std::uint8_t ex_number) {
  const RegisterInfo& info = register_info(type);
  char buffer[48];
  if (type == RegisterType::EX) {
    std::snprintf(buffer, sizeof buffer, "%s:%d:%d", info.prefix, ex_number,
                  static_cast<int>(address));
  } else if (info.hexadecimal) {
    std::snprintf(buffer, sizeof buffer, "%s:%X", info.prefix, address);
  } else {
    std::snprintf(buffer, sizeof buffer, "%s:%d", info.prefix, static_cast<int>(address));
  }
  return buffer;
}

}  // namespace hbt::editor
