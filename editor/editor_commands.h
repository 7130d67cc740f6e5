// The editor program's commands without their windows: the file commands, Reload with its
// question and the driver hand-shake, closing with the exit dialog, the Options menu, and
// the messages of the running driver (with address learning).
#pragma once

#include <cstdint>
#include <set>
#include <string>

#include "editor/app_port.h"
#include "editor/document.h"
#include "editor/driver_link.h"
#include "editor/host_settings.h"
#include "editor/message_list.h"

namespace hbt::editor {

inline constexpr std::string_view kProductName = "Brenlow Ethernet Driver";
inline constexpr std::string_view kProductVersion = "7.9.21";
inline constexpr std::string_view kMsgDriverNotStarted = "Driver not Started Not Started!";
inline constexpr std::string_view kMsgReloadComplete = "Reload Complete";
inline constexpr std::string_view kMsgReloadModified =
    "The I/O Driver Configuration has been modified but not saved. \n\rSave changes? (Selecting NO "
    "will result in changes being discarded.)";
inline constexpr std::string_view kMsgLogFile = "Log File will be saved to %s_LOG.TXT";

class EditorCommands {
 public:
  // `fallback_folder` is where file dialogs start when no start-up file is recorded.
  EditorCommands(CDidDoc& doc, AppPort& port, HostSettings& settings, DriverLink& link,
                 std::string fallback_folder);

  // At start: the driver's start-up file when it exists, otherwise a new document.
  void open_startup_file();

  bool new_document();
  bool open();
  bool save();
  bool save_as();
  // Reload from the menu, the toolbar or Ctrl+R; true when the driver was asked to reload.
  bool reload();
  // Closing the main window: true when the program may close.
  bool close_requested();
  // The exit dialog's states when closing now; nothing when the program closes at once.
  std::optional<ExitChoices> exit_choices() const;

  // Options menu. Each works on the current channel; the flags tell the menu's checks.
  void toggle_disable_comms_alarms();
  bool comms_alarms_disabled() const;
  void toggle_learn_addresses();
  bool learning_addresses() const;
  void save_log_file();

  // Adds a subordinate PLC with the Add Device dialog; the new device, or null.
  CDrvSpecificDevice* add_device();

  // The message window's timer: reads the driver's ring until it is empty, learns addresses
  // for the current channel when asked to, and adds the lines. Returns the number of lines
  // added; *dropped counts the lines the 200-line limit removed from the front.
  int read_messages(MessageList& list, std::size_t* dropped);
  // Poll records changed by address learning since the last call (for the list to redraw).
  bool take_learned_change() {
    bool changed = learned_change_;
    learned_change_ = false;
    return changed;
  }

  CDidDoc& doc() { return doc_; }
  AppPort& port() { return port_; }

 private:
  std::uint32_t now() const;
  bool after_save(bool saved);

  CDidDoc& doc_;
  AppPort& port_;
  HostSettings& settings_;
  DriverLink& link_;
  std::string fallback_folder_;
  std::set<const CChannel*> learning_;
  bool learned_change_ = false;
};

}  // namespace hbt::editor
