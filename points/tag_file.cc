#include "points/tag_file.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>

#include "hostlib/address_text.h"
#include "hostlib/item_id.h"
#include "hostlib/signal_conditioning.h"

namespace hbt::points {
namespace {

bool blank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

// A whole field that is a finite decimal number (blanks around it allowed).
bool number_field(std::string_view text, double* out) {
  std::string s = hostlib::trim(text);
  if (s.empty()) return false;
  errno = 0;
  char* end = nullptr;
  double v = std::strtod(s.c_str(), &end);
  if (end != s.c_str() + s.size() || errno == ERANGE || !std::isfinite(v)) return false;
  *out = v;
  return true;
}

bool integer_field(std::string_view text, long* out) {
  std::string s = hostlib::trim(text);
  if (s.empty() || s.find_first_not_of("0123456789") != std::string::npos || s.size() > 6) return false;
  *out = std::strtol(s.c_str(), nullptr, 10);
  return true;
}

// Splits a line into its item ID and attribute words; false for an unterminated quote.
bool split_line(std::string_view line, std::string* item_id, std::vector<std::string>* words) {
  std::size_t i = 0;
  while (i < line.size() && blank(line[i])) ++i;
  if (i < line.size() && line[i] == '"') {
    std::size_t close = line.find('"', i + 1);
    if (close == std::string_view::npos) return false;
    *item_id = hostlib::trim(line.substr(i + 1, close - i - 1));
    i = close + 1;
    if (i < line.size() && !blank(line[i])) return false;
  } else {
    std::size_t end = i;
    while (end < line.size() && !blank(line[end])) ++end;
    *item_id = std::string(line.substr(i, end - i));
    i = end;
  }
  for (;;) {
    while (i < line.size() && blank(line[i])) ++i;
    if (i >= line.size()) return true;
    std::size_t end = i;
    while (end < line.size() && !blank(line[end])) ++end;
    words->emplace_back(line.substr(i, end - i));
    i = end;
  }
}

}  // namespace

std::string item_id_problem(std::string_view text) {
  const hostlib::ItemId id = hostlib::parse_item_id(text);
  if (id.address.empty()) return "no item ID";
  if (id.address.find('[') != std::string::npos) return "an array is not one point; name its elements";
  const std::string address = hostlib::upper(id.address);
  if (address.size() > hostlib::kAddressTextMax)
    return "the address \"" + id.address + "\" is longer than " + std::to_string(hostlib::kAddressTextMax) + " characters";
  std::size_t sep = std::string::npos;
  for (std::size_t i = 0; i < address.size(); ++i) {
    if (hostlib::is_separator(address[i])) {
      sep = i;
      break;
    }
  }
  if (sep == std::string::npos || sep == 0) return "\"" + id.address + "\" has no device name";
  if (sep > hostlib::kDeviceTextMax) return "the device name of \"" + id.address + "\" is too long";
  const std::string_view rest = std::string_view(address).substr(sep + 1);
  hostlib::RegisterPart part;
  const std::uint8_t kind = id.text_item ? 3 : 5;
  if (rest.size() > hostlib::kRestTextMax || !hostlib::parse_register_part(rest, kind, &part))
    return "\"" + id.address + "\" is not a register address";
  if (id.text_item) {
    long length = 0;
    if (!id.options.empty() && !integer_field(id.options, &length))
      return "the text length \"" + id.options + "\" is not a number";
    if (length > kTextLengthMax) return "a text is at most " + std::to_string(kTextLengthMax) + " characters";
    return "";
  }
  if (!id.has_options) return "";
  const hostlib::OptionFields f = hostlib::split_option_fields(id.options);
  if (!f.signal_conditioning.empty() &&
      hostlib::find_sig_cond(hostlib::upper(f.signal_conditioning).c_str()) == hostlib::kSigUnknown)
    return "unknown signal conditioning \"" + f.signal_conditioning + "\"";
  double low = 0, high = 65535;
  if (f.has_low && !number_field(f.low, &low)) return "the low limit \"" + f.low + "\" is not a number";
  if (f.has_high && !number_field(f.high, &high)) return "the high limit \"" + f.high + "\" is not a number";
  if (part.kind == 1 && !(high > low)) return "the engineering range is empty (high must be above low)";
  if (hostlib::trim(f.units).size() > kTagUnitsMax)
    return "units are at most " + std::to_string(kTagUnitsMax) + " characters";
  return "";
}

bool parse_tag_text(std::string_view text, const std::string& name, TagFile* out, std::string* error) {
  TagFile file;
  std::map<std::string, int> seen;
  int number = 0;
  std::size_t at = 0;
  while (at <= text.size()) {
    std::size_t end = text.find('\n', at);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(at, end - at);
    at = end + 1;
    ++number;
    auto fail = [&](const std::string& reason) {
      *error = name + ":" + std::to_string(number) + ": " + reason;
      return false;
    };
    if (line.size() > kTagLineMax) return fail("the line is longer than " + std::to_string(kTagLineMax) + " characters");
    if (line.find('\0') != std::string_view::npos) return fail("the line holds a NUL character");
    std::string trimmed = hostlib::trim(line);
    if (trimmed.empty() || trimmed[0] == '#') {
      if (end == text.size()) break;
      continue;
    }
    TagLine tag;
    tag.line = number;
    std::vector<std::string> words;
    if (!split_line(line, &tag.item_id, &words)) return fail("a quoted item ID is not closed");
    if (std::string problem = item_id_problem(tag.item_id); !problem.empty()) return fail(problem);
    for (const std::string& w : words) {
      if (w == "readonly") {
        tag.readonly = true;
      } else if (w.rfind("deadband=", 0) == 0) {
        if (!number_field(std::string_view(w).substr(9), &tag.deadband) || tag.deadband < 0)
          return fail("the dead band \"" + w.substr(9) + "\" is not a number of 0 or more");
        tag.has_deadband = true;
      } else if (w.rfind("units=", 0) == 0) {
        tag.units = w.substr(6);
        if (tag.units.size() > kTagUnitsMax)
          return fail("units are at most " + std::to_string(kTagUnitsMax) + " characters");
        tag.has_units = true;
      } else {
        return fail("unknown attribute \"" + w + "\" (deadband=, units= or readonly)");
      }
    }
    if (tag.has_units) {
      const hostlib::ItemId id = hostlib::parse_item_id(tag.item_id);
      if (id.has_options && !id.text_item && !hostlib::trim(hostlib::split_option_fields(id.options).units).empty())
        return fail("units are given twice, in the item ID and as an attribute");
    }
    auto [it, fresh] = seen.emplace(tag.item_id, number);
    if (!fresh) return fail("\"" + tag.item_id + "\" is already on line " + std::to_string(it->second));
    file.lines.push_back(std::move(tag));
    if (end == text.size()) break;
  }
  *out = std::move(file);
  return true;
}

bool read_tag_file(const std::string& path, TagFile* out, std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    *error = path + ": " + std::strerror(errno);
    return false;
  }
  std::ostringstream text;
  text << in.rdbuf();
  if (in.bad()) {
    *error = path + ": cannot be read";
    return false;
  }
  return parse_tag_text(text.str(), path, out, error);
}

}  // namespace hbt::points
