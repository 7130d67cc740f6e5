// Documents built in code for the editor's tests.
#include "editor/test_configs.h"

#include <gtest/gtest.h>

namespace hbt::editor::testing {

CDrvSpecificIORec* add_record(CDevice* device, std::string_view start, std::string_view length,
                              std::string_view data_type, std::string_view exception) {
  auto r = std::make_unique<CDrvSpecificIORec>();
  r->set_device(device);
  EXPECT_TRUE(r->set_start_address(start).ok()) << start;
  EXPECT_TRUE(r->set_length(length).ok()) << start << " x" << length;
  if (!exception.empty()) {
    EXPECT_TRUE(r->set_access_time("Disabled").ok());
    EXPECT_TRUE(r->set_exception_type(exception).ok()) << exception;
  }
  if (!data_type.empty()) {
    EXPECT_TRUE(r->set_data_type(data_type).ok()) << data_type;
  }
  return static_cast<CDrvSpecificIORec*>(device->add_iorec(std::move(r)));
}

void build_small_plant(CDidDoc& doc) {
  doc.select_channel(1);
  CDevice* plc = doc.current_device();
  ASSERT_TRUE(plc->set_name("PLC1").ok());
  ASSERT_TRUE(plc->set_description("Line 1").ok());
  add_record(plc, "X:0", "16", {}, "Digital");
  add_record(plc, "M:9000", "20");
  add_record(plc, "D:100", "10", {}, "Analog");
  CDevice* empty = doc.add_default_device();
  ASSERT_TRUE(empty->set_name("EMPTY").ok());
}

void build_varied_plant(CDidDoc& doc) {
  doc.select_channel(1);
  CDrvSpecificChannel* c1 = doc.current_channel();
  ASSERT_TRUE(c1->set_ip_address("127.0.0.1").ok());
  ASSERT_TRUE(c1->set_reply_timeout("2.5").ok());
  ASSERT_TRUE(c1->set_retries("5").ok());
  auto* q = doc.current_device();
  ASSERT_TRUE(q->set_name("QPLC").ok());
  ASSERT_TRUE(q->set_description("Press, \"north\" hall").ok());
  add_record(q, "D:0", "100");
  add_record(q, "D:100", "8", "Float", "Analog");
  add_record(q, "W:1F0", "4", "Long Signed");
  add_record(q, "R:0", "12", "ASCII", "ASCII");
  add_record(q, "EX:2:10", "20", "Signed");
  add_record(q, "M:9000", "7");
  add_record(q, "Y:100", "64", {}, "Digital");
  add_record(q, "TN:0", "10", "Unsigned", "Digital");
  ASSERT_TRUE(q->iorecs()[0]->set_poll_time("Disabled").ok());
  ASSERT_TRUE(q->iorecs()[0]->set_deadband("1.5").ok());
  ASSERT_TRUE(q->iorecs()[2]->set_poll_time("0.5").ok());
  ASSERT_TRUE(q->iorecs()[2]->set_access_time("Disabled").ok());

  doc.select_channel(2);
  CDrvSpecificChannel* c2 = doc.current_channel();
  ASSERT_TRUE(c2->set_ip_address("192.168.3.39").ok());
  ASSERT_TRUE(c2->set_ip_port("5001").ok());
  ASSERT_TRUE(c2->set_ip_protocol("TCP").ok());
  ASSERT_TRUE(c2->set_display_alarms("No").ok());
  c2->set_disable_comms_alarms(1);
  auto* a = doc.current_device();
  ASSERT_TRUE(a->set_name("APLC").ok());
  ASSERT_TRUE(a->set_cpu_type("AnU").ok());
  ASSERT_TRUE(a->set_protocol_type("ASCII").ok());
  add_record(a, "D:9000", "256");
  add_record(a, "B:0", "2048");
  add_record(a, "CN:5", "3", "Signed", "Analog");
  auto* sub = static_cast<CDrvSpecificDevice*>(doc.add_default_device());
  ASSERT_TRUE(sub->set_name("SUB-2_A").ok());
  ASSERT_TRUE(sub->set_cpu_type("AnN/AnS").ok());
  ASSERT_TRUE(sub->set_pc_number("3").ok());
  ASSERT_TRUE(sub->set_network_number("2").ok());
  ASSERT_TRUE(sub->set_module_number("1").ok());
  add_record(sub, "L:16", "32");
  add_record(sub, "TC:0", "16");
  add_record(sub, "F:0", "16");
  add_record(sub, "CC:0", "16");
  add_record(sub, "CS:0", "16");
  add_record(sub, "TS:0", "16");
  add_record(sub, "X:FFF0", "16");

  doc.select_channel(3);  // a channel with only a default device, which has no records
}

}  // namespace hbt::editor::testing
