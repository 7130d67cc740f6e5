// hbtio devices and pollrecs: what is configured, as the host library enumerates it.
#include <cstdio>

#include "tools/hbtio/command.h"
#include "tools/hbtio/host_api.h"
#include "tools/hbtio/json.h"

namespace hbt::hbtio {
namespace {

constexpr std::size_t kEntrySize = 128;

int run_devices(Invocation& inv) {
  if (!inv.args.empty()) return usage_error("devices takes no arguments");
  HostApi api;
  if (!api.ok()) {
    std::fprintf(stderr, "hbtio: %s\n", api.error().c_str());
    return kExitFailed;
  }
  NioStatus status = -1;
  std::int32_t count = 0;
  char* buffer = nullptr;
  api.enum_devices(&status, &count, &buffer);
  if (status != 0) {
    api.report_messages(true);
    std::fprintf(stderr, "hbtio: devices: %s\n", status_text(status).c_str());
    return kExitFailed;
  }
  for (std::int32_t i = 0; i < count; ++i) {
    const char* name = buffer + kEntrySize * static_cast<std::size_t>(i);
    if (inv.json)
      JsonLine().field("device", name).print();
    else
      std::printf("%s\n", name);
  }
  api.free(buffer);
  if (count == 0) {
    api.report_messages(true);
    std::fprintf(stderr, "hbtio: no devices (is the driver running?)\n");
    return kExitFailed;
  }
  return kExitOk;
}

int run_pollrecs(Invocation& inv) {
  if (inv.args.size() != 1) return usage_error("pollrecs takes one DEVICE");
  HostApi api;
  if (!api.ok()) {
    std::fprintf(stderr, "hbtio: %s\n", api.error().c_str());
    return kExitFailed;
  }
  NioStatus status = -1;
  std::int32_t count = 0;
  char* buffer = nullptr;
  api.enum_pollrecs(&status, inv.args[0].c_str(), &count, &buffer);
  if (status != 0) {
    api.report_messages(true);
    std::fprintf(stderr, "hbtio: %s: unknown device\n", inv.args[0].c_str());
    return kExitFailed;
  }
  for (std::int32_t i = 0; i < count; ++i) {
    const char* range = buffer + kEntrySize * static_cast<std::size_t>(i);
    if (inv.json)
      JsonLine().field("device", inv.args[0]).field("pollrec", std::int64_t{i + 1}).field("range", range).print();
    else
      std::printf("%d  %s\n", i + 1, range);
  }
  api.free(buffer);
  return kExitOk;
}

}  // namespace

HBTIO_COMMAND(devices, "devices", "devices", "list the configured devices", run_devices)
HBTIO_COMMAND(pollrecs, "pollrecs", "pollrecs DEVICE", "list a device's poll records with their register ranges",
              run_pollrecs)

}  // namespace hbt::hbtio
