// HBTSPOLL: the poller program.
#include <string>
#include <vector>

#include "platform/console.h"
#include "poller/main_loop.h"
#include "poller/message_routine.h"
#include "poller/poller.h"

int main(int argc, char** argv) {
  std::vector<std::string> arguments(argv + 1, argv + argc);
  hbt::platform::Console console;
  hbt::poller::MessageRoutine messages(&console);
  auto poller = std::make_unique<hbt::poller::Poller>(messages);
  return hbt::poller::run_poller(*poller, &console, arguments);
}
