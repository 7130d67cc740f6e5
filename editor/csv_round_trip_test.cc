// Export, import, export again over many random configurations and every separator a
// user's list setting may give: nothing may be lost, shifted or changed on the way.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "editor/config_file.h"
#include "editor/csv.h"
#include "editor/csv_fields.h"
#include "editor/test_configs.h"

namespace hbt::editor {
namespace {

using testing::Collect;

class RandomPlant {
 public:
  explicit RandomPlant(std::uint32_t seed) : random_(seed) {}

  void build(CDidDoc& doc) {
    int channels = between(1, 4);
    for (int c = 1; c <= channels; ++c) {
      doc.select_channel(c);
      CDrvSpecificChannel* channel = doc.current_channel();
      fill_channel(channel);
      int devices = between(0, 3);
      for (int d = 0; d < devices; ++d) {
        auto* device = d == 0 ? doc.current_device() : doc.add_default_device();
        fill_device(doc, device);
        int records = between(0, 6);
        for (int r = 0; r < records; ++r) add_record(device);
      }
    }
  }

 private:
  int between(int low, int high) { return std::uniform_int_distribution<int>(low, high)(random_); }
  bool coin() { return between(0, 1) == 1; }
  // Times and dead bands print with one decimal, so only such values survive a text file.
  std::string tenths(int low, int high) {
    int value = between(low * 10, high * 10);
    return std::to_string(value / 10) + "." + std::to_string(value % 10);
  }
  std::string pick(const std::vector<std::string>& options) {
    return options[static_cast<std::size_t>(between(0, static_cast<int>(options.size()) - 1))];
  }

  void fill_channel(CDrvSpecificChannel* channel) {
    std::string ip = std::to_string(between(0, 255)) + "." + std::to_string(between(0, 255)) + "." +
                     std::to_string(between(0, 255)) + "." + std::to_string(between(0, 255));
    ASSERT_TRUE(channel->set_ip_address(coin() ? ip : "").ok()) << ip;
    ASSERT_TRUE(channel->set_ip_port(std::to_string(between(1, 65535))).ok());
    ASSERT_TRUE(channel->set_ip_protocol(coin() ? "TCP" : "UDP").ok());
    ASSERT_TRUE(channel->set_reply_timeout(tenths(1, 900)).ok());
    ASSERT_TRUE(channel->set_delay(tenths(0, 3600)).ok());
    ASSERT_TRUE(channel->set_retries(std::to_string(between(0, 9))).ok());
    ASSERT_TRUE(channel->set_display_alarms(coin() ? "Yes" : "No").ok());
  }

  void fill_device(CDidDoc& doc, CDrvSpecificDevice* device) {
    static const std::string kNameCharacters = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_-";
    std::string name;
    do {
      name.clear();
      for (int i = between(1, 11); i > 0; --i) name += kNameCharacters[static_cast<std::size_t>(between(0, 37))];
    } while (doc.device_name_exists(name, device));
    ASSERT_TRUE(device->set_name(name).ok());
    // Any printable text, blanks, quotes and every separator included.
    std::string description;
    for (int i = between(0, 35); i > 0; --i) {
      description += coin() ? static_cast<char>(between(32, 126)) : pick({" ", "\t", "\"", ",", ";", "|"})[0];
    }
    ASSERT_TRUE(device->set_description(description).ok());
    ASSERT_TRUE(device->set_cpu_type(pick({"AnN/AnS", "AnAS", "AnA", "AnU", "Q Series"})).ok());
    ASSERT_TRUE(device->set_protocol_type(coin() ? "ASCII" : "BINARY").ok());
    ASSERT_TRUE(device->set_pc_number(coin() ? "255" : std::to_string(between(0, 64))).ok());
    ASSERT_TRUE(device->set_network_number(std::to_string(between(0, 239))).ok());
    ASSERT_TRUE(device->set_module_number(std::to_string(between(0, 3))).ok());
  }

  // A record through the dialog's setters; whatever a rule refuses is simply not added.
  void add_record(CDevice* device) {
    auto r = std::make_unique<CDrvSpecificIORec>();
    r->set_device(device);
    std::string start = pick({"X:", "Y:", "B:", "W:"});
    char hex[16];
    std::snprintf(hex, sizeof hex, "%X", between(0, 0x7FF0));
    start += hex;
    if (coin()) {
      start = pick({"L:", "M:", "F:", "TC:", "TS:", "TN:", "CC:", "CS:", "CN:", "D:", "R:"}) +
              std::to_string(between(0, 900));
    }
    if (between(0, 9) == 0) start = "EX:" + std::to_string(between(0, 255)) + ":" + std::to_string(between(0, 9000));
    if (between(0, 9) == 0) start = "M:" + std::to_string(between(9000, 9200));
    if (!r->set_start_address(start).ok()) return;
    if (!r->set_length(std::to_string(between(1, 300))).ok()) return;
    r->set_data_type(pick({"Unsigned", "Signed", "Float", "Long Signed", "Long Unsigned", "ASCII", "Digital"}));
    r->set_poll_time(between(0, 5) == 0 ? "Disabled" : tenths(0, 86400));
    std::string exception = pick({"Disabled", "Analog", "Digital", "ASCII"});
    r->set_access_time(exception != "Disabled" || coin() ? "Disabled" : tenths(0, 172800));
    r->set_exception_type(exception);
    // Dead bands up to the largest single-precision value.
    r->set_deadband(coin() ? tenths(0, 1000) : std::to_string(std::ldexp(1.0, between(0, 127))));
    device->add_iorec(std::move(r));  // the address setters refused any overlap already
  }

