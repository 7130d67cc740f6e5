// The editor program's windows as its behaviour needs them: besides the message boxes and
// file dialogs of UiPort, the exit dialog, the Add Device dialog and the poll record dialog.
#pragma once

#include <optional>
#include <string>

#include "editor/ui_port.h"

namespace hbt::editor {

class PollRecordEditor;

// The exit dialog's check boxes: shown with these states, returned as the user left them.
struct ExitChoices {
  bool save = false;
  bool reload = false;
  bool reload_enabled = true;
  bool operator==(const ExitChoices&) const = default;
};

class AppPort : public UiPort {
 public:
  // Shows the exit dialog; false for Cancel.
  virtual bool exit_dialog(ExitChoices& choices) = 0;
  // Shows the Add Device dialog with a proposed name; the name on OK, nothing on Cancel.
  virtual std::optional<std::string> device_name_dialog(const std::string& proposal) = 0;
  // Runs the poll record dialog over `editor` until it closes.
  virtual void poll_record_dialog(PollRecordEditor& editor) = 0;
};

}  // namespace hbt::editor
