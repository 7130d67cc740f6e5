// hbtmqtt end to end: mcsim as the PLCs, the poller, hbtmqtt over the points library, a
// private Mosquitto, and a host on the npm reference decoder. Every metric of every birth and
// data message is checked against the simulator's registers and their history.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>

#include <cstring>
#include <fstream>
#include <map>
#include <random>
#include <set>

#include "mqtt/tests/broker_harness.h"
#include "testsupport/driver_setup.h"
#include "testsupport/mcsim_peer.h"
#include "testsupport/test_environment.h"
#include "tools/soak/register_history.h"

namespace hbt::mqtt {
namespace {

using nlohmann::json;
using testing::Broker;
using testing::HostPeer;
using testing::metric_named;
using testsupport::ChildProcess;
using testsupport::McsimPeer;

// PLC1 (channel 1): D100-D109 Signed, D200-D203 two Floats, M0-M15 bits, D300-D303 a text.
// PLC2 (channel 2, its own memory): D0-D9 Unsigned.
testsupport::ConfigSpec plant(uint16_t port1, uint16_t port2) {
  using image::DataType;
  using image::RegisterType;
  auto record = [](RegisterType type, uint32_t start, uint16_t length, DataType dt) {
    testsupport::RecordSpec r;
    r.type = type;
    r.start = start;
    r.length = length;
    r.data_type = dt;
    r.poll_time = 10;  // 100 ms
    return r;
  };
  testsupport::ConfigSpec plan;
  plan.channels.resize(2);
  for (auto& ch : plan.channels) {
    ch.reply_timeout = 30;
    ch.delay = 50;
    ch.retries = 1;
  }
  plan.channels[0].ip_port = port1;
  plan.channels[0].devices[0].name = "PLC1";
  plan.channels[0].devices[0].records = {record(RegisterType::D, 100, 10, DataType::Signed),
                                         record(RegisterType::D, 200, 4, DataType::Float),
                                         record(RegisterType::M, 0, 16, DataType::Digital),
                                         record(RegisterType::D, 300, 4, DataType::Ascii)};
  plan.channels[1].ip_port = port2;
  plan.channels[1].devices[0].name = "PLC2";
  plan.channels[1].devices[0].records = {record(RegisterType::D, 0, 10, DataType::Unsigned)};
  return plan;
}

// "D:105" -> 105; "M:3" -> 3; -1 for anything else.
int register_of(const std::string& name, char type) {
  if (name.size() < 3 || name[0] != type || name[1] != ':') return -1;
  for (size_t i = 2; i < name.size(); ++i) {
    if (name[i] < '0' || name[i] > '9') return -1;
  }
  return std::stoi(name.substr(2));
}

std::vector<unsigned> words(McsimPeer& plc, const std::string& what) {
  std::istringstream in(plc.control("get " + what));
  std::string ok;
  in >> ok;
  std::vector<unsigned> out;
  unsigned v;
  while (in >> v) out.push_back(v);
  return out;
}

float float_of(unsigned low, unsigned high) {
  const uint32_t bits = low | high << 16;
  float f;
  std::memcpy(&f, &bits, 4);
  return f;
}

class EndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string why;
    if (testing::find_program("mosquitto").empty()) GTEST_SKIP() << "mosquitto is not installed";
    if (!testing::peers_available(why)) GTEST_SKIP() << why;
    plc_ = std::make_unique<McsimPeer>(env_.dir(), std::vector<std::string>{"udp:0:3e-binary", "udp:0:3e-binary:plc=p2"},
                                       std::vector<std::string>{"--history", env_.path("history.txt")});
    ASSERT_TRUE(plc_->ready()) << plc_->output();
    ASSERT_TRUE(plc_->ok("set D300 0x4241 0x4443 0x4645 0"));  // "ABCDEF"
    ASSERT_TRUE(plc_->ok("set D200 0 0x3FC0 0 0xC120"));       // 1.5, -10.0
    testsupport::install_configuration(env_, plant(plc_->port(0), plc_->port(1)));
    testsupport::install_driver_exe("S");
    poller_ = std::make_unique<ChildProcess>(std::vector<std::string>{testsupport::poller_path(), "S"}, false, env_.dir());
    broker_ = std::make_unique<Broker>(env_.dir());
    ASSERT_TRUE(broker_->start(why)) << why;
    peer_ = std::make_unique<HostPeer>(env_.dir(), broker_->port());
    ASSERT_TRUE(peer_->ready()) << peer_->process().output();
  }

