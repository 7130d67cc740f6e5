// CSV import of any text: never a crash, and what it imports exports to a text that imports
// to the same configuration (the second export equals the first).
#include <string>

#include "editor/csv.h"
#include "fuzz/fuzz_target.h"
#include "editor/test_configs.h"
#include "testsupport/test_environment.h"

namespace hbt::editor {
namespace {

using fuzz::fail;

constexpr const char* kName = "editor_csv";

struct CountingErrors final : ImportErrorSink {
  int count = 0;
  std::string first;
  void error(int line, std::string_view text) override {
    if (count++ == 0) first = "line " + std::to_string(line) + ": " + std::string(text);
  }
};

void run(std::span<const std::uint8_t> data) {
  if (data.empty()) return;
  // The first byte picks the list separator of the host's regional settings.
  const char separators[] = {',', ';'};
  const char separator = separators[data[0] % 2];
  const std::string_view text(reinterpret_cast<const char*>(data.data() + 1), data.size() - 1);
  CDidDoc doc;
  CountingErrors errors;
  import_csv_text(doc, text, separator, errors);
  const std::string first = export_csv_text(doc, separator, 0);
  CDidDoc again;
  CountingErrors again_errors;
  import_csv_text(again, first, separator, again_errors);
  if (again_errors.count != 0) fail(kName, "an exported text does not import cleanly (" + again_errors.first + "):\n" + first);
  const std::string second = export_csv_text(again, separator, 0);
  if (first != second) fail(kName, "export, import and export again changes the text:\n" + first + "\n--\n" + second);
}

// The example plants and the editor tests' plants, exported with each separator.
std::vector<fuzz::Bytes> seeds() {
  std::vector<fuzz::Bytes> out;
  for (const char* name : {"demo_plant.csv", "limits.csv"}) {
    fuzz::Bytes b = {0};
    const std::string text = testsupport::read_file(std::string(HBT_SOURCE_DIR) + "/examples/" + name);
    b.insert(b.end(), text.begin(), text.end());
    out.push_back(b);
  }
  const char separators[] = {',', ';'};
  for (std::uint8_t s = 0; s < 2; ++s) {
    for (auto build : {testing::build_small_plant, testing::build_varied_plant}) {
      CDidDoc doc;
      build(doc);
      fuzz::Bytes b = {s};
      const std::string text = export_csv_text(doc, separators[s], 0);
      b.insert(b.end(), text.begin(), text.end());
      out.push_back(b);
    }
  }
  return out;
}

}  // namespace
}  // namespace hbt::editor

HBT_FUZZ_TARGET(editor_csv, hbt::editor::run, hbt::editor::seeds)
