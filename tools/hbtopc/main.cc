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
    "  browse [PATH] [--flat] [--filter F]\n"
    "                     the address space: PLCs, their poll-record ranges and item IDs\n"
    "  browse --da3 [ITEM] [--filter F] [--vendor V] [--max N] [--props] [--values]\n"
    "                     the same through DA 3.0 IOPCBrowse, with properties\n"
    "  props ITEM [ID...] the item's properties\n"
    "  read ITEM... [--device|--cache]\n"
    "                     read the items once: value, quality, timestamp, result\n"
    "  write ITEM VALUE [--async]\n"
    "                     write a value (number, true/false, text, 1,2,3 for arrays)\n"
    "  subscribe ITEM... --rate MS [--deadband P] [--keepalive MS] [--da1] [--seconds N]\n"
    "                     print every change the server reports\n"
    "\n"
    "options:\n"
    "  --json             one JSON object per line\n"
    "  --server NAME      the server to use (default Velmora.Brenlow)\n"
    "  --help             this text; COMMAND --help shows the command's\n"
    "\n"
    "exit status: 0 success, 1 the server refused or failed, 2 wrong usage\n";

int usage_error(const char* why) {
  std::fprintf(stderr, "hbtopc: %s\n%s", why, kUsage);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace hbt::hbtopc;
  Options options;
  std::vector<std::string> args;
  bool help = false;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    // After "--" everything belongs to the command (a value to write may look like an option).
    if (a == "--") {
      for (; i < argc; ++i) args.push_back(argv[i]);
      break;
    }
    if (a == "--help" || a == "-h") {
      help = true;
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
  if (help) {
    const char* text = args.empty() ? kUsage : command_help(args[0]);
    if (text == nullptr) return usage_error(("unknown command " + args[0]).c_str());
    std::fputs(text, stdout);
    return 0;
  }
  if (args.empty()) return usage_error("no command");
  const std::string command = args[0];
  std::vector<std::string> rest(args.begin() + 1, args.end());
  if (command == "servers" && rest.empty()) return cmd_servers(options);
  if (command == "status" && rest.empty()) return cmd_status(options);
  if (command == "validate" && !rest.empty()) return cmd_validate(options, rest);
  if (command == "groups") return cmd_groups(options, rest);
  if (command == "browse") return cmd_browse(options, rest);
  if (command == "props") return cmd_props(options, rest);
  if (command == "read") return cmd_read(options, rest);
  if (command == "write") return cmd_write(options, rest);
  if (command == "subscribe") return cmd_subscribe(options, rest);
  if (command == "validate") return usage_error("validate needs at least one item ID");
  if (command == "servers" || command == "status") return usage_error(("too many arguments for " + command).c_str());
  return usage_error(("unknown command " + command).c_str());
}
