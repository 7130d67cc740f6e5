// hbtdidw_pictures: opens the editor's windows on the running driver and saves a picture of
// each (main window with live status, channel dialog, poll record dialog, exit dialog) into
// a folder, for the documentation. Run it on a display (Xvfb will do).
#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QPixmap>
#include <QScreen>
#include <QTimer>
#include <cstdio>

#include "editor/poll_record_editor.h"
#include "editor/ui/dialogs.h"
#include "editor/ui/main_window.h"

namespace {

void wait_ms(int ms) {
  QEventLoop loop;
  QTimer::singleShot(ms, &loop, &QEventLoop::quit);
  loop.exec();
}

bool save(QWidget* widget, const QString& path) {
  widget->show();
  widget->raise();
  wait_ms(400);
  bool ok = widget->window()->grab().save(path);
  std::printf("%s %s\n", ok ? "wrote" : "FAILED", qPrintable(path));
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc < 2) {
    std::fprintf(stderr, "usage: hbtdidw_pictures FOLDER\n");
    return 2;
  }
  QString folder = argv[1];
  QDir().mkpath(folder);
  using namespace hbt::editor;
  ui::MainWindow window;
  window.resize(1200, 760);
  window.show();
  window.start();
  // A few of the window's own status ticks, so that the counters move and the icons are drawn.
  wait_ms(6500);
  bool ok = save(&window, folder + "/editor-main.png");

  CDidDoc& doc = window.doc();
  ui::ChannelDialog channel(*doc.current_channel(), 1, window.commands().port(), &window);
  ok &= save(&channel, folder + "/editor-channel.png");
  channel.reject();

  if (CDrvSpecificDevice* device = doc.current_device(); device && !device->iorecs().empty()) {
    PollRecordEditor editor(doc, *device, static_cast<CDrvSpecificIORec&>(*device->iorecs().front()));
    ui::PollRecordDialog record(editor, window.commands().port(), &window);
    ok &= save(&record, folder + "/editor-poll-record.png");
    record.reject();
  }
  ExitChoices choices{false, true, true};
  ui::ExitDialog exit_dialog(choices, &window);
  ok &= save(&exit_dialog, folder + "/editor-exit.png");
  exit_dialog.reject();
  doc.set_modified(false);
  doc.set_saved_since_start(false);
  return ok ? 0 : 1;
}
