#include "poller/poll_tick.h"

namespace hbt::poller {

void run_poll_tick(Poller& poller, int elapsed_ticks) {
  // Reading, writing and the reply handling of each channel come here.
  (void)poller;
  (void)elapsed_ticks;
}

}  // namespace hbt::poller
