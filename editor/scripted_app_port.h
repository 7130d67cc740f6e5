// An AppPort for tests: message boxes and file dialogs answered by a ScriptedPort, the exit
// and Add Device dialogs from scripts, the poll record dialog by a function.
#pragma once

#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "editor/app_port.h"
#include "editor/poll_record_editor.h"
#include "editor/scripted_port.h"

namespace hbt::editor {

class ScriptedAppPort final : public AppPort {
 public:
  ScriptedPort boxes;  // answers and records the message boxes and file dialogs

  Answer message_box(std::string_view text, std::string_view caption, Buttons buttons, Icon icon) override {
    return boxes.message_box(text, caption, buttons, icon);
  }
  void set_busy(bool busy) override { boxes.set_busy(busy); }
  std::optional<std::string> choose_file(const FileDialog& dialog) override { return boxes.choose_file(dialog); }

  // The exit dialog: records the states it was shown with and applies `exit_answer`
  // (nothing = Cancel).
  std::vector<ExitChoices> exit_dialogs;
  std::optional<std::function<void(ExitChoices&)>> exit_answer;
  bool exit_dialog(ExitChoices& choices) override {
    exit_dialogs.push_back(choices);
    if (!exit_answer) return false;
    (*exit_answer)(choices);
    return true;
  }

  std::deque<std::optional<std::string>> device_names;
  std::vector<std::string> proposals;
  std::optional<std::string> device_name_dialog(const std::string& proposal) override {
    proposals.push_back(proposal);
    if (device_names.empty()) return std::nullopt;
    auto name = device_names.front();
    device_names.pop_front();
    return name;
  }

  std::function<void(PollRecordEditor&)> poll_record_answer;
  int poll_record_dialogs = 0;
  void poll_record_dialog(PollRecordEditor& editor) override {
    ++poll_record_dialogs;
    if (poll_record_answer) poll_record_answer(editor);
  }
};

}  // namespace hbt::editor
