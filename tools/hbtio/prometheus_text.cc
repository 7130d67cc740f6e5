#include "tools/hbtio/prometheus_text.h"

#include <cstdint>

namespace hbt::hbtio {

namespace {

struct Family {
  const char* name;
  const char* type;
  const char* help;
  std::uint32_t (*value)(const ChannelSample&);
};

// The poller keeps 16-bit counters: they wrap at 65536, which a rate() takes for a reset.
constexpr Family kFamilies[] = {
    {"hbt_channel_in_service", "gauge", "Whether the poller polls the channel (1) or not (0).",
     [](const ChannelSample& c) -> std::uint32_t { return c.in_service ? 1 : 0; }},
    {"hbt_requests_sent_total", "counter", "Requests sent to the PLCs of the channel, retries not counted.",
     [](const ChannelSample& c) -> std::uint32_t { return c.stats.requests_sent; }},
    {"hbt_replies_received_total", "counter", "Replies received from the PLCs of the channel.",
     [](const ChannelSample& c) -> std::uint32_t { return c.stats.replies_received; }},
    {"hbt_retries_total", "counter", "Requests sent again after a reply timeout.",
     [](const ChannelSample& c) -> std::uint32_t { return c.stats.retries; }},
    {"hbt_reply_timeouts_total", "counter", "Reply timeouts, retries included.",
     [](const ChannelSample& c) -> std::uint32_t { return c.stats.reply_timeouts; }},
    {"hbt_abnormal_codes_total", "counter", "Replies with an abnormal completion code (A-series).",
     [](const ChannelSample& c) -> std::uint32_t { return c.stats.abnormal_codes; }},
    {"hbt_rejected_replies_total", "counter", "Replies refused for their length or command code.",
     [](const ChannelSample& c) -> std::uint32_t { return c.stats.rejected_replies; }},
    {"hbt_reads_not_sent_total", "counter", "Reads that found no connection ready.",
     [](const ChannelSample& c) -> std::uint32_t { return c.stats.reads_not_sent; }},
    {"hbt_writes_not_sent_total", "counter", "Writes that found no connection ready.",
     [](const ChannelSample& c) -> std::uint32_t { return c.stats.writes_not_sent; }},
    {"hbt_last_abnormal_code", "gauge", "The last abnormal completion code (A-series); 0 when none came.",
     [](const ChannelSample& c) -> std::uint32_t { return c.stats.last_abnormal_code; }},
    {"hbt_last_extended_error", "gauge", "The last extended error code after completion code 0x5B (A-series).",
     [](const ChannelSample& c) -> std::uint32_t { return c.stats.last_extended_error; }},
};

}  // namespace

std::string prometheus_text(const std::vector<ChannelSample>& channels) {
  std::string out;
  if (channels.empty()) return out;
  for (const Family& f : kFamilies) {
    out += std::string("# HELP ") + f.name + " " + f.help + "\n";
    out += std::string("# TYPE ") + f.name + " " + f.type + "\n";
    for (const ChannelSample& c : channels)
      out += std::string(f.name) + "{channel=\"" + std::to_string(c.channel) + "\"} " + std::to_string(f.value(c)) + "\n";
  }
  return out;
}

}  // namespace hbt::hbtio
