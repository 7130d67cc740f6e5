// One 10 ms tick of polling work over every channel in service.
#pragma once

#include "poller/poller.h"

namespace hbt::poller {

void run_poll_tick(Poller& poller, int elapsed_ticks);

}  // namespace hbt::poller
