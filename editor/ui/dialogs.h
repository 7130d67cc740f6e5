// The editor's dialogs: channel settings, poll record, Add Device, exit and about. Each
// field is checked by the model when it loses the focus; a refusal shows the model's
// message and puts the old value back.
#pragma once

#include <QDialog>
#include <QLineEdit>
#include <functional>
#include <memory>
#include <vector>

#include "editor/app_port.h"
#include "editor/channel.h"
#include "editor/poll_record_editor.h"

class QCheckBox;
class QComboBox;
class QPushButton;

namespace hbt::editor::ui {

// A field bound to a model setter and getter: checked when editing finishes (focus loss
// or Enter) after the user changed its text, refused text replaced by the value the model
// keeps. A field left as it was shown is not checked: its text is the model's own, and a
// check of it could only refuse what the user never typed (a new record's "--Undefined--").
class BoundField {
 public:
  BoundField(QLineEdit* edit, std::function<Message(const std::string&)> set,
             std::function<std::string()> get, UiPort& port);
  // A window going away takes the focus from its fields after their owner is gone.
  ~BoundField() { QObject::disconnect(connection_); }
  BoundField(const BoundField&) = delete;
  BoundField& operator=(const BoundField&) = delete;
  // Checks the text now when it was changed; false when refused (the message was shown).
  bool commit();
  void refresh();
  bool changed() const { return edit_->text() != shown_; }
  QLineEdit* edit() const { return edit_; }

 private:
  QLineEdit* edit_;
  std::function<Message(const std::string&)> set_;
  std::function<std::string()> get_;
  UiPort& port_;
  QString shown_;  // the text refresh() last put in the field
  bool busy_ = false;
  QMetaObject::Connection connection_;
};

class ChannelDialog : public QDialog {
  Q_OBJECT
 public:
  // `number` is the 1-based channel number of the caption.
  ChannelDialog(CDrvSpecificChannel& channel, int number, UiPort& port, QWidget* parent = nullptr);
  // Whether OK changed the channel.
  bool changed() const { return changed_; }
  QLineEdit* timeout_edit() const { return fields_[0]->edit(); }
  QLineEdit* delay_edit() const { return fields_[1]->edit(); }
  QLineEdit* retries_edit() const { return fields_[2]->edit(); }
  QLineEdit* ip_edit() const { return fields_[3]->edit(); }
  QLineEdit* port_edit() const { return fields_[4]->edit(); }
  QComboBox* protocol_combo() const { return protocol_; }

  void accept() override;
  void reject() override;

 private:
  CDrvSpecificChannel& channel_;
  CDrvSpecificChannel copy_;
  std::vector<std::unique_ptr<BoundField>> fields_;
  QComboBox* protocol_;
  bool changed_ = false;
};

class PollRecordDialog : public QDialog {
  Q_OBJECT
 public:
  PollRecordDialog(PollRecordEditor& editor, UiPort& port, QWidget* parent = nullptr);
  QLineEdit* field(PollRecordEditor::Field f) const;
  QComboBox* data_type_combo() const { return data_type_; }
  QComboBox* exception_combo() const { return exception_; }
  QPushButton* ok_button() const { return ok_; }
  QPushButton* new_button() const { return new_; }
  QPushButton* delete_button() const { return delete_; }
  QPushButton* cancel_button() const { return cancel_; }

  void refresh();
  void reject() override;

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  void discard_typing();

  PollRecordEditor& editor_;
  UiPort& port_;
  std::vector<std::pair<PollRecordEditor::Field, std::unique_ptr<BoundField>>> fields_;
  QComboBox* data_type_;
  QComboBox* exception_;
  QPushButton* new_;
  QPushButton* delete_;
  QPushButton* ok_;
  QPushButton* cancel_;
};

class AddDeviceDialog : public QDialog {
  Q_OBJECT
 public:
  AddDeviceDialog(const QString& proposal, QWidget* parent = nullptr);
  QString name() const { return name_->text(); }
  QLineEdit* name_edit() const { return name_; }

 private:
  QLineEdit* name_;
};

class ExitDialog : public QDialog {
  Q_OBJECT
 public:
  ExitDialog(const ExitChoices& choices, QWidget* parent = nullptr);
  ExitChoices choices() const;
  QCheckBox* save_box() const { return save_; }
  QCheckBox* reload_box() const { return reload_; }

 private:
  QCheckBox* save_;
  QCheckBox* reload_;
  bool reload_enabled_;
};

class AboutDialog : public QDialog {
  Q_OBJECT
 public:
  AboutDialog(const QString& node, const QString& base, const QString& database, QWidget* parent = nullptr);
};

// The dialogs' Help buttons and the Help menu open the program's own pages.
void show_help(QWidget* parent, const QString& topic);

}  // namespace hbt::editor::ui
