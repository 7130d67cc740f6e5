// The program's port: Qt message boxes, file dialogs and the editor's dialogs.
#pragma once

#include <QWidget>

#include "editor/app_port.h"

namespace hbt::editor::ui {

class QtAppPort final : public AppPort {
 public:
  explicit QtAppPort(QWidget* parent = nullptr) : parent_(parent) {}
  void set_parent(QWidget* parent) { parent_ = parent; }

  Answer message_box(std::string_view text, std::string_view caption, Buttons buttons, Icon icon) override;
  void set_busy(bool busy) override;
  std::optional<std::string> choose_file(const FileDialog& dialog) override;
  bool exit_dialog(ExitChoices& choices) override;
  std::optional<std::string> device_name_dialog(const std::string& proposal) override;
  void poll_record_dialog(PollRecordEditor& editor) override;

 private:
  QWidget* parent_;
};

// "Name (*.EXT)|*.EXT|...||" as a Qt filter; each pattern matches either case.
QString qt_filter(const std::string& filter);

}  // namespace hbt::editor::ui
