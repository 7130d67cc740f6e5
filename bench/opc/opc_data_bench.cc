// The OPC server's data exchange, measured inside the server library against a live
// 1,000-record image: one update pass of a group of 10,000 active items (nothing changed,
// and every item changed), and IOPCSyncIO::Read of 1 and of 1,000 items from the device.
#include <benchmark/benchmark.h>

#include <atomic>
#include <bit>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "com/task_memory.h"
#include "com/variant.h"
#include "hostlib/test_plant.h"
#include "opc/group.h"
#include "opc/identity.h"
#include "opc/library.h"
#include "opc/server_factory.h"
#include "opc/settings.h"
#include "testsupport/image_builder.h"

namespace {

using namespace hbt;
using namespace hbt::opc;

constexpr int kItems = 10000;

hostlib::HostLibrary* host = nullptr;

HostApi plant_api() {
  HostApi api;
  api.paddr = [](NioStatus* s, NioBlock* b, NioFormat* f, const char* a) { return host->nio_paddr(s, b, f, a); };
  api.psig = [](NioStatus* s, NioBlock* b, NioFormat* f, const char* t) { return host->nio_psig(s, b, f, t); };
  api.popt = [](NioStatus* s, NioBlock* b, NioFormat* f, const char* t) { return host->nio_popt(s, b, f, t); };
  api.readEx = [](NioStatus* s, NioBlock* b, NioFormat* f, FILETIME* ts, std::uint16_t* q, std::int32_t n,
                  VARIANT* v) { return host->nio_readEx(s, b, f, ts, q, n, v); };
  api.sendEx = [](NioStatus* s, NioBlock* b, NioFormat* f, void*, std::int32_t n, VARIANT* v) {
    return host->nio_sendEx(s, b, f, n, v);
  };
  api.get_ServerStatus = [](char* text, std::int32_t* changed) { return host->nio_get_ServerStatus(text, changed); };
  api.SendMsg = [](std::int16_t, const char*) {};
  api.CleanUp = [](NioStatus* s) { return *s = 0; };
  return api;
}

// Counts what arrives and keeps nothing.
class CountingSink final : public IOPCDataCallback {
 public:
  HRESULT QueryInterface(REFIID riid, void** object) override {
    *object = nullptr;
    if (!IsEqualGUID(riid, IID_IUnknown) && !IsEqualGUID(riid, IID_IOPCDataCallback)) return E_NOINTERFACE;
    *object = static_cast<IOPCDataCallback*>(this);
    return S_OK;
  }
  ULONG AddRef() override { return 2; }
  ULONG Release() override { return 1; }
  HRESULT OnDataChange(DWORD, OPCHANDLE, HRESULT, HRESULT, DWORD n, OPCHANDLE*, VARIANT*, WORD*, FILETIME*,
                       HRESULT*) override {
    items += n;
    ++calls;
    return S_OK;
  }
  HRESULT OnReadComplete(DWORD, OPCHANDLE, HRESULT, HRESULT, DWORD, OPCHANDLE*, VARIANT*, WORD*, FILETIME*,
                         HRESULT*) override {
    return S_OK;
  }
  HRESULT OnWriteComplete(DWORD, OPCHANDLE, HRESULT, DWORD, OPCHANDLE*, HRESULT*) override { return S_OK; }
  HRESULT OnCancelComplete(DWORD, OPCHANDLE) override { return S_OK; }
  std::uint64_t items = 0;
  std::uint64_t calls = 0;
};

// The image, the server library attached to it, one server whose poll thread sleeps through
// the measurements (the benchmark runs the update passes itself), and a group of 10,000
// active items on DEV0..DEV3 D0..D2549 with a data callback.
struct Fixture {
  hostlib::testing::Plant plant{testsupport::large_configuration(1000)};
  IOPCServer* server = nullptr;
  IOPCItemMgt* items = nullptr;
  COPCDrvGroup* group = nullptr;
  std::vector<OPCHANDLE> handles;
  CountingSink sink;

