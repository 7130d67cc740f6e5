// CSV export and import of the whole configuration: three sections (channels, devices,
// poll records) introduced by "!" header lines; refused lines go to an error file.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>

#include "editor/document.h"
#include "editor/ui_port.h"

namespace hbt::editor {

inline constexpr std::size_t kMaxCsvLine = 1023;
inline constexpr std::string_view kErrorFileName = "HBTDIDW.ERR";

// The export text: title line stamped with `now` (local time), channel, device and
// poll-record sections, lines ending in CR LF. Renumbers channels (1-based) and poll
// records (1-based over the section) as a side effect; marks nothing modified.
std::string export_csv_text(CDidDoc& doc, char separator, std::time_t now);

enum class ExportResult { Written, NothingToWrite, Failed };
// Writes the export to `path` (replacing it whole); failures are shown through the port.
ExportResult export_csv(CDidDoc& doc, const std::string& path, UiPort& ui, char separator,
                        std::time_t now);

// Receives each refused line or value of an import, with its line number.
class ImportErrorSink {
 public:
  virtual ~ImportErrorSink() = default;
  virtual void error(int line_number, std::string_view text) = 0;
};

struct ImportSummary {
  int lines = 0;
  int errors = 0;
};

// Reads CSV text into the (empty) document; refusals go to `errors`.
ImportSummary import_csv_text(CDidDoc& doc, std::string_view text, char separator,
                              ImportErrorSink& errors);

// "Line Number %3d : text" lines; the first error creates (truncates) the file.
class ErrorFile final : public ImportErrorSink {
 public:
  explicit ErrorFile(std::string path) : path_(std::move(path)) {}
  ~ErrorFile() override;
  void error(int line_number, std::string_view text) override;
  const std::string& path() const { return path_; }
  bool write_failed() const { return write_failed_; }
  // Flushes and closes; false when any line could not be written.
  bool close();

 private:
  std::string path_;
  std::FILE* file_ = nullptr;
  bool opened_once_ = false;
  bool write_failed_ = false;
};

// The error file's path: the host's database folder + "/HBTDIDW.ERR", or HBTDIDW.ERR in
// the working directory when no folder is recorded.
std::string error_file_path(std::string_view folder);

struct ImportResult {
  bool opened = false;  // the CSV file could be read
  ImportSummary summary;
  std::string error_file;
  bool error_file_failed = false;
};

// Import as the Open command does it: empties nothing (the caller has), reads the file,
// shows the error count through the port, and leaves the document untitled and modified.
ImportResult import_csv(CDidDoc& doc, const std::string& path, UiPort& ui, char separator,
                        const std::string& error_file);

}  // namespace hbt::editor
