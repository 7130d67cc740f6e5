// The host library's hot calls, through the exports of HBTSTSR.so on a live 10,000-record
// image: a read of a resolved analog point, VARIANT reads of a scalar and of 100 elements, a
// write, and an exception fetch over every record with 10 of them changed. The reads also
// run from 4 threads at once, each on its own poll record.
#include <benchmark/benchmark.h>
#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "com/variant.h"
#include "hostlib/nio_exports.h"
#include "image/niolib.h"
#include "testsupport/driver_setup.h"

namespace {

using namespace hbt;
using hostlib::NioAddress;
using hostlib::NioDriverArea;

constexpr int kRecords = image::kMaxPollRecords;
constexpr int kChanged = 10;

struct Point {
  NioAddress address{};
  NioDriverArea driver{};
  NioFormat format{};
  NioBlock block{nullptr, &address, &driver};
};

// The image (loaded by a driver-side NIOLIB standing in for the poller) and the library.
struct Plant {
  testsupport::TestEnvironment env;
  image::NullSink sink;
  image::Niolib driver{{image::NiolibVariant::kDriver}, sink};
  void* library = nullptr;
  decltype(&::nio_paddr) paddr = nullptr;
  decltype(&::nio_read) read = nullptr;
  decltype(&::nio_readEx) readEx = nullptr;
  decltype(&::nio_send) send = nullptr;
  decltype(&::nio_fetch) fetch = nullptr;
  decltype(&::nio_on) on = nullptr;
  decltype(&::nio_enable_options) enable_options = nullptr;

  Plant() {
    // Record 0 is long enough for 100-element arrays; the rest are the usual 10-register ones.
    testsupport::ConfigSpec config = testsupport::large_configuration(kRecords - 1);
    testsupport::DeviceSpec big;
    big.name = "BIG";
    big.records[0].start = 0;
    big.records[0].length = 128;
    config.channels[0].devices.insert(config.channels[0].devices.begin(), big);
    testsupport::install_configuration(env, config);
    if (!driver.init_dit()) std::fprintf(stderr, "image not loaded\n");
    for (int k = 0; k < driver.poll_record_count(); ++k) {
      driver.nio_map_dit(k)->status = image::kStatusGood;
      std::uint8_t* values = driver.nio_find_data(k, image::kAreaCurrent);
      for (int w = 0; w < driver.nio_map_dit(k)->length; ++w) {
        std::uint16_t v = static_cast<std::uint16_t>(w + k);
        std::memcpy(values + 2 * w, &v, 2);
      }
    }
    library = dlopen(HBT_LIB_DIR "/HBTSTSR.so", RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
      std::fprintf(stderr, "%s\n", dlerror());
      std::exit(1);
    }
    paddr = reinterpret_cast<decltype(paddr)>(dlsym(library, "nio_paddr"));
    read = reinterpret_cast<decltype(read)>(dlsym(library, "nio_read"));
    readEx = reinterpret_cast<decltype(readEx)>(dlsym(library, "nio_readEx"));
    send = reinterpret_cast<decltype(send)>(dlsym(library, "nio_send"));
    fetch = reinterpret_cast<decltype(fetch)>(dlsym(library, "nio_fetch"));
    on = reinterpret_cast<decltype(on)>(dlsym(library, "nio_on"));
    enable_options = reinterpret_cast<decltype(enable_options)>(dlsym(library, "nio_enable_options"));
  }
  ~Plant() {
    if (library) dlclose(library);
  }

