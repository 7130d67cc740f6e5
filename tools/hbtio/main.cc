// hbtio: a small host of the driver for the command line.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "tools/hbtio/command.h"

namespace {

void print_help() {
  std::printf("usage: hbtio [--json] COMMAND [ARGUMENTS]\n\ncommands:\n");
  for (const auto& c : hbt::hbtio::commands()) std::printf("  %-40s %s\n", c.usage, c.summary);
  std::printf(
      "\n--json prints one JSON object per line.\n"
      "The driver is found through its shared regions (HBT_NAMESPACE prefixes their names) and\n"
      "the registry in $HBT_REGISTRY_DIR. HBTIO_VERBOSE=1 shows the driver library's messages.\n"
      "Exit status: 0 done, 1 failed, 2 bad usage.\n");
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  hbt::hbtio::Invocation inv;
  inv.json = hbt::hbtio::take_flag(args, "--json");
  if (args.empty()) {
    print_help();
    return hbt::hbtio::kExitUsage;
  }
  if (args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
    print_help();
    return hbt::hbtio::kExitOk;
  }
  for (const auto& c : hbt::hbtio::commands()) {
    if (args[0] == c.name) {
      inv.args.assign(args.begin() + 1, args.end());
      if (hbt::hbtio::take_flag(inv.args, "--help")) {
        std::printf("usage: hbtio %s\n  %s\n", c.usage, c.summary);
        return hbt::hbtio::kExitOk;
      }
      return c.run(inv);
    }
  }
  return hbt::hbtio::usage_error("unknown command '" + args[0] + "'");
}
