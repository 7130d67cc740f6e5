#include "editor/ui/config_form.h"

#include <QAction>
#include <QButtonGroup>
#include <QComboBox>
#include <QEvent>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QListWidget>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QToolButton>
#include <QTreeView>
#include <QVBoxLayout>
#include <algorithm>

#include "editor/dictionary.h"
#include "editor/poll_record_editor.h"

namespace hbt::editor::ui {

namespace {

QString qs(const std::string& text) { return QString::fromStdString(text); }

// Small round state icons: green good, red communication failure, yellow not polled,
// grey unknown.
QIcon state_icon_image(QColor colour) {
  QPixmap pixmap(16, 16);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setBrush(colour);
  painter.setPen(colour.darker(160));
  painter.drawEllipse(2, 2, 12, 12);
  return QIcon(pixmap);
}

const char* const kColumns[] = {"I/O Blocks",  "Start",     "End",            "Length",   "Data Type",
                                "Poll Time",   "Access Time", "Exception Type", "Dead Band"};

QString time_text(float value, float disabled) {
  if (value == disabled) return "Disabled";
  return QString::asprintf("%8.1f", static_cast<double>(value));
}

}  // namespace

QStringList poll_record_row(const CIORec& record, int position) {
  const auto& r = static_cast<const CDrvSpecificIORec&>(record);
  return {QString::number(position + 1),
          qs(r.get_start_address()),
          qs(r.get_end_address()),
          QString::number(r.length()),
          qs(r.get_data_type()),
          time_text(r.poll_time(), kPollTimeDisabled),
          time_text(r.access_time(), kAccessTimeDisabled),
          qs(r.get_exception_type()),
          QString::asprintf("%7.1f", static_cast<double>(r.deadband()))};
}

PollRecordModel::PollRecordModel(const CDidDoc& doc, const LiveStatus& live, QObject* parent)
    : QAbstractTableModel(parent), doc_(doc), live_(live) {
  icons_ = {QIcon(), state_icon_image(QColor(40, 170, 60)), state_icon_image(QColor(210, 40, 40)),
            state_icon_image(QColor(230, 190, 30)), state_icon_image(QColor(150, 150, 150))};
}

void PollRecordModel::reset() {
  beginResetModel();
  rows_ = records();
  endResetModel();
}

void PollRecordModel::redraw_row(int row) {
  if (row < 0 || row >= rowCount()) return;
  emit dataChanged(index(row, 0), index(row, columnCount() - 1));
}

void PollRecordModel::redraw_rows(int first, int last) {
  last = std::min(last, rowCount() - 1);
  if (first < 0 || first > last) return;
  emit dataChanged(index(first, 0), index(last, 0), {Qt::DecorationRole});
}

int PollRecordModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : std::min(rows_, records());
}

int PollRecordModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : 9; }

QVariant PollRecordModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= rowCount()) return {};
  if (role == Qt::DisplayRole) {
    return poll_record_row(*device()->iorecs()[static_cast<std::size_t>(index.row())], index.row())
        .at(index.column());
  }
  if (role == Qt::DecorationRole && index.column() == 0) {
    int icon = live_.row_icon(index.row());
    return icons_[static_cast<std::size_t>(icon >= 1 && icon <= 4 ? icon : 4)];
  }
  if (role == Qt::TextAlignmentRole && index.column() >= 3 && index.column() != 4 && index.column() != 7) {
    return int(Qt::AlignRight | Qt::AlignVCenter);
  }
  return {};
}

QVariant PollRecordModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 && section < 9) {
    return QString(kColumns[section]);
  }
  return {};
}

