// What a client pays per call: activating a registered class (each activation reads the
// class's registry entry), a BSTR round trip, and GUID text in both directions.
#include <benchmark/benchmark.h>

#include "com/guid_text.h"
#include "com/testing/test_server.h"
#include "platform/registry.h"
#include "testsupport/test_environment.h"

namespace {

namespace registry = hbt::platform::registry;

void BM_CoCreateInstance(benchmark::State& state) {
  hbt::testsupport::TestEnvironment env;
  registry::set_string(registry::Hive::ClassesRoot,
                       "CLSID\\" + hbt::com::guid_text(CLSID_TestServer) + "\\InprocServer32", "", HBT_TEST_SERVER);
  CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  ITestServer* keep = nullptr;  // keeps the library loaded: this measures activation, not dlopen
  CoCreateInstance(CLSID_TestServer, nullptr, CLSCTX_INPROC_SERVER, IID_ITestServer, reinterpret_cast<void**>(&keep));
  for (auto _ : state) {
    ITestServer* server = nullptr;
    CoCreateInstance(CLSID_TestServer, nullptr, CLSCTX_INPROC_SERVER, IID_ITestServer,
                     reinterpret_cast<void**>(&server));
    benchmark::DoNotOptimize(server);
    if (server != nullptr) server->Release();
  }
  if (keep != nullptr) keep->Release();
  CoFreeUnusedLibrariesEx(0, 0);
  CoUninitialize();
}
BENCHMARK(BM_CoCreateInstance);

void BM_CategoriesManagerActivation(benchmark::State& state) {
  CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  for (auto _ : state) {
    ICatInformation* information = nullptr;
    CoCreateInstance(CLSID_StdComponentCategoriesMgr, nullptr, CLSCTX_INPROC_SERVER, IID_ICatInformation,
                     reinterpret_cast<void**>(&information));
    benchmark::DoNotOptimize(information);
    if (information != nullptr) information->Release();
  }
  CoUninitialize();
}
BENCHMARK(BM_CategoriesManagerActivation);

void BM_BstrRoundTrip(benchmark::State& state) {
  for (auto _ : state) {
    BSTR s = SysAllocString(u"PLC1:D:100 current value");
    benchmark::DoNotOptimize(s);
    SysFreeString(s);
  }
}
BENCHMARK(BM_BstrRoundTrip);

void BM_GuidTextRoundTrip(benchmark::State& state) {
  OLECHAR text[CHARS_IN_GUID];
  CLSID back;
  for (auto _ : state) {
    StringFromGUID2(CLSID_TestServer, text, CHARS_IN_GUID);
    CLSIDFromString(text, &back);
    benchmark::DoNotOptimize(back);
  }
}
BENCHMARK(BM_GuidTextRoundTrip);

}  // namespace

BENCHMARK_MAIN();
