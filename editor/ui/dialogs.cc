#include "editor/ui/dialogs.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "editor/dictionary.h"
#include "editor/editor_commands.h"
#include "image/layout.h"

namespace hbt::editor::ui {

namespace {

QString qs(const std::string& text) { return QString::fromStdString(text); }
std::string ss(const QString& text) { return text.toStdString(); }

QPushButton* plain_button(const QString& text, QWidget* parent) {
  auto* button = new QPushButton(text, parent);
  // No button closes a dialog on Enter: Enter in a field only checks the field.
  button->setAutoDefault(false);
  button->setDefault(false);
  return button;
}

// Cancel discards the edits, so the field being typed in is not checked first: the button
// does not take the focus from it (which would check it and show a refusal that keeps the
// dialog open instead of closing it).
QPushButton* make_cancel_button(QWidget* parent) {
  QPushButton* button = plain_button("Cancel", parent);
  button->setObjectName("cancel");
  button->setFocusPolicy(Qt::NoFocus);
  return button;
}


}  // namespace

BoundField::BoundField(QLineEdit* edit, std::function<Message(const std::string&)> set,
                       std::function<std::string()> get, UiPort& port)
    : edit_(edit), set_(std::move(set)), get_(std::move(get)), port_(port) {
  refresh();
  connection_ = QObject::connect(edit_, &QLineEdit::editingFinished, edit_, [this] { commit(); });
}

bool BoundField::commit() {
  // A message box takes the focus, which would finish the edit a second time.
  if (busy_ || !changed()) return true;
  busy_ = true;
  Message result = set_(ss(edit_->text()));
  if (!result.ok() && !result.text.empty()) port_.message_box(result.text, "", Buttons::Ok, Icon::Warning);
  refresh();
  busy_ = false;
  return result.ok();
}

void BoundField::refresh() {
  shown_ = qs(get_());
  if (edit_->text() == shown_) return;  // setting the same text would drop the selection
  // A field entered with Tab has its text selected to be typed over; a value that another
  // field's change moved (a start address moves the end) stays selected.
  bool all_selected = edit_->hasSelectedText() && edit_->selectedText() == edit_->text();
  edit_->setText(shown_);
  if (all_selected) edit_->selectAll();
}

ChannelDialog::ChannelDialog(CDrvSpecificChannel& channel, int number, UiPort& port, QWidget* parent)
    : QDialog(parent), channel_(channel) {
  setObjectName("CComDlg");
  copy_.copy_settings_from(channel);
  setWindowTitle(QString("Channel %1 Communication Settings").arg(number));
  auto* layout = new QVBoxLayout(this);

  auto make = [&](std::function<Message(const std::string&)> set, std::function<std::string()> get) {
    auto* edit = new QLineEdit(this);
    fields_.push_back(std::make_unique<BoundField>(edit, std::move(set), std::move(get), port));
    return edit;
  };
  auto* errors = new QGroupBox("Error Handling", this);
  auto* error_form = new QFormLayout(errors);
  error_form->addRow("Timeout time      (Max time to wait for reponse)",
                     make([this](const std::string& t) { return copy_.set_reply_timeout(t); },
                          [this] { return copy_.get_reply_timeout(); }));
  error_form->addRow("Delay time         (re-attempt delay time after fail)",
                     make([this](const std::string& t) { return copy_.set_delay(t); },
                          [this] { return copy_.get_delay(); }));
  error_form->addRow("Number of Retries (before setting bad data)",
                     make([this](const std::string& t) { return copy_.set_retries(t); },
                          [this] { return copy_.get_retries(); }));
  layout->addWidget(errors);

  auto* network = new QGroupBox("Network address of this PLC", this);
  auto* net_form = new QFormLayout(network);
  net_form->addRow("IP Address", make([this](const std::string& t) { return copy_.set_ip_address(t); },
                                      [this] { return copy_.get_ip_address(); }));
  net_form->addRow("Port Number (5000 recomended)",
                   make([this](const std::string& t) { return copy_.set_ip_port(t); },
                        [this] { return copy_.get_ip_port(); }));
  protocol_ = new QComboBox(this);
  protocol_->addItems({"UDP", "TCP"});
  protocol_->setCurrentIndex(copy_.ip_protocol() ? 1 : 0);
  connect(protocol_, &QComboBox::currentTextChanged, this,
          [this](const QString& text) { copy_.set_ip_protocol(ss(text)); });
  net_form->addRow("Protocol (UDP recomended)", protocol_);
  auto* note = new QLabel(
      "**Note Port 5000 is intrinsic auto open connection in Q PLC - no configuration required", network);
  note->setWordWrap(true);
  net_form->addRow(note);
  layout->addWidget(network);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  auto* ok = plain_button("OK", this);
  auto* cancel = make_cancel_button(this);
  auto* help = plain_button("Help", this);
  buttons->addWidget(ok);
  buttons->addWidget(cancel);
  buttons->addWidget(help);
  layout->addLayout(buttons);
  connect(ok, &QPushButton::clicked, this, &ChannelDialog::accept);
  connect(cancel, &QPushButton::clicked, this, &ChannelDialog::reject);
  connect(help, &QPushButton::clicked, this, [this] { show_help(this, "procedures"); });
}

void ChannelDialog::accept() {
  // A field typed in and not yet left has not been checked yet.
  for (auto& field : fields_) {
    if (!field->commit()) return;
  }
  if (!channel_.same_settings(copy_)) {
    channel_.copy_settings_from(copy_);
    changed_ = true;
  }
  QDialog::accept();
}

void ChannelDialog::reject() {
  // Closing takes the focus from the field typed in; what it holds is discarded, not checked.
  for (auto& field : fields_) field->refresh();
  QDialog::reject();
}

PollRecordDialog::PollRecordDialog(PollRecordEditor& editor, UiPort& port, QWidget* parent)
    : QDialog(parent), editor_(editor), port_(port) {
  setObjectName("CIORecDlg");
  setWindowTitle("Poll Record Edit");
  using F = PollRecordEditor::Field;
  auto* layout = new QHBoxLayout(this);
  auto* form = new QFormLayout;
  auto make = [&](F field) {
    auto* edit = new QLineEdit(this);
    fields_.emplace_back(field, std::make_unique<BoundField>(
                                    edit,
                                    [this, field](const std::string& t) {
                                      Message m = editor_.set_field(field, t);
                                      return m;
                                    },
                                    [this, field] { return editor_.field_text(field); }, port));
    // One field can change others (a start address moves the end and the data type).
    connect(edit, &QLineEdit::editingFinished, this, &PollRecordDialog::refresh, Qt::QueuedConnection);
    return edit;
  };
  form->addRow("Start Address", make(F::Start));
  form->addRow("End Address", make(F::End));
  form->addRow("Length", make(F::Length));
  data_type_ = new QComboBox(this);
  for (const char* text : {"Unsigned", "Signed", "Float", "Long Signed", "Long Unsigned", "ASCII", "Digital"}) {
    data_type_->addItem(text);
  }
  form->addRow("Data Type", data_type_);
  form->addRow("Poll Time", make(F::PollTime));
  form->addRow("Access Time:", make(F::AccessTime));
  exception_ = new QComboBox(this);
  exception_->addItems({"Disabled", "Analog", "Digital", "ASCII"});
  form->addRow("Exception Type:", exception_);
  form->addRow("Dead Band:", make(F::Deadband));
  layout->addLayout(form);

  auto choose = [this](F field, QComboBox* combo) {
    connect(combo, &QComboBox::activated, this, [this, field, combo](int) {
      Message m = editor_.set_field(field, ss(combo->currentText()));
      if (!m.ok() && !m.text.empty()) port_.message_box(m.text, "", Buttons::Ok, Icon::Warning);
      refresh();
    });
  };
  choose(F::DataType, data_type_);
  choose(F::Exception, exception_);

  auto* buttons = new QVBoxLayout;
  new_ = plain_button("New", this);
  delete_ = plain_button("Delete", this);
  ok_ = plain_button("OK", this);
  cancel_ = make_cancel_button(this);
  auto* help = plain_button("Help", this);
  for (QPushButton* b : {new_, delete_, ok_, cancel_, help}) buttons->addWidget(b);
  buttons->addStretch();
  layout->addLayout(buttons);
  connect(new_, &QPushButton::clicked, this, [this] {
    editor_.press_new();
    refresh();
  });
  connect(delete_, &QPushButton::clicked, this, [this] {
    editor_.press_delete();
    discard_typing();
    QDialog::accept();
  });
  connect(ok_, &QPushButton::clicked, this, [this] {
    for (auto& [field, bound] : fields_) {
      if (!bound->commit()) return;
    }
    editor_.press_ok();
    QDialog::accept();
  });
  connect(cancel_, &QPushButton::clicked, this, &PollRecordDialog::reject);
  connect(help, &QPushButton::clicked, this, [this] { show_help(this, "procedures"); });
  refresh();
}

QLineEdit* PollRecordDialog::field(PollRecordEditor::Field f) const {
  for (const auto& [field, bound] : fields_) {
    if (field == f) return bound->edit();
  }
  return nullptr;
}

void PollRecordDialog::refresh() {
  for (auto& [field, bound] : fields_) bound->refresh();
  data_type_->setCurrentText(qs(editor_.field_text(PollRecordEditor::Field::DataType)));
  exception_->setCurrentText(qs(editor_.field_text(PollRecordEditor::Field::Exception)));
}

void PollRecordDialog::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  // A new record shows "--Undefined--": typing starts over it rather than after it.
  QLineEdit* start = field(PollRecordEditor::Field::Start);
  start->setFocus();
  start->selectAll();
}

