// The editor's view of its user interface: everything the editor asks or tells the user
// goes through this port, so the behaviour needs no toolkit. Windows implement it; tests
// and the command-line tool answer it without a screen.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace hbt::editor {

enum class Buttons { Ok, YesNo, YesNoCancel };
enum class Icon { None, Information, Warning, Error };
enum class Answer { Ok, Yes, No, Cancel };

// A file dialog as the editor asks for it.
struct FileDialog {
  bool save = false;                 // save dialog (asks before overwriting) or open dialog
  std::string filter;                // "Name (*.EXT)|*.EXT|...||"
  std::string default_extension;     // without the dot
  std::string initial_folder;
  std::string initial_name;
  bool must_exist = false;           // open: the file must exist
};

class UiPort {
 public:
  virtual ~UiPort() = default;
  // Shows a message box and returns the button chosen. An empty caption means the
  // program's own title.
  virtual Answer message_box(std::string_view text, std::string_view caption, Buttons buttons,
                             Icon icon) = 0;
  // Long operations (save, open, import) are bracketed by a busy indication.
  virtual void set_busy(bool /*busy*/) {}
  // Shows a file dialog; the chosen path, or nothing when cancelled. A port without
  // dialogs chooses nothing.
  virtual std::optional<std::string> choose_file(const FileDialog& /*dialog*/) { return std::nullopt; }
};

}  // namespace hbt::editor
