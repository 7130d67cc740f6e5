// The poller's console keys: F file log, P pause, S stop/start, anything else shows usage.
#pragma once

#include "poller/poller.h"

namespace hbt::platform {
class Console;
}

namespace hbt::poller {

void handle_key(Poller& poller, char key);

// Handles every key waiting on the console.
void handle_pending_keys(Poller& poller, platform::Console* console);

}  // namespace hbt::poller
