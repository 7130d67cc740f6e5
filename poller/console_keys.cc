#include "poller/console_keys.h"

#include <atomic>
#include <cctype>

#include "platform/console.h"

namespace hbt::poller {

using namespace hbt::image;

void handle_key(Poller& poller, char key) {
  PointerBlock* block = poller.niolib.pointer_block();
  if (block == nullptr) return;
  switch (std::toupper(static_cast<unsigned char>(key))) {
    case 'F':
      block->file_log = block->file_log ? 0 : 1;
      report(poller.messages, kColourNormal, "Toggle File Log = %d", static_cast<int>(block->file_log));
      break;
    case 'P':
      poller.messages.set_paused(!poller.messages.paused());
      break;
    case 'S':
      if (std::atomic_ref<std::uint16_t>(block->state).load() == kStateRunning) {
        std::atomic_ref<std::uint16_t>(block->command).store(kCommandStop);
        report(poller.messages, kColourWarning, "Stop Requested");
      } else {
        std::atomic_ref<std::uint16_t>(block->command).store(kCommandRun);
        report(poller.messages, kColourWarning, "Start Requested");
      }
      break;
    default:
      poller.messages.set_paused(false);
      report(poller.messages, kColourNormal, "%s (%s) V%s", kProductName, kAcronym, kVersion);
      report(poller.messages, kColourNormal, "Usage: 'S' Stop/Start");
      report(poller.messages, kColourNormal, "       'P' Toggle Pause text messages");
      break;
  }
}

void handle_pending_keys(Poller& poller, platform::Console* console) {
  if (console == nullptr) return;
  while (auto key = console->read_key()) handle_key(poller, *key);
}

}  // namespace hbt::poller
