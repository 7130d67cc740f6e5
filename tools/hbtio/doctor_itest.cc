// hbtio doctor against a running poller and a simulator put in every wrong setting the
// doctor knows: each PLC gets its diagnosis by name, the healthy one gets none.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <sstream>

#include "testsupport/child_process.h"
#include "testsupport/mcsim_peer.h"

namespace hbt::hbtio {
namespace {

using image::CpuType;
using image::RegisterType;
using testsupport::ChannelSpec;
using testsupport::ConfigSpec;
using testsupport::McsimPeer;
using testsupport::PollerProcess;
using testsupport::RecordSpec;
using testsupport::run_program;

const std::string kHbtio = std::string(HBT_BIN_DIR) + "/hbtio";

struct Plc {
  const char* name;
  const char* listen;         // the simulator's endpoint
  CpuType cpu;                // what the configuration says
  image::Coding coding;
  std::vector<std::string> setup;  // control lines for the simulator ("EP" is the endpoint)
  const char* diagnosis;      // what the doctor must name
};

// The diagnoses each PLC got, from the doctor's JSON lines.
std::map<std::string, std::set<std::string>> diagnoses(const std::string& output) {
  std::map<std::string, std::set<std::string>> out;
  std::istringstream lines(output);
  auto value = [](const std::string& line, const std::string& key) {
    const std::string tag = "\"" + key + "\":\"";
    const std::size_t at = line.find(tag);
    if (at == std::string::npos) return std::string();
    const std::size_t from = at + tag.size();
    return line.substr(from, line.find('"', from) - from);
  };
  for (std::string line; std::getline(lines, line);)
    if (line.starts_with("{")) out[value(line, "device")].insert(value(line, "diagnosis"));
  return out;
}

TEST(Doctor, NamesEveryWrongSettingOfASimulatedPlant) {
  testsupport::TestEnvironment env;
  const std::vector<Plc> plcs = {
      {"GOOD", "udp:0:3e-binary:plc=good", CpuType::QSeries, image::Coding::Binary, {}, "ok"},
      {"REFUSED", "tcp:0:3e-binary:plc=refused", CpuType::QSeries, image::Coding::Binary, {"fault EP refuse on"},
       "no_listener"},
      {"SILENT", "udp:0:1e-binary:plc=silent", CpuType::AnA, image::Coding::Binary, {"fault EP silent on"},
       "no_answer"},
      {"FRAME", "tcp:0:1e-binary:plc=frame", CpuType::QSeries, image::Coding::Binary, {}, "frame_type"},
      {"CODING", "udp:0:1e-ascii:plc=coding", CpuType::AnA, image::Coding::Binary, {}, "coding"},
      {"PCNUM", "udp:0:3e-binary:plc=pcnum", CpuType::QSeries, image::Coding::Binary, {}, "wrong_pc_number"},
      {"NETNUM", "udp:0:3e-binary:plc=netnum", CpuType::QSeries, image::Coding::Binary, {"network 0 plc=netnum"},
       "wrong_network"},
      {"RANGE", "tcp:0:1e-ascii:plc=range", CpuType::AnA, image::Coding::Ascii, {"model AnA plc=range"},
       "address_range"},
      {"SLOW", "udp:0:3e-binary:plc=slow", CpuType::QSeries, image::Coding::Binary,
       {"fault EP delay 120ms", "fault EP slow 200ms p=0.3"}, "slow_replies"},
      {"BACKUP", "udp:0:3e-binary:plc=backup", CpuType::QSeries, image::Coding::Binary, {}, "backup_plc"},
  };
  std::vector<std::string> listens;
  for (const Plc& p : plcs) listens.push_back(p.listen);
  McsimPeer sim(env.dir(), listens);
  ASSERT_TRUE(sim.ready()) << sim.output();
  ConfigSpec plan;
  plan.channels.clear();
  for (std::size_t i = 0; i < plcs.size(); ++i) {
    const Plc& p = plcs[i];
    const std::string ep = std::string(p.listen).substr(0, 4) + std::to_string(sim.port(i));
    for (std::string line : p.setup) {
      if (const std::size_t at = line.find("EP"); at != std::string::npos) line.replace(at, 2, ep);
      ASSERT_TRUE(sim.ok(line)) << line;
    }
    ChannelSpec ch;
    ch.ip_port = sim.port(i);
    ch.tcp = std::string(p.listen).starts_with("tcp");
    ch.retries = 1;
    ch.reply_timeout = 20;  // 200 ms
    ch.delay = 100;
    ch.devices[0].name = p.name;
    ch.devices[0].cpu = p.cpu;
    ch.devices[0].coding = p.coding;
    if (std::string(p.name) == "PCNUM") ch.devices[0].pc_number = 3;
    if (std::string(p.name) == "NETNUM") ch.devices[0].network = 2;
    RecordSpec first{RegisterType::D, 0, 10};
    first.poll_time = 10;
    ch.devices[0].records = {first};
    if (std::string(p.name) == "RANGE") {
      RecordSpec beyond{RegisterType::D, 6000, 200};  // an AnA CPU has D0..D6143
      beyond.poll_time = 10;
      ch.devices[0].records.push_back(beyond);
    }
    plan.channels.push_back(ch);
  }
  PollerProcess poller(env, plan);
  ASSERT_TRUE(poller.mapped()) << poller.output();
  // A backup PLC address, as the editor stores it (the poller itself never reads it).
  poller.image().nio_map_dev(static_cast<int>(plcs.size() - 1))->backup_plc = 9;
  // Let the poller meet the slow PLC's late replies first.
  const int slow = 8;
  ASSERT_TRUE(poller.eventually([&] { return poller.channel(slow).stats.reply_timeouts > 0; }, 20000))
      << "the poller never timed out on the slow PLC";

  const auto result = run_program({kHbtio, "--json", "doctor"}, 120000);
  EXPECT_EQ(result.exit_code, 1) << "errors were found:\n" << result.output;
  const auto found = diagnoses(result.output);
  for (const Plc& p : plcs) {
    SCOPED_TRACE(p.name);
    ASSERT_TRUE(found.count(p.name)) << result.output;
    EXPECT_TRUE(found.at(p.name).count(p.diagnosis)) << "named instead: " << [&] {
      std::string all;
      for (const auto& d : found.at(p.name)) all += d + " ";
      return all;
    }() << "\n" << result.output;
  }
  EXPECT_EQ(found.at("GOOD"), std::set<std::string>{"ok"});
  EXPECT_NE(result.output.find("\"accepted_last\":6143"), std::string::npos) << result.output;
  EXPECT_NE(result.output.find("\"answered_frame\":\"1E binary\""), std::string::npos);

  // One PLC by name, in words; a healthy one ends the doctor with success.
  const auto good = run_program({kHbtio, "doctor", "good"}, 60000);
  EXPECT_EQ(good.exit_code, 0) << good.output;
  EXPECT_NE(good.output.find("PLC GOOD on channel 1: UDP 127.0.0.1:" + std::to_string(sim.port(0))), std::string::npos)
      << good.output;
  EXPECT_NE(good.output.find("ok       The PLC answers 3E binary frames"), std::string::npos) << good.output;
  EXPECT_EQ(good.output.find("CODING"), std::string::npos) << "only the PLC asked for";
  const auto coding = run_program({kHbtio, "doctor", "CODING"}, 60000);
  EXPECT_EQ(coding.exit_code, 1);
  EXPECT_NE(coding.output.find("-> Set the PLC's Protocol Type to ASCII"), std::string::npos) << coding.output;
  const auto unknown = run_program({kHbtio, "doctor", "NOSUCH"});
  EXPECT_EQ(unknown.exit_code, 1);
  EXPECT_NE(unknown.output.find("there is no PLC named NOSUCH"), std::string::npos) << unknown.output;
  EXPECT_EQ(run_program({kHbtio, "doctor", "A", "B"}).exit_code, 2);
}

TEST(Doctor, WithoutADriverSaysSoAndFails) {
  testsupport::TestEnvironment env;
  const auto result = run_program({kHbtio, "doctor"});
  EXPECT_EQ(result.exit_code, 1);
  EXPECT_NE(result.output.find("the driver is not running"), std::string::npos) << result.output;
}

}  // namespace
}  // namespace hbt::hbtio
