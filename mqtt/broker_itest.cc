// The edge node's broker sessions end to end: hbtmqtt's command line and service over a plant
// in memory (tests/scripted_node), a private Mosquitto, and a host on independent npm
// libraries that decodes every message with the Eclipse reference decoder.
#include <gtest/gtest.h>
#include <signal.h>

#include <fstream>

#include "mqtt/tests/broker_harness.h"
#include "testsupport/test_environment.h"

namespace hbt::mqtt {
namespace {

using nlohmann::json;
using testing::Broker;
using testing::CommandPipe;
using testing::HostPeer;
using testing::metric_named;

// The scripted plant with 2 PLCs of 4 Int16 points: PLC1 ids 0-3 D:0-D:3, 4 M:0, 5 D:500,
// 6 D:600; PLC2 ids 7-13 the same.
constexpr int kPlc1D0 = 0, kPlc1M0 = 4, kPlc2D0 = 7;

class BrokerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string why;
    if (testing::find_program("mosquitto").empty()) GTEST_SKIP() << "mosquitto is not installed";
    if (!testing::peers_available(why)) GTEST_SKIP() << why;
    broker_ = std::make_unique<Broker>(env_.dir());
    ASSERT_TRUE(broker_->start(why)) << why;
    peer_ = std::make_unique<HostPeer>(env_.dir(), broker_->port());
    ASSERT_TRUE(peer_->ready()) << peer_->process().output();
  }

  std::string write_settings(const std::string& extra = "", const std::string& edge = "Line1") {
    const std::string path = env_.path(edge + ".conf");
    std::ofstream out(path);
    out << "broker = mqtt://127.0.0.1:" << broker_->port() << "\n"
        << "group_id = Plant\nedge_node_id = " << edge << "\n"
        << "publish_interval_ms = 100\nnode_metrics_interval_ms = 300\n"
        << "store_forward_dir = " << env_.path("sf-" + edge) << "\n"
        << "reconnect_min_ms = 100\nreconnect_max_ms = 1000\nkeepalive = 5\n"
        << extra;
    return path;
  }

  void start_node(const std::string& settings, const std::string& edge = "Line1") {
    script_ = std::make_unique<CommandPipe>(env_.path("node-" + edge + ".fifo"));
    node_ = std::make_unique<testsupport::ChildProcess>(
        std::vector<std::string>{std::string(HBT_BIN_DIR) + "/../tests/mqtt_scripted_node", "--config", settings,
                                 "--script", script_->path(), "--plcs", "2", "--points", "4"},
        false);
  }

  std::optional<json> wait_topic(const std::string& topic, int timeout_ms = 15000, size_t skip = 0) {
    return peer_->wait_topic(topic, timeout_ms, skip);
  }

  // Messages of one edge node from the last NBIRTH on, in arrival order.
  std::vector<json> session(const std::string& edge = "Line1") {
    std::vector<json> out;
    for (auto& m : peer_->messages()) {
      const std::string topic = m["topic"];
      if (topic.find("/" + edge) == std::string::npos) continue;
      if (topic.find("/NBIRTH/") != std::string::npos) out.clear();
      out.push_back(m);
    }
    return out;
  }

  testsupport::TestEnvironment env_;
  std::unique_ptr<Broker> broker_;
  std::unique_ptr<HostPeer> peer_;
  std::unique_ptr<CommandPipe> script_;
  std::unique_ptr<testsupport::ChildProcess> node_;
};