  void TearDown() override {
    if (node_) {
      node_->kill_now(SIGTERM);
      node_->wait_exit(5000);
    }
    if (poller_) {
      poller_->kill_now(SIGTERM);
      if (!poller_->wait_exit(5000)) poller_->kill_now();
    }
  }

  void start_node(const std::string& extra = "") {
    std::ofstream out(env_.path("hbtmqtt.conf"));
    out << "broker = mqtt://127.0.0.1:" << broker_->port() << "\n"
        << "group_id = Plant\nedge_node_id = Line1\npublish_interval_ms = 100\nnode_metrics_interval_ms = 1000\n"
        << "store_forward_dir = " << env_.path("sf") << "\nreconnect_min_ms = 100\nreconnect_max_ms = 1000\n"
        << "update_ms = 20\n"
        << extra;
    out.close();
    node_ = std::make_unique<ChildProcess>(
        std::vector<std::string>{std::string(HBT_BIN_DIR) + "/hbtmqtt", "--config", env_.path("hbtmqtt.conf")}, false,
        env_.dir());
  }

  std::optional<json> wait_topic(const std::string& topic, int timeout_ms = 20000, size_t skip = 0) {
    return peer_->wait_topic(topic, timeout_ms, skip, [&] { poller_->output(); });
  }

  std::vector<json> session() {
    std::vector<json> out;
    for (auto& m : peer_->messages()) {
      const std::string topic = m["topic"];
      if (topic.find("/NBIRTH/") != std::string::npos) out.clear();
      if (topic.find("/Line1") != std::string::npos) out.push_back(m);
    }
    return out;
  }

  // The value each metric of each PLC had last (births and data), by PLC and metric name.
  std::map<std::string, std::map<std::string, json>> latest() {
    std::map<std::string, std::map<std::string, json>> out;
    std::map<uint64_t, std::pair<std::string, std::string>> aliases;
    for (auto& m : session()) {
      const std::string topic = m["topic"];
      const std::string plc = topic.substr(topic.rfind('/') + 1);
      const bool birth = topic.find("/DBIRTH/") != std::string::npos;
      if (!birth && topic.find("/DDATA/") == std::string::npos) continue;
      for (auto& metric : m["metrics"]) {
        std::string name;
        if (metric.contains("name") && metric["name"].is_string()) {
          name = metric["name"];
          if (birth) aliases[metric["alias"]] = {plc, name};
        } else {
          name = aliases[metric["alias"].get<uint64_t>()].second;
        }
        out[plc][name] = metric;
      }
    }
    return out;
  }

  testsupport::TestEnvironment env_;
  std::unique_ptr<McsimPeer> plc_;
  std::unique_ptr<ChildProcess> poller_;
  std::unique_ptr<Broker> broker_;
  std::unique_ptr<HostPeer> peer_;
  std::unique_ptr<ChildProcess> node_;
};

