#include "editor/iorec.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <random>

#include "editor/document.h"
#include "testsupport/by_value.h"

namespace hbt::editor {
namespace {

using testsupport::by_value;

class IORecTest : public ::testing::Test {
 protected:
  IORecTest() {
    doc.select_channel(1);
    device = doc.current_device();
  }
  // A poll record of the device, not yet in its list (as the dialog's working copy).
  CDrvSpecificIORec loose(std::string_view start = {}) {
    CDrvSpecificIORec r;
    r.set_device(device);
    if (!start.empty()) {
      EXPECT_TRUE(r.set_start_address(start).ok()) << start;
    }
    return r;
  }
  CDrvSpecificIORec* add(std::string_view start, std::string_view length) {
    auto r = std::make_unique<CDrvSpecificIORec>(loose(start));
    EXPECT_TRUE(r->set_length(length).ok()) << start << " " << length;
    return static_cast<CDrvSpecificIORec*>(device->add_iorec(std::move(r)));
  }
  CDidDoc doc;
  CDrvSpecificDevice* device;
};

TEST_F(IORecTest, NewRecordsTakeTheirShapeFromTheStartAddress) {
  CDrvSpecificIORec bits = loose("X:13");
  EXPECT_EQ(bits.get_start_address(), "X:10");
  EXPECT_EQ(bits.length(), 16);  // a new bit-device record gets 16 points
  EXPECT_EQ(bits.get_end_address(), "X:1F");
  EXPECT_EQ(bits.get_data_type(), "Digital");
  CDrvSpecificIORec words = loose("D:100");
  EXPECT_EQ(words.length(), 1);
  EXPECT_EQ(words.get_end_address(), "D:100");
  EXPECT_EQ(words.get_data_type(), "Unsigned");
  CDrvSpecificIORec relays = loose("M:9100");
  EXPECT_EQ(relays.get_start_address(), "M:9100");
  EXPECT_EQ(relays.length(), 1);  // special relays are neither rounded nor padded
  CDrvSpecificIORec fresh = loose();
  EXPECT_EQ(fresh.get_start_address(), "--Undefined--");
  EXPECT_EQ(fresh.set_length("5").id, kMsgStartAddressFirst);
  EXPECT_EQ(fresh.set_end_address("D:5").id, kMsgStartAddressFirst);
}

TEST_F(IORecTest, LengthRulesRoundAndLimitByCpu) {
  CDrvSpecificIORec r = loose("X:0");
  ASSERT_TRUE(r.set_length("20").ok());
  EXPECT_EQ(r.length(), 32);
  EXPECT_EQ(r.get_end_address(), "X:1F");
  EXPECT_TRUE(r.set_length("4096").ok());  // Q Series bit limit
  EXPECT_EQ(r.set_length("4097").text, "Invalid Length\n\r[Valid Range 1 - 4096]");
  EXPECT_EQ(r.set_length("0").id, kMsgInvalidLength);
  EXPECT_EQ(r.set_length("").id, kMsgInvalidLength);
  EXPECT_EQ(r.set_length("abc").id, kMsgInvalidLength);
  EXPECT_EQ(r.length(), 4096) << "a refused length leaves the record as it was";

  CDrvSpecificIORec d = loose("D:0");
  EXPECT_TRUE(d.set_length("512").ok());
  EXPECT_EQ(d.set_length("513").text, "Invalid Length\n\r[Valid Range 1 - 512]");
  ASSERT_TRUE(device->set_cpu_type("AnU").ok());
  EXPECT_EQ(d.set_length("257").text, "Invalid Length\n\r[Valid Range 1 - 256]");
  EXPECT_EQ(r.set_length("2049").text, "Invalid Length\n\r[Valid Range 1 - 2048]");

  CDrvSpecificIORec relays = loose("M:9000");
  EXPECT_TRUE(relays.set_length("20").ok());
  EXPECT_EQ(relays.length(), 20) << "special relays keep an odd length";
  EXPECT_EQ(relays.set_length("257").id, kMsgInvalidLength);
}

TEST_F(IORecTest, EndAddressMustStayInRange) {
  ASSERT_TRUE(device->set_cpu_type("AnN/AnS").ok());
  CDrvSpecificIORec d = loose("D:9999");
  EXPECT_EQ(d.set_length("2").text, "\rAddress is out of range\n\r(Valid Range is 0 to 9999)\n");
  EXPECT_EQ(d.length(), 1);
  CDrvSpecificIORec m = loose("M:2032");
  EXPECT_EQ(m.set_length("32").id, kMsgRangeM);
  EXPECT_EQ(loose().set_start_address("M:2100").text,
            "\rAddress is out of range\n\r(Valid Ranges: 0 to 2047 or 9000 to 9255)\n");
}

TEST_F(IORecTest, EndAddressSetsTheLength) {
  CDrvSpecificIORec d = loose("D:100");
  ASSERT_TRUE(d.set_end_address("D:199").ok());
  EXPECT_EQ(d.length(), 100);
  EXPECT_EQ(d.set_end_address("D:99").id, kMsgStartBeforeEnd);
  EXPECT_EQ(d.set_end_address("R:150").id, kMsgInvalidRegisterType);
  EXPECT_EQ(d.length(), 100);
  CDrvSpecificIORec x = loose("X:10");
  ASSERT_TRUE(x.set_end_address("X:2F").ok());
  EXPECT_EQ(x.length(), 32);
  // Moving the start keeps the end when the register type stays.
  ASSERT_TRUE(d.set_start_address("D:150").ok());
  EXPECT_EQ(d.length(), 50);
  EXPECT_EQ(d.get_end_address(), "D:199");
  EXPECT_EQ(d.set_start_address("D:200").id, kMsgStartBeforeEnd);
  // Another register type or EX number: still end - start + 1 on the old end's number,
  // and a length the new type cannot hold is refused with the length rule's message.
  ASSERT_TRUE(d.set_start_address("R:0").ok());
  EXPECT_EQ(d.length(), 200);
  EXPECT_EQ(d.get_end_address(), "R:199");
  ASSERT_TRUE(d.set_start_address("X:0").ok());
  EXPECT_EQ(d.length(), 208) << "X:0 to the old end 199 (C7), rounded up to 16 bits";
  EXPECT_EQ(d.get_end_address(), "X:CF");
  CDrvSpecificIORec w = loose("W:0");
  ASSERT_TRUE(w.set_length("300").ok());
  ASSERT_TRUE(device->set_cpu_type("AnA").ok());
  EXPECT_EQ(w.set_start_address("EX:3:0").text, "Invalid Length\n\r[Valid Range 1 - 256]");
  CDrvSpecificIORec wide = loose("X:0");
  ASSERT_TRUE(wide.set_length("2048").ok());
  EXPECT_EQ(wide.set_start_address("D:0").text, "Invalid Length\n\r[Valid Range 1 - 256]");
  EXPECT_EQ(wide.get_start_address(), "X:0") << "a refused change leaves the record as it was";
  EXPECT_EQ(wide.length(), 2048);
  EXPECT_EQ(wide.set_start_address("D:4000").text, "Start Address must be before End Address");
}

TEST_F(IORecTest, DataTypeRulesFollowTheRegisterKind) {
  CDrvSpecificIORec d = loose("D:0");
  ASSERT_TRUE(d.set_length("7").ok());
  EXPECT_TRUE(d.set_data_type("Float").ok());
  EXPECT_EQ(d.length(), 6);
  EXPECT_EQ(d.get_end_address(), "D:5");
  CDrvSpecificIORec one = loose("D:0");
  EXPECT_TRUE(one.set_data_type("Long Signed").ok());
  EXPECT_EQ(one.length(), 2);
  EXPECT_EQ(one.get_data_type(), "Long Signed");
  EXPECT_EQ(d.set_data_type("Digital").text, "Invalid Data Type for this Register Address");
  EXPECT_EQ(d.get_data_type(), "Unsigned");
  CDrvSpecificIORec x = loose("X:0");
  EXPECT_EQ(x.set_data_type("Unsigned").text, "Data Type must be Digital for this Memory Address");
  EXPECT_EQ(x.get_data_type(), "Digital");
  EXPECT_EQ(x.set_data_type("Bogus").text, "DATA TYPE specified is valid.");
  // A 32-bit type whose second register would leave the range is refused whole.
  ASSERT_TRUE(device->set_cpu_type("AnN/AnS").ok());
  CDrvSpecificIORec last = loose("D:9999");
  EXPECT_EQ(last.set_data_type("Float").id, kMsgRange);
  EXPECT_EQ(last.get_data_type(), "Unsigned");
  EXPECT_EQ(last.length(), 1);
  // Changing the start address resets the data type.
  ASSERT_TRUE(d.set_start_address("D:2").ok());
  EXPECT_EQ(d.get_data_type(), "Unsigned");
  EXPECT_EQ(d.length(), 4);
}

TEST_F(IORecTest, OverlapNamesTheOtherRecordByPosition) {
  add("D:0", "100");
  add("D:200", "10");
  add("W:0", "16");
  CDrvSpecificIORec r = loose();
  EXPECT_EQ(r.set_start_address("D:205").text, "Address already defined in Poll Record 2");
  ASSERT_TRUE(r.set_start_address("D:100").ok());  // touches D:99 but does not overlap
  EXPECT_EQ(r.set_length("101").text, "Address already defined in Poll Record 2");
  EXPECT_EQ(r.length(), 1);
  EXPECT_TRUE(loose("R:0").set_length("100").ok()) << "another register type never overlaps";
  // A record checked against its own list entry does not collide with itself.
  auto* own = static_cast<CDrvSpecificIORec*>(device->iorecs()[0].get());
  EXPECT_TRUE(own->set_length("90").ok());
  // EX records overlap only within the same EX number.
  add("EX:1:0", "10");
  EXPECT_TRUE(loose().set_start_address("EX:2:5").ok());
  EXPECT_EQ(loose().set_start_address("EX:1:5").text, "Address already defined in Poll Record 4");
}

// The index the CSV import uses must name the same record as the walk over the list.
TEST_F(IORecTest, OverlapIndexAgreesWithTheListWalk) {
  std::mt19937 random(7);
  OverlapIndex index;
  const char* kinds[] = {"D", "W", "EX:1", "EX:2", "X"};
  for (int i = 0; i < 300; ++i) {
    std::string kind = kinds[random() % 5];
    bool hex = kind == "W" || kind == "X";
    unsigned start = random() % 4000;
    char number[16];
    std::snprintf(number, sizeof number, hex ? "%X" : "%u", start);
    CDrvSpecificIORec r = loose();
    if (!r.set_start_address(kind + ":" + number).ok()) continue;
    if (!r.set_length(std::to_string(1 + random() % 40)).ok()) continue;
    auto* added = static_cast<CDrvSpecificIORec*>(device->add_iorec(std::make_unique<CDrvSpecificIORec>(r)));
    index.add(added->overlap_kind(), added->start_address(), added->end_address(),
              static_cast<int>(device->iorecs().size()));
  }
  ASSERT_GT(device->iorecs().size(), 50u);
  for (int q = 0; q < 2000; ++q) {
    std::string kind = kinds[random() % 5];
    bool hex = kind == "W" || kind == "X";
    unsigned start = random() % 4200;
    char number[16];
    std::snprintf(number, sizeof number, hex ? "%X" : "%u", start);
    std::string address = kind + ":" + number;
    std::string length = std::to_string(1 + random() % 64);
    CDrvSpecificIORec walk = loose();
    Message by_walk = walk.set_start_address(address);
    if (by_walk.ok()) by_walk = walk.set_length(length);
    device->set_overlap_index(&index);
    CDrvSpecificIORec indexed = loose();
    Message by_index = indexed.set_start_address(address);
    if (by_index.ok()) by_index = indexed.set_length(length);
    device->set_overlap_index(nullptr);
    ASSERT_EQ(by_walk.text, by_index.text) << address << " x" << length;
  }
}

TEST_F(IORecTest, TimesAndDeadband) {
  CDrvSpecificIORec r = loose("D:0");
  EXPECT_EQ(r.get_poll_time(), "1.0");
  EXPECT_EQ(r.get_access_time(), "300.0");
  EXPECT_TRUE(r.set_poll_time("disabled").ok());
  EXPECT_EQ(r.get_poll_time(), "Disabled");
  EXPECT_TRUE(r.set_poll_time("86400").ok());
  EXPECT_EQ(r.set_poll_time("86400.5").text, "Invalid Poll Time (Valid Range   0.00 - 86400.00)");
  EXPECT_EQ(r.set_poll_time("").id, kMsgInvalidPollTime);
  EXPECT_EQ(r.set_poll_time("-1").id, kMsgInvalidPollTime);
  EXPECT_TRUE(r.set_access_time("DISABLED").ok());
  EXPECT_EQ(r.get_access_time(), "Disabled");
  EXPECT_EQ(r.set_access_time("172801").text,
            "Invalid Access Time (Valid Range   0.00 - 172800.00)\nOr \"Disabled\"");
  ASSERT_TRUE(r.set_access_time("12.5").ok());
  ASSERT_TRUE(r.set_exception_type("Analog").ok());
  EXPECT_EQ(r.set_access_time("10").text,
            "Invalid for exception based poll record\n\n(Valid entry: DISABLED)");
  EXPECT_TRUE(r.set_access_time("disabled").ok());
  EXPECT_EQ(r.set_exception_type("X").text, "EXCEPTION specified is invalid");
  EXPECT_EQ(r.set_deadband("-1", true).text, "Deadband can't be negative");
  EXPECT_EQ(r.set_deadband("-1").text, "DEAD BAND specified is invalid.");
  EXPECT_EQ(r.set_deadband("x").text, "DEAD BAND specified is invalid.");
  EXPECT_TRUE(r.set_deadband("2.25").ok());
  EXPECT_EQ(r.get_deadband(), "2.2");
}

TEST_F(IORecTest, PacksAreaSizesAndTimes) {
  CDrvSpecificIORec r = loose("D:0");
  ASSERT_TRUE(r.set_length("10").ok());
  ASSERT_TRUE(r.set_exception_type("Digital").ok());
  ASSERT_TRUE(r.set_poll_time("0.125").ok());
  ASSERT_TRUE(r.set_access_time("disabled").ok());
  ASSERT_TRUE(r.set_deadband("70000.5").ok());
  image::PollRecordHead head;
  r.pack(&head);
  EXPECT_EQ(by_value(head.status), 4297);
  EXPECT_EQ(head.polled, 1);
  EXPECT_EQ(by_value(head.poll_time), 12);  // truncated
  EXPECT_EQ(by_value(head.access_time), 17280100);
  EXPECT_EQ(by_value(head.dead_band_int), 65535) << "a dead band wider than 16 bits saturates";
  EXPECT_EQ(by_value(head.areas[0].offset), 86u);
  EXPECT_EQ(by_value(head.areas[0].size), 20);
  EXPECT_EQ(by_value(head.areas[2].offset), 126u);
  EXPECT_EQ(by_value(head.areas[3].size), 0);
  EXPECT_EQ(by_value(head.areas[4].offset), 146u);
  EXPECT_EQ(by_value(head.areas[4].size), 640);
  EXPECT_EQ(by_value(head.data_type), 2);
  EXPECT_EQ(by_value(head.address_word), 0xC0000000u);
  CDrvSpecificIORec back;
  back.unpack(head);
  EXPECT_EQ(back.get_end_address(), "D:9");
  EXPECT_EQ(back.get_exception_type(), "Digital");
  EXPECT_EQ(back.get_access_time(), "Disabled");
  EXPECT_FLOAT_EQ(back.poll_time(), 0.12f);
}

}  // namespace
}  // namespace hbt::editor
