#include "editor/csv.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "editor/config_file.h"
#include "editor/csv_fields.h"
#include "editor/scripted_port.h"
#include "editor/test_configs.h"

namespace hbt::editor {
namespace {

using testing::Collect;

class CsvTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ::setenv("TZ", "UTC", 1);
    ::tzset();
  }
  // 2024-06-13 15:04 UTC, a Thursday.
  static constexpr std::time_t kNow = 1718291040;
};

TEST_F(CsvTest, ExportWritesTheThreeSectionsExactly) {
  CDidDoc doc;
  testing::build_small_plant(doc);
  ASSERT_TRUE(static_cast<CDrvSpecificChannel*>(doc.channels()[0].get())->set_ip_address("127.0.0.1").ok());
  std::string text = export_csv_text(doc, ',', kNow);
  EXPECT_EQ(text,
            "[ HBTHBT  , Thursday June 13 2024, 03:04 PM ]\r\n"
            "!CHANNEL,DISPLAY ALARMS,,,,,,REPLY TIMEOUT,DELAY,RETRIES,,,,,,,,,,IP Address,IP Port,IP Protocol\r\n"
            "1,Yes,,,,,,1.0,10.0,3,,,,,,,,,,127.0.0.1,5000,UDP\r\n"
            "\r\n"
            "!DEVICE NAME,CHANNEL,DESCRIPTION,CPU,PROTOCOL,,,,,PRIMARY PLC ADDRESS,Network,Module\r\n"
            "PLC1,1,Line 1,Q Series,BINARY,,,,,255,0,0\r\n"
            "\r\n"
            "!IOREC,DEVICE NAME,DATA TYPE,POLL TIME,ACCESS TIME,EXCEPTION,DEAD BAND,START ADDRESS,LENGTH\r\n"
            "1,PLC1,Digital,1.0,Disabled,Digital,0.0,X:0,16\r\n"
            "2,PLC1,Digital,1.0,300.0,Disabled,0.0,M:9000,20\r\n"
            "3,PLC1,Unsigned,1.0,Disabled,Analog,0.0,D:100,10\r\n");
  // Side effects: numbering, but nothing marked modified; the empty device is not written.
  EXPECT_EQ(doc.channels()[0]->channel_number(), 1);
  EXPECT_EQ(doc.channels()[0]->devices()[0]->iorecs()[2]->record_number(), 3);
  EXPECT_FALSE(doc.modified());
  EXPECT_EQ(doc.device_count(), 2u);
}

// Document -> CSV -> document -> CSV gives the same text, and the same configuration file.
void expect_round_trip(char separator) {
  CDidDoc doc;
  testing::build_varied_plant(doc);
  std::string first = export_csv_text(doc, separator, 0);
  CDidDoc back;
  Collect errors;
  ImportSummary summary = import_csv_text(back, first, separator, errors);
  EXPECT_EQ(summary.errors, 0) << (errors.lines.empty() ? "" : errors.lines[0]);
  std::string second = export_csv_text(back, separator, 0);
  EXPECT_EQ(first, second);
  // The files agree too, except for the comms-alarm suppression, which has no CSV column.
  EXPECT_EQ(doc.channels()[1]->disable_comms_alarms(), 1);
  EXPECT_EQ(back.channels()[1]->disable_comms_alarms(), 0);
  doc.channels()[1]->set_disable_comms_alarms(0);
  std::vector<std::uint8_t> a, b;
  ASSERT_TRUE(pack_configuration(doc, 0, &a).ok());
  ASSERT_TRUE(pack_configuration(back, 0, &b).ok());
  ASSERT_EQ(a.size(), b.size());
  for (std::size_t i = 0; i < a.size(); ++i) ASSERT_EQ(a[i], b[i]) << "file offset " << i;
}

TEST_F(CsvTest, RoundTripWithComma) { expect_round_trip(','); }
TEST_F(CsvTest, RoundTripWithSemicolon) { expect_round_trip(';'); }

