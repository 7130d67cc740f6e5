#include <gtest/gtest.h>

#include "editor/channel.h"
#include "editor/device.h"
#include "editor/document.h"
#include "editor/scripted_port.h"
#include "testsupport/by_value.h"

namespace hbt::editor {
namespace {

using testsupport::by_value;

TEST(ChannelTest, ErrorHandlingRules) {
  CDrvSpecificChannel c;
  EXPECT_EQ(c.get_reply_timeout(), "1.0");
  EXPECT_EQ(c.get_delay(), "10.0");
  EXPECT_EQ(c.get_retries(), "3");
  EXPECT_EQ(c.set_reply_timeout("0.05").text,
            "Invalid Reply Timeout Value (Valid Range   0.10 - 1800.00)");
  EXPECT_TRUE(c.set_reply_timeout("0.1").ok());
  EXPECT_EQ(c.set_reply_timeout("1800.01").id, kMsgInvalidReplyTimeout);
  EXPECT_EQ(c.set_reply_timeout("").id, kMsgInvalidReplyTimeout);
  EXPECT_EQ(c.get_reply_timeout(), "0.1");
  EXPECT_TRUE(c.set_delay("0").ok());
  EXPECT_EQ(c.set_delay("3600.5").text, "Invalid Delay Value (Valid Range   0.00 - 3600.00)");
  EXPECT_TRUE(c.set_retries("9").ok());
  EXPECT_EQ(c.set_retries("10").text, "Invalid Retry Value (Valid Range 0 - 9)");
  EXPECT_EQ(c.set_retries("1.5").id, kMsgInvalidRetry);
  EXPECT_TRUE(c.set_retries("4", true).ok());
  EXPECT_EQ(c.get_retries(), "9");
  EXPECT_EQ(c.get_retries(true), "4") << "the backup flag selects the backup port's field";
}

TEST(ChannelTest, SerialSettingsAndAlarms) {
  CDrvSpecificChannel c;
  EXPECT_EQ(c.get_port(), "None");
  EXPECT_TRUE(c.set_port("COM25:").ok());
  EXPECT_EQ(c.settings(false).port_number, 2);
  EXPECT_EQ(c.get_port(), "COM2:");
  EXPECT_TRUE(c.set_port("LPT1").ok());
  EXPECT_EQ(c.settings(false).port_number, 0);
  c.settings(false).port_number = 41;
  EXPECT_EQ(c.get_port(), "NONE");
  EXPECT_TRUE(c.set_baud_rate("96").ok());
  EXPECT_EQ(c.get_baud_rate(), "9600");
  EXPECT_EQ(c.set_baud_rate("5").text, "Invalid BAUD RATE specified.");
  EXPECT_EQ(c.set_parity("Mark").text, "Invalid PARITY specified.");
  EXPECT_EQ(c.set_flow_control("RTS/CT").text, "Invalid FLOW CONTROL specified.");
  EXPECT_EQ(c.set_stop_bits("3").text, "Invalid STOP BITS specified.");
  EXPECT_EQ(c.set_data_bits("9").text, "Invalid DATA BITS specified.");
  EXPECT_EQ(c.get_display_alarms(), "Yes");
  EXPECT_TRUE(c.set_display_alarms("No").ok());
  EXPECT_EQ(c.display_alarms(), 0);
  EXPECT_EQ(c.set_display_alarms("maybe").text, "Invalid DISPLAY ALARM specified.");
}

TEST(ChannelTest, NetworkFields) {
  CDrvSpecificChannel c;
  EXPECT_EQ(c.get_ip_address(), "0.0.0.0");
  EXPECT_TRUE(c.set_ip_address("192.168.3.39").ok());
  EXPECT_EQ(c.ip_address(), 0xC0A80327u);
  EXPECT_EQ(c.get_ip_address(), "192.168.3.39");
  EXPECT_TRUE(c.set_ip_address("10..0.1").ok());  // an empty group is 0
  EXPECT_EQ(c.get_ip_address(), "10.0.0.1");
  for (const char* bad : {"256.0.0.1", "1.2.3.4.5", "1.2.3.0004", "a.b.c.d"}) {
    EXPECT_EQ(c.set_ip_address(bad).id, kMsgInvalidIpAddress) << bad;
  }
  EXPECT_EQ(c.get_ip_address(), "10.0.0.1");
  // Empty groups are 0, all four of them too.
  for (const char* empty : {"", " ", "..."}) {
    ASSERT_TRUE(c.set_ip_address("10.0.0.1").ok());
    EXPECT_TRUE(c.set_ip_address(empty).ok()) << '"' << empty << '"';
    EXPECT_EQ(c.get_ip_address(), "0.0.0.0");
  }
  EXPECT_EQ(c.get_ip_port(), "5000");
  EXPECT_EQ(c.set_ip_port("70000").id, kMsgInvalidIpPort);
  EXPECT_TRUE(c.set_ip_port("5001").ok());
  EXPECT_TRUE(c.set_ip_protocol("over TCP please").ok());
  EXPECT_EQ(c.get_ip_protocol(), "TCP");
  EXPECT_TRUE(c.set_ip_protocol("tcp").ok());
  EXPECT_EQ(c.get_ip_protocol(), "UDP");
}

TEST(ChannelTest, PacksTheSettingsBlocks) {
  CDrvSpecificChannel c;
  ASSERT_TRUE(c.set_reply_timeout("0.125").ok());
  ASSERT_TRUE(c.set_ip_address("192.168.3.39").ok());
  ASSERT_TRUE(c.set_port("COM12:", true).ok());
  image::ChannelRecord r;
  c.pack(&r);
  EXPECT_EQ(by_value(r.primary.reply_timeout), 13u);  // rounded
  EXPECT_EQ(by_value(r.primary.delay), 1000u);
  EXPECT_EQ(r.primary.port_low, 0xFF);
  EXPECT_EQ(r.primary.serial_codes[1], 0xF3) << "no port: 0xF in the high nibble, 8 bits = 3";
  EXPECT_EQ(r.stats.active_selector, 0xFF);
  EXPECT_EQ(r.backup.port_low, 11);
  EXPECT_EQ(r.backup.serial_codes[1], 0x03);
  EXPECT_EQ(r.primary.serial_codes[0], 14);
  EXPECT_EQ(r.ip_address >> 24, 192u);
  EXPECT_EQ(r.ip_address & 0xFF, 39u);
  EXPECT_EQ(r.display_alarms, 1);
  CDrvSpecificChannel back;
  back.unpack(r);
  EXPECT_FALSE(back.same_settings(c)) << "0.125 s comes back as 0.13 s";
  EXPECT_EQ(back.get_reply_timeout(), "0.1");
  EXPECT_FLOAT_EQ(back.settings(false).reply_timeout, 0.13f);
  EXPECT_EQ(back.get_ip_address(), "192.168.3.39");
  EXPECT_EQ(back.get_port(), "None");
  EXPECT_EQ(back.get_port(true), "COM12:");
}

TEST(DeviceTest, NameRules) {
  CDrvSpecificDevice d;
  EXPECT_EQ(d.set_name("PLC 1").text,
            "Device name must contain only alphanumeric characters or '-' ,'_'");
  EXPECT_EQ(d.set_name("plc1").id, kMsgDeviceNameCharacters);
  EXPECT_EQ(d.set_name("ABCDEFGHIJKL").text, "DEVICE NAME is more than the maximum length.");
  EXPECT_TRUE(d.set_name("ABCDEFGHIJK").ok());
  EXPECT_TRUE(d.set_name("PLC_1-A").ok());
  EXPECT_EQ(d.name(), "PLC_1-A");
  EXPECT_EQ(d.set_description(std::string(36, 'x')).text,
            "DEVICE DESCRIPTION is more than the maximum length.");
  EXPECT_TRUE(d.set_description(std::string(35, 'x')).ok());
}

TEST(DeviceTest, PlcAddressRules) {
  CDrvSpecificDevice d;
  EXPECT_EQ(d.get_pc_number(), "255");
  EXPECT_EQ(d.get_backup_plc(), "-");
  EXPECT_TRUE(d.set_pc_number("64").ok());
  EXPECT_TRUE(d.set_pc_number("255").ok());
  EXPECT_EQ(d.set_pc_number("65").text, "Invalid plc address, valid range 0 - 64 or 255");
  EXPECT_EQ(d.set_pc_number("1000").id, kMsgInvalidPlcAddress);
  EXPECT_EQ(d.set_pc_number("0255").id, kMsgInvalidPlcAddress) << "four characters";
  EXPECT_EQ(d.set_pc_number("1a").text, "Please enter a number.");
  EXPECT_EQ(d.pc_number(), 255);
  EXPECT_TRUE(d.set_pc_number("-").ok());
  EXPECT_EQ(d.pc_number(), 0xFFFF);
  EXPECT_TRUE(d.set_backup_plc("7").ok());
  EXPECT_TRUE(d.set_backup_plc(" ").ok());
  EXPECT_EQ(d.backup_plc(), 0xFFFF);
  EXPECT_EQ(d.get_cpu_type(), "Q Series");
  EXPECT_TRUE(d.set_cpu_type("AnU").ok());
  EXPECT_EQ(d.set_cpu_type("FX").text, "CPU TYPE specified is invalid.");
  EXPECT_EQ(d.get_cpu_type(), "AnU");
}

TEST(DocumentTest, ChannelSelectionAndDefaultDevices) {
  CDidDoc doc;
  doc.select_channel(3);
  ASSERT_EQ(doc.channels().size(), 3u);
  EXPECT_EQ(doc.current_channel(), doc.channels()[2].get());
  EXPECT_EQ(doc.current_channel()->channel_number(), 2);
  ASSERT_EQ(doc.current_channel()->devices().size(), 1u);
  EXPECT_EQ(doc.current_channel()->devices()[0]->name(), "M30");
  EXPECT_TRUE(doc.channels()[0]->devices().empty()) << "only the selected channel gets a device";
  EXPECT_EQ(doc.default_device_name(), "M31");
  EXPECT_EQ(doc.proposed_device_name(), "M31");
  doc.add_default_device();
  // A device renamed to the next default name makes the proposal empty.
  CDevice* first = doc.current_channel()->devices()[0].get();
  EXPECT_EQ(doc.rename_device(*first, "M32", true).ok(), true);
  EXPECT_EQ(doc.proposed_device_name(), "");
  EXPECT_EQ(doc.rename_device(*first, "M31", true).text, "Device Name Already Exists");
  EXPECT_EQ(doc.rename_device(*first, "M31", false).text, "Device Name already Exists");
  EXPECT_TRUE(doc.rename_device(*first, "M32", false).ok()) << "its own name is no clash";
  doc.select_channel(1);
  EXPECT_EQ(doc.current_channel()->devices()[0]->name(), "M10");
  EXPECT_EQ(doc.find_device("M31"), doc.channels()[2]->devices()[1].get());
  EXPECT_EQ(doc.find_device("m31"), nullptr);
  doc.delete_device(doc.find_device("M31"));
  EXPECT_EQ(doc.device_count(), 2u);
}

TEST(DocumentTest, DeletingADeviceAsksFirst) {
  CDidDoc doc;
  doc.select_channel(1);
  CDevice* device = doc.current_device();
  auto r = std::make_unique<CDrvSpecificIORec>();
  r->set_device(device);
  ASSERT_TRUE(r->set_start_address("D:0").ok());
  device->add_iorec(std::move(r));
  ScriptedPort ui;
  ui.script({Answer::No, Answer::Yes});
  EXPECT_FALSE(delete_device_asking(doc, device, ui));
  EXPECT_EQ(doc.device_count(), 1u);
  EXPECT_FALSE(doc.modified());
  EXPECT_TRUE(delete_device_asking(doc, device, ui));
  EXPECT_EQ(doc.device_count(), 0u);
  EXPECT_EQ(doc.current_device(), nullptr);
  EXPECT_TRUE(doc.modified());
  ASSERT_EQ(ui.boxes.size(), 2u);
  EXPECT_EQ(ui.boxes[0].text,
            "This will delete the Device and all associated Poll Records.\n\r\n\rDo You Wish to Continue?");
}

}  // namespace
}  // namespace hbt::editor
