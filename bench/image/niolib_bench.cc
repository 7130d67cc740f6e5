// Costs of reaching the image: loading and accepting it, lock bytes, record lookups.
#include <benchmark/benchmark.h>

#include <cstdio>

#include "image/image_check.h"
#include "image/lock_byte.h"
#include "image/niolib.h"
#include "testsupport/driver_setup.h"

namespace hbt::image {
namespace {

struct Loaded {
  testsupport::TestEnvironment env;
  NullSink sink;
  Niolib driver{{NiolibVariant::kDriver}, sink};
  Loaded() {
    testsupport::install_configuration(env, testsupport::large_configuration(kMaxPollRecords));
    if (!driver.init_dit()) std::fprintf(stderr, "image not loaded\n");
  }
};

// init_dit on a 10,000-record file: read the file into a new region and check every record.
void BM_LoadAndAccept10000Records(benchmark::State& state) {
  Loaded loaded;
  for (auto _ : state) {
    bool ok = loaded.driver.init_dit();
    benchmark::DoNotOptimize(ok);
  }
  state.counters["bytes"] = static_cast<double>(loaded.driver.image_size());
}
BENCHMARK(BM_LoadAndAccept10000Records)->Unit(benchmark::kMillisecond);

// The acceptance check alone, on an image already in memory.
void BM_CheckImage10000Records(benchmark::State& state) {
  Loaded loaded;
  for (auto _ : state) {
    std::string detail;
    benchmark::DoNotOptimize(check_image(loaded.driver.image_base(), loaded.driver.image_size(), &detail));
  }
}
BENCHMARK(BM_CheckImage10000Records)->Unit(benchmark::kMillisecond);

void BM_LockUnlock(benchmark::State& state) {
  std::uint8_t byte = kUnlocked;
  for (auto _ : state) {
    lock_byte(&byte);
    unlock_byte(&byte);
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_LockUnlock);

// nio_find_data on the record looked up last: the one-entry cache answers.
void BM_FindDataCached(benchmark::State& state) {
  Loaded loaded;
  loaded.driver.nio_map_dit(5000);
  for (auto _ : state) benchmark::DoNotOptimize(loaded.driver.nio_find_data(5000, kAreaCurrent));
}
BENCHMARK(BM_FindDataCached);

// nio_map_dit of a different record each time (what a cache miss costs, without its message).
void BM_MapDitUncached(benchmark::State& state) {
  Loaded loaded;
  int k = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(loaded.driver.nio_map_dit(k));
    k = (k + 7919) % kMaxPollRecords;
  }
}
BENCHMARK(BM_MapDitUncached);

// A client's nio_map_dit, which first checks that its generation is current.
void BM_ClientMapDit(benchmark::State& state) {
  Loaded loaded;
  NiolibOptions options;
  options.start_poller = false;
  Niolib client(options, loaded.sink);
  client.nio_map_hdr();
  int k = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(client.nio_map_dit(k));
    k = (k + 7919) % kMaxPollRecords;
  }
}
BENCHMARK(BM_ClientMapDit);

}  // namespace
}  // namespace hbt::image

BENCHMARK_MAIN();