TEST_F(CsvTest, SemicolonIsUsedEverywhereAndQuotingFollowsTheSeparator) {
  CDidDoc doc;
  testing::build_varied_plant(doc);
  std::string text = export_csv_text(doc, ';', 0);
  EXPECT_NE(text.find("!CHANNEL;DISPLAY ALARMS;;;;;;REPLY TIMEOUT;DELAY;RETRIES;;;;;;;;;;IP Address;IP Port;IP Protocol\r\n"),
            std::string::npos);
  // The description holds a comma and quotes: with ';' only the quotes force quoting.
  EXPECT_NE(text.find("QPLC;1;\"Press, \"\"north\"\" hall\";Q Series"), std::string::npos);
  std::string commas = export_csv_text(doc, ',', 0);
  EXPECT_NE(commas.find("QPLC,1,\"Press, \"\"north\"\" hall\",Q Series"), std::string::npos);
  EXPECT_NE(commas.find("SUB-2_A,2,,AnN/AnS,BINARY,,,,,3,2,1"), std::string::npos);
  EXPECT_NE(commas.find(",EX:2:10,20\r\n"), std::string::npos);
  EXPECT_NE(commas.find(",W:1F0,4\r\n"), std::string::npos);
}

TEST(CsvFieldsTest, ReaderRules) {
  CsvFieldReader r("  a , \"b,\"\"c\"\"\"x,,\"unterminated", ',');
  EXPECT_EQ(r.next(), "a ");
  EXPECT_EQ(r.next(), "b,\"c\"x");
  EXPECT_EQ(r.next(), "");
  EXPECT_EQ(r.next(), "unterminated");
  EXPECT_EQ(r.next(), std::nullopt);
  CsvFieldReader trailing("1,Yes,\r\n", ',');
  EXPECT_EQ(trailing.next(), "1");
  EXPECT_EQ(trailing.next(), "Yes");
  EXPECT_EQ(trailing.next(), std::nullopt) << "a trailing separator gives no further field";
  EXPECT_EQ(quote_field("plain", ','), "plain");
  EXPECT_EQ(quote_field("a;b", ';'), "\"a;b\"");
  EXPECT_EQ(quote_field("say \"hi\"", ','), "\"say \"\"hi\"\"\"");
}

const char* kHeaders =
    "!CHANNEL,DISPLAY ALARMS,,,,,,REPLY TIMEOUT,DELAY,RETRIES,,,,,,,,,,IP Address,IP Port,IP Protocol\n";

