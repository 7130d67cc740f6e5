// The commands of hbtcfg: import, export, check and list.
#include "tools/hbtcfg/commands.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <iostream>
#include <string_view>
#include <vector>

#include "editor/config_file.h"
#include "editor/csv.h"
#include "editor/file_commands.h"
#include "editor/host_settings.h"
#include "editor/ui_port.h"
#include "tools/hbtcfg/json_writer.h"

namespace hbt::hbtcfg {

namespace ed = hbt::editor;

namespace {

// Message boxes become lines on stderr; the one question a save can ask (make this the
// start-up file?) is answered by --startup.
class ConsolePort final : public ed::UiPort {
 public:
  explicit ConsolePort(bool yes_to_startup) : yes_(yes_to_startup) {}
  ed::Answer message_box(std::string_view text, std::string_view caption, ed::Buttons buttons,
                         ed::Icon) override {
    std::string line = "hbtcfg: ";
    if (!caption.empty()) line += std::string(caption) + ": ";
    for (char c : text) {
      if (c == '\r') continue;
      line += c == '\n' ? ' ' : c;
    }
    while (line.size() > 1 && line.back() == ' ') line.pop_back();
    std::cerr << line << '\n';
    if (buttons == ed::Buttons::Ok) return ed::Answer::Ok;
    ed::Answer answer = buttons == ed::Buttons::YesNo && yes_ ? ed::Answer::Yes : ed::Answer::No;
    std::cerr << "hbtcfg: answered " << (answer == ed::Answer::Yes ? "Yes" : "No") << '\n';
    return answer;
  }

