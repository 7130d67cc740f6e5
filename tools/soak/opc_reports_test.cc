// The client's printed lines read back as reports, however the pipe cuts them.
#include "tools/soak/opc_reports.h"

#include <gtest/gtest.h>

#include <random>

namespace hbt::soak {
namespace {

const char* kOutput =
    R"({"event":"data","transaction":0,"received_ms":1500.125,"item":"C1:D:300","value":17,"type":"VT_R4","quality":192,"quality_name":"good","result":"0x00000000","error":"Operation Successful"})"
    "\n"
    R"({"event":"keepalive","transaction":0,"received_ms":1600.000})"
    "\n"
    R"({"event":"data","transaction":0,"received_ms":1700.5,"item":"C0:D:100","value":3.5,"type":"VT_R4","quality":24,"quality_name":"bad","result":"0x00000000","error":"Operation Successful"})"
    "\n"
    R"({"event":"data","transaction":0,"received_ms":1800,"item":"C0:D:100","value":null,"type":"VT_EMPTY","quality":192,"quality_name":"good","result":"0x00000000","error":""})"
    "\n"
    R"({"event":"refused","item":"C9:D:1","result":"0xC0040007","error":"unknown"})"
    "\n"
    R"({"event":"data","received_ms":1900,"item":"C5:D:1","value":1,"quality":192,"result":"0x00000000"})"
    "\n"
    "hbtopc: cannot connect\n";

TEST(SoakOpcReports, ReadsDataLinesAndKeepsEverythingElseAsAProblem) {
  OpcReportReader reader({"C0:D:100", "C1:D:300"});
  std::vector<OpcReport> reports;
  reader.feed(kOutput, &reports);
  ASSERT_EQ(reports.size(), 3u);
  EXPECT_EQ(reports[0].item, 1);
  EXPECT_DOUBLE_EQ(reports[0].received_ms, 1500.125);
  EXPECT_TRUE(reports[0].good());
  EXPECT_TRUE(reports[0].register_value);
  EXPECT_EQ(reports[0].value, 17);
  // A fraction, a bad quality, an empty value: no register value, and the quality as sent.
  EXPECT_EQ(reports[1].item, 0);
  EXPECT_FALSE(reports[1].good());
  EXPECT_FALSE(reports[1].register_value);
  EXPECT_EQ(reports[1].value_text, "3.5");
  EXPECT_TRUE(reports[2].good());
  EXPECT_FALSE(reports[2].register_value);
  // The refused item, a report for an item never subscribed to and the client's complaint.
  ASSERT_EQ(reader.problems().size(), 3u);
  EXPECT_NE(reader.problems()[0].find("refused"), std::string::npos);
  EXPECT_NE(reader.problems()[1].find("not subscribed"), std::string::npos);
  EXPECT_NE(reader.problems()[2].find("cannot connect"), std::string::npos);
}

TEST(SoakOpcReports, AnyCutOfTheOutputGivesTheSameReports) {
  OpcReportReader whole({"C0:D:100", "C1:D:300"});
  std::vector<OpcReport> expected;
  whole.feed(kOutput, &expected);
  const std::string text = kOutput;
  std::mt19937 rng(11);
  for (int run = 0; run < 200; ++run) {
    OpcReportReader reader({"C0:D:100", "C1:D:300"});
    std::vector<OpcReport> got;
    for (std::size_t at = 0; at < text.size();) {
      const std::size_t n = std::min<std::size_t>(rng() % 60, text.size() - at);
      reader.feed(text.substr(at, n), &got);
      at += n;
    }
    ASSERT_EQ(got.size(), expected.size());
    for (std::size_t k = 0; k < got.size(); ++k) {
      EXPECT_EQ(got[k].item, expected[k].item);
      EXPECT_EQ(got[k].received_ms, expected[k].received_ms);
      EXPECT_EQ(got[k].value_text, expected[k].value_text);
    }
    EXPECT_EQ(reader.problems(), whole.problems());
  }
}

}  // namespace
}  // namespace hbt::soak
