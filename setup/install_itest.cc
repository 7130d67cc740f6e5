// The whole installation as a person does it: media made the way `make dist` makes them,
// hbtsetup from the media into a temporary root, then the installed programs at work: the
// installed host tool reads and writes a simulated PLC through the installed host library and
// the installed poller, which it starts through the "DriverExe" the installer recorded.
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iostream>

#include <gtest/gtest.h>

#include "platform/registry.h"
#include "setup/media_test_support.h"
#include "testsupport/child_process.h"
#include "testsupport/test_environment.h"

namespace hbt::setup {
namespace {

using testsupport::ChildProcess;
using testsupport::eventually;
using testsupport::ProgramResult;
using testsupport::read_file;
using testsupport::run_program;
using testsupport::TestEnvironment;
using testsupport::write_file;

class InstalledDriver : public ::testing::Test {
 protected:
  TestEnvironment env;
  std::string media = env.path("media");
  std::string install = env.path("FIX/install");
  std::string data = env.path("data");
  std::unique_ptr<ChildProcess> plc;
  std::string control = env.path("mcsim.ctl");

  void SetUp() override {
    setenv("XDG_DATA_DIRS", env.path("all").c_str(), 1);
    setenv("XDG_DATA_HOME", env.path("user").c_str(), 1);
  }
  void TearDown() override {
    run_program({install + "/hbtio", "shutdown"});
    if (plc) {
      run_program({install + "/mcsim", "--send", control, "quit"}, 5000);
      if (!plc->wait_exit(2000)) plc->kill_now();
    }
    unsetenv("XDG_DATA_DIRS");
    unsetenv("XDG_DATA_HOME");
  }
  ProgramResult installed(const std::string& program, const std::vector<std::string>& args) {
    std::vector<std::string> argv{install + "/" + program};
    argv.insert(argv.end(), args.begin(), args.end());
    return run_program(argv, 30000, env.dir());
  }
  // The installed simulator on a UDP port of the system's choosing.
  unsigned start_plc() {
    std::string ports = env.path("mcsim.ports");
    plc = std::make_unique<ChildProcess>(
        std::vector<std::string>{install + "/mcsim", "--control", control, "--port-file", ports, "--no-stdin",
                                 "--quiet", "--listen", "udp:0:3e-binary"},
        false, env.dir());
    unsigned port = 0;
    eventually(
        [&] {
          std::ifstream in(ports);
          std::string endpoint;
          return static_cast<bool>(in >> endpoint >> port);
        },
        5000);
    return port;
  }
  std::string plc_command(const std::string& line) {
    std::string out = installed("mcsim", {"--send", control, line}).output;
    while (!out.empty() && out.back() == '\n') out.pop_back();
    return out;
  }
};

TEST_F(InstalledDriver, InstallFromTheMediaThenPollASimulatedPlc) {
  make_media(media);

  auto started = std::chrono::steady_clock::now();
  auto setup = run_program({media + "/bin/hbtsetup", "1", "1", "1", media, install, data, "NODE1", "iFIX"});
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  std::cout << "whole install from the media: " << seconds * 1000 << " ms\n";
  RecordProperty("install_ms", static_cast<int>(seconds * 1000));
  ASSERT_EQ(setup.exit_code, 0) << setup.output;
  EXPECT_EQ(setup.output.find("Failed to copy"), std::string::npos) << setup.output;
  EXPECT_EQ(setup.output.find("Failed to commit"), std::string::npos) << setup.output;
  EXPECT_EQ(setup.output.find("INF:"), std::string::npos) << setup.output;
  EXPECT_NE(read_file(env.path("all/applications/iFIX/Brenlow Ethernet Driver Configurator.desktop")), "");

  namespace registry = platform::registry;
  const char* key = "Software\\Velmora\\Brenlow\\Config";
  EXPECT_EQ(registry::get_string(registry::Hive::LocalMachine, key, "DriverExe"), install + "/HBTSPOLL");
  ASSERT_EQ(registry::get_string(registry::Hive::LocalMachine, key, "ConfigFile"), data + "/NODE1.HBT");
  // The node's first configuration is the shipped default, which the installed tool reads.
  auto list = installed("hbtcfg", {"list", data + "/NODE1.HBT"});
  EXPECT_EQ(list.exit_code, 0) << list.output;
  EXPECT_NE(list.output.find("PLC1"), std::string::npos) << list.output;

  // Point the node's configuration at the simulated PLC, with the installed configuration tool.
  unsigned port = start_plc();
  ASSERT_NE(port, 0u);
  std::string csv =
      "!CHANNEL,DISPLAY ALARMS,,,,,,REPLY TIMEOUT,DELAY,RETRIES,,,,,,,,,,IP Address,IP Port,IP Protocol\n"
      "1,Yes,,,,,,0.5,0.5,3,,,,,,,,,,127.0.0.1," + std::to_string(port) + ",UDP\n"
      "!DEVICE NAME,CHANNEL,DESCRIPTION,CPU,PROTOCOL,,,,,PRIMARY PLC ADDRESS,Network,Module\n"
      "PLC1,1,Test PLC,Q Series,BINARY,,,,,255,0,0\n"
      "!IOREC,DEVICE NAME,DATA TYPE,POLL TIME,ACCESS TIME,EXCEPTION,DEAD BAND,START ADDRESS,LENGTH\n"
      "1,PLC1,Unsigned,0.1,300.0,Disabled,0.0,D:0,10\n";
  ASSERT_TRUE(write_file(env.path("plant.csv"), csv));
  auto import = installed("hbtcfg", {"import", env.path("plant.csv"), "-o", data + "/NODE1.HBT", "--separator", ","});
  ASSERT_EQ(import.exit_code, 0) << import.output;
  // The OPC server was registered before hbtsetup returned, without starting the driver: the
  // first client starts it on the configuration just written.
  EXPECT_NE(read_file(env.path("registry/HKCR.reg")).find("InprocServer32"), std::string::npos)
      << "the OPC server was not registered";

  // The installed host tool starts the installed poller through DriverExe and reads the PLC.
  ASSERT_EQ(plc_command("set D5 4242"), "ok 1");
  std::string last;
  EXPECT_TRUE(eventually(
      [&] {
        last = installed("hbtio", {"--json", "read", "PLC1:D:5"}).output;
        return last.find("\"value\":4242,") != std::string::npos;
      },
      10000))
      << last;
  auto write = installed("hbtio", {"write", "PLC1:D:6", "77"});
  EXPECT_EQ(write.exit_code, 0) << write.output;
  EXPECT_TRUE(eventually([&] { return plc_command("get D6") == "ok 77"; }, 8000)) << plc_command("get D6");
  auto status = installed("hbtio", {"--json", "status"});
  EXPECT_NE(status.output.find("\"config_path\":\"" + data + "/NODE1.HBT\""), std::string::npos) << status.output;
}

}  // namespace
}  // namespace hbt::setup
