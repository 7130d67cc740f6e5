// CSV export and import.
#include "editor/csv.h"

#include <cerrno>
#include <cstring>
#include <memory>
#include <new>
#include <unordered_map>

#include "editor/byte_io.h"
#include "editor/number_text.h"

namespace hbt::editor {

namespace {

constexpr std::string_view kLineEnd = "\r\n";

std::string title_line(std::time_t now) {
  std::tm local{};
  localtime_r(&now, &local);
  char stamp[128];
  std::strftime(stamp, sizeof stamp, "  , %A %B %d %Y, %I:%M %p ]", &local);
  return std::string("[ ") + image::kAcronym + image::kAcronym + stamp;
}

void add_line(std::string* text, const std::string& line) {
  *text += line;
  *text += kLineEnd;
}

enum class Section { None, Channel, Device, IoRec, Asp };

class LineReporter final : public ImportReporter {
 public:
  LineReporter(ImportErrorSink& sink, ImportSummary& summary) : sink_(sink), summary_(summary) {}
  void report(const Message& m) override {
    ++summary_.errors;
    sink_.error(line_, m.text);
  }
  void set_line(int line) { line_ = line; }

 private:
  ImportErrorSink& sink_;
  ImportSummary& summary_;
  int line_ = 0;
};

}  // namespace

std::string export_csv_text(CDidDoc& doc, char separator, std::time_t now) {
  std::string text;
  add_line(&text, title_line(now));
  add_line(&text, CDrvSpecificChannel().write_csv_header(separator));
  int number = 0;
  for (auto& channel : doc.channels()) {
    channel->set_channel_number(++number);
    add_line(&text, channel->write_csv_line(separator));
  }
  add_line(&text, "");
  add_line(&text, CDrvSpecificDevice().write_csv_header(separator));
  for (auto& channel : doc.channels()) {
    for (auto& device : channel->devices()) {
      if (device->iorecs().empty()) continue;
      device->set_channel_number(channel->channel_number());
      add_line(&text, device->write_csv_line(separator));
    }
  }
  add_line(&text, "");
  add_line(&text, CDrvSpecificIORec().write_csv_header(separator));
  int record = 0;
  for (auto& channel : doc.channels()) {
    for (auto& device : channel->devices()) {
      for (auto& iorec : device->iorecs()) {
        iorec->set_record_number(++record);
        add_line(&text, iorec->write_csv_line(separator));
      }
    }
  }
  return text;
}

ExportResult export_csv(CDidDoc& doc, const std::string& path, UiPort& ui, char separator,
                        std::time_t now) {
  if (doc.channels().empty()) return ExportResult::NothingToWrite;
  std::string text = export_csv_text(doc, separator, now);
  int error = 0;
  if (replace_file(path, {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()}, &error)) {
    return ExportResult::Written;
  }
  Message m = error == ENOSPC   ? message(kMsgCsvDiskFull)
              : error == EACCES || error == EPERM || error == EROFS ? message(kMsgCsvUnableToOpen)
                                : message(kMsgCsvWriteFailed, std::strerror(error));
  ui.message_box(m.text, "", Buttons::Ok, Icon::Error);
  return ExportResult::Failed;
}

ImportSummary import_csv_text(CDidDoc& doc, std::string_view text, char separator,
                              ImportErrorSink& errors) {
  ImportSummary summary;
  LineReporter reporter(errors, summary);
  Section section = Section::None;
  // The overlap rule looks up each imported device's records in an index instead of
  // walking them all, which would make a large device quadratic to import.
  std::unordered_map<CDevice*, OverlapIndex> indexes;
  struct Uninstall {
    std::unordered_map<CDevice*, OverlapIndex>& indexes;
    ~Uninstall() {
      for (auto& entry : indexes) entry.first->set_overlap_index(nullptr);
    }
  } uninstall{indexes};
  std::size_t position = 0;
  // Spreadsheets often start a UTF-8 file with a byte-order mark; it is not part of the
  // first line (which may be the channel header).
  if (text.starts_with("\xEF\xBB\xBF")) position = 3;
  while (position < text.size()) {
    std::size_t end = text.find('\n', position);
    std::string_view line = text.substr(position, end == std::string_view::npos ? end : end - position);
    position = end == std::string_view::npos ? text.size() : end + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    reporter.set_line(++summary.lines);
    if (line.size() > kMaxCsvLine) {
      reporter.report(message(kMsgCsvLineTooLong, std::to_string(kMaxCsvLine)));
      continue;
    }
    std::size_t first = line.find_first_not_of(" \t\v\f\r");
    if (first == std::string_view::npos) continue;
    if (line[first] == '[') continue;
    if (line[first] == '!') {
      auto name = CsvFieldReader(line.substr(first + 1), separator).next().value_or("");
      if (equals_ignoring_case(name, "CHANNEL")) section = Section::Channel;
      else if (equals_ignoring_case(name, "DEVICE NAME")) section = Section::Device;
      else if (equals_ignoring_case(name, "IOREC")) section = Section::IoRec;
      else if (equals_ignoring_case(name, "ASP")) section = Section::Asp;
      continue;
    }
    // Leading white space goes, except a separator: a tab-separated line may begin with
    // an empty field.
    while (!line.empty() && line.front() != separator &&
           (line.front() == ' ' || line.front() == '\t' || line.front() == '\v' || line.front() == '\f')) {
      line.remove_prefix(1);
    }
    CsvFieldReader fields(line, separator);
    switch (section) {
      case Section::None:
      case Section::Asp:
        break;
      case Section::Channel: {
        auto channel = std::make_unique<CDrvSpecificChannel>();
        channel->read_csv_line(fields, reporter);
        doc.channels().push_back(std::move(channel));
        break;
      }
      case Section::Device: {
        auto device = std::make_unique<CDrvSpecificDevice>();
        CChannel* owner = nullptr;
        if (device->read_csv_line(fields, reporter, doc, &owner)) {
          CDevice* added = owner->add_device(std::move(device));
          added->set_overlap_index(&indexes[added]);
        }
        break;
      }
      case Section::IoRec: {
        auto iorec = std::make_unique<CDrvSpecificIORec>();
        CDevice* owner = nullptr;
        if (iorec->read_csv_line(fields, reporter, doc, &owner)) {
          if (owner->overlap_index()) {
            indexes[owner].add(iorec->overlap_kind(), iorec->start_address(), iorec->end_address(),
                               static_cast<int>(owner->iorecs().size()) + 1);
          }
          owner->add_iorec(std::move(iorec));
        }
        break;
      }
    }
  }
  return summary;
}

ErrorFile::~ErrorFile() { close(); }

void ErrorFile::error(int line_number, std::string_view text) {
  if (!file_) {
    file_ = std::fopen(path_.c_str(), opened_once_ ? "ab" : "wb");
    opened_once_ = true;
    if (!file_) {
      write_failed_ = true;
      return;
    }
  }
  char number[16];
  std::snprintf(number, sizeof number, "%3d", line_number);
  std::string line = "Line Number " + std::string(number) + " : " + std::string(text) + std::string(kLineEnd);
  if (std::fwrite(line.data(), 1, line.size(), file_) != line.size()) write_failed_ = true;
}

bool ErrorFile::close() {
  if (file_) {
    if (std::fclose(file_) != 0) write_failed_ = true;
    file_ = nullptr;
  }
  return !write_failed_;
}

std::string error_file_path(std::string_view folder) {
  if (folder.empty()) return std::string(kErrorFileName);
  std::string path(folder);
  if (path.back() != '/' && path.back() != '\\') path += '/';
  return path + std::string(kErrorFileName);
}

ImportResult import_csv(CDidDoc& doc, const std::string& path, UiPort& ui, char separator,
                        const std::string& error_file) {
  ImportResult result;
  result.error_file = error_file;
  std::string text;
  int error = 0;
  if (!read_whole_file(path, &text, &error)) {
    ui.message_box(message(kMsgCannotOpenFile, path, std::strerror(error)).text, "", Buttons::Ok,
                   Icon::Error);
    return result;
  }
  result.opened = true;
  ErrorFile errors(error_file);
  try {
    result.summary = import_csv_text(doc, text, separator, errors);
  } catch (const std::bad_alloc&) {
    doc.delete_contents();
    ui.message_box(message_text(kMsgCsvMemory), "", Buttons::Ok, Icon::Error);
    result.opened = false;
    return result;
  }
  result.error_file_failed = !errors.close();
  if (result.summary.errors > 0) {
    ui.message_box(message(kMsgCsvErrorsDetected, std::to_string(result.summary.errors), error_file).text,
                   "", Buttons::Ok, Icon::Warning);
  }
  if (result.error_file_failed) {
    ui.message_box(message(kMsgErrorFileFailed, error_file).text, "", Buttons::Ok, Icon::Error);
  }
  doc.set_title("Untitled");
  doc.set_modified(true);
  return result;
}

}  // namespace hbt::editor
