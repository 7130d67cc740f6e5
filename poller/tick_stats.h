// Opt-in measurement of tick lateness: with HBT_TICK_STATS=FILE in the environment the main
// loop records how late each 10 ms tick wakes, and a histogram is written to FILE at exit.
#pragma once

#include <cstdint>
#include <string>

namespace hbt::poller {

// Whether HBT_TICK_STATS is set (read once).
bool tick_stats_enabled();

// One tick woke `late_ns` after its deadline.
void record_tick_lateness(std::int64_t late_ns);

// Writes the histogram to the file named by HBT_TICK_STATS; nothing when not enabled.
void write_tick_stats();

// The summary lines of a histogram, for tests and tools: counts per 10 us bucket.
struct TickSummary {
  std::uint64_t ticks = 0;
  double p50_ms = 0, p90_ms = 0, p99_ms = 0, p999_ms = 0, max_ms = 0;
};
TickSummary summarize_ticks();
void reset_tick_stats();

}  // namespace hbt::poller
