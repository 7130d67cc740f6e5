// The poller's command line: any argument disables the single-instance check; F turns the
// file log on, S only disables the check, P starts with the console paused.
#pragma once

#include <string>
#include <vector>

namespace hbt::poller {

struct CommandLineEffects {
  bool any_argument = false;  // the alive counter is cleared: no single-instance check
  bool file_log = false;
  bool paused = false;
};

CommandLineEffects examine_command_line(const std::vector<std::string>& arguments);

}  // namespace hbt::poller
