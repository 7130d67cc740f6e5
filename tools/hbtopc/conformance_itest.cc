// hbtopc against the OPC server registered in a private registry, the real poller and mcsim:
// browsing through the DA 3.0 interface, writes whose value the driver had to change, and
// arrays in the DA 1.0 data streams.

#include <gtest/gtest.h>

#include "server_registration.h"
#include "testsupport/child_process.h"
#include "testsupport/driver_setup.h"
#include "testsupport/mcsim_peer.h"

namespace hbt::hbtopc {
namespace {

using testsupport::eventually;
using testsupport::run_program;

const std::string kHbtopc = std::string(HBT_BIN_DIR) + "/hbtopc";

class HbtopcDa3 : public ::testing::Test {
 protected:
  testsupport::TestEnvironment env;
  std::unique_ptr<testsupport::McsimPeer> plc;

  void SetUp() override {
    plc = std::make_unique<testsupport::McsimPeer>(env.dir(), std::vector<std::string>{"udp:0:3e-binary"});
    ASSERT_TRUE(plc->ready()) << plc->output();
    testsupport::install_configuration(env, testsupport::words_and_bits_configuration(plc->port(0)));
    testsupport::install_driver_exe("S");
    ASSERT_EQ(register_server(HBT_LIB_DIR "/HBTOPC.so"), "");
  }
  void TearDown() override { run_program({std::string(HBT_BIN_DIR) + "/hbtio", "shutdown"}); }
  testsupport::ProgramResult hbtopc(std::vector<std::string> args) {
    args.insert(args.begin(), kHbtopc);
    return run_program(args, 30000, env.dir());
  }
};

TEST_F(HbtopcDa3, BrowsesThroughIOPCBrowseFollowingContinuationPoints) {
  auto root = hbtopc({"--json", "browse", "--da3"});
  EXPECT_EQ(root.exit_code, 0) << root.output;
  EXPECT_EQ(root.output,
            "{\"kind\":\"branch\",\"name\":\"PLC1\",\"item_id\":\"PLC1\",\"has_children\":true,\"is_item\":false}\n");
  const std::string items =
      "{\"kind\":\"item\",\"name\":\"D:100 - D:109\",\"item_id\":\"PLC1:D:100\",\"has_children\":false,"
      "\"is_item\":true}\n"
      "{\"kind\":\"item\",\"name\":\"M:0 - M:15\",\"item_id\":\"PLC1:M:0\",\"has_children\":false,\"is_item\":true}\n";
  for (const char* max : {"1", "2", "5"}) {
    auto plc1 = hbtopc({"--json", "browse", "--da3", "PLC1", "--max", max});
    EXPECT_EQ(plc1.exit_code, 0) << plc1.output;
    EXPECT_EQ(plc1.output, items) << "one element per call with --max " << max;
  }
  EXPECT_EQ(hbtopc({"--json", "browse", "--da3", "PLC1", "--branches"}).output, "");
  auto relays = hbtopc({"browse", "--da3", "PLC1", "--filter", "M*", "--props"});
  EXPECT_EQ(relays.exit_code, 0) << relays.output;
  EXPECT_EQ(relays.output.rfind("item  M:0 - M:15  ->  PLC1:M:0\n", 0), 0u) << relays.output;
  EXPECT_NE(relays.output.find(" 5003  IO Address"), std::string::npos) << relays.output;
  EXPECT_EQ(relays.output.find("D:100"), std::string::npos);

  ASSERT_TRUE(plc->ok("set D100 4321"));
  std::string last;
  EXPECT_TRUE(eventually(
      [&] {
        last = hbtopc({"--json", "browse", "--da3", "PLC1", "--vendor", "*:D:*", "--values"}).output;
        return last.find("{\"id\":2,\"description\":\"Item Value\",\"type\":\"VT_VARIANT\",\"value\":4321,") !=
               std::string::npos;
      },
      20000))
      << last;
  EXPECT_NE(last.find("{\"id\":5003,\"description\":\"IO Address\",\"type\":\"VT_BSTR\",\"value\":\"PLC1:D:100\","),
            std::string::npos)
      << last;

  auto missing = hbtopc({"browse", "--da3", "PLC9"});
  EXPECT_EQ(missing.exit_code, 1);
  EXPECT_NE(missing.output.find("Browse failed: The item is no longer available in the server address space."),
            std::string::npos)
      << missing.output;
  auto bad_filter = hbtopc({"browse", "--da3", "--filter", "PLC[1"});
  EXPECT_EQ(bad_filter.exit_code, 1);
  EXPECT_NE(bad_filter.output.find("The Filter string was not valid."), std::string::npos) << bad_filter.output;
  EXPECT_EQ(hbtopc({"browse", "--da3", "--flat"}).exit_code, 2);
  EXPECT_EQ(hbtopc({"browse", "PLC1", "--max", "2"}).exit_code, 2) << "--max is of --da3";
  EXPECT_EQ(hbtopc({"browse", "--da3", "--max", "0"}).exit_code, 2);
  EXPECT_EQ(hbtopc({"browse", "--da3", "--items", "--branches"}).exit_code, 2);
}

TEST_F(HbtopcDa3, WritesTheDriverHadToChangeSaySo) {
  ASSERT_TRUE(plc->ok("set D101 55"));
  auto clamped = hbtopc({"write", "PLC1:D:101", "--", "-5"});
  EXPECT_EQ(clamped.exit_code, 0) << clamped.output;
  EXPECT_EQ(clamped.output, "PLC1:D:101 <- -5  The value passed to WRITE was accepted, but was clamped.\n");
  std::string reply;
  EXPECT_TRUE(eventually([&] { return (reply = plc->control("get D101")) == "ok 0"; }, 10000)) << reply;

  auto cut = hbtopc({"--json", "write", "PLC1:D:102$4", "ABCDEFGH"});
  EXPECT_EQ(cut.exit_code, 0) << cut.output;
  EXPECT_NE(cut.output.find("\"result\":\"0x0004000E\""), std::string::npos) << cut.output;
  EXPECT_TRUE(eventually([&] { return (reply = plc->control("get D102 2")) == "ok 16961 17475"; }, 10000))
      << reply << " (\"ABCD\" in two registers)";

  // One value to an array item goes to its first element, as the server's names for the item
  // have carried VT_ARRAY; a list fills the array.
  auto first = hbtopc({"write", "PLC1:D:104[3]", "7"});
  EXPECT_EQ(first.exit_code, 0) << first.output;
  auto whole = hbtopc({"write", "PLC1:D:105[3]", "1,2,3"});
  EXPECT_EQ(whole.exit_code, 0) << whole.output;
  EXPECT_TRUE(eventually([&] { return (reply = plc->control("get D104 4")) == "ok 7 1 2 3"; }, 10000)) << reply;
}

// An array item's values reach a DA 1.0 subscriber whole: the stream carries them after the
// item's VARIANT, and the block's status says whether every item is good.
TEST_F(HbtopcDa3, Da1StreamsCarryArrays) {
  ASSERT_TRUE(plc->ok("set D103 3"));
  ASSERT_TRUE(plc->ok("set D104 4"));
  ASSERT_TRUE(plc->ok("set D105 5"));
  std::string last;
  EXPECT_TRUE(eventually(
      [&] {
        last = hbtopc({"--json", "subscribe", "PLC1:D:103[3]", "PLC1:D:106", "--rate", "100", "--da1", "--seconds",
                       "2"})
                   .output;
        return last.find("\"item\":\"PLC1:D:103[3]\",\"value\":[3,4,5],\"type\":\"VT_ARRAY|VT_R4\",\"quality\":192") !=
               std::string::npos;
      },
      30000))
      << last;
  EXPECT_EQ(last.find("is not carried by the stream"), std::string::npos) << last;
  EXPECT_NE(last.find("\"item\":\"PLC1:D:106\",\"value\":0,\"type\":\"VT_R4\""), std::string::npos) << last;
}

}  // namespace
}  // namespace hbt::hbtopc
