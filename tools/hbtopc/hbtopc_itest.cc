// hbtopc as a person uses it, against the OPC server registered in a private registry, the
// real poller and mcsim: servers by category, status, validation and groups, in text and JSON.
#include <dlfcn.h>

#include <gtest/gtest.h>

#include <fstream>

#include "testsupport/child_process.h"
#include "testsupport/driver_setup.h"

namespace hbt::hbtopc {
namespace {

using testsupport::ChildProcess;
using testsupport::eventually;
using testsupport::run_program;

const std::string kHbtopc = std::string(HBT_BIN_DIR) + "/hbtopc";
const std::string kMcsim = std::string(HBT_BIN_DIR) + "/mcsim";

class Hbtopc : public ::testing::Test {
 protected:
  testsupport::TestEnvironment env;
  std::unique_ptr<ChildProcess> plc;

  void SetUp() override {
    const std::string ports = env.path("mcsim.ports");
    plc = std::make_unique<ChildProcess>(
        std::vector<std::string>{kMcsim, "--control", env.path("mcsim.ctl"), "--port-file", ports, "--no-stdin",
                                 "--quiet", "--listen", "udp:0:3e-binary"},
        false, env.dir());
    unsigned port = 0;
    ASSERT_TRUE(eventually(
        [&] {
          std::ifstream in(ports);
          std::string endpoint;
          return static_cast<bool>(in >> endpoint >> port);
        },
        5000));
    testsupport::ConfigSpec plan;
    plan.channels[0].ip_port = port;
    plan.channels[0].devices[0].name = "PLC1";
    testsupport::RecordSpec words;
    words.type = image::RegisterType::D;
    words.start = 100;
    words.length = 10;
    words.data_type = image::DataType::Unsigned;
    words.poll_time = 10;
    testsupport::RecordSpec bits = words;
    bits.type = image::RegisterType::M;
    bits.start = 0;
    bits.length = 16;
    bits.data_type = image::DataType::Digital;
    plan.channels[0].devices[0].records = {words, bits};
    testsupport::install_configuration(env, plan);
    testsupport::install_driver_exe("S");
    // Registered as regsvr does it: load the library and call its export.
    void* lib = dlopen(HBT_LIB_DIR "/HBTOPC.so", RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(lib, nullptr) << dlerror();
    auto reg = reinterpret_cast<std::int32_t (*)()>(dlsym(lib, "DllRegisterServer"));
    ASSERT_EQ(reg(), 0);
    dlclose(lib);
  }
  void TearDown() override {
    run_program({std::string(HBT_BIN_DIR) + "/hbtio", "shutdown"});
    plc->kill_now();
  }
  testsupport::ProgramResult hbtopc(std::vector<std::string> args) {
    args.insert(args.begin(), kHbtopc);
    return run_program(args, 30000, env.dir());
  }
};

TEST_F(Hbtopc, FindsTheServerByCategoryAndReportsItsStatus) {
  auto servers = hbtopc({"--json", "servers"});
  EXPECT_EQ(servers.exit_code, 0) << servers.output;
  EXPECT_NE(servers.output.find("{\"clsid\":\"{6F1D2C3A-9B47-4E85-A0C2-7D5E8B91F346}\",\"progid\":"
                                "\"Velmora.Brenlow.7.9.21\",\"versions\":[\"1.0\",\"2.0\",\"3.0\"]}"),
            std::string::npos)
      << servers.output;

  std::string last;
  EXPECT_TRUE(eventually(
      [&] {
        auto status = hbtopc({"--json", "status"});
        last = status.output;
        return status.exit_code == 0 && last.find("\"state\":\"running\"") != std::string::npos;
      },
      15000))
      << last;
  EXPECT_NE(last.find("\"vendor\":\"Brenlow Ethernet Driver Version 7.9.21\""), std::string::npos) << last;
  EXPECT_NE(last.find("\"version\":\"7.21.9\""), std::string::npos);

  auto text = hbtopc({"status"});
  EXPECT_EQ(text.exit_code, 0);
  EXPECT_NE(text.output.find("vendor     Brenlow Ethernet Driver Version 7.9.21"), std::string::npos) << text.output;
}

TEST_F(Hbtopc, ValidatesItemsWithTheServersOwnTexts) {
  auto v = hbtopc({"--json", "validate", "PLC1:D:100", "PLC1:M:3", "PLC1:D:100$20", "PLC9:D:1", "PLC1:D:100[4]"});
  EXPECT_EQ(v.exit_code, 1) << v.output;  // one of them is refused
  EXPECT_NE(v.output.find("{\"item\":\"PLC1:D:100\",\"valid\":true,\"type\":\"VT_R4\",\"access_rights\":3,"
                          "\"result\":\"0x00000000\",\"text\":\"Operation Successful\"}"),
            std::string::npos)
      << v.output;
  EXPECT_NE(v.output.find("\"item\":\"PLC1:M:3\",\"valid\":true,\"type\":\"VT_BOOL\""), std::string::npos);
  EXPECT_NE(v.output.find("\"item\":\"PLC1:D:100$20\",\"valid\":true,\"type\":\"VT_BSTR\""), std::string::npos);
  EXPECT_NE(v.output.find("{\"item\":\"PLC9:D:1\",\"valid\":false,\"result\":\"0xC0040008\","
                          "\"text\":\"Item ID was invalid and not found.\"}"),
            std::string::npos);
  EXPECT_NE(v.output.find("\"item\":\"PLC1:D:100[4]\",\"valid\":true,\"type\":\"VT_R4\""), std::string::npos);

  auto good = hbtopc({"validate", "PLC1:D:101"});
  EXPECT_EQ(good.exit_code, 0);
  EXPECT_NE(good.output.find("PLC1:D:101"), std::string::npos);
}

TEST_F(Hbtopc, AddsListsAndRemovesGroupsInOneRun) {
  auto g = hbtopc({"--json", "groups", "Line", "", "Line"});
  EXPECT_EQ(g.exit_code, 1) << g.output;  // the second "Line" is refused
  EXPECT_NE(g.output.find("{\"action\":\"add\",\"name\":\"Line\""), std::string::npos) << g.output;
  EXPECT_NE(g.output.find("{\"action\":\"add\",\"name\":\"Group2\""), std::string::npos);
  EXPECT_NE(g.output.find("\"result\":\"0xC004000C\",\"text\":\"A group is already defined with that name.\""),
            std::string::npos);
  EXPECT_NE(g.output.find("{\"action\":\"list\",\"name\":\"Group2\""), std::string::npos);
  EXPECT_NE(g.output.find("{\"action\":\"remove\",\"name\":\"Line\""), std::string::npos);

  EXPECT_EQ(hbtopc({"groups", "A", "B"}).exit_code, 0);
}

TEST_F(Hbtopc, UsageAndUnknownServers) {
  auto help = hbtopc({"--help"});
  EXPECT_EQ(help.exit_code, 0);
  EXPECT_NE(help.output.find("usage: hbtopc"), std::string::npos);
  EXPECT_EQ(hbtopc({}).exit_code, 2);
  EXPECT_EQ(hbtopc({"bogus"}).exit_code, 2);
  EXPECT_EQ(hbtopc({"validate"}).exit_code, 2);
  EXPECT_EQ(hbtopc({"status", "extra"}).exit_code, 2);
  EXPECT_EQ(hbtopc({"--server"}).exit_code, 2);
  auto missing = hbtopc({"--server", "No.Such.Server", "status"});
  EXPECT_EQ(missing.exit_code, 1);
  EXPECT_NE(missing.output.find("no server is registered as No.Such.Server"), std::string::npos) << missing.output;
}

}  // namespace
}  // namespace hbt::hbtopc
