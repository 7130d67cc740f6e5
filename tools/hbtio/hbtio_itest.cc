// hbtio and hbtreg as a person uses them: status, messages, start, stop and reload of a live
// poller, and the registry commands.
#include <dirent.h>

#include <atomic>
#include <chrono>

#include <gtest/gtest.h>

#include "image/niolib.h"
#include "testsupport/child_process.h"
#include "testsupport/driver_setup.h"
#include "testsupport/recording_sink.h"

namespace hbt::hbtio {
namespace {

using testsupport::ChildProcess;
using testsupport::eventually;
using testsupport::run_program;
using testsupport::TestEnvironment;

const std::string kHbtio = std::string(HBT_BIN_DIR) + "/hbtio";
const std::string kHbtreg = std::string(HBT_BIN_DIR) + "/hbtreg";

testsupport::ConfigSpec quiet_plant() {
  testsupport::ConfigSpec plan;
  plan.channels[0].ip_port = 9;
  plan.channels[0].devices[0].records[0].poll_time = image::kPollTimeDisabled;
  return plan;
}

image::NiolibOptions observer() {
  image::NiolibOptions o;
  o.start_poller = false;
  return o;
}

// Poller processes of this test's namespace: the program name is HBTSPOLL and the
// environment carries the namespace.
int pollers_of(const TestEnvironment& env) {
  int count = 0;
  DIR* proc = opendir("/proc");
  if (!proc) return -1;
  const std::string mark = "HBT_NAMESPACE=" + env.name_space();
  while (dirent* entry = readdir(proc)) {
    std::string pid = entry->d_name;
    if (pid.find_first_not_of("0123456789") != std::string::npos) continue;
    std::string command = testsupport::read_file("/proc/" + pid + "/cmdline");
    std::string program = command.substr(0, command.find('\0'));
    if (program.size() < 8 || program.compare(program.size() - 8, 8, "HBTSPOLL") != 0) continue;
    std::string environment = testsupport::read_file("/proc/" + pid + "/environ");
    std::string state = testsupport::read_file("/proc/" + pid + "/stat");
    bool zombie = state.find(") Z ") != std::string::npos;
    if (!zombie && environment.find(mark + '\0') != std::string::npos) ++count;
  }
  closedir(proc);
  return count;
}

// The poller ticks: its alive counter moves.
bool ticking(image::PointerBlock* block) {
  auto alive = [&] { return std::atomic_ref<std::uint32_t>(block->alive_counter).load(); };
  std::uint32_t first = alive();
  return eventually([&] { return alive() != first; }, 3000);
}

TEST(Hbtio, StatusAndStopWithoutADriverFailPlainly) {
  TestEnvironment env;
  auto status = run_program({kHbtio, "--json", "status"});
  EXPECT_EQ(status.exit_code, 1);
  EXPECT_EQ(status.output, "{\"running\":false}\n");
  auto stop = run_program({kHbtio, "stop"});
  EXPECT_EQ(stop.exit_code, 1);
  EXPECT_NE(stop.output.find("not running"), std::string::npos);
  EXPECT_EQ(run_program({kHbtio, "bogus"}).exit_code, 2);
  EXPECT_EQ(run_program({kHbtio, "status", "extra"}).exit_code, 2);
}

TEST(Hbtio, DrivesALivePollerThroughStopStartAndReload) {
  TestEnvironment env;
  std::string path = testsupport::install_configuration(env, quiet_plant());
  testsupport::install_driver_exe("S");
  testsupport::RecordingSink sink;
  image::Niolib watcher(observer(), sink);

  // start brings the poller up through DriverExe.
  auto start = run_program({kHbtio, "--json", "start"});
  EXPECT_EQ(start.exit_code, 0) << start.output;
  EXPECT_EQ(start.output, "{\"command\":\"start\",\"result\":1}\n");
  image::PointerBlock* block = watcher.open_pointer_block();
  ASSERT_NE(block, nullptr);
  block->client_usage_countdown = 1000000;

  auto status = run_program({kHbtio, "--json", "status"});
  EXPECT_EQ(status.exit_code, 0);
  EXPECT_NE(status.output.find("\"running\":true"), std::string::npos) << status.output;
  EXPECT_NE(status.output.find("\"state_name\":\"running\""), std::string::npos);
  EXPECT_NE(status.output.find("\"image_name\":\"HBT0\""), std::string::npos);
  EXPECT_NE(status.output.find("\"config_path\":\"" + path + "\""), std::string::npos);

  EXPECT_EQ(run_program({kHbtio, "stop"}).exit_code, 0);
  EXPECT_EQ(block->state, image::kStateStopped);
  EXPECT_EQ(run_program({kHbtio, "start"}).exit_code, 0);
  EXPECT_EQ(block->state, image::kStateRunning);
  EXPECT_EQ(block->map_generation, 1u) << "the stop reloaded the image";
  auto reload = run_program({kHbtio, "reload"});
  EXPECT_EQ(reload.exit_code, 0) << reload.output;
  EXPECT_EQ(block->map_generation, 2u);

  auto messages = run_program({kHbtio, "--json", "messages"});
  EXPECT_EQ(messages.exit_code, 0);
  EXPECT_NE(messages.output.find("{\"colour\":23,\"text\":\"HBT V 7.9.21 started.\"}"), std::string::npos)
      << messages.output;
  EXPECT_NE(messages.output.find("\"text\":\"nio_poll_reload()\""), std::string::npos);

  // --follow prints what comes later.
  ChildProcess follow({kHbtio, "messages", "--follow"}, false);
  ASSERT_TRUE(follow.wait_for_output("nio_poll_reload()", 3000));
  run_program({kHbtio, "stop"});
  EXPECT_TRUE(follow.wait_for_output("HBT V 7.9.21 stopped.", 3000)) << follow.output();

  std::atomic_ref<std::uint16_t>(block->command).store(image::kCommandExit);
  EXPECT_TRUE(eventually([&] { return block->state == image::kStateExited; }, 3000));
}

TEST(Hbtio, StartBringsUpThePollerWhileAnotherProgramHoldsTheImage) {
  TestEnvironment env;
  testsupport::install_configuration(env, quiet_plant());
  testsupport::install_driver_exe("S");
  ASSERT_EQ(run_program({kHbtio, "start"}).exit_code, 0);
  EXPECT_EQ(pollers_of(env), 1);

  // A program holds the pointer block and the image as the editor does; the poller goes.
  image::NiolibOptions editor;
  editor.editor = true;
  testsupport::RecordingSink sink;
  image::Niolib holder(editor, sink);
  image::PointerBlock* block = holder.open_pointer_block();
  ASSERT_NE(block, nullptr);
  ASSERT_NE(holder.nio_map_hdr(), nullptr);
  ASSERT_EQ(run_program({kHbtio, "shutdown"}).exit_code, 0);
  ASSERT_TRUE(eventually([&] { return pollers_of(env) == 0; }, 5000));
  ASSERT_EQ(block->state, image::kStateExited);

  // start finds the block but no poller behind it, and starts one.
  auto began = std::chrono::steady_clock::now();
  auto start = run_program({kHbtio, "start"});
  auto took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - began);
  EXPECT_EQ(start.exit_code, 0) << start.output;
  EXPECT_EQ(start.output, "start: done\n");
  EXPECT_EQ(block->state, image::kStateRunning);
  EXPECT_TRUE(ticking(block));
  EXPECT_EQ(pollers_of(env), 1);
  std::printf("hbtio start with the block held and no poller: %lld ms\n", static_cast<long long>(took.count()));

