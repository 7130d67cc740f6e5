// Clients in processes of their own, where the faults of a client's end and of a client's
// start only show: a C client that returns from main holding a live server, one that calls
// exit() inside its callback, one that releases everything inside its callback (each must end
// normally, and is clean under the sanitizer builds); and new clients facing a poller that
// stands still, which must see it stalled from their first read.
#include <signal.h>

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>

#include "hostlib/test_plant.h"
#include "image/niolib.h"
#include "testsupport/child_process.h"
#include "testsupport/driver_setup.h"
#include "testsupport/mcsim_peer.h"
#include "testsupport/recording_sink.h"
#include "tools/hbtopc/server_registration.h"

namespace hbt::opc {
namespace {

using testsupport::ChildProcess;
using testsupport::eventually;

const std::string kProbe = HBT_CLIENT_END_PROBE;
const std::string kHbtopc = std::string(HBT_BIN_DIR) + "/hbtopc";

// The standard plant's image, made by this process as the poller would (no poller runs: the
// items report out of service, which is all a client's end needs), and the server registered.
class ClientEnd : public ::testing::Test {
 protected:
  testsupport::TestEnvironment env;
  testsupport::RecordingSink driver_messages;
  std::unique_ptr<image::Niolib> driver;

  void SetUp() override {
    testsupport::install_configuration(env, hostlib::testing::standard_plant());
    driver = std::make_unique<image::Niolib>(image::NiolibOptions{image::NiolibVariant::kDriver}, driver_messages);
    ASSERT_TRUE(driver->init_dit());
    ASSERT_EQ(hbtopc::register_server(HBT_LIB_DIR "/HBTOPC.so"), "");
  }

  struct Run {
    std::optional<int> exit_code;
    std::string output;
  };
  Run run_probe(const std::string& mode) {
    ChildProcess probe({kProbe, mode, "PLC1:D:100", "PLC1:M:10", "PLC1:D:200$4"}, false, env.dir());
    Run r;
    r.exit_code = probe.wait_exit(60000);
    r.output = probe.output();
    return r;
  }
};

TEST_F(ClientEnd, AClientThatReturnsFromMainHoldingTheServerEndsNormally) {
  for (int round = 0; round < 3; ++round) {
    Run r = run_probe("exit");
    ASSERT_TRUE(r.exit_code.has_value()) << "the client hangs at its end: " << r.output;
    EXPECT_EQ(*r.exit_code, 0) << r.output;
    EXPECT_NE(r.output.find("leaving with the server held"), std::string::npos) << r.output;
  }
}

TEST_F(ClientEnd, AClientThatExitsInsideItsCallbackEndsNormally) {
  Run r = run_probe("exit-inside");
  ASSERT_TRUE(r.exit_code.has_value()) << "the client hangs at its end: " << r.output;
  EXPECT_EQ(*r.exit_code, 0) << r.output;
}

TEST_F(ClientEnd, AClientThatReleasesEverythingInsideItsCallbackGetsItsSinksBackAtOnce) {
  Run r = run_probe("release-inside");
  ASSERT_TRUE(r.exit_code.has_value()) << r.output;
  EXPECT_EQ(*r.exit_code, 0) << r.output;
  EXPECT_NE(r.output.find("released in "), std::string::npos) << r.output;
  std::printf("%s", r.output.c_str());
}

// A real poller and PLC; the poller is frozen (SIGSTOP) as a hung process would be, and
// clients that start meanwhile ask for the status and read.
class FrozenPoller : public ::testing::Test {
 protected:
  testsupport::TestEnvironment env;
  testsupport::McsimPeer plc{env.dir(), {"udp:0:3e-binary"}};
  std::unique_ptr<testsupport::PollerProcess> poller;
  bool stopped = false;

  void SetUp() override {
    ASSERT_TRUE(plc.ready()) << plc.output();
    ASSERT_TRUE(plc.ok("set D100 4321"));
    poller = std::make_unique<testsupport::PollerProcess>(env, testsupport::words_and_bits_configuration(plc.port(0)));
    ASSERT_TRUE(poller->mapped()) << poller->output();
    ASSERT_EQ(hbtopc::register_server(HBT_LIB_DIR "/HBTOPC.so"), "");
  }
  void TearDown() override {
    if (stopped) ::kill(poller->pid(), SIGCONT);
    poller->stop();
  }
  testsupport::ProgramResult hbtopc(std::vector<std::string> args) {
    args.insert(args.begin(), kHbtopc);
    return testsupport::run_program(args, 30000, env.dir());
  }
};

TEST_F(FrozenPoller, NewClientsSeeItStalledFromTheirFirstRead) {
  std::string last;
  ASSERT_TRUE(poller->eventually(
      [&] {
        last = hbtopc({"--json", "read", "PLC1:D:100"}).output;
        return last.find("\"value\":4321") != std::string::npos && last.find("\"quality\":192") != std::string::npos;
      },
      15000))
      << last;

  ASSERT_EQ(::kill(poller->pid(), SIGSTOP), 0);
  stopped = true;
  auto read = hbtopc({"--json", "read", "PLC1:D:100"});
  EXPECT_NE(read.output.find("\"quality\":28"), std::string::npos) << "0x1C, out of service: " << read.output;
  auto status = hbtopc({"--json", "status"});
  EXPECT_NE(status.output.find("\"state\":\"suspended\""), std::string::npos) << status.output;

  ASSERT_EQ(::kill(poller->pid(), SIGCONT), 0);
  stopped = false;
  EXPECT_TRUE(poller->eventually(
      [&] {
        last = hbtopc({"--json", "read", "PLC1:D:100"}).output;
        return last.find("\"quality\":192") != std::string::npos;
      },
      15000))
      << "good again once the poller runs: " << last;
}

}  // namespace
}  // namespace hbt::opc
