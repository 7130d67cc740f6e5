// The editor's view of its user interface: everything the editor asks or tells the user
// goes through this port, so the behaviour needs no toolkit. Windows implement it; tests
// and the command-line tool answer it without a screen.
#pragma once

#include <string_view>

namespace hbt::editor {

enum class Buttons { Ok, YesNo, YesNoCancel };
enum class Icon { None, Information, Warning, Error };
enum class Answer { Ok, Yes, No, Cancel };

class UiPort {
 public:
  virtual ~UiPort() = default;
  // Shows a message box and returns the button chosen. An empty caption means the
  // program's own title.
  virtual Answer message_box(std::string_view text, std::string_view caption, Buttons buttons,
                             Icon icon) = 0;
  // Long operations (save, open, import) are bracketed by a busy indication.
  virtual void set_busy(bool /*busy*/) {}
};

}  // namespace hbt::editor