TEST_F(CsvTest, ImportLineRules) {
  std::string text = std::string("[ comment before anything ]\n") +
                     "1,PLC0,this data line comes before any header\n" +  // line 2: ignored
                     "!device name,channel\n" +                         // line 3
                     "EARLY,1\n" +                                       // line 4: no channel 1 yet
                     kHeaders +                                          // line 5
                     "1,Yes,,,,,,1000,50,7,,,,,,,,,,10.0.0.1,5000,TCP\n" +  // line 6
                     "2,Maybe,,,,,,0.5,3,4\n" +                          // line 7: short line
                     "   \n" +                                           // line 8
                     "!DEVICE NAME\n" +                                  // line 9
                     "PLC1,1,First,AnU,ASCII,,,,,-1,3,4\n" +             // line 10
                     "PLC1,2\n" +                                        // line 11: duplicate
                     "plc2,2\n" +                                        // line 12: bad name
                     "PLC3,9\n" +                                        // line 13: no channel 9
                     "PLC4,2,,FX,SERIAL\n" +                             // line 14: unknown CPU, protocol
                     "\n" +                                              // line 15
                     "!Asp,whatever\n" +                                 // line 16
                     "anything at all\n" +                               // line 17: ignored
                     "!IOREC\n" +                                        // line 18
                     "1,PLC1,Unsigned,1.0,300.0,Disabled,0.0,X:0,20\n" +   // 19: ends Digital
                     "2,PLC1,Unsigned,1.0,300.0,Disabled,0.0,D:0,100\n" +  // 20
                     "3,PLC1,Unsigned,1.0,300.0,Disabled,0.0,D:50,10\n" +  // 21: overlaps 2
                     "4,NOBODY,Unsigned,1.0,300.0,Disabled,0.0,D:500,1\n" +  // 22
                     "5,PLC1,Unsigned,1.0,300.0,Disabled,0.0,D:600\n" +  // 23: no length
                     "6,PLC1,Unsigned,1.0,300.0,Disabled,0.0,D:600,\n" + // 24: length missing
                     "7,PLC1,Unsigned,1.0,300.0,Disabled,0.0,D:600,300\n" +  // 25: AnU limit 256
                     "8,PLC1,Float,-5,10,Analog,-1,D:700,7\n" +          // 26: kept, values refused
                     "9,PLC1,Unsigned,1.0,300.0,Disabled,0.0,Q:1,1\n" +  // 27
                     "\n";
  CDidDoc doc;
  Collect errors;
  ImportSummary summary = import_csv_text(doc, text, ',', errors);
  std::vector<std::string> expected = {
      "4: CHANNEL NUMBER not found. Line ignored!",
      "7: Invalid DISPLAY ALARM specified.",
      "11: Device Name already Exists",
      "12: Device name must contain only alphanumeric characters or '-' ,'_'",
      "13: CHANNEL NUMBER not found. Line ignored!",
      "14: CPU TYPE specified is invalid.",
      "14: PROTOCOL TYPE specified is invalid.",
      "19: Data Type must be Digital for this Memory Address",
      "21: Address already defined in Poll Record 2",
      "22: DEVICE NAME  not found. Line ignored!",
      "23: LENGTH not found. Line ignored!",
      "24: LENGTH not found. Line ignored!",
      "25: Invalid Length\n\r[Valid Range 1 - 256]",
      "26: Invalid Poll Time (Valid Range   0.00 - 86400.00)",
      "26: DEAD BAND specified is invalid.",
      "27: Invalid Register Type",
  };
  EXPECT_EQ(errors.lines, expected);
  EXPECT_EQ(summary.errors, static_cast<int>(expected.size()));
  EXPECT_EQ(summary.lines, 28);
  ASSERT_EQ(doc.channels().size(), 2u);
  auto* c1 = doc.channels()[0].get();
  // A reply timeout above 900 resets the error handling, whatever columns 9 and 10 say.
  EXPECT_EQ(c1->get_reply_timeout(), "1.0");
  EXPECT_EQ(c1->get_delay(), "10.0");
  EXPECT_EQ(c1->get_retries(), "2");
  EXPECT_EQ(c1->get_ip_address(), "10.0.0.1");
  EXPECT_EQ(c1->get_ip_protocol(), "TCP");
  auto* c2 = doc.channels()[1].get();
  EXPECT_EQ(c2->get_reply_timeout(), "0.5");
  EXPECT_EQ(c2->get_retries(), "4");
  EXPECT_EQ(c2->get_ip_port(), "5000") << "a short channel line keeps its defaults";
  auto* plc1 = static_cast<CDrvSpecificDevice*>(doc.find_device("PLC1"));
  ASSERT_NE(plc1, nullptr);
  EXPECT_EQ(plc1->get_cpu_type(), "AnU");
  EXPECT_EQ(plc1->get_protocol_type(), "ASCII");
  EXPECT_EQ(plc1->pc_number(), 0xFFFF);
  EXPECT_EQ(plc1->network_number(), 3);
  auto* plc4 = static_cast<CDrvSpecificDevice*>(doc.find_device("PLC4"));
  ASSERT_NE(plc4, nullptr);
  EXPECT_EQ(plc4->get_cpu_type(), "Q Series") << "an unknown CPU keeps the default";
  ASSERT_EQ(plc1->iorecs().size(), 3u);
  auto* bits = static_cast<CDrvSpecificIORec*>(plc1->iorecs()[0].get());
  EXPECT_EQ(bits->get_data_type(), "Digital");
  EXPECT_EQ(bits->length(), 32);
  auto* floats = static_cast<CDrvSpecificIORec*>(plc1->iorecs()[2].get());
  EXPECT_EQ(floats->get_data_type(), "Float");
  EXPECT_EQ(floats->length(), 6);
  EXPECT_EQ(floats->get_poll_time(), "1.0");
  // Access time is set before the exception type, so a number is kept here.
  EXPECT_EQ(floats->get_access_time(), "10.0");
  EXPECT_EQ(floats->get_exception_type(), "Analog");
}

TEST_F(CsvTest, AByteOrderMarkDoesNotHideTheFirstHeader) {
  std::string text = "\xEF\xBB\xBF" + std::string(kHeaders) + "1,Yes\n";
  CDidDoc doc;
  Collect errors;
  import_csv_text(doc, text, ',', errors);
  EXPECT_EQ(doc.channels().size(), 1u);
  EXPECT_TRUE(errors.lines.empty());
}

