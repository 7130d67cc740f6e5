// hbtio's commands: each file registers its own, so that a command is added by adding a file.
#pragma once

#include <string>
#include <vector>

namespace hbt::hbtio {

struct Invocation {
  std::vector<std::string> args;  // after the command name, global options removed
  bool json = false;              // one JSON object per line
};

using CommandFunction = int (*)(Invocation&);

struct CommandInfo {
  const char* name;
  const char* usage;    // "messages [--follow]"
  const char* summary;  // one line for --help
  CommandFunction run;
};

void register_command(const CommandInfo& info);
const std::vector<CommandInfo>& commands();

// Removes "--name" from args; whether it was there.
bool take_flag(std::vector<std::string>& args, const std::string& name);
// Removes "--name VALUE" (or "--name=VALUE"); whether it was there. A missing VALUE is an error.
bool take_option(std::vector<std::string>& args, const std::string& name, std::string* value, bool* missing);

// Exit codes of every command.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;

int usage_error(const std::string& why);

}  // namespace hbt::hbtio

#define HBTIO_COMMAND(ident, ...)                                       \
  namespace {                                                           \
  const bool ident##_registered = (::hbt::hbtio::register_command({__VA_ARGS__}), true); \
  }