ConfigForm::ConfigForm(EditorCommands& commands, const LiveStatus& live, QWidget* parent)
    : QWidget(parent), commands_(commands), doc_(commands.doc()), port_(commands.port()) {
  setObjectName("CCfgDlg");
  auto* layout = new QVBoxLayout(this);

  auto* selectors = new QHBoxLayout;
  selectors->addWidget(new QLabel("Channel:", this));
  channel_group_ = new QButtonGroup(this);
  channel_group_->setExclusive(true);
  for (int n = 1; n <= 16; ++n) {
    auto* button = new QToolButton(this);
    button->setText(QString::number(n));
    button->setCheckable(true);
    button->setToolTip(QString("Select channel %1 for display/edit").arg(n));
    button->setMinimumWidth(30);
    channel_group_->addButton(button, n);
    channels_.push_back(button);
    selectors->addWidget(button);
  }
  connect(channel_group_, &QButtonGroup::idClicked, this, [this](int n) { select_channel(n); });
  setup_ = new QPushButton("Setup the Selected Channel", this);
  connect(setup_, &QPushButton::clicked, this, &ConfigForm::setup_channel);
  selectors->addSpacing(12);
  selectors->addWidget(setup_);
  selectors->addStretch();
  layout->addLayout(selectors);

  auto* middle = new QHBoxLayout;
  auto* list_box = new QGroupBox("PLC Device List", this);
  auto* list_layout = new QVBoxLayout(list_box);
  devices_ = new QListWidget(list_box);
  devices_->setMinimumWidth(160);
  list_layout->addWidget(devices_);
  auto* list_buttons = new QHBoxLayout;
  add_device_ = new QPushButton("Add Subordinate PLC", list_box);
  delete_device_ = new QPushButton("Delete", list_box);
  list_buttons->addWidget(add_device_);
  list_buttons->addWidget(delete_device_);
  list_layout->addLayout(list_buttons);
  auto* note = new QLabel(
      "For PLC's with Ethernet cards, only one device per channel.  Only add more devices for PLC's on "
      "subordinate Melsec networks connected to this IP address",
      list_box);
  note->setWordWrap(true);
  list_layout->addWidget(note);
  middle->addWidget(list_box, 2);

  auto* fields_box = new QGroupBox(this);
  auto* form = new QFormLayout(fields_box);
  auto bind = [&](const char* label, auto set, auto get) {
    auto* edit = new QLineEdit(fields_box);
    device_fields_.push_back(std::make_unique<BoundField>(
        edit,
        [this, set](const std::string& text) {
          if (!device()) return accepted();
          std::string before = device()->write_csv_line(',');
          Message m = set(*device(), text);
          if (device()->write_csv_line(',') != before) {
            doc_.set_modified(true);
            emit document_changed();
          }
          return m;
        },
        [this, get] { return device() ? get(*device()) : std::string(); }, port_));
    form->addRow(label, edit);
  };
  bind("PLC Name:",
       [this](CDrvSpecificDevice& d, const std::string& t) {
         Message m = doc_.rename_device(d, t, false);
         if (m.ok()) show_devices();
         return m;
       },
       [](CDrvSpecificDevice& d) { return d.name(); });
  bind("Description:", [](CDrvSpecificDevice& d, const std::string& t) { return d.set_description(t); },
       [](CDrvSpecificDevice& d) { return d.description(); });
  cpu_ = new QComboBox(fields_box);
  for (int i = 0; i < kCpuTypeDct.size(); ++i) cpu_->addItem(qs(kCpuTypeDct.text_at(i)));
  form->addRow("CPU Type:", cpu_);
  protocol_ = new QComboBox(fields_box);
  for (int i = 0; i < kProtocolTypeDct.size(); ++i) protocol_->addItem(qs(kProtocolTypeDct.text_at(i)));
  form->addRow("Protocol Type:", protocol_);
  bind("PC Number (default 255 is local PLC)",
       [](CDrvSpecificDevice& d, const std::string& t) { return d.set_pc_number(t); },
       [](CDrvSpecificDevice& d) { return d.get_pc_number(); });
  bind("Backup PLC Address:", [](CDrvSpecificDevice& d, const std::string& t) { return d.set_backup_plc(t); },
       [](CDrvSpecificDevice& d) { return d.get_backup_plc(); });
  bind("Melsec Net Network number (default 0 for Ethernet network)",
       [](CDrvSpecificDevice& d, const std::string& t) { return d.set_network_number(t); },
       [](CDrvSpecificDevice& d) { return d.get_network_number(); });
  bind("PLC CPU/Module Number (default 0 for only 1 CPU in rack)",
       [](CDrvSpecificDevice& d, const std::string& t) { return d.set_module_number(t); },
       [](CDrvSpecificDevice& d) { return d.get_module_number(); });
  middle->addWidget(fields_box, 3);
  layout->addLayout(middle);

  connect(cpu_, &QComboBox::activated, this, [this](int position) {
    if (!device() || device()->cpu_type() == position) return;
    device()->set_cpu_position(position);
    doc_.set_modified(true);
    emit document_changed();
  });
  connect(protocol_, &QComboBox::activated, this, [this](int position) {
    if (!device() || device()->protocol_type() == position) return;
    device()->set_protocol_position(position);
    doc_.set_modified(true);
    emit document_changed();
  });
  connect(devices_, &QListWidget::currentRowChanged, this, [this](int row) {
    CDrvSpecificChannel* channel = doc_.current_channel();
    if (!channel || row < 0 || static_cast<std::size_t>(row) >= channel->devices().size()) return;
    auto* chosen = static_cast<CDrvSpecificDevice*>(channel->devices()[static_cast<std::size_t>(row)].get());
    if (chosen == doc_.current_device()) return;
    doc_.set_current_device(chosen);
    show_device();
  });
  connect(add_device_, &QPushButton::clicked, this, [this] {
    if (!commands_.add_device()) return;
    show_devices();
    emit document_changed();
  });
  connect(delete_device_, &QPushButton::clicked, this, [this] {
    CDrvSpecificDevice* current = device();
    if (!current) return;
    if (!delete_device_asking(doc_, current, port_)) return;
    CDrvSpecificChannel* channel = doc_.current_channel();
    if (channel && !channel->devices().empty()) {
      doc_.set_current_device(static_cast<CDrvSpecificDevice*>(channel->devices().front().get()));
    }
    show_devices();
    emit document_changed();
  });

  records_ = new QTreeView(this);
  records_->setRootIsDecorated(false);
  records_->setUniformRowHeights(true);
  records_->setAlternatingRowColors(true);
  records_->setSelectionBehavior(QAbstractItemView::SelectRows);
  records_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  model_ = new PollRecordModel(doc_, live, this);
  records_->setModel(model_);
  records_->viewport()->installEventFilter(this);
  // A long list leaves no room below its last row to double-click: the list's context menu
  // and the keyboard (Insert adds, Enter edits the current row) do the same.
  auto* add = new QAction("&Add Poll Record", records_);
  add->setObjectName("add_poll_record");
  add->setShortcut(QKeySequence(Qt::Key_Insert));
  add->setShortcutContext(Qt::WidgetWithChildrenShortcut);
  connect(add, &QAction::triggered, this, [this] { edit_row(-1); });
  auto* edit = new QAction("&Edit Poll Record...", records_);
  edit->setObjectName("edit_poll_record");
  edit->setShortcuts({QKeySequence(Qt::Key_Return), QKeySequence(Qt::Key_Enter)});
  edit->setShortcutContext(Qt::WidgetWithChildrenShortcut);
  connect(edit, &QAction::triggered, this, [this] {
    QModelIndex current = records_->currentIndex();
    if (current.isValid()) edit_row(current.row());
  });
  records_->addActions({add, edit});
  records_->setContextMenuPolicy(Qt::ActionsContextMenu);
  const int widths[] = {80, 90, 90, 60, 100, 80, 90, 110, 80};
  for (int c = 0; c < 9; ++c) records_->setColumnWidth(c, widths[c]);
  records_->header()->setStretchLastSection(false);
  layout->addWidget(records_, 1);
  reload_document();
}

