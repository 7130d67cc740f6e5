// hbtopc as a person uses it, against the OPC server registered in a private registry, the
// real poller and mcsim: servers by category, status, validation and groups, in text and JSON.

#include <gtest/gtest.h>

#include <fstream>

#include "testsupport/child_process.h"
#include "testsupport/driver_setup.h"
#include "server_registration.h"

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
    testsupport::ConfigSpec plan = testsupport::words_and_bits_configuration(port);
    testsupport::install_configuration(env, plan);
    testsupport::install_driver_exe("S");
    ASSERT_EQ(register_server(HBT_LIB_DIR "/HBTOPC.so"), "");
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
  EXPECT_NE(v.output.find("\"item\":\"PLC1:D:100[4]\",\"valid\":true,\"type\":\"VT_ARRAY|VT_R4\""), std::string::npos)
      << v.output;

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

TEST_F(Hbtopc, BrowsesThePlcsAndTheirRangesWithItemIds) {
  auto root = hbtopc({"--json", "browse"});
  EXPECT_EQ(root.exit_code, 0) << root.output;
  EXPECT_EQ(root.output, "{\"kind\":\"branch\",\"name\":\"PLC1\"}\n");
  auto plc1 = hbtopc({"--json", "browse", "PLC1"});
  EXPECT_EQ(plc1.exit_code, 0) << plc1.output;
  EXPECT_EQ(plc1.output,
            "{\"kind\":\"leaf\",\"name\":\"D:100 - D:109\",\"item_id\":\"PLC1:D:100\"}\n"
            "{\"kind\":\"leaf\",\"name\":\"M:0 - M:15\",\"item_id\":\"PLC1:M:0\"}\n");
  auto filtered = hbtopc({"browse", "PLC1", "--filter", "M*"});
  EXPECT_EQ(filtered.output, "leaf  M:0 - M:15  ->  PLC1:M:0\n");
  auto flat = hbtopc({"--json", "browse", "--flat"});
  EXPECT_NE(flat.output.find("{\"kind\":\"leaf\",\"name\":\"PLC1:M:0 - M:15\",\"item_id\":\"PLC1:M:0\"}"),
            std::string::npos)
      << flat.output;
  auto missing = hbtopc({"browse", "PLC9"});
  EXPECT_EQ(missing.exit_code, 1);
  EXPECT_NE(missing.output.find("cannot browse to PLC9"), std::string::npos);
  EXPECT_EQ(hbtopc({"browse", "A", "B"}).exit_code, 2);
  EXPECT_EQ(hbtopc({"browse", "--flat", "--filter", "x"}).exit_code, 2);
}

TEST_F(Hbtopc, ListsTheItemsPropertiesAndAsksForSomeByNumber) {
  auto all = hbtopc({"--json", "props", "PLC1:M:3"});
  EXPECT_EQ(all.exit_code, 0) << all.output;
  std::vector<std::string> ids;
  for (std::size_t at = all.output.find("\"id\":"); at != std::string::npos; at = all.output.find("\"id\":", at + 1))
    ids.push_back(all.output.substr(at + 5, all.output.find(',', at) - at - 5));
  EXPECT_EQ(ids, (std::vector<std::string>{"1", "2", "3", "4", "5", "6", "106", "107", "5003", "5005"})) << all.output;
  EXPECT_NE(all.output.find("\"id\":5003,\"description\":\"IO Address\",\"value\":\"PLC1:M:3\""),
            std::string::npos)
      << all.output;
  auto some = hbtopc({"--json", "props", "PLC1:M:3", "102", "7"});
  EXPECT_EQ(some.exit_code, 1) << some.output;  // 7 is no property of this server
  EXPECT_NE(some.output.find("\"id\":102,\"description\":\"\",\"value\":1,\"type\":\"VT_R8\""), std::string::npos)
      << some.output;
  EXPECT_NE(some.output.find("\"id\":7,"), std::string::npos);
  EXPECT_NE(some.output.find("\"result\":\"0xC0040203\""), std::string::npos) << some.output;
  EXPECT_EQ(hbtopc({"props", "PLC1:M:3", "x"}).exit_code, 2);
  EXPECT_EQ(hbtopc({"props", "PLC9:D:1"}).exit_code, 1);
}

