#include "tools/hbtio/prometheus_text.h"

#include <gtest/gtest.h>

#include <sstream>

namespace hbt::hbtio {
namespace {

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

TEST(PrometheusText, EveryFamilyHasItsHelpAndTypeThenOneSamplePerChannel) {
  ChannelSample one{1, true, {}};
  one.stats.requests_sent = 65535;  // the poller's counters are 16 bits wide
  one.stats.reply_timeouts = 7;
  one.stats.last_abnormal_code = 0x58;
  ChannelSample three{3, false, {}};
  three.stats.requests_sent = 12;
  const std::string text = prometheus_text({one, three});
  ASSERT_FALSE(text.empty());
  EXPECT_EQ(text.back(), '\n') << "a textfile collector wants the last line ended";
  const std::vector<std::string> lines = lines_of(text);
  ASSERT_EQ(lines.size() % 4, 0u) << "HELP, TYPE and two samples per family";
  int counters = 0;
  for (std::size_t i = 0; i < lines.size(); i += 4) {
    SCOPED_TRACE(lines[i]);
    ASSERT_TRUE(lines[i].starts_with("# HELP hbt_"));
    const std::string name = lines[i].substr(7, lines[i].find(' ', 7) - 7);
    const std::string type = lines[i + 1].substr(lines[i + 1].rfind(' ') + 1);
    EXPECT_EQ(lines[i + 1], "# TYPE " + name + " " + type);
    EXPECT_TRUE(type == "counter" || type == "gauge");
    // Counters are named as counters, gauges are not.
    EXPECT_EQ(type == "counter", name.ends_with("_total"));
    counters += type == "counter";
    EXPECT_TRUE(lines[i + 2].starts_with(name + "{channel=\"1\"} "));
    EXPECT_TRUE(lines[i + 3].starts_with(name + "{channel=\"3\"} "));
  }
  EXPECT_EQ(counters, 8);
  auto has = [&](const std::string& line) { return std::find(lines.begin(), lines.end(), line) != lines.end(); };
  EXPECT_TRUE(has("hbt_requests_sent_total{channel=\"1\"} 65535"));
  EXPECT_TRUE(has("hbt_requests_sent_total{channel=\"3\"} 12"));
  EXPECT_TRUE(has("hbt_reply_timeouts_total{channel=\"1\"} 7"));
  EXPECT_TRUE(has("hbt_last_abnormal_code{channel=\"1\"} 88"));
  EXPECT_TRUE(has("hbt_channel_in_service{channel=\"1\"} 1"));
  EXPECT_TRUE(has("hbt_channel_in_service{channel=\"3\"} 0"));
}

TEST(PrometheusText, NoChannelsNoFamilies) { EXPECT_EQ(prometheus_text({}), ""); }

}  // namespace
}  // namespace hbt::hbtio
