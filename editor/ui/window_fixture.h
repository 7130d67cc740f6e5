// The main window for the Qt tests: scripted dialogs and message boxes, a test driver, and
// plants shown the way the program shows a saved configuration.
#pragma once

#include <QTreeView>
#include <memory>
#include <string>

#include "editor/fake_driver_link.h"
#include "editor/fake_host_settings.h"
#include "editor/scripted_app_port.h"
#include "editor/test_configs.h"
#include "editor/ui/main_window.h"

namespace hbt::editor::ui {

struct WindowFixture {
  ScriptedAppPort port;
  FakeDriverLink driver;
  FakeHostSettings settings;
  std::unique_ptr<MainWindow> window;

  WindowFixture() {
    window = std::make_unique<MainWindow>(&port, &driver, &settings);
    window->start();
  }
  CDidDoc& doc() { return window->doc(); }
  ConfigForm* form() { return window->form(); }
  QTreeView* view() { return window->form()->record_view(); }

  // The small plant, shown on channel 1, records numbered 0, 1, 2 as by a save.
  void plant() {
    testing::build_small_plant(doc());
    number_records();
  }

  // Channel 1: PLC1 (records 0..2) and EMPTY, given record 3; channel 2: PLC3 (records 4, 5).
  void two_channel_plant() {
    testing::build_small_plant(doc());
    CDevice* second = doc().channels()[0]->devices()[1].get();
    testing::add_record(second, "D:0", "4");
    doc().select_channel(2);
    CDevice* third = doc().current_device();
    (void)third->set_name("PLC3");
    testing::add_record(third, "D:10", "2");
    testing::add_record(third, "W:0", "16");
    number_records();
  }

  // Numbers every record in document order, as a save does, and shows channel 1 anew.
  void number_records() {
    int k = 0;
    for (auto& channel : doc().channels()) {
      for (auto& device : channel->devices()) {
        for (auto& record : device->iorecs()) record->set_record_number(k++);
      }
    }
    window->form()->reload_document();
    doc().set_modified(false);
  }

  std::string last_box() const { return port.boxes.boxes.empty() ? "" : port.boxes.boxes.back().text; }

  // Rows the list has laid out, walking down from the first as the view draws them; a row
  // that the document holds but the view never heard of is not counted.
  int rows_shown() {
    QAbstractItemModel* model = view()->model();
    if (model->rowCount() == 0) return 0;
    int shown = 0;
    for (QModelIndex i = model->index(0, 0); i.isValid(); i = view()->indexBelow(i)) ++shown;
    return shown;
  }
  // The text the list shows in `column` of `row`.
  QString cell(int row, int column) {
    return view()->model()->data(view()->model()->index(row, column), Qt::DisplayRole).toString();
  }
};

}  // namespace hbt::editor::ui