  Fixture() {
    plant.all_good();
    host = &plant.host();
    library_attach(plant_api());
    Settings s = settings();
    s.thread_sleep_time = 3600000;
    set_settings(s);
    IClassFactory* factory = nullptr;
    get_class_object(kServerClsid, IID_IClassFactory, reinterpret_cast<void**>(&factory));
    factory->CreateInstance(nullptr, IID_IOPCServer, reinterpret_cast<void**>(&server));
    factory->Release();
    OPCHANDLE gh = 0;
    DWORD revised = 0;
    IUnknown* unk = nullptr;
    server->AddGroup(u"bench", TRUE, 1000, 1, nullptr, nullptr, 0, &gh, &revised, IID_IOPCItemMgt, &unk);
    items = static_cast<IOPCItemMgt*>(static_cast<void*>(unk));
    IUnknown* identity = nullptr;
    items->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity));
    group = static_cast<COPCDrvGroup*>(identity);
    identity->Release();

    std::vector<std::u16string> ids;
    for (int i = 0; i < kItems; ++i) {
      std::string id = "DEV" + std::to_string(i / 2550) + ":D:" + std::to_string(i % 2550);
      ids.emplace_back(id.begin(), id.end());
    }
    std::vector<OPCITEMDEF> defs(kItems);
    for (int i = 0; i < kItems; ++i) {
      defs[i].szItemID = const_cast<LPWSTR>(ids[i].c_str());
      defs[i].bActive = TRUE;
      defs[i].hClient = static_cast<OPCHANDLE>(i);
    }
    OPCITEMRESULT* results = nullptr;
    HRESULT* errors = nullptr;
    items->AddItems(kItems, defs.data(), &results, &errors);
    for (int i = 0; i < kItems; ++i) handles.push_back(results[i].hServer);
    com::CoTaskMemFree(results);
    com::CoTaskMemFree(errors);

    IConnectionPointContainer* container = nullptr;
    items->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&container));
    IConnectionPoint* point = nullptr;
    container->FindConnectionPoint(IID_IOPCDataCallback, &point);
    DWORD cookie = 0;
    point->Advise(&sink, &cookie);
    point->Release();
    container->Release();
    pass();  // takes the sink over
    pass();  // reports every item once
  }
  // One visit that is due: the group's rate is the poll thread's hour-long sleep time.
  void pass() { group->update(3600000); }
  // Moves every word of the 1,000 records' first 10,000 registers.
  void change_all(std::uint16_t base) {
    for (int k = 0; k < plant.driver().poll_record_count(); ++k)
      for (int i = 0; i < 10; ++i) plant.set_word(k, i, static_cast<std::uint16_t>(base + i));
  }
};

Fixture& fixture() {
  static Fixture* f = new Fixture();  // lives to the end of the process
  return *f;
}

void BM_UpdatePass10000Unchanged(benchmark::State& state) {
  Fixture& f = fixture();
  std::uint64_t before = f.sink.items;
  for (auto _ : state) f.pass();
  state.counters["items_reported"] = static_cast<double>(f.sink.items - before);
}
BENCHMARK(BM_UpdatePass10000Unchanged)->Unit(benchmark::kMillisecond);

void BM_UpdatePass10000AllChanged(benchmark::State& state) {
  Fixture& f = fixture();
  std::uint16_t base = 1;
  std::uint64_t calls = f.sink.calls, items = f.sink.items;
  for (auto _ : state) {
    state.PauseTiming();
    f.change_all(base += 20);
    state.ResumeTiming();
    f.pass();
  }
  state.counters["callbacks_per_pass"] =
      benchmark::Counter(static_cast<double>(f.sink.calls - calls), benchmark::Counter::kAvgIterations);
  state.counters["items_per_pass"] =
      benchmark::Counter(static_cast<double>(f.sink.items - items), benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_UpdatePass10000AllChanged)->Unit(benchmark::kMillisecond);

void BM_SyncReadFromDevice(benchmark::State& state) {
  Fixture& f = fixture();
  auto n = static_cast<DWORD>(state.range(0));
  IOPCSyncIO* sync = nullptr;
  f.items->QueryInterface(IID_IOPCSyncIO, reinterpret_cast<void**>(&sync));
  for (auto _ : state) {
    OPCITEMSTATE* states = nullptr;
    HRESULT* errors = nullptr;
    sync->Read(OPC_DS_DEVICE, n, f.handles.data(), &states, &errors);
    for (DWORD i = 0; i < n; ++i) com::VariantClear(&states[i].vDataValue);
    com::CoTaskMemFree(states);
    com::CoTaskMemFree(errors);
  }
  state.counters["per_item"] =
      benchmark::Counter(static_cast<double>(n), benchmark::Counter::kIsIterationInvariantRate |
                                                     benchmark::Counter::kInvert);
  sync->Release();
}
BENCHMARK(BM_SyncReadFromDevice)->Arg(1)->Arg(1000)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
