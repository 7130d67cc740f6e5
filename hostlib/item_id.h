// The grammar of an item ID, shared by the OPC server and the network services' points: an
// I/O address of the host library, optionally followed by one separator ("|", "$" or ";")
// and option text. "$" makes a text item. Option text of analog and digital items carries up
// to five comma-separated fields; that of text items the length.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace hbt::hostlib {

struct ItemId {
  std::string address;  // as written (the bracket of an array size stays in it)
  bool has_options = false;
  std::string options;  // after the separator
  bool text_item = false;
  long array_size = 0;  // the number after the first "[" past the first character; 0 when none
};

// Trims white space at both ends, then splits.
ItemId parse_item_id(std::string_view text);

struct OptionFields {
  std::string signal_conditioning, low, high, hardware_options, units;
  // Which fields the text gave (non-empty); the others take the defaults.
  bool has_low = false, has_high = false;
};

// The five fields of analog/digital option text; missing or empty fields stay empty.
OptionFields split_option_fields(std::string_view options);

// `atoi`/`atol`/`atof` readings that never run past the text.
long leading_integer(std::string_view text);
double leading_number(std::string_view text);

std::string trim(std::string_view text);
std::string upper(std::string_view text);

}  // namespace hbt::hostlib