  std::unique_ptr<Point> point(const std::string& text, std::uint8_t kind = 1) {
    auto p = std::make_unique<Point>();
    p->format.kind = kind;
    p->format.egu_span = 65535;
    NioStatus status = -1;
    paddr(&status, &p->block, &p->format, text.c_str());
    if (status != 0) std::fprintf(stderr, "%s not accepted\n", text.c_str());
    return p;
  }
};

Plant* plant = nullptr;

// Device DEVn holds records 255n+1 .. 255n+255, record j at D(10j).
std::string analog_address(int thread) { return "DEV" + std::to_string(thread) + ":D:" + std::to_string(10 * thread + 5); }

void BM_nio_read_analog(benchmark::State& state) {
  auto p = plant->point(analog_address(state.thread_index()));
  float value = 0;
  NioValue v{0, 4, 0, &value};
  NioStatus status = 0;
  for (auto _ : state) {
    v.size = 4;
    plant->read(&status, &p->block, &p->format, &v);
    benchmark::DoNotOptimize(value);
  }
  if (status != 0) state.SkipWithError("read failed");
}
BENCHMARK(BM_nio_read_analog)->Threads(1)->Threads(4)->UseRealTime();

void BM_nio_readEx_scalar(benchmark::State& state) {
  auto p = plant->point(analog_address(state.thread_index()));
  NioStatus status = 0;
  for (auto _ : state) {
    com::VARIANT value;
    com::VariantInit(&value);
    std::uint16_t quality = 0;
    com::FILETIME when;
    plant->readEx(&status, &p->block, &p->format, &when, &quality, 1, &value);
    benchmark::DoNotOptimize(value.fltVal);
  }
  if (status != 0) state.SkipWithError("readEx failed");
}
BENCHMARK(BM_nio_readEx_scalar)->Threads(1)->Threads(4)->UseRealTime();

void BM_nio_readEx_array100(benchmark::State& state) {
  auto p = plant->point("BIG:D:0");
  NioStatus status = 0;
  for (auto _ : state) {
    com::VARIANT value;
    com::VariantInit(&value);
    std::uint16_t quality = 0;
    com::FILETIME when;
    plant->readEx(&status, &p->block, &p->format, &when, &quality, 100, &value);
    com::VariantClear(&value);
  }
  if (status != 0) state.SkipWithError("readEx failed");
  state.SetItemsProcessed(state.iterations() * 100);
}
BENCHMARK(BM_nio_readEx_array100);

void BM_nio_send_analog(benchmark::State& state) {
  auto p = plant->point("DEV1:D:57");
  float value = 42;
  NioValue v{hostlib::kValueFloat, 4, 0, &value};
  NioStatus status = 0;
  for (auto _ : state) plant->send(&status, &p->block, &p->format, &v);
  if (status != 0) state.SkipWithError("send failed");
}
BENCHMARK(BM_nio_send_analog);

// Every record's count is looked at; 10 records spread over the table hold one change each.
void BM_nio_fetch_10000_records_10_changed(benchmark::State& state) {
  plant->enable_options(nullptr, 1);
  std::vector<std::unique_ptr<Point>> points;
  for (int i = 0; i < kChanged; ++i) {
    const int device = i * 3;  // records 255*device + 1 + (i) ...
    points.push_back(plant->point("DEV" + std::to_string(device) + ":D:" + std::to_string(10 * i)));
    NioEventId id{static_cast<std::uint8_t>(i + 1), 0, 0};
    NioStatus status = 0;
    plant->on(&status, &points.back()->block, &points.back()->format, &id, 0);
    const int k = static_cast<int>(points.back()->address.handle & 0xFFFF);
    auto* table = reinterpret_cast<image::ExceptionEntry*>(plant->driver.nio_find_data(k, image::kAreaExceptions));
    table[0].changed = 1;
    plant->driver.nio_map_ptr(k)->changed_count = 1;
  }
  NioEventId events[64];
  std::int16_t count = 0;
  for (auto _ : state) {
    NioStatus status = 0;
    plant->fetch(&status, nullptr, events, 64, &count);
    benchmark::DoNotOptimize(events[0]);
  }
  if (count != kChanged) state.SkipWithError("fetch did not find the 10 changes");
}
BENCHMARK(BM_nio_fetch_10000_records_10_changed)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  Plant p;
  plant = &p;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  plant = nullptr;
  return 0;
}
