// hbtio start, stop, reload: the commands an operator gives the poller through the pointer block.
#include <atomic>
#include <cstdio>
#include <functional>
#include <memory>

#include "platform/clock.h"

#include "tools/hbtio/command.h"
#include "tools/hbtio/driver_access.h"
#include "tools/hbtio/json.h"

namespace hbt::hbtio {
namespace {

int report_result(const Invocation& inv, const char* command, int result, DriverAccess& driver) {
  if (inv.json)
    JsonLine().field("command", command).field("result", std::int64_t{result}).print();
  else if (result)
    std::printf("%s: done\n", command);
  if (!result) {
    driver.messages.print_to_stderr();
    std::fprintf(stderr, "hbtio: %s: the poller did not follow\n", command);
  }
  return result ? kExitOk : kExitFailed;
}

// How long a poller that is there takes to show itself: a running one moves the alive
// counter every 10 ms tick, a stopped one takes up a run command within its 50 ms idle
// round, and one that was started moments ago (the block is new, its state still "not
// started") is given the time its starter waits for it.
constexpr int kTickingWaitMs = 1000;
constexpr int kIdleAnswerWaitMs = 1000;
constexpr int kStartingWaitMs = 2500;
constexpr int kLookEveryMs = 10;

bool within(int ms, const std::function<bool()>& condition) {
  for (int waited = 0;; waited += kLookEveryMs) {
    if (condition()) return true;
    if (waited >= ms) return false;
    platform::sleep_ms(kLookEveryMs);
  }
}

// Whether a poller process stands behind a pointer block that some other program (a host,
// the OPC server, the editor) keeps open. Only the block's creator starts the poller, so
// a block that outlived its poller (which exited or died) would otherwise wait for a run
// command nobody takes up. A poller that died leaves its last state behind; what tells
// is whether anything moves.
bool poller_present(image::PointerBlock* block) {
  auto state = [&] { return std::atomic_ref<std::uint16_t>(block->state).load(); };
  auto alive = [&] { return std::atomic_ref<std::uint32_t>(block->alive_counter).load(); };
  switch (state()) {
    case image::kStateExited:
      return false;
    case image::kStateStopped:
      std::atomic_ref<std::uint16_t>(block->command).store(image::kCommandRun);
      return within(kIdleAnswerWaitMs, [&] { return state() == image::kStateRunning; });
    default: {
      std::uint32_t first = alive();
      int wait = state() == image::kStateNotStarted ? kStartingWaitMs : kTickingWaitMs;
      return within(wait, [&] { return alive() != first; });
    }
  }
}

int run_start(Invocation& inv) {
  if (!inv.args.empty()) return usage_error("start takes no arguments");
  auto driver = std::make_unique<DriverAccess>(false);
  const bool existed = driver->block != nullptr;
  // Creating the pointer block starts the poller through "DriverExe".
  if (!existed) driver = std::make_unique<DriverAccess>(true);
  if (driver->block == nullptr) {
    driver->messages.print_to_stderr();
    return kExitFailed;
  }
  // A second poller started beside a live one sees its alive counter move and leaves.
  if (existed && !poller_present(driver->block)) {
    driver->messages.message(image::kColourInfo, "no poller behind the pointer block: starting \"DriverExe\"");
    driver->niolib->start_poller_program();
  }
  return report_result(inv, "start", driver->niolib->nio_StartStop(1), *driver);
}

int run_stop(Invocation& inv) {
  if (!inv.args.empty()) return usage_error("stop takes no arguments");
  DriverAccess driver(false);
  if (driver.block == nullptr) {
    std::fprintf(stderr, "hbtio: the driver is not running (no pointer block)\n");
    return kExitFailed;
  }
  return report_result(inv, "stop", driver.niolib->nio_StartStop(0), driver);
}

int run_reload(Invocation& inv) {
  if (!inv.args.empty()) return usage_error("reload takes no arguments");
  DriverAccess driver(false);
  if (driver.block == nullptr) {
    std::fprintf(stderr, "hbtio: the driver is not running (no pointer block)\n");
    return kExitFailed;
  }
  // ReloadConfiguration itself always answers 1; success shows as the poller running again.
  driver.niolib->ReloadConfiguration("hbtio", "reload");
  const bool running = driver.block->state == image::kStateRunning;
  return report_result(inv, "reload", running ? 1 : 0, driver);
}

int run_shutdown(Invocation& inv) {
  if (!inv.args.empty()) return usage_error("shutdown takes no arguments");
  DriverAccess driver(false);
  if (driver.block == nullptr) {
    if (inv.json) JsonLine().field("command", "shutdown").field("result", std::int64_t{1}).print();
    return kExitOk;  // nothing runs: nothing to do
  }
  std::atomic_ref<std::uint16_t>(driver.block->command).store(image::kCommandExit);
  int result = 0;
  for (int i = 0; i < 100 && !result; ++i) {
    if (std::atomic_ref<std::uint16_t>(driver.block->state).load() == image::kStateExited) result = 1;
    else platform::sleep_ms(50);
  }
  return report_result(inv, "shutdown", result, driver);
}

}  // namespace

HBTIO_COMMAND(shutdown, "shutdown", "shutdown", "make the poller stop polling and exit", run_shutdown)
HBTIO_COMMAND(start, "start", "start", "start polling (and the poller itself through DriverExe)", run_start)
HBTIO_COMMAND(stop, "stop", "stop", "stop polling; the poller keeps running", run_stop)
HBTIO_COMMAND(reload, "reload", "reload",
              "stop and start polling: the poller re-reads its configuration file", run_reload)

}  // namespace hbt::hbtio
