// The commands of hbtopc. Each prints its result (text or one JSON object per line) and
// returns the exit status: 0 success, 1 the server refused or failed, 2 wrong usage.
#pragma once

#include <string>
#include <vector>

namespace hbt::hbtopc {

struct Options {
  bool json = false;
  std::string server = "Velmora.Brenlow";  // ProgID or {CLSID}
};

int cmd_servers(const Options& options);
int cmd_status(const Options& options);
int cmd_validate(const Options& options, const std::vector<std::string>& items);
int cmd_groups(const Options& options, const std::vector<std::string>& names);
int cmd_browse(const Options& options, const std::vector<std::string>& args);
struct CommandArguments;
// browse --da3: through IOPCBrowse (cmd_browse_da3.cc).
int browse_da3(const Options& options, const CommandArguments& args);
int cmd_props(const Options& options, const std::vector<std::string>& args);
int cmd_read(const Options& options, const std::vector<std::string>& args);
int cmd_write(const Options& options, const std::vector<std::string>& args);
int cmd_subscribe(const Options& options, const std::vector<std::string>& args);

// The help text of a command, or null for an unknown command.
const char* command_help(const std::string& command);
// Prints "hbtopc: WHY" and the command's help on standard error; returns 2.
int command_usage_error(const std::string& command, const std::string& why);
// Prints "hbtopc: WHY" on standard error; returns 1.
int failure(const std::string& why);

}  // namespace hbt::hbtopc
