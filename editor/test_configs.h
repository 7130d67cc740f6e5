// Documents built in code for the editor's tests.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "editor/csv.h"
#include "editor/document.h"

namespace hbt::editor::testing {

// The refusals of an import, as "LINE: text".
class Collect final : public ImportErrorSink {
 public:
  void error(int line, std::string_view text) override {
    lines.push_back(std::to_string(line) + ": " + std::string(text));
  }
  std::vector<std::string> lines;
};

// Adds a poll record to `device`, failing the test on any refused field.
CDrvSpecificIORec* add_record(CDevice* device, std::string_view start, std::string_view length,
                              std::string_view data_type = {}, std::string_view exception = {});

// One channel, device PLC1 with X:0 x16 (Digital exceptions), M:9000 x20 and D:100 x10
// (Analog exceptions), and a device EMPTY without poll records.
void build_small_plant(CDidDoc& doc);

// Several channels and devices with every register kind, data type, time form and field.
void build_varied_plant(CDidDoc& doc);

}  // namespace hbt::editor::testing
