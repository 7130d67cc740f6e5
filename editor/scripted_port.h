// A user-interface port that answers from a script and records every message box, for
// tests of the editor's behaviour and for anything else that runs it without a screen.
#pragma once

#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "editor/ui_port.h"

namespace hbt::editor {

class ScriptedPort final : public UiPort {
 public:
  struct Box {
    std::string text;
    std::string caption;
    Buttons buttons;
    Icon icon;
  };

  // Answers given in order to the questions (boxes with Yes/No buttons); when the script
  // runs out, questions get `fallback`. Boxes with only OK are answered OK.
  void script(std::initializer_list<Answer> answers) { answers_.insert(answers_.end(), answers); }
  void set_fallback(Answer answer) { fallback_ = answer; }

  Answer message_box(std::string_view text, std::string_view caption, Buttons buttons,
                     Icon icon) override {
    boxes.push_back(Box{std::string(text), std::string(caption), buttons, icon});
    if (buttons == Buttons::Ok) return Answer::Ok;
    if (answers_.empty()) return fallback_;
    Answer answer = answers_.front();
    answers_.pop_front();
    return answer;
  }
  void set_busy(bool busy) override { busy_changes += busy ? 1 : 0; }
  // File dialogs are answered from their own script: a path, or nothing for Cancel.
  void script_files(std::initializer_list<std::optional<std::string>> paths) {
    files_.insert(files_.end(), paths);
  }
  std::optional<std::string> choose_file(const FileDialog& dialog) override {
    dialogs.push_back(dialog);
    if (files_.empty()) return std::nullopt;
    auto path = files_.front();
    files_.pop_front();
    return path;
  }
  std::vector<FileDialog> dialogs;

  std::vector<Box> boxes;
  int busy_changes = 0;

 private:
  std::deque<Answer> answers_;
  std::deque<std::optional<std::string>> files_;
  Answer fallback_ = Answer::No;
};

}  // namespace hbt::editor