QToolButton* ConfigForm::channel_button(int number) const {
  return number >= 1 && number <= 16 ? channels_[static_cast<std::size_t>(number - 1)] : nullptr;
}

int ConfigForm::channel_number() const {
  for (std::size_t i = 0; i < doc_.channels().size(); ++i) {
    if (doc_.channels()[i].get() == doc_.current_channel()) return static_cast<int>(i) + 1;
  }
  return 1;
}

void ConfigForm::reload_document() {
  // A document shown anew starts at its first channel.
  doc_.ensure_channel();
  bool modified = doc_.modified();
  doc_.select_channel(1);
  doc_.set_modified(modified);  // showing a channel is no change
  if (auto* button = channel_button(channel_number())) button->setChecked(true);
  show_devices();
}

void ConfigForm::select_channel(int number) {
  bool modified = doc_.modified();
  std::size_t before = doc_.channels().size();
  doc_.select_channel(number);
  // Selecting a channel that did not exist adds it: that is a change of the document.
  doc_.set_modified(modified || doc_.channels().size() != before);
  if (auto* button = channel_button(number)) button->setChecked(true);
  show_devices();
  emit selection_changed();
}

void ConfigForm::show_devices() {
  QSignalBlocker block(devices_);
  devices_->clear();
  CDrvSpecificChannel* channel = doc_.current_channel();
  int current = -1;
  if (channel) {
    int row = 0;
    for (const auto& d : channel->devices()) {
      devices_->addItem(qs(d->name()));
      if (d.get() == doc_.current_device()) current = row;
      ++row;
    }
  }
  devices_->setCurrentRow(current);
  show_device();
}

