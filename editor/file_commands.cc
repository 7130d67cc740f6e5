// File commands of the document.
#include "editor/file_commands.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "editor/config_file.h"
#include "editor/number_text.h"

namespace hbt::editor {

namespace {

std::string printf_message(MessageId id, const std::string& a, const std::string& b) {
  std::string_view pattern = message_text(id);
  std::string text;
  std::size_t used = 0;
  const std::string* args[] = {&a, &b};
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    if (pattern[i] == '%' && i + 1 < pattern.size() && pattern[i + 1] == 's' && used < 2) {
      text += *args[used++];
      ++i;
    } else {
      text += pattern[i];
    }
  }
  return text;
}

// The host expects PDBPATH<sep>NODENAME.HBT; the separator follows the stored path.
std::string expected_host_name(const HostSettings::HostNames& names) {
  std::string path = names.database_path;
  char separator = path.find('\\') != std::string::npos && path.find('/') == std::string::npos ? '\\' : '/';
  if (path.empty() || (path.back() != '/' && path.back() != '\\')) path += separator;
  return path + names.node_name + "." + image::kAcronym;
}

}  // namespace

std::string upper_extension(const std::string& path) {
  std::size_t dot = path.find_last_of('.');
  std::size_t slash = path.find_last_of("/\\");
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
  return to_upper(std::string_view(path).substr(dot + 1));
}

bool save_configuration(CDidDoc& doc, const std::string& path, UiPort& ui, HostSettings& settings,
                        std::uint32_t save_time) {
  // The driver and the registry need the full path; file names are case-sensitive here,
  // so the path is compared and recorded as it is.
  std::error_code ec;
  std::string full = std::filesystem::absolute(path, ec).lexically_normal().string();
  if (ec) full = path;
  // The question comes first, but the answer is recorded only once the file is in place:
  // a driver told to start from a file that was never written would not start at all.
  bool record_startup = false;
  if (auto startup = settings.startup_file(); startup && *startup != full) {
    Answer answer = ui.message_box(printf_message(kMsgNewStartupFile, full, *startup), kCaptionWarning,
                                   Buttons::YesNo, Icon::Error);
    record_startup = answer == Answer::Yes;
  }
  if (auto names = settings.host_names()) {
    std::string expected = expected_host_name(*names);
    if (!equals_ignoring_case(expected, full)) {
      ui.message_box(printf_message(kMsgHostExpecting, full, expected), kCaptionWarning, Buttons::Ok,
                     Icon::Warning);
    }
  }
  ui.set_busy(true);
  std::vector<std::uint8_t> bytes;
  Message refusal = pack_configuration(doc, save_time, &bytes);
  int error = 0;
  bool written = refusal.ok() && replace_file(full, bytes, &error);
  ui.set_busy(false);
  if (!refusal.ok()) {
    ui.message_box(refusal.text, "", Buttons::Ok, Icon::Error);
    return false;
  }
  if (!written) {
    ui.message_box(message(kMsgCannotSaveFile, full, std::strerror(error)).text, "", Buttons::Ok,
                   Icon::Error);
    return false;
  }
  if (record_startup && !settings.set_startup_file(full)) {
    ui.message_box(message(kMsgStartupNotRecorded, full).text, "", Buttons::Ok, Icon::Error);
  }
  doc.set_path(full);
  doc.set_modified(false);
  doc.set_saved_since_start(true);
  return true;
}

bool open_configuration(CDidDoc& doc, const std::string& path, UiPort& ui) {
  doc.delete_contents();
  FileSource source;
  if (!source.open(path)) {
    ui.message_box(message(kMsgCannotOpenFile, path, std::strerror(errno)).text, "", Buttons::Ok,
                   Icon::Error);
    return false;
  }
  ui.set_busy(true);
  ReadReport report = read_configuration(doc, source);
  ui.set_busy(false);
  if (report.older_format) {
    char caption[32];
    std::snprintf(caption, sizeof caption, "WARNING ! %d", static_cast<int>(*report.older_format));
    ui.message_box(message_text(kMsgOlderFileFormat), caption, Buttons::Ok, Icon::Error);
  }
  if (report.corrupt) {
    ui.message_box(message_text(kMsgFileOpenError), kCaptionCorrupt, Buttons::Ok, Icon::Error);
    return false;
  }
  doc.set_path(path);
  doc.set_modified(false);
  return true;
}