TEST_F(EndToEnd, EveryBirthAndDataMetricMatchesThePlc) {
  // A conditioned tag and a read-only one from the tag file.
  testsupport::write_file(env_.path("tags.txt"), "PLC1:D:104|LIN,0,100,,degC\nPLC1:D:103 readonly\n");
  start_node("tag_file = " + env_.path("tags.txt") + "\n");
  auto birth1 = wait_topic("spBv1.0/Plant/DBIRTH/Line1/PLC1");
  ASSERT_TRUE(birth1) << node_->output();
  const json* conditioned = metric_named(*birth1, "D:104|LIN,0,100,,degC");
  ASSERT_NE(conditioned, nullptr) << birth1->dump();
  EXPECT_EQ((*conditioned)["type"], "Double");
  EXPECT_EQ((*conditioned)["properties"]["engUnit"], "degC");
  EXPECT_EQ((*conditioned)["properties"]["engLow"], 0.0);
  EXPECT_EQ((*conditioned)["properties"]["engHigh"], 100.0);
  EXPECT_EQ((*metric_named(*birth1, "D:103"))["properties"]["readOnly"], true);
  EXPECT_FALSE((*metric_named(*birth1, "D:105"))["properties"].contains("readOnly"));
  auto birth2 = wait_topic("spBv1.0/Plant/DBIRTH/Line1/PLC2");
  ASSERT_TRUE(birth2) << node_->output();
  EXPECT_EQ((*metric_named(*birth1, "D:100"))["type"], "Int16");
  EXPECT_EQ((*metric_named(*birth1, "D:200"))["type"], "Float");
  EXPECT_EQ((*metric_named(*birth1, "M:0"))["type"], "Boolean");
  EXPECT_EQ((*metric_named(*birth2, "D:0"))["type"], "UInt16");

  // Values move for a while: words of both PLCs, floats and bits.
  std::mt19937 rng(7);
  for (int round = 0; round < 12; ++round) {
    std::string line = "set D100";
    for (int i = 0; i < 10; ++i) line += " " + std::to_string(static_cast<int>(rng() % 65536) - 32768);
    ASSERT_TRUE(plc_->ok(line));
    line = "set D0";
    for (int i = 0; i < 10; ++i) line += " " + std::to_string(rng() % 65536);
    ASSERT_TRUE(plc_->ok("set plc=p2" + line.substr(3)));
    ASSERT_TRUE(plc_->ok("set M" + std::to_string(rng() % 16) + " " + std::to_string(rng() % 2)));
    ASSERT_TRUE(plc_->ok("set D200 0 " + std::to_string(0x3F80 + rng() % 64)));
    testsupport::eventually([&] { return poller_->output(), false; }, 250);
  }

  // Settled: every metric's last value is the PLC's.
  auto matches_plc = [&](std::string& why) {
    const auto d100 = words(*plc_, "D100 10");
    const auto d0 = words(*plc_, "plc=p2 D0 10");
    const auto m = words(*plc_, "M0 16");
    const auto d200 = words(*plc_, "D200 4");
    auto last = latest();
    for (int i = 0; i < 10; ++i) {
      const json& a = last["PLC1"]["D:" + std::to_string(100 + i)];
      if (a["value"] != static_cast<int16_t>(d100[i])) return why = "PLC1 D:" + std::to_string(100 + i) + " " + a.dump(), false;
      const json& b = last["PLC2"]["D:" + std::to_string(i)];
      if (b["value"] != d0[i]) return why = "PLC2 D:" + std::to_string(i) + " " + b.dump(), false;
    }
    for (int i = 0; i < 16; ++i) {
      const json& bit = last["PLC1"]["M:" + std::to_string(i)];
      if (bit["value"] != (m[i] != 0)) return why = "PLC1 M:" + std::to_string(i) + " " + bit.dump(), false;
    }
    if (last["PLC1"]["D:200"]["value"] != float_of(d200[0], d200[1])) return why = "D:200", false;
    if (last["PLC1"]["D:202"]["value"] != float_of(d200[2], d200[3])) return why = "D:202", false;
    return true;
  };
  std::string why;
  EXPECT_TRUE(testsupport::eventually([&] { return poller_->output(), matches_plc(why); }, 10000))
      << why << "\n" << node_->output();

  // Every PLC1 word ever published was the register's value shortly before it arrived, with
  // good quality; the text is the registers' bytes.
  soak::RegisterHistory history(env_.path("history.txt"));
  history.catch_up();
  std::map<uint64_t, std::string> names;
  int checked = 0;
  for (auto& message : session()) {
    const std::string topic = message["topic"];
    if (topic.find("/Line1/PLC1") == std::string::npos) continue;
    const double to = message["received_mono_ms"];
    for (auto& metric : message["metrics"]) {
      if (metric.contains("name") && metric["name"].is_string()) names[metric["alias"]] = metric["name"];
      const std::string name = names[metric["alias"].get<uint64_t>()];
      const int n = register_of(name, 'D');
      if (n < 100 || n > 109) continue;
      EXPECT_EQ(metric["properties"]["Quality"], 192) << metric.dump();
      const auto raw = static_cast<uint16_t>(metric["value"].get<int>());
      EXPECT_TRUE(history.held(n, raw, to - 3000, to)) << name << " = " << metric["value"] << " at " << to;
      ++checked;
    }
  }
  EXPECT_GT(checked, 100);
  // The text record's one String value: the registers' bytes, low byte first, to the NUL.
  int texts = 0;
  auto last = latest();
  for (auto& [name, metric] : last["PLC1"]) {
    if (metric["type"] != "String") continue;
    ++texts;
    EXPECT_EQ(name, "D:300$8");
    EXPECT_EQ(metric["value"], "ABCDEF") << name;
  }
  EXPECT_EQ(texts, 1);
  auto messages = session();
  for (size_t i = 0; i < messages.size(); ++i) EXPECT_EQ(messages[i]["seq"], i % 256) << messages[i].dump();
}

