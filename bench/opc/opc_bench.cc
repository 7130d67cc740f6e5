// The OPC server through the COM runtime on a live 1,000-record image: AddItems of 10,000 item
// IDs in one call (time and heap per item), activation to the first AddGroup, and the
// bandwidth figure of a server with 100 groups.
#include <benchmark/benchmark.h>
#include <dlfcn.h>
#include <malloc.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "image/niolib.h"
#include "objbase.h"
#include "opcda.h"
#include "testsupport/driver_setup.h"

namespace {

using namespace hbt;

constexpr int kItems = 10000;
// {6F1D2C3A-9B47-4E85-A0C2-7D5E8B91F346}
constexpr CLSID kServer = {0x6F1D2C3A, 0x9B47, 0x4E85, {0xA0, 0xC2, 0x7D, 0x5E, 0x8B, 0x91, 0xF3, 0x46}};

// The image (loaded by a driver-side NIOLIB standing in for the poller) and the registered server.
struct Plant {
  testsupport::TestEnvironment env;
  image::NullSink sink;
  std::unique_ptr<image::Niolib> driver;
  std::vector<std::u16string> ids;

  Plant() {
    testsupport::install_configuration(env, testsupport::large_configuration(1000));
    driver = std::make_unique<image::Niolib>(image::NiolibOptions{image::NiolibVariant::kDriver}, sink);
    driver->init_dit();
    for (int k = 0; k < driver->poll_record_count(); ++k) driver->nio_map_dit(k)->status = 0;
    void* lib = dlopen(HBT_LIB_DIR "/HBTOPC.so", RTLD_NOW | RTLD_LOCAL);
    auto reg = reinterpret_cast<HRESULT (*)()>(dlsym(lib, "DllRegisterServer"));
    reg();
    dlclose(lib);
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    // DEV0..DEV3 hold D0..D2549 each.
    for (int i = 0; i < kItems; ++i) {
      std::string id = "DEV" + std::to_string(i / 2550) + ":D:" + std::to_string(i % 2550);
      ids.emplace_back(id.begin(), id.end());
    }
  }
};

Plant& plant() {
  static Plant p;
  return p;
}

IOPCServer* make_server() {
  IOPCServer* server = nullptr;
  CoCreateInstance(kServer, nullptr, CLSCTX_INPROC_SERVER, IID_IOPCServer, reinterpret_cast<void**>(&server));
  return server;
}

IOPCItemMgt* add_group(IOPCServer* server, const char16_t* name, OPCHANDLE* handle) {
  DWORD revised;
  IUnknown* unk = nullptr;
  server->AddGroup(name, TRUE, 1000, 0, nullptr, nullptr, 0, handle, &revised, IID_IOPCItemMgt, &unk);
  return static_cast<IOPCItemMgt*>(static_cast<void*>(unk));
}

void BM_AddItems10000(benchmark::State& state) {
  Plant& p = plant();
  IOPCServer* server = make_server();
  OPCHANDLE gh;
  IOPCItemMgt* items = add_group(server, u"bench", &gh);
  std::vector<OPCITEMDEF> defs(kItems);
  for (int i = 0; i < kItems; ++i) {
    defs[i].szItemID = const_cast<LPWSTR>(p.ids[i].c_str());
    defs[i].bActive = TRUE;
    defs[i].hClient = i;
  }
  double bytes = 0;
  int failed = 0;
  for (auto _ : state) {
    std::size_t before = mallinfo2().uordblks;
    OPCITEMRESULT* results = nullptr;
    HRESULT* errors = nullptr;
    items->AddItems(kItems, defs.data(), &results, &errors);
    state.PauseTiming();
    std::vector<OPCHANDLE> handles(kItems);
    failed = 0;
    for (int i = 0; i < kItems; ++i) {
      handles[i] = results[i].hServer;
      failed += FAILED(errors[i]);
    }
    CoTaskMemFree(results);
    CoTaskMemFree(errors);
    bytes = static_cast<double>(mallinfo2().uordblks - before) / kItems;
    items->RemoveItems(kItems, handles.data(), &errors);
    CoTaskMemFree(errors);
    state.ResumeTiming();
  }
  state.counters["items_per_call"] = kItems;
  state.counters["failed"] = failed;
  state.counters["heap_bytes_per_item"] = bytes;
  state.counters["per_item"] = benchmark::Counter(kItems, benchmark::Counter::kIsIterationInvariantRate |
                                                              benchmark::Counter::kInvert);
  items->Release();
  server->Release();
}
BENCHMARK(BM_AddItems10000)->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_ActivationToFirstAddGroup(benchmark::State& state) {
  plant();
  for (auto _ : state) {
    IOPCServer* server = make_server();
    OPCHANDLE gh;
    IOPCItemMgt* items = add_group(server, u"first", &gh);
    state.PauseTiming();
    items->Release();
    server->Release();  // the final release waits for the poll thread
    state.ResumeTiming();
  }
}
BENCHMARK(BM_ActivationToFirstAddGroup)->Unit(benchmark::kMicrosecond);

// The figure GetStatus reports after the bandwidth thread's next samples, with 100 groups of
// 100 items each and no data sink.
void BM_BandwidthOf100Groups(benchmark::State& state) {
  Plant& p = plant();
  IOPCServer* server = make_server();
  std::vector<IOPCItemMgt*> groups;
  for (int g = 0; g < 100; ++g) {
    OPCHANDLE gh;
    std::u16string name = u"g" + std::u16string(1, static_cast<char16_t>(u'A' + g / 26)) +
                          std::u16string(1, static_cast<char16_t>(u'a' + g % 26));
    IOPCItemMgt* items = add_group(server, name.c_str(), &gh);
    std::vector<OPCITEMDEF> defs(100);
    for (int i = 0; i < 100; ++i) defs[i].szItemID = const_cast<LPWSTR>(p.ids[g * 100 + i].c_str());
    OPCITEMRESULT* results = nullptr;
    HRESULT* errors = nullptr;
    items->AddItems(100, defs.data(), &results, &errors);
    CoTaskMemFree(results);
    CoTaskMemFree(errors);
    groups.push_back(items);
  }
  DWORD bandwidth = 0;
  for (auto _ : state) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));
    OPCSERVERSTATUS* status = nullptr;
    server->GetStatus(&status);
    bandwidth = status->dwBandWidth;
    CoTaskMemFree(status->szVendorInfo);
    CoTaskMemFree(status);
  }
  state.counters["bandwidth_percent"] = bandwidth;
  for (auto* g : groups) g->Release();
  server->Release();
}
BENCHMARK(BM_BandwidthOf100Groups)->Unit(benchmark::kMillisecond)->Iterations(2);

}  // namespace

BENCHMARK_MAIN();