  // A poller that is there (running, or stopped and idle) is not started a second time.
  EXPECT_EQ(run_program({kHbtio, "start"}).exit_code, 0);
  EXPECT_EQ(run_program({kHbtio, "stop"}).exit_code, 0);
  EXPECT_EQ(run_program({kHbtio, "start"}).exit_code, 0);
  EXPECT_TRUE(ticking(block));
  EXPECT_EQ(pollers_of(env), 1);

  // A poller that died without a word leaves its state behind: running with a counter that
  // no longer moves, or stopped. start sees through both.
  for (std::uint16_t left : {image::kStateRunning, image::kStateStopped}) {
    ASSERT_EQ(run_program({kHbtio, "shutdown"}).exit_code, 0);
    ASSERT_TRUE(eventually([&] { return pollers_of(env) == 0; }, 5000));
    std::atomic_ref<std::uint16_t>(block->state).store(left);
    std::atomic_ref<std::uint32_t>(block->alive_counter).store(4321);
    auto again = run_program({kHbtio, "start"});
    EXPECT_EQ(again.exit_code, 0) << "state " << left << ": " << again.output;
    EXPECT_TRUE(ticking(block)) << "state " << left;
    EXPECT_EQ(pollers_of(env), 1) << "state " << left;
  }
  EXPECT_EQ(run_program({kHbtio, "shutdown"}).exit_code, 0);
}

TEST(Hbtio, MonitorStartsThePollerShowsEveryRecordAndJudgesThem) {
  TestEnvironment env;
  testsupport::install_configuration(env, quiet_plant());
  testsupport::install_driver_exe("S");
  auto json = run_program({kHbtio, "--json", "monitor", "--seconds", "1"});
  EXPECT_EQ(json.exit_code, 0) << json.output;
  EXPECT_NE(json.output.find("{\"channel\":1,\"requests_sent\":0"), std::string::npos) << json.output;
  EXPECT_NE(json.output.find("\"record\":1,\"device\":\"PLC1\",\"address\":\"D0 x1\",\"data_type\":\"Unsigned\","
                             "\"polled\":false,\"status\":4297"),
            std::string::npos)
      << json.output;
  // The only record is not polled, so it does not count against --require-good ...
  EXPECT_EQ(run_program({kHbtio, "monitor", "--seconds", "1", "--require-good"}).exit_code, 0);

  // ... but a polled record that has no PLC behind it does.
  testsupport::ConfigSpec polled = quiet_plant();
  polled.channels[0].devices[0].records[0].poll_time = 100;
  testsupport::install_configuration(env, polled);
  EXPECT_EQ(run_program({kHbtio, "reload"}).exit_code, 0);
  auto text = run_program({kHbtio, "monitor", "--seconds", "1", "--require-good"});
  EXPECT_EQ(text.exit_code, 1) << text.output;
  EXPECT_NE(text.output.find("channel 1  127.0.0.1:9 UDP"), std::string::npos) << text.output;
  EXPECT_NE(text.output.find("polled record(s) not good"), std::string::npos);
  EXPECT_EQ(run_program({kHbtio, "shutdown"}).exit_code, 0);
  EXPECT_TRUE(eventually([&] { return run_program({kHbtio, "--json", "status"}).output == "{\"running\":false}\n"; },
                         5000))
      << "the poller has gone and left nothing behind";
}

TEST(Hbtreg, SetGetListDeleteExportImport) {
  TestEnvironment env;
  const std::string key = "HKLM\\Software\\Velmora\\Brenlow\\Config";
  EXPECT_EQ(run_program({kHbtreg, "set", key, "ConfigFile", "/opt/hbt/PLANT.HBT"}).exit_code, 0);
  EXPECT_EQ(run_program({kHbtreg, "set", key, "Count", "0x20", "--dword"}).exit_code, 0);
  EXPECT_EQ(run_program({kHbtreg, "set", key, "Count", "-1", "--dword"}).exit_code, 2);
  EXPECT_EQ(run_program({kHbtreg, "get", "hklm\\software\\velmora\\brenlow\\config", "configfile"}).output,
            "/opt/hbt/PLANT.HBT\n");
  EXPECT_EQ(run_program({kHbtreg, "get", key, "Count"}).output, "32\n");
  EXPECT_EQ(run_program({kHbtreg, "list", "HKLM\\Software\\Velmora"}).output, "[Brenlow]\n");

  auto exported = run_program({kHbtreg, "export"});
  ASSERT_EQ(exported.exit_code, 0);
  ASSERT_TRUE(testsupport::write_file(env.path("saved.reg"), exported.output));
  EXPECT_EQ(run_program({kHbtreg, "delete", key, "Count"}).exit_code, 0);
  EXPECT_EQ(run_program({kHbtreg, "get", key, "Count"}).exit_code, 1);
  EXPECT_EQ(run_program({kHbtreg, "delete", "HKLM\\Software\\Velmora"}).exit_code, 0);
  EXPECT_EQ(run_program({kHbtreg, "list", key}).exit_code, 1);
  EXPECT_EQ(run_program({kHbtreg, "import", env.path("saved.reg")}).exit_code, 0);
  EXPECT_EQ(run_program({kHbtreg, "get", key, "Count"}).output, "32\n");

  ASSERT_TRUE(testsupport::write_file(env.path("bad.reg"), "REGEDIT4\r\n[HKLM\\A]\r\n\"x\"=wrong\r\n"));
  auto bad = run_program({kHbtreg, "import", env.path("bad.reg")});
  EXPECT_EQ(bad.exit_code, 1);
  EXPECT_NE(bad.output.find("line 3"), std::string::npos) << bad.output;
}

}  // namespace
}  // namespace hbt::hbtio
