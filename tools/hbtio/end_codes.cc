#include "tools/hbtio/end_codes.h"

#include <cstdio>

namespace hbt::hbtio {

namespace {

constexpr std::uint8_t kCompletionNeedsExtended = 0x5B;
constexpr std::uint8_t kExtendedNoSuchPc = 0x10;

}  // namespace

std::string end_code_text(std::uint16_t code) {
  switch (code) {
    case 0xC050: return "the module was sent ASCII text that is not hexadecimal";
    case 0xC051: return "the number of points is outside what one request may carry";
    case 0xC056: return "the range asked for runs past the last device of the CPU";
    case 0xC058: return "the ASCII data length does not match the request";
    case 0xC059: return "the command or subcommand is not supported";
    case 0xC05B: return "the CPU does not know the device code";
    case 0xC05C: return "bit units were asked of a word device";
    case 0xC05F: return "the request names a network, PC number or CPU the module cannot reach";
    case 0xC060: return "bit data other than 0 and 1";
    case 0xC061: return "the request data length is wrong";
    case 0x4031: return "the device range is outside the CPU's";
  }
  char text[80];
  std::snprintf(text, sizeof text, "end code 0x%04X (see the Ethernet module's manual)", code);
  return text;
}

std::string completion_code_text(std::uint8_t code, std::uint8_t extended) {
  switch (code) {
    case 0x50: return "the command code is not supported";
    case 0x54: return "ASCII text that cannot be converted";
    case 0x56: return "the CPU does not know the device code";
    case 0x57: return "the number of points is wrong or the range runs past the last device";
    case 0x58: return "the head device is outside the CPU's range";
    case kCompletionNeedsExtended:
      if (extended == kExtendedNoSuchPc) return "there is no PLC with that PC number";
      break;
  }
  char text[96];
  if (code == kCompletionNeedsExtended)
    std::snprintf(text, sizeof text, "the CPU cannot process the request (extended code 0x%02X)", extended);
  else
    std::snprintf(text, sizeof text, "completion code 0x%02X (see the Ethernet module's manual)", code);
  return text;
}

bool is_range_end_code(std::uint16_t code) { return code == 0xC051 || code == 0xC056 || code == 0x4031; }
bool is_range_completion_code(std::uint8_t code) { return code == 0x57 || code == 0x58; }
bool is_station_end_code(std::uint16_t code) { return code == 0xC05F; }
bool is_station_completion_code(std::uint8_t code, std::uint8_t extended) {
  return code == kCompletionNeedsExtended && extended == kExtendedNoSuchPc;
}

}  // namespace hbt::hbtio