bool save_as(CDidDoc& doc, const std::string& path, UiPort& ui, HostSettings& settings,
             std::uint32_t save_time) {
  std::string extension = upper_extension(path);
  if (extension == image::kAcronym) return save_configuration(doc, path, ui, settings, save_time);
  if (extension == "CSV") {
    return export_csv(doc, path, ui, settings.list_separator(), static_cast<std::time_t>(save_time)) ==
           ExportResult::Written;
  }
  ui.message_box(message_text(kMsgInvalidFileType), "", Buttons::Ok, Icon::Error);
  return false;
}

bool open_by_extension(CDidDoc& doc, const std::string& path, UiPort& ui, HostSettings& settings) {
  doc.delete_contents();
  std::string extension = upper_extension(path);
  if (extension == image::kAcronym) return open_configuration(doc, path, ui);
  if (extension == "CSV") {
    ImportResult result = import_csv(doc, path, ui, settings.list_separator(),
                                     error_file_path(settings.error_file_folder()));
    return result.opened;
  }
  ui.message_box(message_text(kMsgInvalidFileType), "", Buttons::Ok, Icon::Error);
  return false;
}

FileDialog configuration_dialog(HostSettings& settings, bool save, const std::string& fallback_folder) {
  FileDialog dialog;
  dialog.save = save;
  dialog.must_exist = !save;
  std::string acronym = image::kAcronym;
  dialog.filter = "Config. Files (*." + acronym + ")|*." + acronym + "|Text Files (*.CSV)|*.CSV||";
  dialog.default_extension = acronym;
  if (auto startup = settings.startup_file(); startup && !startup->empty()) {
    std::size_t slash = startup->find_last_of("/\\");
    std::string name = slash == std::string::npos ? *startup : startup->substr(slash + 1);
    dialog.initial_folder = slash == std::string::npos ? "" : startup->substr(0, slash + 1);
    std::size_t dot = name.find_last_of('.');
    dialog.initial_name = dot == std::string::npos ? name : name.substr(0, dot);
  } else {
    dialog.initial_folder = fallback_folder;
    dialog.initial_name = "DEFAULT." + acronym;
  }
  return dialog;
}

bool open_command(CDidDoc& doc, UiPort& ui, HostSettings& settings, std::uint32_t save_time,
                  const std::string& fallback_folder) {
  if (!confirm_discard(doc, ui, settings, save_time, fallback_folder)) return false;
  auto path = ui.choose_file(configuration_dialog(settings, false, fallback_folder));
  if (!path) return false;
  return open_by_extension(doc, *path, ui, settings);
}

bool save_command(CDidDoc& doc, UiPort& ui, HostSettings& settings, std::uint32_t save_time,
                  const std::string& fallback_folder) {
  // The document's own path is a configuration file whatever its extension (it may have
  // been opened by path); only a new name goes by its extension.
  std::error_code ec;
  if (!doc.path().empty() && std::filesystem::is_regular_file(doc.path(), ec)) {
    return save_configuration(doc, doc.path(), ui, settings, save_time);
  }
  return save_as_command(doc, ui, settings, save_time, fallback_folder);
}

bool save_as_command(CDidDoc& doc, UiPort& ui, HostSettings& settings, std::uint32_t save_time,
                     const std::string& fallback_folder) {
  auto path = ui.choose_file(configuration_dialog(settings, true, fallback_folder));
  if (!path) return false;
  return save_as(doc, *path, ui, settings, save_time);
}

bool confirm_discard(CDidDoc& doc, UiPort& ui, HostSettings& settings, std::uint32_t save_time,
                     const std::string& fallback_folder) {
  if (!doc.modified()) return true;
  Answer answer = ui.message_box(message_text(kMsgModifiedSaveChanges), "", Buttons::YesNoCancel,
                                 Icon::Warning);
  if (answer == Answer::Cancel) return false;
  if (answer == Answer::No) return true;
  // Yes is Save: an untitled document (an import, say) gets the Save As dialog.
  return save_command(doc, ui, settings, save_time, fallback_folder);
}

}  // namespace hbt::editor
