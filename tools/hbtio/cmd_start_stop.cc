// hbtio start, stop, reload: the commands an operator gives the poller through the pointer block.
#include <atomic>
#include <cstdio>

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

int run_start(Invocation& inv) {
  if (!inv.args.empty()) return usage_error("start takes no arguments");
  // Creating the pointer block starts the poller through "DriverExe" when none runs.
  DriverAccess driver(true);
  if (driver.block == nullptr) {
    driver.messages.print_to_stderr();
    return kExitFailed;
  }
  return report_result(inv, "start", driver.niolib->nio_StartStop(1), driver);
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
