// Browsing, item properties and direct item reads through the COM runtime and HBTOPC.so on
// a live 1,000-record image (four devices): a flat list of every range, a filtered leaf list,
// the properties of one item, and IOPCItemIO::Read of 1 and of 100 item IDs.
#include <benchmark/benchmark.h>
#include <dlfcn.h>

#include <string>
#include <vector>

#include "image/niolib.h"
#include "objbase.h"
#include "opcda.h"
#include "testsupport/driver_setup.h"

namespace {

using namespace hbt;

// {6F1D2C3A-9B47-4E85-A0C2-7D5E8B91F346}
constexpr CLSID kServer = {0x6F1D2C3A, 0x9B47, 0x4E85, {0xA0, 0xC2, 0x7D, 0x5E, 0x8B, 0x91, 0xF3, 0x46}};

// The image (loaded by a driver-side NIOLIB standing in for the poller), the registered
// server, and one server object with the three interfaces.
struct Plant {
  testsupport::TestEnvironment env;
  image::NullSink sink;
  std::unique_ptr<image::Niolib> driver;
  IOPCServer* server = nullptr;
  IOPCBrowseServerAddressSpace* browse = nullptr;
  IOPCItemProperties* props = nullptr;
  IOPCItemIO* io = nullptr;

  Plant() {
    testsupport::install_configuration(env, testsupport::large_configuration(1000));
    driver = std::make_unique<image::Niolib>(image::NiolibOptions{image::NiolibVariant::kDriver}, sink);
    driver->init_dit();
    for (int k = 0; k < driver->poll_record_count(); ++k) driver->nio_map_dit(k)->status = 0;
    void* lib = dlopen(HBT_LIB_DIR "/HBTOPC.so", RTLD_NOW | RTLD_LOCAL);
    reinterpret_cast<HRESULT (*)()>(dlsym(lib, "DllRegisterServer"))();
    dlclose(lib);
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    CoCreateInstance(kServer, nullptr, CLSCTX_INPROC_SERVER, IID_IOPCServer, reinterpret_cast<void**>(&server));
    server->QueryInterface(IID_IOPCBrowseServerAddressSpace, reinterpret_cast<void**>(&browse));
    server->QueryInterface(IID_IOPCItemProperties, reinterpret_cast<void**>(&props));
    server->QueryInterface(IID_IOPCItemIO, reinterpret_cast<void**>(&io));
  }
  // The server's threads end with its last reference, before the library goes.
  ~Plant() {
    for (IUnknown* u : {static_cast<IUnknown*>(io), static_cast<IUnknown*>(props), static_cast<IUnknown*>(browse),
                        static_cast<IUnknown*>(server)})
      if (u) u->Release();
    CoUninitialize();
  }
};

Plant& plant() {
  static Plant p;
  return p;
}

std::size_t drain(IEnumString* e) {
  std::size_t n = 0;
  LPOLESTR names[64];
  ULONG fetched = 0;
  HRESULT hr;
  do {
    hr = e->Next(64, names, &fetched);
    for (ULONG i = 0; i < fetched; ++i) CoTaskMemFree(names[i]);
    n += fetched;
  } while (hr == S_OK);
  e->Release();
  return n;
}

void BM_BrowseFlatAtRoot(benchmark::State& state) {
  Plant& p = plant();
  p.browse->ChangeBrowsePosition(OPC_BROWSE_TO, u"");
  std::size_t entries = 0;
  for (auto _ : state) {
    IEnumString* e = nullptr;
    p.browse->BrowseOPCItemIDs(OPC_FLAT, u"", VT_EMPTY, 0, &e);
    entries = e ? drain(e) : 0;
  }
  state.counters["entries"] = static_cast<double>(entries);
}
BENCHMARK(BM_BrowseFlatAtRoot)->Unit(benchmark::kMicrosecond);

void BM_BrowseLeavesFiltered(benchmark::State& state) {
  Plant& p = plant();
  p.browse->ChangeBrowsePosition(OPC_BROWSE_TO, u"");
  p.browse->ChangeBrowsePosition(OPC_BROWSE_DOWN, u"DEV0");
  std::size_t entries = 0;
  for (auto _ : state) {
    IEnumString* e = nullptr;
    p.browse->BrowseOPCItemIDs(OPC_LEAF, u"*9", VT_EMPTY, 0, &e);
    entries = e ? drain(e) : 0;
  }
  state.counters["entries"] = static_cast<double>(entries);
  p.browse->ChangeBrowsePosition(OPC_BROWSE_UP, u"");
}
BENCHMARK(BM_BrowseLeavesFiltered)->Unit(benchmark::kMicrosecond);

void BM_GetEveryPropertyOfOneItem(benchmark::State& state) {
  Plant& p = plant();
  DWORD ids[] = {1, 2, 3, 4, 5, 6, 100, 102, 103, 106, 107, 5000, 5001, 5002, 5003, 5004, 5005};
  for (auto _ : state) {
    VARIANT* values = nullptr;
    HRESULT* errors = nullptr;
    p.props->GetItemProperties(const_cast<LPWSTR>(u"DEV0:D:5|LIN,0,100,,degC"), 17, ids, &values, &errors);
    for (int i = 0; values && i < 17; ++i) VariantClear(&values[i]);
    CoTaskMemFree(values);
    CoTaskMemFree(errors);
  }
}
BENCHMARK(BM_GetEveryPropertyOfOneItem)->Unit(benchmark::kMicrosecond);

void BM_ItemIoRead(benchmark::State& state) {
  Plant& p = plant();
  const auto n = static_cast<std::size_t>(state.range(0));
  std::vector<std::u16string> text(n);
  std::vector<LPCWSTR> ids(n);
  for (std::size_t i = 0; i < n; ++i) {
    std::string id = "DEV" + std::to_string(i % 4) + ":D:" + std::to_string(i * 7 % 2550);
    text[i].assign(id.begin(), id.end());
    ids[i] = text[i].c_str();
  }
  for (auto _ : state) {
    VARIANT* values = nullptr;
    WORD* qualities = nullptr;
    FILETIME* stamps = nullptr;
    HRESULT* errors = nullptr;
    p.io->Read(static_cast<DWORD>(n), ids.data(), nullptr, &values, &qualities, &stamps, &errors);
    for (std::size_t i = 0; values && i < n; ++i) VariantClear(&values[i]);
    CoTaskMemFree(values);
    CoTaskMemFree(qualities);
    CoTaskMemFree(stamps);
    CoTaskMemFree(errors);
  }
  state.counters["per_item"] =
      benchmark::Counter(static_cast<double>(n), benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_ItemIoRead)->Arg(1)->Arg(100)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
