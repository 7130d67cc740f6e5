// Start and stop of polling, and the reload of the image between two polling runs.
#pragma once

#include "poller/poller.h"

namespace hbt::poller {

// Sets up every channel that has poll records and raises the polling flag.
void start_polling(Poller& poller);

// Marks every record not polled, flags registered exception entries, closes the sockets and
// frees the channel blocks, and clears the polling flag.
void stop_polling(Poller& poller);

// Loads the configuration file again under the next map generation.
void nio_poll_reload(Poller& poller);

}  // namespace hbt::poller