TEST_F(BrokerTest, BirthsAndDataReachAHostInSequence) {
  start_node(write_settings());
  auto nbirth = wait_topic("spBv1.0/Plant/NBIRTH/Line1");
  ASSERT_TRUE(nbirth) << node_->output();
  EXPECT_EQ((*nbirth)["seq"], 0);
  ASSERT_NE(metric_named(*nbirth, "bdSeq"), nullptr);
  EXPECT_EQ((*metric_named(*nbirth, "Node Control/Rebirth"))["value"], false);
  auto dbirth = wait_topic("spBv1.0/Plant/DBIRTH/Line1/PLC2");
  ASSERT_TRUE(dbirth);
  const json* d0 = metric_named(*dbirth, "D:0");
  ASSERT_NE(d0, nullptr);
  EXPECT_EQ((*d0)["type"], "Int16");
  EXPECT_EQ((*d0)["properties"]["Quality"], 192);
  EXPECT_EQ((*metric_named(*dbirth, "D:500"))["type"], "Float");
  EXPECT_EQ((*metric_named(*dbirth, "M:0"))["type"], "Boolean");
  EXPECT_EQ((*metric_named(*dbirth, "D:600"))["type"], "String");

  for (int v = 1; v <= 20; ++v) script_->send("set " + std::to_string(kPlc2D0) + " " + std::to_string(-v * 100));
  const uint64_t alias = (*d0)["alias"];
  ASSERT_TRUE(peer_->wait_for(
      [&](const json& m) {
        if (m["topic"] != "spBv1.0/Plant/DDATA/Line1/PLC2") return false;
        for (const auto& metric : m["metrics"]) {
          if (metric["alias"] == alias && metric["value"] == -2000) return true;
        }
        return false;
      },
      10000))
      << node_->output();
  // Every message after NBIRTH carries the next seq.
  auto messages = session();
  ASSERT_GE(messages.size(), 4u);
  for (size_t i = 0; i < messages.size(); ++i) EXPECT_EQ(messages[i]["seq"], i % 256) << messages[i].dump();
}

TEST_F(BrokerTest, SigtermSendsNDeathWithTheSessionsBdSeqAndExitsZero) {
  start_node(write_settings());
  auto nbirth = wait_topic("spBv1.0/Plant/NBIRTH/Line1");
  ASSERT_TRUE(nbirth) << node_->output();
  node_->kill_now(SIGTERM);
  EXPECT_EQ(node_->wait_exit(10000), 0) << node_->output();
  auto death = wait_topic("spBv1.0/Plant/NDEATH/Line1", 5000);
  ASSERT_TRUE(death);
  EXPECT_EQ((*death)["seq"], nullptr);
  EXPECT_EQ((*metric_named(*death, "bdSeq"))["value"], (*metric_named(*nbirth, "bdSeq"))["value"]);
}

TEST_F(BrokerTest, AKilledNodeLeavesItsWillAndTheNextStartTakesTheNextBdSeq) {
  const std::string settings = write_settings();
  start_node(settings);
  auto nbirth = wait_topic("spBv1.0/Plant/NBIRTH/Line1");
  ASSERT_TRUE(nbirth) << node_->output();
  node_->kill_now(SIGKILL);
  node_->wait_exit(5000);
  auto death = wait_topic("spBv1.0/Plant/NDEATH/Line1", 15000);
  ASSERT_TRUE(death) << "the broker did not deliver the will";
  const int bd = (*metric_named(*nbirth, "bdSeq"))["value"];
  EXPECT_EQ((*metric_named(*death, "bdSeq"))["value"], bd);
  start_node(settings);
  auto again = wait_topic("spBv1.0/Plant/NBIRTH/Line1", 15000, 1);
  ASSERT_TRUE(again) << node_->output();
  EXPECT_EQ((*metric_named(*again, "bdSeq"))["value"], (bd + 1) % 256);
}

