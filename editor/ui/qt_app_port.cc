#include "editor/ui/qt_app_port.h"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QStringList>

#include "editor/ui/dialogs.h"

namespace hbt::editor::ui {

QString qt_filter(const std::string& filter) {
  QStringList parts = QString::fromStdString(filter).split('|', Qt::SkipEmptyParts);
  QStringList filters;
  for (int i = 0; i + 1 < parts.size(); i += 2) {
    QStringList patterns;
    for (const QString& p : parts[i + 1].split(';', Qt::SkipEmptyParts)) {
      patterns << p.toUpper() << p.toLower();
    }
    QString name = parts[i];
    name = name.left(name.indexOf('(')).trimmed();
    filters << QString("%1 (%2)").arg(name, patterns.join(' '));
  }
  return filters.join(";;");
}

Answer QtAppPort::message_box(std::string_view text, std::string_view caption, Buttons buttons, Icon icon) {
  QMessageBox box(parent_);
  box.setWindowTitle(caption.empty() ? QString("HBTDIDW") : QString::fromUtf8(caption.data(), caption.size()));
  box.setText(QString::fromUtf8(text.data(), static_cast<int>(text.size())));
  switch (icon) {
    case Icon::Information: box.setIcon(QMessageBox::Information); break;
    case Icon::Warning: box.setIcon(QMessageBox::Warning); break;
    case Icon::Error: box.setIcon(QMessageBox::Critical); break;
    case Icon::None: break;
  }
  switch (buttons) {
    case Buttons::Ok: box.setStandardButtons(QMessageBox::Ok); break;
    case Buttons::YesNo: box.setStandardButtons(QMessageBox::Yes | QMessageBox::No); break;
    case Buttons::YesNoCancel:
      box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
      break;
  }
  // A wait cursor would hide that the program waits for an answer.
  bool busy = QApplication::overrideCursor() != nullptr;
  if (busy) QApplication::restoreOverrideCursor();
  int chosen = box.exec();
  if (busy) QApplication::setOverrideCursor(Qt::WaitCursor);
  switch (chosen) {
    case QMessageBox::Yes: return Answer::Yes;
    case QMessageBox::No: return Answer::No;
    case QMessageBox::Cancel: return Answer::Cancel;
    default: return buttons == Buttons::Ok ? Answer::Ok : Answer::Cancel;
  }
}

void QtAppPort::set_busy(bool busy) {
  if (busy) QApplication::setOverrideCursor(Qt::WaitCursor);
  else if (QApplication::overrideCursor()) QApplication::restoreOverrideCursor();
}

std::optional<std::string> QtAppPort::choose_file(const FileDialog& dialog) {
  QFileDialog chooser(parent_);
  chooser.setOption(QFileDialog::DontUseNativeDialog);
  chooser.setAcceptMode(dialog.save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
  chooser.setFileMode(dialog.save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
  chooser.setNameFilter(qt_filter(dialog.filter));
  chooser.setDefaultSuffix(QString::fromStdString(dialog.default_extension));
  if (!dialog.initial_folder.empty()) chooser.setDirectory(QString::fromStdString(dialog.initial_folder));
  if (!dialog.initial_name.empty()) chooser.selectFile(QString::fromStdString(dialog.initial_name));
  if (chooser.exec() != QDialog::Accepted || chooser.selectedFiles().isEmpty()) return std::nullopt;
  return chooser.selectedFiles().front().toStdString();
}

bool QtAppPort::exit_dialog(ExitChoices& choices) {
  ExitDialog dialog(choices, parent_);
  if (dialog.exec() != QDialog::Accepted) return false;
  choices = dialog.choices();
  return true;
}

std::optional<std::string> QtAppPort::device_name_dialog(const std::string& proposal) {
  AddDeviceDialog dialog(QString::fromStdString(proposal), parent_);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  return dialog.name().toStdString();
}

void QtAppPort::poll_record_dialog(PollRecordEditor& editor) {
  PollRecordDialog dialog(editor, *this, parent_);
  dialog.exec();
}

}  // namespace hbt::editor::ui
