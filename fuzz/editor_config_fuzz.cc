// The editor's configuration-file open over any bytes: never a crash, a corrupt file leaves
// the document empty, and a file it reads saves to bytes that read back and save to the very
// same bytes again.
#include <string>

#include "editor/config_file.h"
#include "fuzz/fuzz_target.h"
#include "editor/csv.h"
#include "editor/test_configs.h"
#include "testsupport/test_environment.h"

namespace hbt::editor {
namespace {

using fuzz::fail;

constexpr const char* kName = "editor_config";

void run(std::span<const std::uint8_t> data) {
  CDidDoc doc;
  MemorySource source(data);
  const ReadReport report = read_configuration(doc, source);
  if (report.corrupt) return;
  std::vector<std::uint8_t> first;
  if (!pack_configuration(doc, 1234, &first).ok()) return;
  CDidDoc again;
  MemorySource first_source(first);
  const ReadReport reread = read_configuration(again, first_source);
  if (reread.corrupt) fail(kName, "a saved file reads as corrupt: " + reread.reason);
  std::vector<std::uint8_t> second;
  if (!pack_configuration(again, 1234, &second).ok()) fail(kName, "a file read back cannot be saved again");
  if (first != second) {
    std::size_t at = 0;
    while (at < first.size() && at < second.size() && first[at] == second[at]) ++at;
    fail(kName, "saving, reading and saving again changes the file: sizes " + std::to_string(first.size()) + " and " +
                    std::to_string(second.size()) + ", first difference at byte " + std::to_string(at));
  }
}

// The editor tests' plants and the example plant, saved.
std::vector<fuzz::Bytes> seeds() {
  std::vector<fuzz::Bytes> out;
  auto save = [&](CDidDoc& doc) {
    std::vector<std::uint8_t> bytes;
    if (pack_configuration(doc, 1234, &bytes).ok()) out.push_back(bytes);
  };
  {
    CDidDoc doc;
    testing::build_small_plant(doc);
    save(doc);
  }
  {
    CDidDoc doc;
    testing::build_varied_plant(doc);
    save(doc);
  }
  for (const char* name : {"demo_plant.csv", "limits.csv"}) {
    CDidDoc doc;
    struct Quiet final : ImportErrorSink {
      void error(int, std::string_view) override {}
    } quiet;
    import_csv_text(doc, testsupport::read_file(std::string(HBT_SOURCE_DIR) + "/examples/" + name), ',', quiet);
    save(doc);
  }
  return out;
}

}  // namespace
}  // namespace hbt::editor

HBT_FUZZ_TARGET(editor_config, hbt::editor::run, hbt::editor::seeds)
