// hbtio read: one point (or a run of N values) read through the host library, with its
// quality and timestamp.
#include <cstdio>

#include "platform/clock.h"
#include "tools/hbtio/command.h"
#include "tools/hbtio/point.h"

namespace hbt::hbtio {
namespace {

// A record the poller has not read yet reports "out of service"; right after the poller was
// started that is only a matter of its first poll.
bool waiting_for_first_poll(const Reading& r) { return r.status == 0 && (r.quality & 0xFC) == 0x1C; }

int run_read(Invocation& inv) {
  PointOptions options;
  std::string error;
  if (!take_point_options(inv.args, &options, &error)) return usage_error(error);
  std::string wait_text = "3";
  bool missing = false;
  take_option(inv.args, "--wait", &wait_text, &missing);
  char* end = nullptr;
  const double wait_s = std::strtod(wait_text.c_str(), &end);
  if (missing || *end != '\0' || !(wait_s >= 0)) return usage_error("--wait takes a number of seconds");
  if (inv.args.size() != 1) return usage_error("read takes one ADDRESS");

  HostApi api;
  if (!api.ok()) {
    std::fprintf(stderr, "hbtio: %s\n", api.error().c_str());
    return kExitFailed;
  }
  auto point = make_point(api, inv.args[0], options, &error);
  if (!point) {
    api.report_messages(true);
    std::fprintf(stderr, "hbtio: %s\n", error.c_str());
    return kExitFailed;
  }
  Reading r = read_point(api, *point, options.count);
  const std::int64_t deadline = platform::monotonic_ns() + static_cast<std::int64_t>(wait_s * 1e9);
  while (waiting_for_first_poll(r) && platform::monotonic_ns() < deadline) {
    platform::sleep_ms(100);
    r = read_point(api, *point, options.count);
  }
  print_reading(*point, r, inv.json);
  const bool usable = r.status == 0 && (r.quality & 0xC0) != 0;
  api.report_messages(!usable);
  if (r.status != 0) std::fprintf(stderr, "hbtio: %s: %s\n", point->text.c_str(), status_text(r.status).c_str());
  else if (!usable) std::fprintf(stderr, "hbtio: %s: quality %s\n", point->text.c_str(), quality_text(r.quality).c_str());
  return usable ? kExitOk : kExitFailed;
}

}  // namespace

HBTIO_COMMAND(read, "read", "read ADDRESS [POINT OPTIONS] [--wait S]",
              "read a point (waits S s, 3, for a first poll). POINT OPTIONS: --kind analog|digital|text\n"
              "                                           --sig NAME --egu LOW,HIGH --decimals D --options LOW:HIGH --count N",
              run_read)

}  // namespace hbt::hbtio