TEST_F(Hbtopc, ReadsWritesAndKeepsASubscriptionAlive) {
  auto write = hbtopc({"write", "PLC1:D:101", "321"});
  EXPECT_EQ(write.exit_code, 0) << write.output;
  EXPECT_EQ(write.output, "PLC1:D:101 <- 321  Operation Successful\n");
  std::string last;
  EXPECT_TRUE(eventually(
      [&] {
        last = hbtopc({"--json", "read", "PLC1:D:101", "PLC1:M:3"}).output;
        return last.find("\"item\":\"PLC1:D:101\",\"value\":321,\"type\":\"VT_R4\",\"quality\":192,"
                         "\"quality_name\":\"good\",\"timestamp\":\"") != std::string::npos;
      },
      10000))
      << last;
  EXPECT_NE(last.find("\"item\":\"PLC1:M:3\",\"value\":false,\"type\":\"VT_BOOL\""), std::string::npos) << last;
  auto refused = hbtopc({"--json", "read", "PLC1:D:101", "PLC9:D:1"});
  EXPECT_EQ(refused.exit_code, 1);
  EXPECT_NE(refused.output.find("{\"item\":\"PLC9:D:1\",\"value\":null,\"quality\":0,\"quality_name\":\"bad\","
                                "\"timestamp\":null,\"result\":\"0xC0040008\""),
            std::string::npos)
      << refused.output;
  // Nothing changes: the server calls with no items every keep-alive period.
  auto sub = hbtopc({"--json", "subscribe", "PLC1:D:102", "--rate", "100", "--keepalive", "1000", "--seconds", "3"});
  EXPECT_EQ(sub.exit_code, 0) << sub.output;
  int keepalives = 0;
  for (std::size_t at = sub.output.find("\"event\":\"keepalive\""); at != std::string::npos;
       at = sub.output.find("\"event\":\"keepalive\"", at + 1))
    ++keepalives;
  EXPECT_GE(keepalives, 2) << sub.output;
  EXPECT_NE(sub.output.find("\"event\":\"data\",\"transaction\":0,"), std::string::npos) << sub.output;
}

TEST_F(Hbtopc, CommandUsage) {
  for (const char* command : {"browse", "props", "read", "write", "subscribe"}) {
    auto help = hbtopc({command, "--help"});
    EXPECT_EQ(help.exit_code, 0);
    EXPECT_EQ(help.output.rfind(std::string("usage: hbtopc ") + command, 0), 0u) << help.output;
  }
  EXPECT_EQ(hbtopc({"read"}).exit_code, 2);
  EXPECT_EQ(hbtopc({"read", "X", "--device", "--cache"}).exit_code, 2);
  EXPECT_EQ(hbtopc({"write", "X"}).exit_code, 2);
  EXPECT_EQ(hbtopc({"subscribe", "X"}).exit_code, 2);  // no --rate
  EXPECT_EQ(hbtopc({"subscribe", "X", "--rate", "fast"}).exit_code, 2);
  EXPECT_EQ(hbtopc({"subscribe", "X", "--rate", "100", "--deadband", "101"}).exit_code, 2);
  EXPECT_EQ(hbtopc({"subscribe", "X", "--rate", "100", "--seconds", "0"}).exit_code, 2);
  auto negative = hbtopc({"write", "PLC1:D:100", "--", "--5"});
  EXPECT_EQ(negative.exit_code, 1);  // "--5" reaches the value parser, which refuses it
  EXPECT_NE(negative.output.find("'--5' is not a number"), std::string::npos) << negative.output;
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
