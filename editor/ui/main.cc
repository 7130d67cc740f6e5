// HBTDIDW, the configuration editor of the Brenlow Ethernet Driver.
#include <QApplication>
#include <QLocalServer>
#include <QLocalSocket>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

#include "editor/instance_key.h"
#include "editor/ui/main_window.h"

namespace {

// One editor per user and driver namespace: a second start asks the first, through this
// socket, to come to the front.
QString instance_socket_name() {
  const char* ns = std::getenv("HBT_NAMESPACE");
  return QString("HBTDIDW-%1-%2").arg(static_cast<qulonglong>(getuid())).arg(ns ? ns : "");
}

bool bring_first_to_front(const QString& name) {
  if (!hbt::editor::running_editor_mark()) return false;
  QLocalSocket socket;
  socket.connectToServer(name);
  if (!socket.waitForConnected(1000)) return false;  // a mark left by an editor that died
  socket.write("show\n");
  socket.waitForBytesWritten(1000);
  socket.disconnectFromServer();
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName("HBTDIDW");
  QString name = instance_socket_name();
  if (bring_first_to_front(name)) return 0;

  hbt::editor::ui::MainWindow window;
  QLocalServer server;
  QLocalServer::removeServer(name);
  server.listen(name);
  QObject::connect(&server, &QLocalServer::newConnection, &window, [&] {
    while (QLocalSocket* peer = server.nextPendingConnection()) {
      QObject::connect(peer, &QLocalSocket::disconnected, peer, &QObject::deleteLater);
      window.setWindowState((window.windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
      window.show();
      window.raise();
      window.activateWindow();
    }
  });

  window.show();
  // The mark goes in before anything can hold the start up (a message box about a missing
  // driver), so a second start already finds this one.
  char mark[32];
  std::snprintf(mark, sizeof mark, "%llX", static_cast<unsigned long long>(window.winId()));
  hbt::editor::write_editor_mark(mark);
  window.start();
  int result = app.exec();
  hbt::editor::delete_editor_mark();
  return result;
}
