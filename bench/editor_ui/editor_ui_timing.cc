// Figures of the editor's windows on a large configuration (run under
// QT_QPA_PLATFORM=offscreen): start-up until the main window is shown, switching to the
// channel with the most devices, and one status tick over the device with the most poll
// records, with every record's state changing and with none changing.
#include <QApplication>
#include <QElapsedTimer>
#include <QWindow>
#include <algorithm>
#include <cstdio>

#include "editor/fake_driver_link.h"
#include "editor/fake_host_settings.h"
#include "editor/scripted_app_port.h"
#include "editor/ui/main_window.h"

using namespace hbt::editor;

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc < 2) {
    std::fprintf(stderr, "usage: editor_ui_timing CONFIG.HBT\n");
    return 2;
  }
  ScriptedAppPort port;
  FakeDriverLink driver;
  FakeHostSettings settings;
  settings.startup = argv[1];

  QElapsedTimer clock;
  clock.start();
  ui::MainWindow window(&port, &driver, &settings);
  window.start();
  window.show();
  for (int i = 0; i < 10000 && !(window.windowHandle() && window.windowHandle()->isExposed()); ++i) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  }
  QCoreApplication::processEvents();
  double start_ms = clock.nsecsElapsed() / 1e6;
  CDidDoc& doc = window.doc();
  std::printf("configuration: %zu channels, %zu devices, %zu poll records\n", doc.channels().size(),
              doc.device_count(), doc.poll_record_count());
  std::printf("start-up until the window is shown: %.1f ms\n", start_ms);

  int busiest = 1;
  std::size_t most = 0;
  for (std::size_t i = 0; i < doc.channels().size() && i < 16; ++i) {
    if (doc.channels()[i]->devices().size() > most) {
      most = doc.channels()[i]->devices().size();
      busiest = static_cast<int>(i) + 1;
    }
  }
  clock.restart();
  window.form()->select_channel(busiest);
  QCoreApplication::processEvents();
  std::printf("switch to channel %d (%zu devices): %.1f ms\n", busiest, most, clock.nsecsElapsed() / 1e6);

  // The device with the most poll records, shown in the list.
  CDrvSpecificDevice* biggest = nullptr;
  for (int n = 1; n <= static_cast<int>(std::min<std::size_t>(doc.channels().size(), 16)); ++n) {
    for (auto& d : doc.channels()[static_cast<std::size_t>(n - 1)]->devices()) {
      if (!biggest || d->iorecs().size() > biggest->iorecs().size()) {
        biggest = static_cast<CDrvSpecificDevice*>(d.get());
        busiest = n;
      }
    }
  }
  window.form()->select_channel(busiest);
  doc.set_current_device(biggest);
  window.form()->reload_document();
  window.form()->select_channel(busiest);
  doc.set_current_device(biggest);
  window.form()->refresh_records();
  driver.channels = static_cast<int>(doc.channels().size());
  driver.records = static_cast<int>(doc.poll_record_count());
  for (int k = 0; k < driver.records; ++k) driver.statuses[k] = 0;
  driver.channel_counters[busiest - 1] = {100, 100};
  window.status_tick();
  QCoreApplication::processEvents();
  const int ticks = 20;
  double changing = 0, steady = 0;
  // Ticks in pairs: the first flips every record's state, the second finds nothing new.
  auto measure = [&] {
    changing = steady = 0;
    for (int t = 0; t < ticks; ++t) {
      for (int k = 0; k < driver.records; ++k) driver.statuses[k] = (t % 2) ? 0 : 4293;
      window.status_tick();
      QCoreApplication::processEvents();
      changing += window.last_tick_us();
      window.status_tick();
      QCoreApplication::processEvents();
      steady += window.last_tick_us();
    }
  };
  measure();
  std::printf("status tick over %zu rows of one device (%d records in the image): every state changing %.2f ms, "
              "none changing %.2f ms\n",
              biggest->iorecs().size(), driver.records, changing / ticks / 1000, steady / ticks / 1000);

  // The worst list: one device holding 10,000 poll records (D0, D1, ... one register each).
  window.form()->select_channel(1);
  CDrvSpecificDevice* huge = doc.add_default_device();
  for (int k = 0; k < 10000; ++k) {
    auto record = std::make_unique<CDrvSpecificIORec>();
    record->set_device(huge);
    if (!record->set_start_address("D:" + std::to_string(k)).ok()) return 1;
    record->set_record_number(k);
    huge->add_iorec(std::move(record));
  }
  doc.set_current_device(huge);
  window.form()->refresh_records();
  window.status_tick();
  QCoreApplication::processEvents();
  measure();
  std::printf("status tick over one device of %zu rows: every state changing %.2f ms, none changing %.2f ms\n",
              huge->iorecs().size(), changing / ticks / 1000, steady / ticks / 1000);
  doc.set_modified(false);
  doc.set_saved_since_start(false);
  return 0;
}