TEST_F(BrokerTest, ABrokerRestartLosesNothingHistoryFirstInOrder) {
  // The node comes back well after the host has (which retries every 200 ms), so that the host
  // sees the births and the history that follow them.
  start_node(write_settings("reconnect_min_ms = 1500\nreconnect_max_ms = 3000\n"));
  ASSERT_TRUE(wait_topic("spBv1.0/Plant/DBIRTH/Line1/PLC1")) << node_->output();
  broker_->kill();
  ASSERT_TRUE(node_->wait_for_output("connection to 127.0.0.1", 10000)) << node_->output();
  // Changes while the broker is gone, spread over several publish intervals.
  for (int v = 1; v <= 10; ++v) {
    script_->send("set " + std::to_string(kPlc1D0) + " " + std::to_string(v));
    testsupport::eventually([] { return false; }, 60);
  }
  testsupport::eventually([] { return false; }, 300);
  std::string why;
  ASSERT_TRUE(broker_->start(why)) << why;
  ASSERT_TRUE(peer_->process().wait_for_output("\"resubscribed\"", 20000)) << peer_->process().output();
  ASSERT_TRUE(wait_topic("spBv1.0/Plant/NBIRTH/Line1", 20000, 1)) << node_->output();
  script_->send("set " + std::to_string(kPlc1D0) + " 500");  // live, after the history
  ASSERT_TRUE(peer_->wait_for(
      [](const json& m) {
        if (m["topic"] != "spBv1.0/Plant/DDATA/Line1/PLC1") return false;
        for (const auto& metric : m["metrics"]) {
          if (metric["value"] == 500 && !metric.contains("historical")) return true;
        }
        return false;
      },
      10000))
      << node_->output() << peer_->process().output();
  std::vector<int> history;
  bool live_seen = false, history_after_live = false;
  auto messages = session();
  const json birth = *wait_topic("spBv1.0/Plant/DBIRTH/Line1/PLC1", 1000, 1);
  for (size_t i = 0; i < messages.size(); ++i) {
    EXPECT_EQ(messages[i]["seq"], i % 256);
    if (messages[i]["topic"] != "spBv1.0/Plant/DDATA/Line1/PLC1") continue;
    for (const auto& metric : messages[i]["metrics"]) {
      if (metric.contains("historical")) {
        EXPECT_FALSE(metric.contains("name") && metric["name"].is_string());
        EXPECT_EQ(metric["alias"], (*metric_named(birth, "D:0"))["alias"]);
        history.push_back(metric["value"]);
        if (live_seen) history_after_live = true;
      } else {
        live_seen = true;
      }
    }
  }
  EXPECT_FALSE(history_after_live);
  EXPECT_EQ(history, (std::vector<int>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10})) << node_->output();
}