TEST_F(EndToEnd, CommandsWriteToThePlcAndBadOnesWriteNothing) {
  ASSERT_TRUE(plc_->ok("set D101 77"));
  ASSERT_TRUE(plc_->ok("set D103 33"));
  testsupport::write_file(env_.path("tags.txt"), "PLC1:D:103 readonly\n");
  start_node("tag_file = " + env_.path("tags.txt") + "\n");
  ASSERT_TRUE(wait_topic("spBv1.0/Plant/DBIRTH/Line1/PLC2")) << node_->output();
  const std::string dcmd = "spBv1.0/Plant/DCMD/Line1/PLC1";
  peer_->publish({{"topic", dcmd},
                  {"metrics",
                   {{{"name", "D:105"}, {"type", "Int16"}, {"value", -1234}},
                    {{"name", "M:3"}, {"type", "Boolean"}, {"value", true}},
                    {{"name", "D:200"}, {"type", "Float"}, {"value", 2.5}}}}});
  peer_->publish({{"topic", "spBv1.0/Plant/DCMD/Line1/PLC2"}, {"metrics", {{{"name", "D:9"}, {"type", "UInt16"}, {"value", 65000}}}}});
  EXPECT_TRUE(testsupport::eventually(
      [&] {
        poller_->output();
        return words(*plc_, "D105") == std::vector<unsigned>{64302} && words(*plc_, "M3") == std::vector<unsigned>{1} &&
               words(*plc_, "D200 2") == std::vector<unsigned>{0, 0x4020} &&
               words(*plc_, "plc=p2 D9") == std::vector<unsigned>{65000};
      },
      10000))
      << node_->output();

  // Unknown names, wrong types, garbage: refused, logged, nothing written, the node stays up.
  peer_->publish({{"topic", dcmd},
                  {"metrics", {{{"name", "D:101"}, {"type", "Int16"}, {"value", 5}}, {{"name", "D:999"}, {"type", "Int16"}, {"value", 5}}}}});
  peer_->publish({{"topic", dcmd}, {"metrics", {{{"name", "D:101"}, {"type", "String"}, {"value", "5"}}}}});
  peer_->publish({{"topic", dcmd}, {"metrics", {{{"name", "D:101"}, {"type", "Double"}, {"value", 5.5}}}}});
  peer_->publish({{"topic", dcmd}, {"hex", "0a03ffffff12"}});
  peer_->publish({{"topic", dcmd}, {"metrics", {{{"name", "D:103"}, {"type", "Int16"}, {"value", 9}}}}});
  peer_->publish({{"topic", "spBv1.0/Plant/NCMD/Line1"}, {"metrics", {{{"name", "Node Control/Reboot"}, {"type", "Boolean"}, {"value", true}}}}});
  ASSERT_TRUE(node_->wait_for_output("NCMD refused", 10000)) << node_->output();
  testsupport::eventually([&] { return poller_->output(), false; }, 500);
  EXPECT_EQ(words(*plc_, "D101"), std::vector<unsigned>{77});
  EXPECT_EQ(words(*plc_, "D103"), std::vector<unsigned>{33});
  EXPECT_NE(node_->output().find("\"D:103\": read-only"), std::string::npos);
  const std::string log = node_->output();
  EXPECT_NE(log.find("\"D:999\": no such metric on PLC1"), std::string::npos) << log;
  EXPECT_NE(log.find("\"D:101\": a String value for a Int16 point"), std::string::npos) << log;
  EXPECT_NE(log.find("\"D:101\": a Double value for a Int16 point"), std::string::npos) << log;
  EXPECT_NE(log.find("not a Sparkplug B payload"), std::string::npos) << log;
  EXPECT_TRUE(node_->running());
  // Still publishing.
  ASSERT_TRUE(plc_->ok("set D102 4242"));
  EXPECT_TRUE(testsupport::eventually([&] { return poller_->output(), latest()["PLC1"]["D:102"]["value"] == 4242; }, 10000));
}

