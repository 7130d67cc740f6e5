// hbtio watch: exception reporting as a host does it. Each point is registered with nio_on,
// nio_fetch tells which changed, and reading a reported point acknowledges its change.
#include <csignal>
#include <cstdio>

#include "platform/clock.h"
#include "tools/hbtio/command.h"
#include "tools/hbtio/point.h"

namespace hbt::hbtio {
namespace {

volatile std::sig_atomic_t interrupted = 0;
void on_signal(int) { interrupted = 1; }

constexpr std::size_t kMaxPoints = 255;  // event ids are one byte, 0 meaning none
constexpr int kPollMs = 100;

int run_watch(Invocation& inv) {
  PointOptions options;
  std::string error;
  if (!take_point_options(inv.args, &options, &error)) return usage_error(error);
  std::string seconds_text;
  bool missing = false;
  double seconds = -1;  // until interrupted
  if (take_option(inv.args, "--seconds", &seconds_text, &missing)) {
    char* end = nullptr;
    seconds = std::strtod(seconds_text.c_str(), &end);
    if (*end != '\0' || !(seconds >= 0)) return usage_error("--seconds takes a number");
  }
  if (missing) return usage_error("--seconds takes a number");
  if (inv.args.empty()) return usage_error("watch takes one or more ADDRESSes");
  if (inv.args.size() > kMaxPoints) return usage_error("watch takes at most 255 addresses");

  HostApi api;
  if (!api.ok()) {
    std::fprintf(stderr, "hbtio: %s\n", api.error().c_str());
    return kExitFailed;
  }
  api.enable_options(nullptr, 1);
  std::vector<std::unique_ptr<HostPoint>> points;
  std::vector<bool> registered;
  const std::int16_t text_length = static_cast<std::int16_t>(options.count ? options.count : 2);
  for (std::size_t i = 0; i < inv.args.size(); ++i) {
    auto point = make_point(api, inv.args[i], options, &error);
    if (!point) {
      api.report_messages(true);
      std::fprintf(stderr, "hbtio: %s\n", error.c_str());
      return kExitFailed;
    }
    NioEventId id{static_cast<std::uint8_t>(i + 1), 0, static_cast<std::int16_t>(i)};
    NioStatus status = -1;
    api.on(&status, &point->block, &point->format, &id, text_length);
    registered.push_back(status == 520);
    if (status != 520)
      std::fprintf(stderr, "hbtio: %s: not reported on change (%s)\n", point->text.c_str(),
                   status == 0 ? "its poll record keeps no exceptions" : status_text(status).c_str());
    points.push_back(std::move(point));
  }
  for (auto& p : points) print_reading(*p, read_point(api, *p, options.count), inv.json);

  std::signal(SIGINT, on_signal);
  std::signal(SIGTERM, on_signal);
  const std::int64_t deadline =
      seconds < 0 ? INT64_MAX : platform::monotonic_ns() + static_cast<std::int64_t>(seconds * 1e9);
  NioEventId events[64];
  while (!interrupted && platform::monotonic_ns() < deadline) {
    std::int16_t count = 0;
    NioStatus status = 0;
    api.fetch(&status, nullptr, events, 64, &count);
    for (int i = 0; i < count; ++i) {
      const std::size_t index = events[i].id - 1u;
      if (events[i].id == 0 || index >= points.size()) continue;
      print_reading(*points[index], read_point(api, *points[index], options.count), inv.json);
    }
    api.report_messages(false);
    if (count == 0) platform::sleep_ms(kPollMs);
  }
  for (std::size_t i = 0; i < points.size(); ++i) {
    if (!registered[i]) continue;
    NioEventId id{static_cast<std::uint8_t>(i + 1), 0, static_cast<std::int16_t>(i)};
    NioStatus status = 0;
    api.off(&status, &points[i]->block, &points[i]->format, &id);
  }
  return kExitOk;
}

}  // namespace

HBTIO_COMMAND(watch, "watch", "watch ADDRESS... [--seconds S]",
              "print each point, then every change reported by exception (until Ctrl-C or S s)", run_watch)

}  // namespace hbt::hbtio
