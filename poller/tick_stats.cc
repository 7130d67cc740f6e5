#include "poller/tick_stats.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>

namespace hbt::poller {

namespace {

constexpr std::int64_t kBucketNs = 10'000;  // 10 us
constexpr std::size_t kBuckets = 10'000;    // up to 100 ms; later ticks land in the last one

struct Histogram {
  std::array<std::uint64_t, kBuckets> counts{};
  std::uint64_t total = 0;
  std::int64_t max_ns = 0;
};

Histogram& histogram() {
  static Histogram h;
  return h;
}

const char* stats_path() {
  static const char* path = std::getenv("HBT_TICK_STATS");
  return path != nullptr && *path != '\0' ? path : nullptr;
}

double percentile_ms(const Histogram& h, double share) {
  if (h.total == 0) return 0;
  const auto wanted = static_cast<std::uint64_t>(share * static_cast<double>(h.total - 1)) + 1;
  std::uint64_t seen = 0;
  for (std::size_t i = 0; i < kBuckets; ++i) {
    seen += h.counts[i];
    if (seen >= wanted) return static_cast<double>((i + 1) * kBucketNs) / 1e6;  // bucket's upper edge
  }
  return static_cast<double>(h.max_ns) / 1e6;
}

}  // namespace

bool tick_stats_enabled() { return stats_path() != nullptr; }

void record_tick_lateness(std::int64_t late_ns) {
  Histogram& h = histogram();
  late_ns = std::max<std::int64_t>(0, late_ns);
  const std::size_t bucket = std::min<std::size_t>(static_cast<std::size_t>(late_ns / kBucketNs), kBuckets - 1);
  ++h.counts[bucket];
  ++h.total;
  h.max_ns = std::max(h.max_ns, late_ns);
}

TickSummary summarize_ticks() {
  const Histogram& h = histogram();
  TickSummary s;
  s.ticks = h.total;
  s.p50_ms = percentile_ms(h, 0.50);
  s.p90_ms = percentile_ms(h, 0.90);
  s.p99_ms = percentile_ms(h, 0.99);
  s.p999_ms = percentile_ms(h, 0.999);
  s.max_ms = static_cast<double>(h.max_ns) / 1e6;
  return s;
}

void reset_tick_stats() { histogram() = Histogram{}; }

void write_tick_stats() {
  const char* path = stats_path();
  if (path == nullptr) return;
  std::FILE* f = std::fopen(path, "w");
  if (f == nullptr) return;
  const TickSummary s = summarize_ticks();
  std::fprintf(f, "# tick lateness: ticks=%llu p50_ms=%.3f p90_ms=%.3f p99_ms=%.3f p999_ms=%.3f max_ms=%.3f\n",
               static_cast<unsigned long long>(s.ticks), s.p50_ms, s.p90_ms, s.p99_ms, s.p999_ms, s.max_ms);
  std::fprintf(f, "# bucket_upper_us count\n");
  const Histogram& h = histogram();
  for (std::size_t i = 0; i < kBuckets; ++i)
    if (h.counts[i] != 0)
      std::fprintf(f, "%llu %llu\n", static_cast<unsigned long long>((i + 1) * kBucketNs / 1000),
                   static_cast<unsigned long long>(h.counts[i]));
  std::fclose(f);
}

}  // namespace hbt::poller
