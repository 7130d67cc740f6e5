// hbtopc: an OPC DA client on the COM runtime, for people and scripts.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "commands.h"

namespace {

const char kUsage[] =
    "usage: hbtopc [--json] [--server PROGID|{CLSID}] COMMAND [ARGS]\n"
    "\n"
    "commands:\n"
    "  servers            the OPC DA servers registered on this machine (by category)\n"
    "  status             the server's state, vendor text, version, groups and bandwidth\n"
    "  validate ITEM...   how the server binds each item ID: canonical type or the reason it refuses\n"
    "  groups [NAME...]   add the named groups (\"\" lets the server name one), list every group,\n"
    "                     remove the added ones\n"
    "\n"
    "options:\n"
    "  --json             one JSON object per line\n"
    "  --server NAME      the server to use (default Velmora.Brenlow)\n"
    "  --help             this text\n"
    "\n"
    "exit status: 0 success, 1 the server refused or failed, 2 wrong usage\n";

int usage_error(const char* why) {
  std::fprintf(stderr, "hbtopc: %s\n%s", why, kUsage);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  hbt::hbtopc::Options options;
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--help" || a == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (a == "--json") {
      options.json = true;
    } else if (a == "--server") {
      if (i + 1 >= argc) return usage_error("--server needs a name");
      options.server = argv[++i];
    } else if (a.size() > 2 && a.compare(0, 2, "--") == 0 && args.empty()) {
      return usage_error(("unknown option " + a).c_str());
    } else {
      args.push_back(a);
    }
  }
  if (args.empty()) return usage_error("no command");
  const std::string command = args[0];
  std::vector<std::string> rest(args.begin() + 1, args.end());
  if (command == "servers" && rest.empty()) return hbt::hbtopc::cmd_servers(options);
  if (command == "status" && rest.empty()) return hbt::hbtopc::cmd_status(options);
  if (command == "validate" && !rest.empty()) return hbt::hbtopc::cmd_validate(options, rest);
  if (command == "groups") return hbt::hbtopc::cmd_groups(options, rest);
  if (command == "validate") return usage_error("validate needs at least one item ID");
  if (command == "servers" || command == "status") return usage_error(("too many arguments for " + command).c_str());
  return usage_error(("unknown command " + command).c_str());
}
