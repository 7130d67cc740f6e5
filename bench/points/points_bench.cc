// The points library at plant size: 32 PLCs, about 100,000 points in 9,984 poll records, on an
// image with a stand-in poller. Measures building the lists (with the first read of every
// value), the memory a point costs, one look at the image with N records answered since the
// last, and taking a batch of changes. At 10,000 changes a second and a look every 50 ms, a
// look has about 500 changed values to find.
#include <benchmark/benchmark.h>

#include <memory>

#include "points/session.h"
#include "points/test_driver.h"

namespace hbt::points {
namespace {

using image::DataType;
using image::RegisterType;
using testing::FakeClock;
using testing::FakePoller;
using testing::Plant;

constexpr int kPlcs = 32;
constexpr int kRecordsPerPlc = 312;

testsupport::ConfigSpec big_plant() {
  testsupport::ConfigSpec c;
  c.channels.clear();
  for (int plc = 0; plc < kPlcs; ++plc) {
    testsupport::ChannelSpec ch;
    ch.ip_port = static_cast<std::uint32_t>(5000 + plc);
    auto& d = ch.devices[0];
    d.name = "PLC" + std::to_string(plc + 1);
    d.description = "Line " + std::to_string(plc + 1);
    d.records.clear();
    for (int i = 0; i < kRecordsPerPlc; ++i) {
      testsupport::RecordSpec r;
      if (i % 8 == 7) {
        r.type = RegisterType::M;
        r.start = static_cast<std::uint32_t>(16 * i);
        r.length = 16;
        r.data_type = DataType::Digital;
      } else {
        r.type = RegisterType::D;
        r.start = static_cast<std::uint32_t>(10 * i);
        r.length = 10;
        r.data_type = DataType::Unsigned;
      }
      r.poll_time = 100;
      d.records.push_back(r);
    }
    c.channels.push_back(ch);
  }
  return c;
}

struct BigPlant {
  Plant plant{big_plant()};
  FakeClock clock;
  FakePoller poller{plant, clock};
  HostExports host;
  std::unique_ptr<Session> session;
  int records = 0;
  int next = 0;
  std::uint16_t value = 1;

  BigPlant() {
    testing::g_host = &plant.host();
    host = testing::plant_exports();
    records = plant.driver().poll_record_count();
    for (int k = 0; k < records; ++k) plant.record(k)->status = 0;
    poller.start();
  }
  std::unique_ptr<Session> open() {
    SessionOptions o;
    o.background = false;
    o.host = &host;
    o.clock = &clock;
    std::int32_t result = 0;
    std::string error;
    auto s = Session::open(o, &result, &error);
    if (!s) std::fprintf(stderr, "open: %s\n", error.c_str());
    return s;
  }
  // n records answered with one changed value each, then 50 ms pass.
  void answer(int n) {
    for (int i = 0; i < n; ++i) {
      const int k = next++ % records;
      const std::uint16_t v = value++;
      poller.poll(k, [&] { std::memcpy(plant.area(k, 1), &v, 2); });
    }
    poller.advance(50);
  }
};

BigPlant& plant() {
  static BigPlant* p = new BigPlant;
  return *p;
}

void BM_OpenAndList(benchmark::State& state) {
  BigPlant& p = plant();
  std::uint32_t points = 0;
  std::size_t model = 0, runtime = 0;
  for (auto _ : state) {
    auto s = p.open();
    const hbt_point_info* info = nullptr;
    s->list(nullptr, nullptr, nullptr, nullptr, nullptr, &info, &points);
    model = s->model_bytes();
    runtime = s->runtime_bytes();
    benchmark::DoNotOptimize(info);
  }
  state.counters["points"] = points;
  state.counters["ns_per_point"] =
      benchmark::Counter(static_cast<double>(points) * static_cast<double>(state.iterations()),
                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
  state.counters["list_bytes_per_point"] = static_cast<double>(model) / points;
  state.counters["value_bytes_per_point"] = static_cast<double>(runtime) / points;
}
BENCHMARK(BM_OpenAndList)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_Look(benchmark::State& state) {
  BigPlant& p = plant();
  if (!p.session) p.session = p.open();
  const int changed = static_cast<int>(state.range(0));
  std::uint64_t cursor = 0;
  std::vector<hbt_point_value> out(4096);
  for (auto _ : state) {
    state.PauseTiming();
    p.answer(changed);
    state.ResumeTiming();
    p.session->update();
    state.PauseTiming();
    std::uint32_t n = 0, more = 1;
    while (more) p.session->changes(&cursor, out.data(), 4096, &n, &more);
    state.ResumeTiming();
  }
  state.counters["records_changed"] = changed;
  state.counters["records"] = p.records;
}
BENCHMARK(BM_Look)->Arg(0)->Arg(10)->Arg(100)->Arg(500)->Arg(2000)->Unit(benchmark::kMicrosecond);

void BM_ChangesBatch(benchmark::State& state) {
  BigPlant& p = plant();
  if (!p.session) p.session = p.open();
  const auto batch = static_cast<std::uint32_t>(state.range(0));
  std::uint64_t cursor = 0;
  std::vector<hbt_point_value> out(batch);
  std::uint32_t n = 0, more = 1;
  while (more) p.session->changes(&cursor, out.data(), batch, &n, &more);
  std::uint64_t given = 0;
  for (auto _ : state) {
    state.PauseTiming();
    p.answer(static_cast<int>(batch));
    p.session->update();
    state.ResumeTiming();
    p.session->changes(&cursor, out.data(), batch, &n, &more);
    given += n;
  }
  state.counters["values_per_batch"] = static_cast<double>(given) / static_cast<double>(state.iterations());
  state.counters["ns_per_value"] = benchmark::Counter(static_cast<double>(given),
                                                      benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_ChangesBatch)->Arg(100)->Arg(1000)->Unit(benchmark::kMicrosecond);

void BM_ReadFresh(benchmark::State& state) {
  BigPlant& p = plant();
  if (!p.session) p.session = p.open();
  const auto count = static_cast<std::uint32_t>(state.range(0));
  std::vector<std::uint32_t> ids(count);
  for (std::uint32_t i = 0; i < count; ++i) ids[i] = i * 97 % 99000;
  std::vector<hbt_point_value> out(count);
  for (auto _ : state) p.session->read(ids.data(), count, out.data());
  state.counters["ns_per_value"] = benchmark::Counter(static_cast<double>(count) * static_cast<double>(state.iterations()),
                                                      benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_ReadFresh)->Arg(1000)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace hbt::points

BENCHMARK_MAIN();
