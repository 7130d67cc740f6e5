#include "editor/editor_commands.h"

#include <ctime>
#include <filesystem>

#include "editor/address_learning.h"
#include "editor/file_commands.h"
#include "image/layout.h"

namespace hbt::editor {

EditorCommands::EditorCommands(CDidDoc& doc, AppPort& port, HostSettings& settings, DriverLink& link,
                               std::string fallback_folder)
    : doc_(doc), port_(port), settings_(settings), link_(link), fallback_folder_(std::move(fallback_folder)) {}

std::uint32_t EditorCommands::now() const { return static_cast<std::uint32_t>(std::time(nullptr)); }

void EditorCommands::open_startup_file() {
  std::error_code ec;
  auto startup = settings_.startup_file();
  if (startup && !startup->empty() && std::filesystem::is_regular_file(*startup, ec)) {
    if (open_configuration(doc_, *startup, port_)) return;
  }
  doc_.delete_contents();
  doc_.ensure_channel();
}

bool EditorCommands::new_document() {
  if (!confirm_discard(doc_, port_, settings_, now(), fallback_folder_)) return false;
  doc_.delete_contents();
  doc_.ensure_channel();
  learning_.clear();
  return true;
}

bool EditorCommands::open() {
  if (!open_command(doc_, port_, settings_, now(), fallback_folder_)) return false;
  learning_.clear();
  return true;
}

bool EditorCommands::after_save(bool saved) {
  // Learning is a way to build a configuration; a saved one starts without it.
  if (saved) learning_.clear();
  return saved;
}

bool EditorCommands::save() { return after_save(save_command(doc_, port_, settings_, now(), fallback_folder_)); }

bool EditorCommands::save_as() {
  return after_save(save_as_command(doc_, port_, settings_, now(), fallback_folder_));
}

namespace {

bool is_configuration_file(const std::string& path) {
  std::error_code ec;
  return !path.empty() && upper_extension(path) == image::kAcronym && std::filesystem::is_regular_file(path, ec);
}

}  // namespace

bool EditorCommands::reload() {
  if (doc_.poll_record_count() == 0) {
    port_.message_box(kMsgDriverNotStarted, "", Buttons::Ok, Icon::Warning);
    return false;
  }
  if (doc_.modified()) {
    Answer answer = port_.message_box(kMsgReloadModified, "", Buttons::YesNoCancel, Icon::Warning);
    if (answer == Answer::Cancel) return false;
    if (answer == Answer::Yes) {
      // Reloading a file that could not be written would load the old one behind the
      // user's back.
      if (!save()) return false;
    } else if (std::string file = doc_.path(); is_configuration_file(file)) {
      open_configuration(doc_, file, port_);
    }
  }
  port_.set_busy(true);
  link_.reload(doc_.path());
  port_.set_busy(false);
  port_.message_box(kMsgReloadComplete, "", Buttons::Ok, Icon::Information);
  // The driver numbered its records from the file; the document takes them from there too.
  // (The path is copied: opening empties the document, its path included.)
  if (std::string file = doc_.path(); is_configuration_file(file)) open_configuration(doc_, file, port_);
  doc_.set_saved_since_start(false);
  return true;
}

std::optional<ExitChoices> EditorCommands::exit_choices() const {
  bool records = doc_.poll_record_count() > 0;
  // Unsaved changes always ask, also without poll records (then only Save is offered);
  // a saved configuration that the driver has not loaded yet asks about the reload.
  if (!doc_.modified() && !(doc_.saved_since_start() && records)) return std::nullopt;
  ExitChoices choices;
  choices.save = doc_.modified();
  choices.reload = records && (doc_.modified() || doc_.saved_since_start());
  choices.reload_enabled = records;
  return choices;
}

bool EditorCommands::close_requested() {
  auto choices = exit_choices();
  if (!choices) return true;
  if (!port_.exit_dialog(*choices)) return false;
  if (choices->save && !save()) return false;  // nothing is lost: the program stays open
  doc_.set_modified(false);
  if (choices->reload && choices->reload_enabled) reload();
  return true;
}

void EditorCommands::toggle_disable_comms_alarms() {
  CDrvSpecificChannel* channel = doc_.current_channel();
  if (!channel) return;
  channel->set_disable_comms_alarms(channel->disable_comms_alarms() ? 0 : 1);
  doc_.set_modified(true);
}

bool EditorCommands::comms_alarms_disabled() const {
  return doc_.current_channel() && doc_.current_channel()->disable_comms_alarms() == 1;
}

void EditorCommands::toggle_learn_addresses() {
  const CChannel* channel = doc_.current_channel();
  if (!channel) return;
  if (!learning_.erase(channel)) learning_.insert(channel);
}

bool EditorCommands::learning_addresses() const {
  return doc_.current_channel() && learning_.count(doc_.current_channel()) > 0;
}

void EditorCommands::save_log_file() {
  std::string text(kMsgLogFile);
  text.replace(text.find("%s"), 2, image::kAcronym);
  port_.message_box(text, "", Buttons::Ok, Icon::Information);
  doc_.set_log_flag(true);
}

CDrvSpecificDevice* EditorCommands::add_device() {
  if (!doc_.current_channel()) return nullptr;
  std::string proposal = doc_.proposed_device_name();
  CDrvSpecificDevice* device = doc_.add_default_device();
  while (true) {
    auto name = port_.device_name_dialog(proposal);
    if (!name || name->empty()) break;
    Message refusal = doc_.rename_device(*device, *name, true);
    if (refusal.ok()) {
      doc_.set_current_device(device);
      doc_.set_modified(true);
      return device;
    }
    port_.message_box(refusal.text, "", Buttons::Ok, Icon::Warning);
    proposal = *name;
  }
  doc_.delete_device(device);
  return nullptr;
}

int EditorCommands::read_messages(MessageList& list, std::size_t* dropped) {
  int added = 0;
  if (dropped) *dropped = 0;
  // A ring of 64 entries is read whole at most a few times per call; the bound keeps a
  // driver that floods the ring from holding the window.
  for (int i = 0; i < 256; ++i) {
    auto message = link_.next_message();
    if (!message) break;
    if (learning_addresses()) {
      if (auto address = learnable_address(message->text)) {
        if (learn_address(doc_, *address).kind != LearnResult::Ignored) learned_change_ = true;
      }
    }
    std::size_t gone = list.add(message->text, message->code);
    if (dropped) *dropped += gone;
    ++added;
  }
  return added;
}

}  // namespace hbt::editor
