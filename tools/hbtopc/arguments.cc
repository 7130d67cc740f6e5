#include "arguments.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>

namespace hbt::hbtopc {

bool parse_arguments(const std::vector<std::string>& args, const std::set<std::string>& value_options,
                     const std::set<std::string>& flag_options, CommandArguments* out, std::string* error) {
  bool options_end = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    // "-5" is a value to write, not an option: options start with two dashes.
    if (options_end || a.size() < 3 || a.compare(0, 2, "--") != 0) {
      if (!options_end && a == "--") {
        options_end = true;
        continue;
      }
      out->positional.push_back(a);
      continue;
    }
    std::string name = a, value;
    bool inline_value = false;
    if (auto eq = a.find('='); eq != std::string::npos) {
      name = a.substr(0, eq);
      value = a.substr(eq + 1);
      inline_value = true;
    }
    if (value_options.count(name)) {
      if (!inline_value) {
        if (i + 1 >= args.size()) {
          *error = name + " needs a value";
          return false;
        }
        value = args[++i];
      }
      out->values[name] = value;
    } else if (flag_options.count(name) && !inline_value) {
      out->flags.insert(name);
    } else {
      *error = "unknown option " + a;
      return false;
    }
  }
  return true;
}

bool parse_count(const std::string& text, unsigned long minimum, unsigned long maximum, unsigned long* out) {
  if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) return false;
  errno = 0;
  const unsigned long v = std::strtoul(text.c_str(), nullptr, 10);
  if (errno != 0 || v < minimum || v > maximum) return false;
  *out = v;
  return true;
}

bool parse_decimal(const std::string& text, double minimum, double maximum, double* out) {
  if (text.empty()) return false;
  char* end = nullptr;
  const double v = std::strtod(text.c_str(), &end);
  if (end != text.c_str() + text.size() || !std::isfinite(v) || v < minimum || v > maximum) return false;
  *out = v;
  return true;
}

}  // namespace hbt::hbtopc
