#include "hostlib/item_id.h"

#include <cctype>
#include <cstdlib>

namespace hbt::hostlib {

std::string trim(std::string_view text) {
  auto space = [](char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; };
  while (!text.empty() && space(text.front())) text.remove_prefix(1);
  while (!text.empty() && space(text.back())) text.remove_suffix(1);
  return std::string(text);
}

std::string upper(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

long leading_integer(std::string_view text) {
  std::string copy(text);  // bounded: strtol stops at the terminating zero at the latest
  return std::strtol(copy.c_str(), nullptr, 10);
}

double leading_number(std::string_view text) {
  std::string copy(text);
  return std::strtod(copy.c_str(), nullptr);
}

ItemId parse_item_id(std::string_view raw) {
  ItemId id;
  std::string text = trim(raw);
  // A separator in the first position counts as none.
  std::size_t sep = text.size() > 1 ? text.find_first_of("|$;", 1) : std::string::npos;
  if (sep != std::string::npos) {
    id.address = text.substr(0, sep);
    id.options = text.substr(sep + 1);
    id.has_options = true;
    id.text_item = text[sep] == '$';
  } else {
    id.address = text;
  }
  std::size_t bracket = text.size() > 1 ? text.find('[', 1) : std::string::npos;
  if (bracket != std::string::npos) id.array_size = leading_integer(std::string_view(text).substr(bracket + 1));
  return id;
}

OptionFields split_option_fields(std::string_view options) {
  OptionFields f;
  std::string* fields[] = {&f.signal_conditioning, &f.low, &f.high, &f.hardware_options};
  std::size_t start = 0;
  for (int i = 0; i < 4; ++i) {
    std::size_t comma = options.find(',', start);
    *fields[i] = std::string(options.substr(start, comma == std::string_view::npos ? std::string_view::npos : comma - start));
    if (comma == std::string_view::npos) {
      start = options.size() + 1;
      break;
    }
    start = comma + 1;
  }
  // Everything after the fourth comma is the units field.
  if (start <= options.size()) f.units = std::string(options.substr(start));
  f.has_low = !f.low.empty();
  f.has_high = !f.high.empty();
  return f;
}

}  // namespace hbt::hostlib