TEST_F(EndToEnd, ASilentPlcDiesAndIsBornAgainAndAKilledNodeLeavesItsDeath) {
  start_node();
  auto nbirth = wait_topic("spBv1.0/Plant/NBIRTH/Line1");
  ASSERT_TRUE(nbirth) << node_->output();
  ASSERT_TRUE(wait_topic("spBv1.0/Plant/DBIRTH/Line1/PLC2")) << node_->output();
  ASSERT_TRUE(plc_->ok("fault udp:0:3e-binary:plc=p2 silent on")) << plc_->control("endpoints");
  ASSERT_TRUE(wait_topic("spBv1.0/Plant/DDEATH/Line1/PLC2", 20000)) << node_->output();
  ASSERT_TRUE(plc_->ok("set plc=p2 D4 999"));
  ASSERT_TRUE(plc_->ok("fault udp:0:3e-binary:plc=p2 silent off"));
  auto reborn = wait_topic("spBv1.0/Plant/DBIRTH/Line1/PLC2", 20000, 1);
  ASSERT_TRUE(reborn) << node_->output();
  EXPECT_EQ((*metric_named(*reborn, "D:4"))["value"], 999);
  EXPECT_EQ((*metric_named(*reborn, "D:4"))["properties"]["Quality"], 192);
  // PLC1 lived on meanwhile.
  EXPECT_FALSE(wait_topic("spBv1.0/Plant/DDEATH/Line1/PLC1", 10));

  node_->kill_now(SIGKILL);
  node_->wait_exit(5000);
  auto death = wait_topic("spBv1.0/Plant/NDEATH/Line1", 15000);
  ASSERT_TRUE(death);
  EXPECT_EQ((*metric_named(*death, "bdSeq"))["value"], (*metric_named(*nbirth, "bdSeq"))["value"]);
  node_.reset();
}

TEST_F(EndToEnd, ABrokerRestartKeepsEveryChangeAndSendsItAsHistoryFirst) {
  // The node comes back well after the host has (which retries every 200 ms), so that the host
  // sees the births and the history that follow them.
  start_node("reconnect_min_ms = 1500\nreconnect_max_ms = 3000\n");
  ASSERT_TRUE(wait_topic("spBv1.0/Plant/DBIRTH/Line1/PLC1")) << node_->output();
  broker_->kill();
  ASSERT_TRUE(node_->wait_for_output("was lost", 10000)) << node_->output();
  std::vector<int> written;
  for (int v = 1; v <= 8; ++v) {
    ASSERT_TRUE(plc_->ok("set D107 " + std::to_string(v * 11)));
    written.push_back(v * 11);
    testsupport::eventually([&] { return poller_->output(), false; }, 300);  // three polls per value
  }
  std::string why;
  ASSERT_TRUE(broker_->start(why)) << why;
  ASSERT_TRUE(peer_->process().wait_for_output("\"resubscribed\"", 20000)) << peer_->process().output();
  ASSERT_TRUE(wait_topic("spBv1.0/Plant/NBIRTH/Line1", 20000, 1)) << node_->output();
  ASSERT_TRUE(plc_->ok("set D107 1000"));
  EXPECT_TRUE(testsupport::eventually([&] { return poller_->output(), latest()["PLC1"]["D:107"]["value"] == 1000; }, 10000));
  std::vector<int> history;
  bool live_seen = false;
  const json d107 = *metric_named(*wait_topic("spBv1.0/Plant/DBIRTH/Line1/PLC1", 1000, 1), "D:107");
  for (auto& m : session()) {
    if (m["topic"] != "spBv1.0/Plant/DDATA/Line1/PLC1") continue;
    for (auto& metric : m["metrics"]) {
      if (metric.contains("historical")) {
        EXPECT_FALSE(live_seen) << "history after live data";
        if (metric["alias"] == d107["alias"]) history.push_back(metric["value"]);
      } else {
        live_seen = true;
      }
    }
  }
  EXPECT_EQ(history, written) << node_->output();
  auto messages = session();
  for (size_t i = 0; i < messages.size(); ++i) EXPECT_EQ(messages[i]["seq"], i % 256);
}

