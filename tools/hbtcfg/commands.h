// The commands of hbtcfg, the configuration editor without a screen.
#pragma once

#include <optional>
#include <string>

namespace hbt::hbtcfg {

// Exit statuses.
inline constexpr int kExitOk = 0;
inline constexpr int kExitProblems = 1;  // refused lines, a corrupt or unloadable file, a refused save
inline constexpr int kExitUsage = 2;     // bad arguments, a file that cannot be read or written

struct Options {
  std::string input;
  std::string output;
  std::optional<std::string> errors;  // import error file
  std::optional<char> separator;
  bool startup = false;  // record the saved file as the driver's start-up file
  bool json = false;
};

int run_import(const Options& options);
int run_export(const Options& options);
int run_check(const Options& options);
int run_list(const Options& options);

}  // namespace hbt::hbtcfg
