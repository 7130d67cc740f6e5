#include "poller/command_line.h"

#include <cctype>

namespace hbt::poller {

namespace {
constexpr std::size_t kArgumentChars = 127;
}

CommandLineEffects examine_command_line(const std::vector<std::string>& arguments) {
  CommandLineEffects effects;
  effects.any_argument = !arguments.empty();
  for (const auto& original : arguments) {
    std::string argument = original.substr(0, kArgumentChars);
    for (char& c : argument) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    // The first matching letter decides, so "/FP" logs to the file and does not pause.
    if (argument.find('F') != std::string::npos)
      effects.file_log = true;
    else if (argument.find('S') != std::string::npos)
      continue;
    else if (argument.find('P') != std::string::npos)
      effects.paused = true;
  }
  return effects;
}

}  // namespace hbt::poller
