// hbtio stats --prometheus on a polling driver: the counters hbtio stats shows, in a text an
// independent reader of the format accepts (promtool when installed, else the Prometheus
// client library's parser from Debian's python3-prometheus-client).
#include <gtest/gtest.h>

#include <unistd.h>

#include <fstream>
#include <map>
#include <sstream>

#include "testsupport/child_process.h"
#include "testsupport/mcsim_peer.h"

namespace hbt::hbtio {
namespace {

using testsupport::McsimPeer;
using testsupport::PollerProcess;
using testsupport::run_program;

const std::string kHbtio = std::string(HBT_BIN_DIR) + "/hbtio";

// Sample lines "name{channel="N"} value" by name and channel.
std::map<std::string, std::map<int, long>> samples(const std::string& text) {
  std::map<std::string, std::map<int, long>> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (line.empty() || line[0] == '#') continue;
    const std::size_t brace = line.find("{channel=\"");
    if (brace == std::string::npos) continue;
    const int channel = std::stoi(line.substr(brace + 10));
    out[line.substr(0, brace)][channel] = std::stol(line.substr(line.rfind(' ') + 1));
  }
  return out;
}

long json_number(const std::string& line, const std::string& key) {
  const std::size_t at = line.find("\"" + key + "\":");
  return at == std::string::npos ? -1 : std::stol(line.substr(at + key.size() + 3));
}

bool on_path(const std::string& program) {
  return run_program({"/bin/sh", "-c", "command -v " + program}).exit_code == 0;
}

TEST(PrometheusStats, TheChannelCountersInTheTextFormat) {
  testsupport::TestEnvironment env;
  McsimPeer plc(env.dir(), {"udp:0:3e-binary", "tcp:0:1e-binary"});
  ASSERT_TRUE(plc.ready());
  testsupport::ConfigSpec plan;
  plan.channels.clear();
  for (int c = 0; c < 2; ++c) {
    testsupport::ChannelSpec ch;
    ch.ip_port = plc.port(static_cast<std::size_t>(c));
    ch.tcp = c == 1;
    ch.devices[0].name = "P" + std::to_string(c + 1);
    ch.devices[0].cpu = c == 0 ? image::CpuType::QSeries : image::CpuType::AnA;
    ch.devices[0].records[0].poll_time = 5;
    plan.channels.push_back(ch);
  }
  PollerProcess poller(env, plan);
  ASSERT_TRUE(poller.mapped());
  ASSERT_TRUE(poller.eventually(
      [&] { return poller.channel(0).stats.replies_received > 3 && poller.channel(1).stats.replies_received > 3; }, 10000));

  const auto prom = run_program({kHbtio, "stats", "--prometheus"});
  const auto json = run_program({kHbtio, "--json", "stats"});
  ASSERT_EQ(prom.exit_code, 0) << prom.output;
  ASSERT_EQ(json.exit_code, 0) << json.output;
  const auto values = samples(prom.output);
  EXPECT_EQ(values.at("hbt_channel_in_service").at(1), 1);
  EXPECT_EQ(values.at("hbt_channel_in_service").at(2), 1);
  // The same counters hbtio stats shows; the poller goes on counting between the two calls.
  std::istringstream lines(json.output);
  int channel = 0;
  for (std::string line; std::getline(lines, line);) {
    if (!line.starts_with("{")) continue;
    ++channel;
    ASSERT_EQ(json_number(line, "channel"), channel);
    for (const char* key : {"requests_sent", "replies_received"}) {
      const long before = values.at(std::string("hbt_") + key + "_total").at(channel);
      const long after = json_number(line, key);
      EXPECT_GT(before, 3) << key;
      EXPECT_GE(after, before) << key;
      EXPECT_LT(after - before, 2000) << key;
    }
    EXPECT_EQ(values.at("hbt_reply_timeouts_total").at(channel), json_number(line, "reply_timeouts"));
  }
  EXPECT_EQ(channel, 2);

  // Options that do not go together, and no driver: nothing on standard output that a
  // collector could take for metrics.
  EXPECT_EQ(run_program({kHbtio, "--json", "stats", "--prometheus"}).exit_code, 2);
  {
    testsupport::TestEnvironment elsewhere;
    const auto none = run_program({kHbtio, "stats", "--prometheus"});
    EXPECT_EQ(none.exit_code, 1);
    EXPECT_EQ(none.output.find("# HELP"), std::string::npos) << none.output;
  }

  const std::string file = env.path("hbt.prom");
  std::ofstream(file) << prom.output;
  if (on_path("promtool")) {
    const auto check = run_program({"/bin/sh", "-c", "promtool check metrics < '" + file + "'"});
    EXPECT_EQ(check.exit_code, 0) << check.output;
    EXPECT_EQ(check.output.find("error"), std::string::npos) << check.output;
    return;
  }
  // The Prometheus client library's own parser of the text format, strict about each line.
  const char* python = "/usr/bin/python3";
  if (run_program({python, "-c", "import prometheus_client.parser"}).exit_code != 0)
    GTEST_SKIP() << "neither promtool nor python3-prometheus-client is installed (scripts/install-deps.sh)";
  const std::string script =
      "import sys\n"
      "from prometheus_client.parser import text_string_to_metric_families\n"
      "families = list(text_string_to_metric_families(open(sys.argv[1]).read()))\n"
      "kinds = {f.name: f.type for f in families}\n"
      "assert kinds['hbt_requests_sent'] == 'counter', kinds\n"
      "assert kinds['hbt_channel_in_service'] == 'gauge', kinds\n"
      "for f in families:\n"
      "    assert f.documentation, f.name\n"
      "    assert sorted(s.labels['channel'] for s in f.samples) == ['1', '2'], f\n"
      "print(len(families), 'families', sum(len(f.samples) for f in families), 'samples')\n";
  const auto check = run_program({python, "-c", script, file});
  EXPECT_EQ(check.exit_code, 0) << check.output << prom.output;
  EXPECT_NE(check.output.find("11 families 22 samples"), std::string::npos) << check.output;
}

}  // namespace
}  // namespace hbt::hbtio
