// The configuration form (upper pane): channel selectors, the device list with its fields,
// and the poll-record list of the selected device with its live state icons.
#pragma once

#include <QAbstractTableModel>
#include <QIcon>
#include <QWidget>
#include <memory>
#include <vector>

#include "editor/app_port.h"
#include "editor/document.h"
#include "editor/editor_commands.h"
#include "editor/live_status.h"
#include "editor/ui/dialogs.h"

class QButtonGroup;
class QComboBox;
class QListWidget;
class QPushButton;
class QToolButton;
class QTreeView;

namespace hbt::editor::ui {

// The report list's rows, formatted on demand from the device's poll records.
class PollRecordModel final : public QAbstractTableModel {
  Q_OBJECT
 public:
  // Rows come from the document's current device, looked up at every call: the document
  // can drop its tree while a message box runs the event loop, before the list is reset.
  // The number of rows is the one the view was last told of (at reset), so that a record
  // appended while a dialog is open never shows up as a row the view does not have.
  PollRecordModel(const CDidDoc& doc, const LiveStatus& live, QObject* parent = nullptr);
  // Tells the view that rows came or went: it lays the list out anew.
  void reset();
  void redraw_row(int row);
  void redraw_rows(int first, int last);  // state icons of rows first..last
  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

 private:
  const CDevice* device() const { return doc_.current_device(); }
  int records() const { return device() ? static_cast<int>(device()->iorecs().size()) : 0; }
  const CDidDoc& doc_;
  const LiveStatus& live_;
  std::vector<QIcon> icons_;
  int rows_ = 0;
};

// Column texts of poll record `position` (0-based) of a list row.
QStringList poll_record_row(const CIORec& record, int position);

class ConfigForm final : public QWidget {
  Q_OBJECT
 public:
  ConfigForm(EditorCommands& commands, const LiveStatus& live, QWidget* parent = nullptr);

  // Shows the document anew (after New, Open, Reload).
  void reload_document();
  void select_channel(int number);  // 1-based
  void redraw_rows(const std::vector<int>& rows);
  void refresh_records();

  QToolButton* channel_button(int number) const;  // 1-based
  QPushButton* setup_button() const { return setup_; }
  QListWidget* device_list() const { return devices_; }
  QTreeView* record_view() const { return records_; }
  PollRecordModel* record_model() const { return model_; }
  QLineEdit* device_field(int i) const { return device_fields_[static_cast<std::size_t>(i)]->edit(); }
  QComboBox* cpu_combo() const { return cpu_; }
  QComboBox* protocol_combo() const { return protocol_; }
  QPushButton* add_device_button() const { return add_device_; }
  QPushButton* delete_device_button() const { return delete_device_; }

  // A double-click on `row` of the list (-1 or beyond the last row: below it). The row the
  // dialog ended on becomes the current one, scrolled into view.
  void edit_row(int row);
  void setup_channel();

 signals:
  void document_changed();
  void selection_changed();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void show_devices();
  void show_device();
  int channel_number() const;
  CDrvSpecificDevice* device() const { return doc_.current_device(); }

  EditorCommands& commands_;
  CDidDoc& doc_;
  AppPort& port_;
  std::vector<QToolButton*> channels_;
  QButtonGroup* channel_group_;
  QPushButton* setup_;
  QListWidget* devices_;
  QPushButton* add_device_;
  QPushButton* delete_device_;
  std::vector<std::unique_ptr<BoundField>> device_fields_;
  QComboBox* cpu_;
  QComboBox* protocol_;
  QTreeView* records_;
  PollRecordModel* model_;
};

}  // namespace hbt::editor::ui
