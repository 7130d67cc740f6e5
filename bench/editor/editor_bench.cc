// Costs of the editor's file operations on the limits configuration (32 channels,
// 255 devices, 10,000 poll records), each including its disk I/O. Every benchmark
// reports the process's peak resident size; run one benchmark per process (run.sh) to
// read it per operation.
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "editor/config_file.h"
#include "editor/csv.h"

namespace ed = hbt::editor;

namespace {

std::string read_text(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

const std::string& limits_csv() {
  static const std::string text = read_text(std::string(HBT_SOURCE_DIR) + "/examples/limits.csv");
  return text;
}

class DropErrors final : public ed::ImportErrorSink {
 public:
  void error(int, std::string_view) override { ++count; }
  int count = 0;
};

void load_limits(ed::CDidDoc& doc) {
  DropErrors errors;
  ed::import_csv_text(doc, limits_csv(), ',', errors);
  if (errors.count != 0 || doc.poll_record_count() != 10000) std::abort();
}

std::string scratch(const char* name) {
  return "/tmp/hbt_editor_bench_" + std::to_string(::getpid()) + "_" + name;
}

void report_peak(benchmark::State& state) {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  state.counters["peak_rss_MiB"] = static_cast<double>(usage.ru_maxrss) / 1024.0;
  state.counters["records"] = 10000;
}

void BM_Save(benchmark::State& state) {
  ed::CDidDoc doc;
  load_limits(doc);
  std::string path = scratch("save.HBT");
  std::size_t size = 0;
  for (auto _ : state) {
    std::vector<std::uint8_t> bytes;
    if (!ed::pack_configuration(doc, 0, &bytes).ok()) std::abort();
    int error = 0;
    if (!ed::replace_file(path, bytes, &error)) std::abort();
    size = bytes.size();
  }
  std::remove(path.c_str());
  state.counters["file_bytes"] = static_cast<double>(size);
  report_peak(state);
}

void BM_Open(benchmark::State& state) {
  std::string path = scratch("open.HBT");
  {
    ed::CDidDoc doc;
    load_limits(doc);
    std::vector<std::uint8_t> bytes;
    int error = 0;
    if (!ed::pack_configuration(doc, 0, &bytes).ok() || !ed::replace_file(path, bytes, &error)) std::abort();
  }
  for (auto _ : state) {
    ed::CDidDoc doc;
    ed::FileSource source;
    if (!source.open(path)) std::abort();
    if (ed::read_configuration(doc, source).corrupt) std::abort();
    benchmark::DoNotOptimize(doc.poll_record_count());
  }
  std::remove(path.c_str());
  report_peak(state);
}

void BM_CsvExport(benchmark::State& state) {
  ed::CDidDoc doc;
  load_limits(doc);
  std::string path = scratch("export.csv");
  for (auto _ : state) {
    std::string text = ed::export_csv_text(doc, ',', 0);
    int error = 0;
    if (!ed::replace_file(path, {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()}, &error)) {
      std::abort();
    }
  }
  std::remove(path.c_str());
  report_peak(state);
}

void BM_CsvImport(benchmark::State& state) {
  std::string path = scratch("import.csv");
  {
    std::ofstream(path, std::ios::binary) << limits_csv();
  }
  for (auto _ : state) {
    ed::CDidDoc doc;
    DropErrors errors;
    ed::import_csv_text(doc, read_text(path), ',', errors);
    if (doc.poll_record_count() != 10000) std::abort();
  }
  std::remove(path.c_str());
  report_peak(state);
}

}  // namespace

BENCHMARK(BM_Save)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Open)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CsvExport)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CsvImport)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
