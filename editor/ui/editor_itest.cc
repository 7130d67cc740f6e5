// The editor against a running poller and the MELSEC simulator: live counters and states,
// the driver's messages, and a reload of a saved configuration that the poller then runs.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QListWidget>
#include <atomic>

#include "editor/host_settings.h"
#include "editor/scripted_app_port.h"
#include "editor/ui/main_window.h"
#include "platform/clock.h"
#include "testsupport/mcsim_peer.h"

namespace hbt::editor::ui {
namespace {

using testsupport::McsimPeer;
using testsupport::PollerProcess;

QApplication& application() {
  static int argc = 1;
  static char name[] = "editor_itest";
  static char* argv[] = {name, nullptr};
  // No screen needed: the windows are drawn off screen unless a platform is chosen.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  static QApplication app(argc, argv);
  return app;
}

std::uint32_t loaded_generation(PollerProcess& poller) {
  return std::atomic_ref<std::uint32_t>(poller.image().pointer_block()->loaded_generation).load();
}

TEST(EditorWithDriver, ShowsLiveCountersAndReloadsASavedConfiguration) {
  application();
  testsupport::TestEnvironment env;
  McsimPeer plc(env.dir(), {"udp:0:3e-binary"});
  ASSERT_TRUE(plc.ready());
  testsupport::ConfigSpec plan;
  plan.channels[0].ip_port = plc.port(0);
  plan.channels[0].devices[0].records[0].length = 10;
  plan.channels[0].devices[0].records[0].poll_time = 10;
  PollerProcess poller(env, plan);
  ASSERT_TRUE(poller.mapped());
  ASSERT_TRUE(poller.eventually([&] { return poller.status(0) == image::kStatusGood; }, 5000));

  ScriptedAppPort port;
  RegistryHostSettings settings;
  MainWindow window(&port, nullptr, &settings);
  window.start();
  ASSERT_EQ(window.doc().poll_record_count(), 1u) << "the start-up file from \"ConfigFile\"";

  // Counters move between ticks; the row shows the good state.
  window.status_tick();
  QString first = window.message_pane()->text();
  ASSERT_TRUE(first.startsWith("TX=")) << first.toStdString();
  ASSERT_TRUE(poller.eventually([&] {
    window.status_tick();
    return window.message_pane()->text() != first;
  }, 5000));
  EXPECT_EQ(window.form()->record_model()->rowCount(), 1);
  for (const auto& box : port.boxes.boxes) ADD_FAILURE() << "unexpected box: " << box.text;

  // A second poll record, saved to the start-up file and reloaded into the driver.
  std::uint32_t generation = loaded_generation(poller);
  QString before_reload = window.message_pane()->text();
  auto record = std::make_unique<CDrvSpecificIORec>();
  record->set_device(window.doc().current_device());
  ASSERT_TRUE(record->set_start_address("D:200").ok());
  window.doc().current_device()->add_iorec(std::move(record));
  window.doc().set_modified(true);
  port.boxes.script({Answer::Yes});  // save before the reload
  window.action("reload")->trigger();
  ASSERT_FALSE(port.boxes.boxes.empty());
  EXPECT_EQ(port.boxes.boxes.back().text, "Reload Complete");
  EXPECT_NE(loaded_generation(poller), generation) << "the poller loaded the file anew";
  ASSERT_TRUE(poller.eventually([&] { return poller.image().nio_map_hdr() && poller.image().poll_record_count() == 2; }, 5000));
  EXPECT_FALSE(window.doc().modified());

  // The reloaded image counts from zero: its first count shows no rate, not the difference
  // to the last count of the image before.
  ASSERT_TRUE(poller.eventually([&] {
    window.status_tick();
    return window.message_pane()->text() != before_reload;
  }, 5000));
  EXPECT_TRUE(window.message_pane()->text().endsWith("Polls/Sec=0")) << window.message_pane()->text().toStdString();

  // The editor follows the new generation: both rows reach the good state.
  ASSERT_TRUE(poller.eventually([&] {
    window.status_tick();
    return window.form()->record_model()->rowCount() == 2 &&
           window.form()->record_model()->data(window.form()->record_model()->index(1, 0), Qt::DisplayRole) ==
               "2" &&
           poller.status(1) == image::kStatusGood;
  }, 8000));
  window.message_tick();
  EXPECT_GT(window.message_view()->count(), 0) << "the driver's messages reach the window";

  // The driver goes away: the editor keeps working and the counters stay as they were.
  poller.stop();
  window.status_tick();
  QString frozen = window.message_pane()->text();
  platform::sleep_ms(300);
  window.status_tick();
  EXPECT_EQ(window.message_pane()->text(), frozen);
  window.doc().set_modified(false);
  window.doc().set_saved_since_start(false);
}

}  // namespace
}  // namespace hbt::editor::ui