void PollRecordDialog::keyPressEvent(QKeyEvent* event) {
  // Enter inside a field checks that field (the line edit did) and keeps the dialog open.
  if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
    event->accept();
    return;
  }
  QDialog::keyPressEvent(event);
}

void PollRecordDialog::discard_typing() {
  // Closing takes the focus from the field typed in, which would check its text against a
  // record the dialog has already given up.
  for (auto& [field, bound] : fields_) bound->refresh();
}

void PollRecordDialog::reject() {
  if (editor_.outcome() == PollRecordEditor::Outcome::Open) editor_.press_cancel();
  discard_typing();
  QDialog::reject();
}

AddDeviceDialog::AddDeviceDialog(const QString& proposal, QWidget* parent) : QDialog(parent) {
  setObjectName("CDevNameDlg");
  setWindowTitle("Add Device");
  auto* layout = new QVBoxLayout(this);
  auto* form = new QFormLayout;
  name_ = new QLineEdit(proposal, this);
  form->addRow("Device Name:", name_);
  layout->addLayout(form);
  auto* box = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  layout->addWidget(box);
  connect(box, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(box, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

ExitDialog::ExitDialog(const ExitChoices& choices, QWidget* parent)
    : QDialog(parent), reload_enabled_(choices.reload_enabled) {
  setObjectName("CExitDlg");
  setWindowTitle("I/O Driver Configurator");
  auto* layout = new QVBoxLayout(this);
  auto* text = new QLabel(
      "The I/O Driver Configurator is now exiting. Select options to be performed before configurator "
      "closes.",
      this);
  text->setWordWrap(true);
  layout->addWidget(text);
  save_ = new QCheckBox("Save I/O Driver Configuration", this);
  reload_ = new QCheckBox("Reload I/O Driver Configuration", this);
  save_->setChecked(choices.save);
  reload_->setChecked(choices.reload && choices.reload_enabled);
  reload_->setEnabled(choices.reload_enabled);
  layout->addWidget(save_);
  layout->addWidget(reload_);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  auto* ok = new QPushButton("OK", this);
  auto* cancel = new QPushButton("Cancel", this);
  auto* help = new QPushButton("Help", this);
  ok->setDefault(true);
  for (QPushButton* b : {ok, cancel, help}) buttons->addWidget(b);
  layout->addLayout(buttons);
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
  connect(help, &QPushButton::clicked, this, [this] { show_help(this, "commands"); });
}

ExitChoices ExitDialog::choices() const {
  return ExitChoices{save_->isChecked(), reload_->isChecked(), reload_enabled_};
}

AboutDialog::AboutDialog(const QString& node, const QString& base, const QString& database, QWidget* parent)
    : QDialog(parent) {
  setObjectName("CAboutDlg");
  setWindowTitle("About I/O Driver Configurator");
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(new QLabel(QString::asprintf("%s (%s) V %s", std::string(kProductName).c_str(),
                                                 image::kAcronym, std::string(kProductVersion).c_str()),
                               this));
  auto* form = new QFormLayout;
  form->addRow("Node Name:", new QLabel(node, this));
  form->addRow("Base Path:", new QLabel(base, this));
  form->addRow("Database Path:", new QLabel(database, this));
  layout->addLayout(form);
  auto* box = new QDialogButtonBox(QDialogButtonBox::Ok, this);
  layout->addWidget(box);
  connect(box, &QDialogButtonBox::accepted, this, &QDialog::accept);
}

}  // namespace hbt::editor::ui
