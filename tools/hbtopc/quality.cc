#include "quality.h"

#include <cstdio>

namespace hbt::hbtopc {

namespace {

const char* substatus_name(unsigned quality_and_substatus) {
  switch (quality_and_substatus) {
    case 0x00: return "bad";
    case 0x04: return "bad_config_error";
    case 0x08: return "bad_not_connected";
    case 0x0C: return "bad_device_failure";
    case 0x10: return "bad_sensor_failure";
    case 0x14: return "bad_last_known_value";
    case 0x18: return "bad_comm_failure";
    case 0x1C: return "bad_out_of_service";
    case 0x20: return "bad_waiting_for_initial_data";
    case 0x40: return "uncertain";
    case 0x44: return "uncertain_last_usable_value";
    case 0x50: return "uncertain_sensor_not_accurate";
    case 0x54: return "uncertain_eu_exceeded";
    case 0x58: return "uncertain_sub_normal";
    case 0xC0: return "good";
    case 0xD8: return "good_local_override";
  }
  return nullptr;
}

}  // namespace

std::string quality_name(std::uint16_t quality) {
  const unsigned low = quality & 0xFF;
  std::string name;
  if (const char* known = substatus_name(low & 0xFC)) {
    name = known;
  } else {
    // A substatus OPC leaves undefined: keep the quality class and show the bits.
    const unsigned cls = low & 0xC0;
    char text[40];
    std::snprintf(text, sizeof text, "%s_substatus_%u", cls == 0xC0 ? "good" : cls == 0x40 ? "uncertain" : "bad",
                  (low >> 2) & 0x0F);
    name = text;
    if (cls == 0x80) name = "invalid_" + name.substr(4);  // 0x80..0xBF is no OPC quality at all
  }
  switch (low & 0x03) {
    case 1: name += "+low"; break;
    case 2: name += "+high"; break;
    case 3: name += "+constant"; break;
  }
  return name;
}

}  // namespace hbt::hbtopc
