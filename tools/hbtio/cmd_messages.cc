// hbtio messages: the last messages of every program of the driver, and those that follow.
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstring>

#include "image/message_ring.h"
#include "platform/clock.h"
#include "platform/console.h"
#include "tools/hbtio/command.h"
#include "tools/hbtio/driver_access.h"
#include "tools/hbtio/json.h"

namespace hbt::hbtio {
namespace {

volatile std::sig_atomic_t stop_following = 0;
void on_signal(int) { stop_following = 1; }

void print(const image::RingMessage& m, bool json, bool colour) {
  if (json) {
    JsonLine().field("colour", std::int64_t{m.colour}).field("text", m.text).print();
    return;
  }
  if (colour)
    std::printf("%s%s\033[0m\n", platform::ansi_for_attribute(m.colour).c_str(), m.text.c_str());
  else
    std::printf("%s\n", m.text.c_str());
  std::fflush(stdout);
}

int run_messages(Invocation& inv) {
  const bool follow = take_flag(inv.args, "--follow") | take_flag(inv.args, "-f");
  if (!inv.args.empty()) return usage_error("messages takes only --follow");
  DriverAccess driver(false);
  if (driver.block == nullptr) {
    std::fprintf(stderr, "hbtio: the driver is not running (no pointer block)\n");
    return kExitFailed;
  }
  image::PointerBlock* block = driver.block;
  block->ring_enabled = 1;
  const bool colour = !inv.json && isatty(STDOUT_FILENO);
  // The ring holds the last 64 messages; the oldest sits where the next one will go, so the
  // history starts one after it (that entry may be rewritten while we read).
  image::RingReader reader(block, image::ring_index(block) + 1);
  while (auto m = reader.next())
    if (!m->text.empty()) print(*m, inv.json, colour);  // empty: never written
  if (!follow) return kExitOk;
  struct sigaction action {};
  action.sa_handler = on_signal;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGPIPE, &action, nullptr);
  while (!stop_following) {
    while (auto m = reader.next()) print(*m, inv.json, colour);
    platform::sleep_ms(100);
  }
  return kExitOk;
}

}  // namespace

HBTIO_COMMAND(messages, "messages", "messages [--follow]",
              "print the driver's message ring; --follow keeps printing new messages", run_messages)

}  // namespace hbt::hbtio