TEST_F(BrokerTest, DeviceCommandsWriteAndBadOnesAreRefusedWhileTheNodeStaysUp) {
  start_node(write_settings());
  auto dbirth = wait_topic("spBv1.0/Plant/DBIRTH/Line1/PLC1");
  ASSERT_TRUE(dbirth) << node_->output();
  const std::string dcmd = "spBv1.0/Plant/DCMD/Line1/PLC1";
  peer_->publish({{"topic", dcmd}, {"metrics", {{{"name", "D:1"}, {"type", "Int16"}, {"value", -1234}}}}});
  peer_->publish({{"topic", dcmd},
                  {"metrics", {{{"alias", (*metric_named(*dbirth, "M:0"))["alias"]}, {"type", "Boolean"}, {"value", true}}}}});
  ASSERT_TRUE(node_->wait_for_output("wrote 1 -1234", 10000)) << node_->output();
  ASSERT_TRUE(node_->wait_for_output("wrote " + std::to_string(kPlc1M0) + " 1", 10000)) << node_->output();

  peer_->publish({{"topic", dcmd}, {"hex", "12ff0a"}});
  peer_->publish({{"topic", dcmd}, {"metrics", {{{"name", "D:77"}, {"type", "Int16"}, {"value", 1}}}}});
  peer_->publish({{"topic", dcmd}, {"metrics", {{{"name", "D:2"}, {"type", "String"}, {"value", "x"}}}}});
  peer_->publish({{"topic", "spBv1.0/Plant/NCMD/Line1"}, {"hex", "ffffffff"}});
  peer_->publish({{"topic", "spBv1.0/Plant/DCMD/Line1/NOPLC"}, {"metrics", {{{"name", "D:0"}, {"type", "Int16"}, {"value", 1}}}}});
  ASSERT_TRUE(node_->wait_for_output("DCMD refused: no PLC \"NOPLC\"", 10000)) << node_->output();
  const std::string log = node_->output();
  EXPECT_NE(log.find("DCMD to PLC1 refused: not a Sparkplug B payload"), std::string::npos) << log;
  EXPECT_NE(log.find("DCMD to PLC1 refused: \"D:77\": no such metric on PLC1"), std::string::npos) << log;
  EXPECT_NE(log.find("DCMD to PLC1 refused: \"D:2\": a String value for a Int16 point"), std::string::npos) << log;
  EXPECT_NE(log.find("NCMD refused"), std::string::npos) << log;
  EXPECT_EQ(log.find("wrote 77"), std::string::npos);
  EXPECT_EQ(log.find("wrote 2 "), std::string::npos);
  // The refusal of a known metric is reported on it, and the count among the node metrics.
  EXPECT_TRUE(peer_->wait_for(
      [](const json& m) {
        if (m["topic"] != "spBv1.0/Plant/DDATA/Line1/PLC1") return false;
        for (const auto& metric : m["metrics"]) {
          if (metric.contains("properties") && metric["properties"].value("Write Result", "") == "type mismatch") return true;
        }
        return false;
      },
      5000));
  EXPECT_TRUE(peer_->wait_for(
      [](const json& m) {
        return m["topic"] == "spBv1.0/Plant/NDATA/Line1" && !m["metrics"].empty() && m["metrics"][0].contains("value") &&
               m["metrics"][0]["alias"] == 12 && m["metrics"][0]["value"] == 5;
      },
      5000));
  EXPECT_TRUE(node_->running());
}

TEST_F(BrokerTest, RebirthOnRequestAndAPlcThatFailsDiesAndComesBack) {
  start_node(write_settings());
  ASSERT_TRUE(wait_topic("spBv1.0/Plant/DBIRTH/Line1/PLC2")) << node_->output();
  peer_->publish({{"topic", "spBv1.0/Plant/NCMD/Line1"},
                  {"metrics", {{{"name", "Node Control/Rebirth"}, {"type", "Boolean"}, {"value", true}}}}});
  ASSERT_TRUE(wait_topic("spBv1.0/Plant/NBIRTH/Line1", 10000, 1)) << node_->output();
  ASSERT_TRUE(wait_topic("spBv1.0/Plant/DBIRTH/Line1/PLC2", 10000, 1));
  script_->send("fail 2");
  ASSERT_TRUE(wait_topic("spBv1.0/Plant/DDEATH/Line1/PLC2", 10000)) << node_->output();
  script_->send("heal 2");
  ASSERT_TRUE(wait_topic("spBv1.0/Plant/DBIRTH/Line1/PLC2", 10000, 2)) << node_->output();
  auto messages = session();
  for (size_t i = 0; i < messages.size(); ++i) EXPECT_EQ(messages[i]["seq"], i % 256) << messages[i].dump();
}

TEST_F(BrokerTest, ThreeNodesOnOneBrokerAreAllSeen) {
  std::vector<std::unique_ptr<testsupport::ChildProcess>> nodes;
  std::vector<std::unique_ptr<CommandPipe>> pipes;
  for (const std::string edge : {"Line1", "Line2", "Line3"}) {
    start_node(write_settings("", edge), edge);
    nodes.push_back(std::move(node_));
    pipes.push_back(std::move(script_));
  }
  for (const std::string edge : {"Line1", "Line2", "Line3"}) {
    EXPECT_TRUE(wait_topic("spBv1.0/Plant/DBIRTH/" + edge + "/PLC2")) << edge;
  }
}

