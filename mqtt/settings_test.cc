#include "mqtt/settings.h"

#include <gtest/gtest.h>

#include <map>

#include "testsupport/test_environment.h"

namespace hbt::mqtt {
namespace {

const char* no_environment(const char*) { return nullptr; }

std::optional<Settings> parse(const std::string& text, std::string& error) {
  return parse_settings(text, "hbtmqtt.conf", error, no_environment);
}

const std::string kMinimal = "group_id = Plant\nedge_node_id = Line1\n";

TEST(Settings, MinimalFileTakesTheDefaults) {
  std::string error;
  auto s = parse(kMinimal, error);
  ASSERT_TRUE(s) << error;
  EXPECT_EQ(s->host, "localhost");
  EXPECT_EQ(s->port, 1883);
  EXPECT_FALSE(s->tls);
  EXPECT_EQ(s->client_id, "hbtmqtt-Plant-Line1");
  EXPECT_EQ(s->publish_interval_ms, 1000u);
  EXPECT_EQ(s->store_max_bytes, 64ull << 20);
  EXPECT_EQ(s->store_dir, "/var/tmp/hbtmqtt/Plant-Line1");
}

TEST(Settings, BrokerUrlsSetHostPortAndTls) {
  struct Case {
    std::string url, host;
    uint16_t port;
    bool tls;
  };
  for (const Case& c : {Case{"mqtt://broker.plant:1884", "broker.plant", 1884, false},
                        Case{"mqtts://broker.plant", "broker.plant", 8883, true},
                        Case{"tcp://10.0.0.5", "10.0.0.5", 1883, false},
                        Case{"[::1]:2000", "::1", 2000, false},
                        Case{"broker", "broker", 1883, false}}) {
    std::string error;
    std::string text = kMinimal + "broker = " + c.url + "\n";
    if (c.tls) text += "ca_file = /etc/ssl/certs/ca-certificates.crt\n";
    auto s = parse(text, error);
    ASSERT_TRUE(s) << c.url << ": " << error;
    EXPECT_EQ(s->host, c.host) << c.url;
    EXPECT_EQ(s->port, c.port) << c.url;
    EXPECT_EQ(s->tls, c.tls) << c.url;
  }
}

TEST(Settings, BadLinesAreNamedWithTheirLineNumber) {
  const std::map<std::string, std::string> cases = {
      {"group_id = Plant\nedge_node_id = Line1\nport = 70000\n", "hbtmqtt.conf:3: port"},
      {"group_id = Pl/ant\n", "hbtmqtt.conf:1: group_id"},
      {"group_id = Plant\nthis line has no equals sign\n", "hbtmqtt.conf:2: expected key = value"},
      {"group_id = Plant\nedge_node_id = L\nbrokr = x\n", "hbtmqtt.conf:3: unknown key \"brokr\""},
      {"group_id = Plant\nedge_node_id = L\nbroker = http://x\n", "hbtmqtt.conf:3: broker: unknown scheme"},
      {"group_id = Plant\nedge_node_id = L\npublish_interval_ms = 0\n", "hbtmqtt.conf:3: publish_interval_ms"},
      {"group_id = Plant\nedge_node_id = L\nstore_forward_max_bytes = 12Q\n", "store_forward_max_bytes"},
      {"group_id = Plant\nedge_node_id = L\ndeadband = -1\n", "deadband"},
      {"edge_node_id = L\n", "hbtmqtt.conf: group_id is missing"},
      {"group_id = Plant\n", "edge_node_id is missing"},
      {kMinimal + "password = secret\n", "a password needs a username"},
      {kMinimal + "cert_file = c.pem\nca_file = ca.pem\n", "cert_file and key_file go together"},
      {kMinimal + "broker = mqtts://b\n", "TLS needs ca_file"},
      {kMinimal + "broker = b\nport = 1\n", "either broker or host and port"},
      {kMinimal + "reconnect_min_ms = 5000\nreconnect_max_ms = 1000\n", "reconnect_min_ms is above"},
  };
  for (const auto& [text, expected] : cases) {
    std::string error;
    EXPECT_FALSE(parse(text, error)) << text;
    EXPECT_NE(error.find(expected), std::string::npos) << "got: " << error << "\nwanted: " << expected;
  }
}

TEST(Settings, CommentsBlanksSizesAndDeviceDeadbands) {
  std::string error;
  auto s = parse("# the line's edge node\n\n  group_id = Plant  \r\nedge_node_id=Line1\n"
                 "store_forward_max_bytes = 2M\ndeadband = 0.5\ndeadband.qplc1 = 2\n"
                 "primary_host_id = SCADA\nstore_forward_dir = /srv/sf\n",
                 error);
  ASSERT_TRUE(s) << error;
  EXPECT_EQ(s->group_id, "Plant");
  EXPECT_EQ(s->store_max_bytes, 2u << 20);
  EXPECT_DOUBLE_EQ(s->deadband, 0.5);
  EXPECT_DOUBLE_EQ(s->device_deadbands.at("QPLC1"), 2.0);
  EXPECT_EQ(s->primary_host_id, "SCADA");
  EXPECT_EQ(s->store_dir, "/srv/sf");
}

TEST(Settings, StoreFolderDefaultsUnderTheServiceStateDirectory) {
  std::string error;
  auto s = parse_settings(kMinimal, "f", error, [](const char* name) -> const char* {
    return std::string(name) == "STATE_DIRECTORY" ? "/var/lib/hbtmqtt:/var/lib/other" : nullptr;
  });
  ASSERT_TRUE(s) << error;
  EXPECT_EQ(s->store_dir, "/var/lib/hbtmqtt/Plant-Line1");
}

TEST(Settings, PasswordComesFromTheFirstLineOfItsFile) {
  testsupport::TestEnvironment env;
  ASSERT_TRUE(testsupport::write_file(env.path("pw"), "s3cret\r\nignored\n"));
  std::string error;
  auto s = parse(kMinimal + "username = edge\npassword_file = " + env.path("pw") + "\n", error);
  ASSERT_TRUE(s) << error;
  EXPECT_EQ(s->password, "s3cret");
  EXPECT_FALSE(parse(kMinimal + "username = edge\npassword_file = " + env.path("missing") + "\n", error));
  EXPECT_NE(error.find("password_file: cannot read"), std::string::npos) << error;
}

}  // namespace
}  // namespace hbt::mqtt