TEST_F(CsvTest, OverlongLinesAreRefusedWhole) {
  std::string text = std::string(kHeaders) + "1,Yes\n!DEVICE NAME\nPLC1,1," + std::string(1100, 'x') + "\nPLC2,1\n";
  CDidDoc doc;
  Collect errors;
  import_csv_text(doc, text, ',', errors);
  ASSERT_EQ(errors.lines.size(), 1u);
  EXPECT_EQ(errors.lines[0], "4: Line is longer than 1023 characters. Line ignored!");
  EXPECT_EQ(doc.find_device("PLC1"), nullptr);
  EXPECT_NE(doc.find_device("PLC2"), nullptr) << "the next line keeps its own number and meaning";
}

class CsvFileTest : public CsvTest {
 protected:
  void SetUp() override {
    dir = std::filesystem::temp_directory_path() / ("hbt_csv_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
  }
  void TearDown() override { std::filesystem::remove_all(dir); }
  std::string slurp(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  std::filesystem::path dir;
};

TEST_F(CsvFileTest, ImportWritesTheErrorFileAndReportsTheCount) {
  std::string text = std::string(kHeaders) + "1,Yes\n!DEVICE NAME\nPLC1,1\nPLC1,1\n,7\n";
  std::ofstream((dir / "in.csv").string(), std::ios::binary) << text;
  std::ofstream((dir / "HBTDIDW.ERR").string()) << "stale line from an earlier import\n";
  CDidDoc doc;
  ScriptedPort ui;
  std::string error_file = error_file_path(dir.string());
  ImportResult result = import_csv(doc, (dir / "in.csv").string(), ui, ',', error_file);
  ASSERT_TRUE(result.opened);
  EXPECT_EQ(result.summary.errors, 2);
  EXPECT_EQ(slurp(dir / "HBTDIDW.ERR"),
            "Line Number   5 : Device Name already Exists\r\n"
            "Line Number   6 : DEVICE NAME  not found. Line ignored!\r\n");
  ASSERT_EQ(ui.boxes.size(), 1u);
  EXPECT_EQ(ui.boxes[0].text, "2 Errors detected during import. Errors reported to file " + error_file);
  EXPECT_TRUE(doc.modified());
  EXPECT_EQ(doc.title(), "Untitled");
  EXPECT_EQ(doc.path(), "");
}

TEST_F(CsvFileTest, AnErrorFileThatCannotBeWrittenIsReported) {
  std::string text = std::string(kHeaders) + "1,Yes\n!DEVICE NAME\nPLC1,9\n";
  std::ofstream((dir / "in.csv").string(), std::ios::binary) << text;
  CDidDoc doc;
  ScriptedPort ui;
  ImportResult result =
      import_csv(doc, (dir / "in.csv").string(), ui, ',', (dir / "no/such/HBTDIDW.ERR").string());
  EXPECT_EQ(result.summary.errors, 1) << "the refusal still counts";
  EXPECT_TRUE(result.error_file_failed);
  ASSERT_EQ(ui.boxes.size(), 2u);
  EXPECT_NE(ui.boxes[1].text.find("could not be written"), std::string::npos);
}

TEST_F(CsvFileTest, ExportReplacesTheFileOrSaysWhy) {
  CDidDoc doc;
  ScriptedPort ui;
  EXPECT_EQ(export_csv(doc, (dir / "empty.csv").string(), ui, ',', kNow), ExportResult::NothingToWrite);
  EXPECT_FALSE(std::filesystem::exists(dir / "empty.csv"));
  testing::build_small_plant(doc);
  EXPECT_EQ(export_csv(doc, (dir / "out.csv").string(), ui, ',', kNow), ExportResult::Written);
  EXPECT_EQ(slurp(dir / "out.csv"), export_csv_text(doc, ',', kNow));
  EXPECT_EQ(export_csv(doc, (dir / "no/out.csv").string(), ui, ',', kNow), ExportResult::Failed);
  ASSERT_EQ(ui.boxes.size(), 1u);
  EXPECT_EQ(ui.boxes[0].text.rfind("Save Failed. ", 0), 0u);
}

}  // namespace
}  // namespace hbt::editor