TEST_F(BrokerTest, WithAPrimaryHostTheNodeWaitsForItsState) {
  start_node(write_settings("primary_host_id = SCADA\n"));
  ASSERT_TRUE(node_->wait_for_output("waiting for the primary host", 10000)) << node_->output();
  testsupport::eventually([] { return false; }, 500);
  EXPECT_FALSE(wait_topic("spBv1.0/Plant/NBIRTH/Line1", 10));
  peer_->publish({{"topic", "spBv1.0/STATE/SCADA"}, {"text", "{\"online\":true,\"timestamp\":1}"}, {"retain", true},
                  {"qos", 1}});
  ASSERT_TRUE(wait_topic("spBv1.0/Plant/NBIRTH/Line1", 10000)) << node_->output();
  peer_->publish({{"topic", "spBv1.0/STATE/SCADA"}, {"text", "{\"online\":false,\"timestamp\":2}"}, {"retain", true},
                  {"qos", 1}});
  auto death = wait_topic("spBv1.0/Plant/NDEATH/Line1", 10000);
  ASSERT_TRUE(death) << node_->output();
  EXPECT_TRUE(node_->running());
}

TEST(BrokerRefusal, ABrokerThatRefusesTheNodeIsAClearErrorAndExitOne) {
  testsupport::TestEnvironment env;
  if (testing::find_program("mosquitto").empty()) GTEST_SKIP() << "mosquitto is not installed";
  const std::string passwd = testing::find_program("mosquitto_passwd");
  ASSERT_FALSE(passwd.empty());
  ASSERT_EQ(testsupport::run_program({passwd, "-b", "-c", env.path("passwords"), "edge", "right"}).exit_code, 0);
  Broker broker(env.dir(), {"password_file " + env.path("passwords")}, false);
  std::string why;
  ASSERT_TRUE(broker.start(why)) << why;
  auto settings = [&](const std::string& password) {
    std::ofstream out(env.path("node.conf"));
    out << "broker = 127.0.0.1:" << broker.port() << "\ngroup_id = Plant\nedge_node_id = Line1\n"
        << "username = edge\npassword = " << password << "\nstore_forward_dir = " << env.path("sf") << "\n";
    return env.path("node.conf");
  };
  const std::string node = std::string(HBT_BIN_DIR) + "/../tests/mqtt_scripted_node";
  auto refused = testsupport::run_program({node, "--config", settings("wrong")}, 20000);
  EXPECT_EQ(refused.exit_code, 1) << refused.output;
  EXPECT_NE(refused.output.find("refused the connection"), std::string::npos) << refused.output;

  auto bad = testsupport::run_program({node, "--config", env.path("nothing.conf")}, 20000);
  EXPECT_EQ(bad.exit_code, 1);
  EXPECT_NE(bad.output.find("bad configuration: cannot read"), std::string::npos) << bad.output;
  auto usage = testsupport::run_program({node, "--frobnicate"}, 20000);
  EXPECT_EQ(usage.exit_code, 2);
  auto help = testsupport::run_program({node, "--help"}, 20000);
  EXPECT_EQ(help.exit_code, 0);
  EXPECT_NE(help.output.find("Usage: hbtmqtt --config FILE"), std::string::npos);

  // The right password: connected, and a clean stop.
  testsupport::ChildProcess accepted({node, "--config", settings("right")}, false);
  ASSERT_TRUE(accepted.wait_for_output("connected to", 15000)) << accepted.output();
  accepted.kill_now(SIGTERM);
  EXPECT_EQ(accepted.wait_exit(10000), 0) << accepted.output();
}

}  // namespace
}  // namespace hbt::mqtt