  std::mt19937 random_;
};

std::string separator_name(char c) { return c == '\t' ? "tab" : c == ' ' ? "blank" : std::string(1, c); }

TEST(CsvRoundTrip, RandomConfigurationsWithEverySeparator) {
  std::vector<char> separators;
  for (int c = 0; c < 128; ++c) {
    if (is_usable_separator(static_cast<char>(c))) separators.push_back(static_cast<char>(c));
  }
  ASSERT_GE(separators.size(), 20u);
  std::uint32_t seed = 1;
  for (int run = 0; run < 60; ++run) {
    for (char separator : separators) {
      CDidDoc doc;
      RandomPlant(seed++).build(doc);
      std::string first = export_csv_text(doc, separator, 0);
      CDidDoc back;
      Collect errors;
      import_csv_text(back, first, separator, errors);
      ASSERT_TRUE(errors.lines.empty()) << "separator " << separator_name(separator) << ", seed " << seed - 1
                                        << ": " << errors.lines[0] << "\n" << first;
      std::string second = export_csv_text(back, separator, 0);
      ASSERT_EQ(second, first) << "separator " << separator_name(separator) << ", seed " << seed - 1;
      std::vector<std::uint8_t> a, b;
      ASSERT_TRUE(pack_configuration(doc, 0, &a).ok());
      ASSERT_TRUE(pack_configuration(back, 0, &b).ok());
      ASSERT_EQ(a, b) << "separator " << separator_name(separator) << ", seed " << seed - 1;
    }
  }
}

// What a tab-separated export looked like after import before: empty columns swallowed,
// so that the address columns fell off the end and the defaults stayed.
TEST(CsvRoundTrip, TabAndBlankSeparatorsKeepEmptyColumns) {
  for (char separator : {'\t', ' '}) {
    CDidDoc doc;
    doc.select_channel(1);
    ASSERT_TRUE(doc.current_channel()->set_ip_address("127.0.0.1").ok());
    ASSERT_TRUE(doc.current_channel()->set_ip_port("5001").ok());
    ASSERT_TRUE(doc.current_device()->set_name("PLC1").ok());
    ASSERT_TRUE(doc.current_device()->set_description("  two leading blanks").ok());
    auto r = std::make_unique<CDrvSpecificIORec>();
    r->set_device(doc.current_device());
    ASSERT_TRUE(r->set_start_address("D:100").ok());
    doc.current_device()->add_iorec(std::move(r));
    std::string text = export_csv_text(doc, separator, 0);
    CDidDoc back;
    Collect errors;
    import_csv_text(back, text, separator, errors);
    EXPECT_TRUE(errors.lines.empty()) << separator_name(separator);
    ASSERT_EQ(back.channels().size(), 1u);
    EXPECT_EQ(back.channels()[0]->get_ip_address(), "127.0.0.1") << separator_name(separator);
    EXPECT_EQ(back.channels()[0]->get_ip_port(), "5001");
    ASSERT_NE(back.find_device("PLC1"), nullptr);
    EXPECT_EQ(back.find_device("PLC1")->description(), "  two leading blanks");
  }
}

TEST(CsvRoundTrip, NumbersBeyondSinglePrecisionAreRefusedWhenRead) {
  std::string text =
      "!CHANNEL\n1,Yes\n!DEVICE NAME\nPLC1,1\n!IOREC\n"
      "1,PLC1,Unsigned,1.0,300.0,Disabled,1e39,D:0,1\n"
      "2,PLC1,Unsigned,1.0,300.0,Disabled,340282346638528859811704183484516925440.0,D:10,1\n";
  CDidDoc doc;
  Collect errors;
  import_csv_text(doc, text, ',', errors);
  ASSERT_EQ(errors.lines, std::vector<std::string>{"6: DEAD BAND specified is invalid."});
  CDevice* plc = doc.find_device("PLC1");
  ASSERT_NE(plc, nullptr);
  ASSERT_EQ(plc->iorecs().size(), 2u);
  EXPECT_EQ(plc->iorecs()[0]->get_deadband(), "0.0") << "the refused value keeps the default";
  EXPECT_EQ(plc->iorecs()[1]->get_deadband(), "340282346638528859811704183484516925440.0");
  // And the largest value goes out and comes back as it was.
  Collect again;
  CDidDoc back;
  import_csv_text(back, export_csv_text(doc, ',', 0), ',', again);
  EXPECT_TRUE(again.lines.empty());
}

}  // namespace
}  // namespace hbt::editor
