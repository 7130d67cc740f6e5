// Runs a program to its end, the way the installer runs the registration program: a command
// line split by the loaders' rules, a working folder, standard input from /dev/null, the
// installer's own standard output and error, and a deadline.
#pragma once

#include <string>

namespace hbt::setup {

struct ChildOutcome {
  bool started = false;
  bool finished = false;  // false: killed at the deadline
  int exit_code = -1;     // when finished; 128 + signal for a program killed by a signal
  int error = 0;          // why it did not start
};

ChildOutcome run_to_end(const std::string& command_line, const std::string& directory, int timeout_ms);

}  // namespace hbt::setup