namespace hbt::mqtt {
namespace {

// A CA, and certificates it signs for the broker (localhost) and the node.
bool make_certificates(const testsupport::TestEnvironment& env, std::string& why) {
  const std::string openssl = testing::find_program("openssl");
  if (openssl.empty()) {
    why = "openssl is not installed";
    return false;
  }
  testsupport::write_file(env.path("san.ext"), "subjectAltName=DNS:localhost\n");
  const std::vector<std::vector<std::string>> steps = {
      {openssl, "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", env.path("ca.key"), "-out",
       env.path("ca.crt"), "-days", "2", "-subj", "/CN=hbt test CA"},
      {openssl, "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", env.path("other-ca.key"), "-out",
       env.path("other-ca.crt"), "-days", "2", "-subj", "/CN=someone else"},
      {openssl, "req", "-newkey", "rsa:2048", "-nodes", "-keyout", env.path("server.key"), "-out", env.path("server.csr"),
       "-subj", "/CN=localhost"},
      {openssl, "x509", "-req", "-in", env.path("server.csr"), "-CA", env.path("ca.crt"), "-CAkey", env.path("ca.key"),
       "-CAcreateserial", "-out", env.path("server.crt"), "-days", "2", "-extfile", env.path("san.ext")},
      {openssl, "req", "-newkey", "rsa:2048", "-nodes", "-keyout", env.path("edge.key"), "-out", env.path("edge.csr"),
       "-subj", "/CN=edge"},
      {openssl, "x509", "-req", "-in", env.path("edge.csr"), "-CA", env.path("ca.crt"), "-CAkey", env.path("ca.key"),
       "-CAcreateserial", "-out", env.path("edge.crt"), "-days", "2"},
  };
  for (const auto& step : steps) {
    auto r = testsupport::run_program(step, 60000, env.dir());
    if (r.exit_code != 0) {
      why = "openssl failed: " + r.output;
      return false;
    }
  }
  return true;
}

TEST_F(BrokerTest, TlsWithAClientCertificateAndABrokerOfAnotherCa) {
  std::string why;
  if (!make_certificates(env_, why)) GTEST_SKIP() << why;
  // A second listener of the same broker, TLS only, that wants a certificate from its clients.
  const uint16_t tls_port = testing::free_port();
  broker_->kill();
  broker_ = std::make_unique<Broker>(
      env_.dir(), std::vector<std::string>{"listener " + std::to_string(tls_port) + " 127.0.0.1", "cafile " + env_.path("ca.crt"),
                                           "certfile " + env_.path("server.crt"), "keyfile " + env_.path("server.key"),
                                           "require_certificate true"});
  ASSERT_TRUE(broker_->start(why)) << why;
  peer_ = std::make_unique<HostPeer>(env_.dir(), broker_->port());
  ASSERT_TRUE(peer_->ready()) << peer_->process().output();

  auto settings = [&](const std::string& ca) {
    std::ofstream out(env_.path("tls.conf"));
    out << "broker = mqtts://localhost:" << tls_port << "\ngroup_id = Plant\nedge_node_id = Secure\n"
        << "ca_file = " << ca << "\ncert_file = " << env_.path("edge.crt") << "\nkey_file = " << env_.path("edge.key")
        << "\nstore_forward_dir = " << env_.path("sf-tls") << "\npublish_interval_ms = 100\n";
    return env_.path("tls.conf");
  };
  const std::string node = std::string(HBT_BIN_DIR) + "/../tests/mqtt_scripted_node";
  auto wrong = testsupport::run_program({node, "--config", settings(env_.path("other-ca.crt"))}, 30000);
  EXPECT_EQ(wrong.exit_code, 1) << wrong.output;
  EXPECT_NE(wrong.output.find("TLS with localhost:" + std::to_string(tls_port) + " failed"), std::string::npos)
      << wrong.output;

  testsupport::ChildProcess secure({node, "--config", settings(env_.path("ca.crt"))}, false);
  EXPECT_TRUE(wait_topic("spBv1.0/Plant/DBIRTH/Secure/PLC2")) << secure.output() << broker_->log();
  secure.kill_now(SIGTERM);
  EXPECT_EQ(secure.wait_exit(10000), 0);
  EXPECT_TRUE(wait_topic("spBv1.0/Plant/NDEATH/Secure", 5000));
}

}  // namespace
}  // namespace hbt::mqtt