void ConfigForm::show_device() {
  for (auto& field : device_fields_) field->refresh();
  if (device()) {
    cpu_->setCurrentIndex(device()->cpu_type());
    protocol_->setCurrentIndex(device()->protocol_type());
  }
  model_->reset();
  emit selection_changed();
}

void ConfigForm::refresh_records() { model_->reset(); }

void ConfigForm::redraw_rows(const std::vector<int>& rows) {
  // Rows come in ascending order; a run of neighbours is one change for the view, so a
  // tick where every state changes costs one repaint, not one per row.
  std::size_t i = 0;
  while (i < rows.size()) {
    std::size_t j = i;
    while (j + 1 < rows.size() && rows[j + 1] == rows[j] + 1) ++j;
    model_->redraw_rows(rows[i], rows[j]);
    i = j + 1;
  }
}

void ConfigForm::edit_row(int row) {
  if (!device()) return;
  std::size_t before = device()->iorecs().size();
  int was_current = records_->currentIndex().isValid() ? records_->currentIndex().row() : -1;
  PollRecordListChange change = edit_poll_record_at(doc_, *device(), row, port_);
  if (!device()) return;
  int rows = static_cast<int>(device()->iorecs().size());
  if (change.removed || static_cast<std::size_t>(rows) != before) {
    refresh_records();
  } else {
    model_->redraw_row(change.redraw_row);
  }
  // The record the dialog ended on is the current row, scrolled into view: a new record is
  // seen where it went. A removed row leaves the current one on the record that took its
  // place; an addition given up leaves it where it was.
  bool was_row = row >= 0 && static_cast<std::size_t>(row) < before;
  int current = change.redraw_row >= 0 ? change.redraw_row : std::min(was_row ? row : was_current, rows - 1);
  if (current >= 0) {
    QModelIndex index = model_->index(current, 0);
    records_->setCurrentIndex(index);
    records_->scrollTo(index);
  }
  emit document_changed();
}

void ConfigForm::setup_channel() {
  CDrvSpecificChannel* channel = doc_.current_channel();
  if (!channel) return;
  ChannelDialog dialog(*channel, channel_number(), port_, this);
  if (dialog.exec() == QDialog::Accepted && dialog.changed()) {
    doc_.set_modified(true);
    emit document_changed();
  }
}

bool ConfigForm::eventFilter(QObject* watched, QEvent* event) {
  if (watched == records_->viewport() && event->type() == QEvent::MouseButtonDblClick) {
    // A row is its whole width, also the empty part right of the last column; only the
    // space below the last row adds a record.
    int y = static_cast<QMouseEvent*>(event)->position().toPoint().y();
    QModelIndex index = records_->indexAt(QPoint(0, y));
    edit_row(index.isValid() ? index.row() : -1);
    return true;
  }
  return QWidget::eventFilter(watched, event);
}

}  // namespace hbt::editor::ui
