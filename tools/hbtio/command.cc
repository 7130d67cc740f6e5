#include "tools/hbtio/command.h"

#include <cstdio>

namespace hbt::hbtio {

namespace {
std::vector<CommandInfo>& table() {
  static std::vector<CommandInfo> all;
  return all;
}
}  // namespace

void register_command(const CommandInfo& info) { table().push_back(info); }
const std::vector<CommandInfo>& commands() { return table(); }

bool take_flag(std::vector<std::string>& args, const std::string& name) {
  for (auto it = args.begin(); it != args.end(); ++it) {
    if (*it == name) {
      args.erase(it);
      return true;
    }
  }
  return false;
}

bool take_option(std::vector<std::string>& args, const std::string& name, std::string* value, bool* missing) {
  for (auto it = args.begin(); it != args.end(); ++it) {
    if (*it == name) {
      if (it + 1 == args.end()) {
        *missing = true;
        args.erase(it);
        return true;
      }
      *value = *(it + 1);
      args.erase(it, it + 2);
      return true;
    }
    if (it->rfind(name + "=", 0) == 0) {
      *value = it->substr(name.size() + 1);
      args.erase(it);
      return true;
    }
  }
  return false;
}

int usage_error(const std::string& why) {
  std::fprintf(stderr, "hbtio: %s (see hbtio --help)\n", why.c_str());
  return kExitUsage;
}

}  // namespace hbt::hbtio
