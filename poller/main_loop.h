// Start-up and main loop of the poller: the command and state words, the 10 ms tick,
// client usage, and the polling runs with a reload between them.
#pragma once

#include <string>
#include <vector>

#include "poller/poller.h"

namespace hbt::platform {
class Console;
}

namespace hbt::poller {

// Runs the poller until it is told to exit or nobody uses it. Returns the exit code.
int run_poller(Poller& poller, platform::Console* console, const std::vector<std::string>& arguments);

// Asks a running loop to exit at its next tick (safe to call from a signal handler).
void request_exit();

}  // namespace hbt::poller
