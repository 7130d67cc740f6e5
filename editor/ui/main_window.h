// The main window: toolbar, the form above the message window, status bar, menus and the
// two timers that show the running driver's state.
#pragma once

#include <QListWidget>
#include <QMainWindow>
#include <QTimer>
#include <memory>

#include "editor/app_port.h"
#include "editor/document.h"
#include "editor/editor_commands.h"
#include "editor/live_status.h"
#include "editor/message_list.h"
#include "editor/niolib_driver_link.h"
#include "editor/host_settings.h"
#include "editor/ui/config_form.h"
#include "editor/ui/qt_app_port.h"

class QLabel;
class QToolBar;

namespace hbt::editor::ui {

class MainWindow final : public QMainWindow {
  Q_OBJECT
 public:
  // Without `port` and `link` the window uses Qt dialogs and the driver through NIOLIB.
  explicit MainWindow(AppPort* port = nullptr, DriverLink* link = nullptr, HostSettings* settings = nullptr);
  ~MainWindow() override;

  // At start: the start-up file, then the first attach to the running driver.
  void start();

  CDidDoc& doc() { return doc_; }
  EditorCommands& commands() { return *commands_; }
  ConfigForm* form() const { return form_; }
  QListWidget* message_view() const { return message_view_; }
  QLabel* message_pane() const { return message_pane_; }
  QLabel* clock_pane() const { return clock_pane_; }
  QAction* action(const QString& name) const;

  // One run of each timer (tests and the screenshots call them directly).
  void status_tick();
  void message_tick();
  // Duration of the last status tick in microseconds.
  qint64 last_tick_us() const { return last_tick_us_; }

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void build_menus();
  void document_replaced();
  // After a command that may have emptied or replaced the document (also when it failed):
  // the form shows the tree the document holds now.
  void show_if_replaced();
  // The state icons of the rows now shown, read at once rather than at the next tick.
  void show_states_now();
  void update_title();
  void update_recent();
  void update_option_checks();

  CDidDoc doc_;
  std::unique_ptr<QtAppPort> own_port_;
  std::unique_ptr<RegistryHostSettings> own_settings_;
  std::unique_ptr<EditorNiolibSink> sink_;
  std::unique_ptr<NiolibDriverLink> own_link_;
  AppPort* port_;
  DriverLink* link_;
  HostSettings* settings_;
  std::unique_ptr<EditorCommands> commands_;
  std::unique_ptr<LiveStatus> live_;
  MessageList messages_;
  ConfigForm* form_ = nullptr;
  QListWidget* message_view_ = nullptr;
  QLabel* message_pane_ = nullptr;
  QLabel* spare_pane_ = nullptr;
  QLabel* clock_pane_ = nullptr;
  QToolBar* toolbar_ = nullptr;
  QTimer status_timer_;
  QTimer message_timer_;
  std::vector<QAction*> recent_actions_;
  QIcon normal_icon_;
  QIcon alarm_icon_;
  qint64 last_tick_us_ = 0;
  std::uint64_t shown_contents_ = 0;  // the document's contents generation the form shows
};

}  // namespace hbt::editor::ui
