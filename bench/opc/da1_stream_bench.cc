// Building the DA 1.0 stream blocks: a data-with-time report of N items (floats, with every
// tenth item a 10-character text) and a write-complete report, per block and per item.
#include <benchmark/benchmark.h>

#include <vector>

#include "com/bstr.h"
#include "com/variant.h"
#include "opc/da1_stream.h"

namespace {

using hbt::opc::StreamValue;
using hbt::opc::StreamWriteResult;

void BM_DataTimeStream(benchmark::State& state) {
  const auto n = static_cast<std::size_t>(state.range(0));
  std::vector<VARIANT> values(n);
  std::vector<StreamValue> items(n);
  for (std::size_t i = 0; i < n; ++i) {
    hbt::com::VariantInit(&values[i]);
    if (i % 10 == 9) {
      values[i].vt = VT_BSTR;
      values[i].bstrVal = hbt::com::SysAllocString(u"0123456789");
    } else {
      values[i].vt = VT_R4;
      values[i].fltVal = static_cast<float>(i) * 0.5f;
    }
    items[i] = {static_cast<OPCHANDLE>(i + 1), &values[i], 0xC0, {static_cast<DWORD>(i), 0x01DB0000}};
  }
  for (auto _ : state) {
    HGLOBAL block = hbt::opc::build_data_stream(true, 7, 0, items.data(), items.size());
    benchmark::DoNotOptimize(block);
    GlobalFree(block);
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
  for (auto& v : values) hbt::com::VariantClear(&v);
}
BENCHMARK(BM_DataTimeStream)->Arg(1)->Arg(32)->Arg(1000)->Arg(10000);

void BM_WriteCompleteStream(benchmark::State& state) {
  const auto n = static_cast<std::size_t>(state.range(0));
  std::vector<StreamWriteResult> results(n);
  for (std::size_t i = 0; i < n; ++i) results[i] = {static_cast<OPCHANDLE>(i + 1), S_OK};
  for (auto _ : state) {
    HGLOBAL block = hbt::opc::build_write_complete_stream(7, 1, results.data(), results.size());
    benchmark::DoNotOptimize(block);
    GlobalFree(block);
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_WriteCompleteStream)->Arg(1000);

}  // namespace

BENCHMARK_MAIN();