 private:
  bool yes_;
};

std::string counts(const ed::CDidDoc& doc) {
  return std::to_string(doc.channels().size()) + " channels, " + std::to_string(doc.device_count()) +
         " devices, " + std::to_string(doc.poll_record_count()) + " poll records";
}

}  // namespace

int run_import(const Options& options) {
  ed::RegistryHostSettings settings;
  ConsolePort ui(options.startup);
  ed::CDidDoc doc;
  char separator = options.separator.value_or(settings.list_separator());
  std::string error_file = options.errors.value_or(ed::error_file_path(settings.error_file_folder()));
  ed::ImportResult result = ed::import_csv(doc, options.input, ui, separator, error_file);
  if (!result.opened) return kExitUsage;
  auto now = static_cast<std::uint32_t>(std::time(nullptr));
  // With no start-up file recorded the editor has nothing to ask; --startup still records
  // the new file.
  bool record_new_startup = options.startup && !settings.startup_file();
  if (!ed::save_configuration(doc, options.output, ui, settings, now)) return kExitProblems;
  if (record_new_startup && !settings.set_startup_file(doc.path())) {
    std::cerr << "hbtcfg: could not record " << doc.path() << " as the start-up file\n";
    return kExitUsage;
  }
  if (doc.poll_record_count() == 0) {
    std::cerr << "hbtcfg: warning: " << doc.path()
              << " holds no poll record; the driver will refuse to load it\n";
  }
  std::cout << doc.path() << ": " << counts(doc) << "; " << result.summary.errors << " errors";
  if (result.summary.errors > 0) std::cout << " (see " << error_file << ")";
  std::cout << '\n';
  if (result.error_file_failed) return kExitUsage;
  return result.summary.errors > 0 ? kExitProblems : kExitOk;
}

int run_export(const Options& options) {
  ed::RegistryHostSettings settings;
  ConsolePort ui(false);
  ed::CDidDoc doc;
  if (!ed::FileSource().open(options.input)) {
    std::cerr << "hbtcfg: cannot open " << options.input << ": " << std::strerror(errno) << '\n';
    return kExitUsage;
  }
  if (!ed::open_configuration(doc, options.input, ui)) return kExitProblems;
  char separator = options.separator.value_or(settings.list_separator());
  switch (ed::export_csv(doc, options.output, ui, separator, std::time(nullptr))) {
    case ed::ExportResult::Written:
      std::cout << options.output << ": " << counts(doc) << '\n';
      return kExitOk;
    case ed::ExportResult::NothingToWrite:
      std::cerr << "hbtcfg: " << options.input << " has no channel; nothing exported\n";
      return kExitProblems;
    case ed::ExportResult::Failed:
      break;
  }
  return kExitUsage;
}

namespace {

struct CheckResult {
  std::string status = "good";  // good, corrupt, refused
  std::uint32_t version = 0;
  std::vector<std::string> problems;
  std::vector<std::string> warnings;
};

// What the driver checks when it loads the file, and what it relies on afterwards.
void check_for_driver(ed::FileSource& file, const ed::CDidDoc& doc, CheckResult* result) {
  image::FilePrefix prefix;
  image::ImageHeader header;
  file.read_struct(0, &prefix);
  file.read_struct(image::kFilePrefixSize, &header);
  auto refuse = [result](std::string text) {
    result->status = "refused";
    result->problems.push_back(std::move(text));
  };
  if (header.version != image::kFormatVersion && header.version != image::kOlderFormatVersion) {
    refuse("format version " + std::to_string(header.version) + " (278 or 279 accepted)");
  }
  if (header.channel_count < 1 || header.channel_count > image::kMaxChannels) {
    refuse("channel count " + std::to_string(header.channel_count) + " (1..32 accepted)");
  }
  if (header.device_count < 1) refuse("no device (1..255 accepted)");
  if (header.poll_record_count < 1 || header.poll_record_count > image::kMaxPollRecords) {
    refuse("poll record count " + std::to_string(header.poll_record_count) + " (1..10000 accepted)");
  }
  if (header.load_check != image::kLocked && header.load_check != image::kUnlocked) {
    refuse("load check byte is not 'L' or 'U'");
  }
  if (prefix.file_length != file.size() || prefix.file_length_again != file.size()) {
    result->warnings.push_back("recorded file length " + std::to_string(prefix.file_length) +
                               " differs from the actual " + std::to_string(file.size()));
  }
  // The driver trusts each poll record's data areas: they must match its length and lie
  // inside the file.
  std::vector<image::PollControlEntry> control(header.poll_record_count);
  if (!file.read(std::uint64_t{header.poll_control_table_offset} + image::kFilePrefixSize,
                 control.size() * sizeof(image::PollControlEntry), control.data())) {
    return;  // cannot happen after a successful open
  }
  for (const auto& channel : doc.channels()) {
    for (const auto& device : channel->devices()) {
      for (const auto& r : device->iorecs()) {
        const image::PollControlEntry& entry = control[static_cast<std::uint16_t>(r->record_number())];
        image::PollRecordHead head;
        std::uint64_t base = std::uint64_t{entry.record_offset} + image::kFilePrefixSize;
        if (!file.read_struct(base, &head)) continue;  // cannot happen after a successful open
        auto* io = static_cast<const ed::CDrvSpecificIORec*>(r.get());
        image::AreaSizes want = io->area_sizes();
        std::uint32_t offset = image::kPollRecordHeadSize;
        for (int a = 0; a < 5; ++a) {
          if (head.areas[a].size != want.size[a] || head.areas[a].offset != offset ||
              base + offset + want.size[a] > file.size()) {
            refuse("poll record " + std::to_string(r->record_number() + 1) + " (" +
                   io->get_start_address() + "): data area " + std::to_string(a + 1) +
                   " does not match its length or lies outside the file");
            break;
          }
          offset += want.size[a];
        }
      }
    }
  }
}

}  // namespace

int run_check(const Options& options) {
  ed::FileSource file;
  if (!file.open(options.input)) {
    std::cerr << "hbtcfg: cannot open " << options.input << ": " << std::strerror(errno) << '\n';
    return kExitUsage;
  }
  ed::CDidDoc doc;
  ed::ReadReport report = ed::read_configuration(doc, file);
  CheckResult result;
  result.version = report.version;
  if (report.older_format) {
    result.warnings.push_back("older file format: device record size " +
                              std::to_string(*report.older_format) + " (save again to update)");
  }
  if (report.corrupt) {
    result.status = "corrupt";
    result.problems.push_back(report.reason);
  } else {
    check_for_driver(file, doc, &result);
  }
  if (options.json) {
    JsonWriter j;
    j.begin_object();
    j.field("file", options.input);
    j.field("status", result.status);
    j.field("version", static_cast<std::int64_t>(result.version));
    j.field("channels", doc.channels().size());
    j.field("devices", doc.device_count());
    j.field("poll_records", doc.poll_record_count());
    j.key("problems");
    j.begin_array();
    for (const auto& p : result.problems) j.value(p);
    j.end_array();
    j.key("warnings");
    j.begin_array();
    for (const auto& w : result.warnings) j.value(w);
    j.end_array();
    j.end_object();
    std::cout << j.text() << '\n';
  } else {
    std::cout << options.input << ": " << result.status;
    if (result.status != "corrupt") std::cout << ": " << counts(doc) << " (format " << result.version << ")";
    std::cout << '\n';
    for (const auto& p : result.problems) std::cout << "  problem: " << p << '\n';
    for (const auto& w : result.warnings) std::cout << "  warning: " << w << '\n';
  }
  return result.status == "good" ? kExitOk : kExitProblems;
}

int run_list(const Options& options) {
  ed::FileSource file;
  if (!file.open(options.input)) {
    std::cerr << "hbtcfg: cannot open " << options.input << ": " << std::strerror(errno) << '\n';
    return kExitUsage;
  }
  ConsolePort ui(false);
  ed::CDidDoc doc;
  if (!ed::open_configuration(doc, options.input, ui)) return kExitProblems;
  if (options.json) {
    JsonWriter j;
    j.begin_object();
    j.field("file", options.input);
    j.key("channels");
    j.begin_array();
    int number = 0;
    for (const auto& channel : doc.channels()) {
      j.begin_object();
      j.field("number", ++number);
      j.field("ip_address", channel->get_ip_address());
      j.field("ip_port", static_cast<std::int64_t>(channel->ip_port()));
      j.field("ip_protocol", channel->get_ip_protocol());
      j.field("reply_timeout", channel->get_reply_timeout());
      j.field("delay", channel->get_delay());
      j.field("retries", static_cast<std::int64_t>(channel->settings(false).retries));
      j.field("display_alarms", channel->get_display_alarms());
      j.field("disable_comms_alarms", channel->disable_comms_alarms() != 0);
      j.key("devices");
      j.begin_array();
      for (const auto& d : channel->devices()) {
        auto* device = static_cast<const ed::CDrvSpecificDevice*>(d.get());
        j.begin_object();
        j.field("name", device->name());
        j.field("description", device->description());
        j.field("cpu", device->get_cpu_type());
        j.field("protocol", device->get_protocol_type());
        j.field("pc_number", static_cast<std::int64_t>(device->pc_number()));
        j.field("network", static_cast<std::int64_t>(device->network_number()));
        j.field("module", static_cast<std::int64_t>(device->module_number()));
        j.key("poll_records");
        j.begin_array();
        for (const auto& r : device->iorecs()) {
          auto* io = static_cast<const ed::CDrvSpecificIORec*>(r.get());
          j.begin_object();
          j.field("number", static_cast<std::int64_t>(io->record_number()) + 1);
          j.field("start", io->get_start_address());
          j.field("end", io->get_end_address());
          j.field("length", static_cast<std::int64_t>(io->length()));
          j.field("data_type", io->get_data_type());
          j.field("poll_time", io->get_poll_time());
          j.field("access_time", io->get_access_time());
          j.field("exception", io->get_exception_type());
          j.field("dead_band", io->get_deadband());
          j.end_object();
        }
        j.end_array();
        j.end_object();
      }
      j.end_array();
      j.end_object();
    }
    j.end_array();
    j.end_object();
    std::cout << j.text() << '\n';
    return kExitOk;
  }
  int number = 0;
  for (const auto& channel : doc.channels()) {
    std::cout << "Channel " << ++number << "  " << channel->get_ip_address() << ':'
              << channel->get_ip_port() << ' ' << channel->get_ip_protocol() << "  reply timeout "
              << channel->get_reply_timeout() << " s, delay " << channel->get_delay() << " s, retries "
              << channel->get_retries() << ", display alarms " << channel->get_display_alarms();
    if (channel->disable_comms_alarms()) std::cout << ", comms alarms disabled";
    std::cout << '\n';
    for (const auto& d : channel->devices()) {
      auto* device = static_cast<const ed::CDrvSpecificDevice*>(d.get());
      std::cout << "  Device " << device->name();
      if (!device->description().empty()) std::cout << "  \"" << device->description() << '"';
      std::cout << "  " << device->get_cpu_type() << ' ' << device->get_protocol_type() << "  PC "
                << device->pc_number() << ", network " << device->network_number() << ", module "
                << device->module_number() << '\n';
      for (const auto& r : device->iorecs()) {
        auto* io = static_cast<const ed::CDrvSpecificIORec*>(r.get());
        char line[256];
        std::snprintf(line, sizeof line,
                      "    %5d  %-12s %-12s %5u  %-13s poll %-8s access %-8s exception %-8s dead band %s\n",
                      io->record_number() + 1, io->get_start_address().c_str(),
                      io->get_end_address().c_str(), static_cast<unsigned>(io->length()),
                      io->get_data_type().c_str(), io->get_poll_time().c_str(),
                      io->get_access_time().c_str(), io->get_exception_type().c_str(),
                      io->get_deadband().c_str());
        std::cout << line;
      }
    }
  }
  return kExitOk;
}

}  // namespace hbt::hbtcfg
