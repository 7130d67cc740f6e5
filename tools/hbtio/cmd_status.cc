// hbtio status: the driver pointer block, as the poller and its clients see it.
#include <atomic>
#include <cstdio>
#include <cstring>

#include "tools/hbtio/command.h"
#include "tools/hbtio/driver_access.h"
#include "tools/hbtio/json.h"
#include "tools/hbtio/watchdog.h"

namespace hbt::hbtio {
namespace {

const char* command_name(std::uint16_t c) {
  switch (c) {
    case image::kCommandRun: return "run";
    case image::kCommandStop: return "stop";
    case image::kCommandExit: return "exit";
  }
  return "unknown";
}

const char* state_name(std::uint16_t s) {
  switch (s) {
    case image::kStateNotStarted: return "not started";
    case image::kStateRunning: return "running";
    case image::kStateStopped: return "stopped";
    case image::kStateExited: return "exited";
  }
  return "unknown";
}

std::string field_text(const char* field, std::size_t size) { return std::string(field, strnlen(field, size)); }

int run_status(Invocation& inv) {
  if (!inv.args.empty()) return usage_error("status takes no arguments");
  DriverAccess driver(false);
  if (driver.block == nullptr) {
    if (inv.json)
      JsonLine().field("running", false).print();
    else
      std::printf("driver: not running (no pointer block)\n");
    return kExitFailed;
  }
  const image::PointerBlock& b = *driver.block;
  const WatchdogSample watchdog = sample_watchdog();
  auto load16 = [](const std::uint16_t& f) { return std::atomic_ref<std::uint16_t>(const_cast<std::uint16_t&>(f)).load(); };
  auto load32 = [](const std::uint32_t& f) { return std::atomic_ref<std::uint32_t>(const_cast<std::uint32_t&>(f)).load(); };
  const std::uint16_t command = load16(b.command);
  const std::uint16_t state = load16(b.state);
  const std::string image = field_text(b.image_name, sizeof b.image_name);
  const std::string path = field_text(b.config_path, sizeof b.config_path);
  if (inv.json) {
    JsonLine()
        .field("running", state == image::kStateRunning)
        .field("command", std::int64_t{command})
        .field("command_name", command_name(command))
        .field("state", std::int64_t{state})
        .field("state_name", state_name(state))
        .field("map_generation", std::int64_t{load32(b.map_generation)})
        .field("loaded_generation", std::int64_t{load32(b.loaded_generation)})
        .field("client_count", std::int64_t{load32(b.client_count)})
        .field("alive_counter", std::int64_t{load32(b.alive_counter)})
        .field("client_usage_countdown", std::int64_t{b.client_usage_countdown})
        .field("image_name", image)
        .field("config_path", path)
        .field("file_log", b.file_log != 0)
        .field("message_ring", b.ring_enabled != 0)
        .field("watchdog", std::int64_t{watchdog.second})
        .field("watchdog_advancing", watchdog.advancing)
        .field("server_status", watchdog.server_status)
        .print();
  } else {
    std::printf("command:            %u (%s)\n", command, command_name(command));
    std::printf("state:              %u (%s)\n", state, state_name(state));
    std::printf("map generation:     %u (loaded %u)\n", load32(b.map_generation), load32(b.loaded_generation));
    std::printf("clients:            %u\n", load32(b.client_count));
    std::printf("alive counter:      %u\n", load32(b.alive_counter));
    std::printf("client usage:       %d ticks left\n", b.client_usage_countdown);
    std::printf("image:              %s\n", image.c_str());
    std::printf("configuration file: %s\n", path.c_str());
    std::printf("file log:           %s\n", b.file_log ? "on" : "off");
    std::printf("watchdog:           %u (%s)\n", watchdog.second,
                !watchdog.available ? "host library not loaded" : watchdog.advancing ? "advancing" : "standing still");
  }
  return kExitOk;
}

}  // namespace

HBTIO_COMMAND(status, "status", "status", "show the driver pointer block: command, state, generations, clients", run_status)

}  // namespace hbt::hbtio
