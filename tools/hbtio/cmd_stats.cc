// hbtio stats: the per-channel communication statistics, and their reset.
#include <cstdio>
#include <cstring>
#include <vector>

#include "image/layout.h"
#include "tools/hbtio/command.h"
#include "tools/hbtio/host_api.h"
#include "tools/hbtio/json.h"
#include "tools/hbtio/prometheus_text.h"

namespace hbt::hbtio {
namespace {

constexpr int kMaxChannels = image::kMaxChannels;

void print_stats(int channel, std::int16_t selector, const image::StatisticsBlock& s, bool json) {
  const bool in_service = static_cast<std::uint8_t>(selector) != image::kChannelNotInService;
  if (json) {
    JsonLine()
        .field("channel", std::int64_t{channel + 1})
        .field("in_service", in_service)
        .field("requests_sent", std::int64_t{s.requests_sent})
        .field("replies_received", std::int64_t{s.replies_received})
        .field("retries", std::int64_t{s.retries})
        .field("reply_timeouts", std::int64_t{s.reply_timeouts})
        .field("abnormal_codes", std::int64_t{s.abnormal_codes})
        .field("last_abnormal_code", std::int64_t{s.last_abnormal_code})
        .field("reads_not_sent", std::int64_t{s.reads_not_sent})
        .field("writes_not_sent", std::int64_t{s.writes_not_sent})
        .field("last_extended_error", std::int64_t{s.last_extended_error})
        .field("rejected_replies", std::int64_t{s.rejected_replies})
        .print();
    return;
  }
  std::printf("channel %d%s\n", channel + 1, in_service ? "" : "  (not in service)");
  std::printf("  requests sent %u, replies %u, retries %u, reply timeouts %u, rejected replies %u\n",
              s.requests_sent, s.replies_received, s.retries, s.reply_timeouts, s.rejected_replies);
  std::printf("  not sent for want of a connection: %u reads, %u writes\n", s.reads_not_sent, s.writes_not_sent);
  std::printf("  abnormal completions %u (last 0x%04X), last extended error 0x%04X\n", s.abnormal_codes,
              s.last_abnormal_code, s.last_extended_error);
}

int run_stats(Invocation& inv) {
  const bool reset = take_flag(inv.args, "--reset");
  const bool prometheus = take_flag(inv.args, "--prometheus");
  if (prometheus && inv.json) return usage_error("--json and --prometheus do not go together");
  if (inv.args.size() > 1) return usage_error("stats takes at most one CHANNEL");
  int only = -1;
  if (inv.args.size() == 1) {
    char* end = nullptr;
    long n = std::strtol(inv.args[0].c_str(), &end, 10);
    if (*end != '\0' || n < 1 || n > kMaxChannels) return usage_error("CHANNEL is a number from 1 to 32");
    only = static_cast<int>(n - 1);
  }
  HostApi api;
  if (!api.ok()) {
    std::fprintf(stderr, "hbtio: %s\n", api.error().c_str());
    return kExitFailed;
  }
  int shown = 0, failed = 0;
  std::vector<ChannelSample> samples;
  for (int c = only < 0 ? 0 : only; c < (only < 0 ? kMaxChannels : only + 1); ++c) {
    NioStatus status = -1;
    std::int16_t selector = 0;
    image::StatisticsBlock block{};
    api.read_stats(&status, nullptr, static_cast<std::int16_t>(c), &selector, reinterpret_cast<std::uint8_t*>(&block));
    if (status != 0) {
      if (only >= 0) {
        std::fprintf(stderr, "hbtio: there is no channel %d\n", c + 1);
        ++failed;
      }
      break;  // past the last channel
    }
    if (reset) {
      const bool in_service = static_cast<std::uint8_t>(selector) != image::kChannelNotInService;
      if (in_service) {
        api.reset_stats(&status, nullptr, static_cast<std::int16_t>(c));
        api.read_stats(&status, nullptr, static_cast<std::int16_t>(c), &selector, reinterpret_cast<std::uint8_t*>(&block));
      } else if (only >= 0) {
        std::fprintf(stderr, "hbtio: channel %d is not in service: its statistics cannot be reset\n", c + 1);
        ++failed;
      }
    }
    if (prometheus)
      samples.push_back({c + 1, static_cast<std::uint8_t>(selector) != image::kChannelNotInService, block});
    else
      print_stats(c, selector, block, inv.json);
    ++shown;
  }
  // All or nothing: a textfile collector must never read half a file's worth.
  if (prometheus && failed == 0) std::fputs(prometheus_text(samples).c_str(), stdout);
  api.report_messages(failed > 0 || shown == 0);
  if (shown == 0 && failed == 0) std::fprintf(stderr, "hbtio: no channels (is the driver running?)\n");
  return failed == 0 && shown > 0 ? kExitOk : kExitFailed;
}

}  // namespace

HBTIO_COMMAND(stats, "stats", "stats [CHANNEL] [--reset] [--prometheus]",
              "show (and reset) the communication statistics of a channel, or of all; --prometheus in the "
              "Prometheus text format",
              run_stats)

}  // namespace hbt::hbtio
