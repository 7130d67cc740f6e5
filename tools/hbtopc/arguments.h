// The options of one command: which take a value, which stand alone; "--" ends them.
#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

namespace hbt::hbtopc {

struct CommandArguments {
  std::vector<std::string> positional;
  std::map<std::string, std::string> values;
  std::set<std::string> flags;

  bool has(const std::string& name) const { return flags.count(name) || values.count(name); }
};

// False with *error for an unknown option or one that lacks its value.
bool parse_arguments(const std::vector<std::string>& args, const std::set<std::string>& value_options,
                     const std::set<std::string>& flag_options, CommandArguments* out, std::string* error);

// A decimal number in [minimum, maximum], the whole text; false otherwise.
bool parse_count(const std::string& text, unsigned long minimum, unsigned long maximum, unsigned long* out);
bool parse_decimal(const std::string& text, double minimum, double maximum, double* out);

}  // namespace hbt::hbtopc