// Three drivers (three namespaces and registries, three pollers) and their three edge nodes
// on one broker, all seen by one host.
TEST_F(EndToEnd, ThreeDriverNodesOnOneBroker) {
  const std::string outer_namespace = getenv("HBT_NAMESPACE"), outer_registry = getenv("HBT_REGISTRY_DIR");
  std::vector<std::unique_ptr<ChildProcess>> pollers, nodes;
  for (int n = 2; n <= 4; ++n) {
    const std::string dir = env_.path("driver" + std::to_string(n));
    std::filesystem::create_directories(dir + "/registry");
    setenv("HBT_NAMESPACE", (outer_namespace + "n" + std::to_string(n) + "_").c_str(), 1);
    setenv("HBT_REGISTRY_DIR", (dir + "/registry").c_str(), 1);
    testsupport::install_configuration_bytes(
        env_, testsupport::build_configuration(plant(plc_->port(0), plc_->port(1))), "LINE" + std::to_string(n) + ".HBT");
    testsupport::install_driver_exe("S");
    pollers.push_back(std::make_unique<ChildProcess>(std::vector<std::string>{testsupport::poller_path(), "S"}, false, dir));
    std::ofstream out(dir + "/hbtmqtt.conf");
    out << "broker = 127.0.0.1:" << broker_->port() << "\ngroup_id = Plant\nedge_node_id = Line" << n
        << "\npublish_interval_ms = 100\nstore_forward_dir = " << dir << "/sf\n";
    out.close();
    nodes.push_back(std::make_unique<ChildProcess>(
        std::vector<std::string>{std::string(HBT_BIN_DIR) + "/hbtmqtt", "--config", dir + "/hbtmqtt.conf"}, false, dir));
  }
  setenv("HBT_NAMESPACE", outer_namespace.c_str(), 1);
  setenv("HBT_REGISTRY_DIR", outer_registry.c_str(), 1);
  ASSERT_TRUE(plc_->ok("set D103 3333"));
  for (int n = 2; n <= 4; ++n) {
    const std::string edge = "Line" + std::to_string(n);
    EXPECT_TRUE(wait_topic("spBv1.0/Plant/DBIRTH/" + edge + "/PLC1")) << nodes[n - 2]->output();
    EXPECT_TRUE(wait_topic("spBv1.0/Plant/DBIRTH/" + edge + "/PLC2")) << nodes[n - 2]->output();
  }
  for (auto& node : nodes) {
    node->kill_now(SIGTERM);
    EXPECT_EQ(node->wait_exit(10000), 0) << node->output();
  }
  for (int n = 2; n <= 4; ++n) EXPECT_TRUE(wait_topic("spBv1.0/Plant/NDEATH/Line" + std::to_string(n), 5000));
  for (auto& p : pollers) {
    p->kill_now(SIGTERM);
    if (!p->wait_exit(5000)) p->kill_now();
  }
}

}  // namespace
}  // namespace hbt::mqtt
