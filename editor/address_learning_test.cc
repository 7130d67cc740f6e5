#include "editor/address_learning.h"

#include <gtest/gtest.h>

#include <random>

#include "editor/test_configs.h"

namespace hbt::editor {
namespace {

CDrvSpecificIORec* rec(CDevice* device, std::size_t i) {
  return static_cast<CDrvSpecificIORec*>(device->iorecs().at(i).get());
}

class AddressLearningTest : public ::testing::Test {
 protected:
  void SetUp() override {
    doc.select_channel(1);
    device = doc.current_device();
    device->set_name("PLC1");
    testing::add_record(device, "D:1000", "10");  // D1000..D1009
  }
  CDidDoc doc;
  CDevice* device = nullptr;
};

TEST_F(AddressLearningTest, InsideARecordAddsNothing) {
  auto r = learn_address(doc, "PLC1:D:1005");
  EXPECT_EQ(r.kind, LearnResult::Inside);
  EXPECT_EQ(device->iorecs().size(), 1u);
  EXPECT_FALSE(doc.modified());
}

TEST_F(AddressLearningTest, BelowWithinTheSpanExtendsDownwards) {
  auto r = learn_address(doc, "PLC1:D:800");
  EXPECT_EQ(r.kind, LearnResult::ExtendedDown);
  ASSERT_EQ(device->iorecs().size(), 1u);
  EXPECT_EQ(rec(device, 0)->start_address(), 800u);
  EXPECT_EQ(rec(device, 0)->end_address(), 1009u);
  EXPECT_TRUE(doc.modified());
  // Merged length 256 is the most.
  EXPECT_EQ(learn_address(doc, "PLC1:D:754").kind, LearnResult::ExtendedDown);
  EXPECT_EQ(rec(device, 0)->length(), 256);
  EXPECT_EQ(learn_address(doc, "PLC1:D:753").kind, LearnResult::Appended);
}

TEST_F(AddressLearningTest, AboveWithinTheSpanExtendsUpwards) {
  auto r = learn_address(doc, "PLC1:D:1100");
  EXPECT_EQ(r.kind, LearnResult::ExtendedUp);
  EXPECT_EQ(rec(device, 0)->start_address(), 1000u);
  EXPECT_EQ(rec(device, 0)->end_address(), 1100u);
  // 256 above the end is too far.
  EXPECT_EQ(learn_address(doc, "PLC1:D:1356").kind, LearnResult::Appended);
  EXPECT_EQ(device->iorecs().size(), 2u);
}

TEST_F(AddressLearningTest, OtherKindsUnknownDevicesAndBadAddresses) {
  EXPECT_EQ(learn_address(doc, "PLC1:W:1005").kind, LearnResult::Appended) << "another register type";
  EXPECT_EQ(learn_address(doc, "plc1:D:1005").kind, LearnResult::Ignored) << "names are case-sensitive";
  EXPECT_EQ(learn_address(doc, "NOPE:D:1").kind, LearnResult::Ignored);
  EXPECT_EQ(learn_address(doc, "PLC1:Q:1").kind, LearnResult::Ignored);
  EXPECT_EQ(learn_address(doc, "PLC1").kind, LearnResult::Ignored);
  EXPECT_EQ(device->iorecs().size(), 2u);
}

// Whatever is learned, the address is covered afterwards and the device's records of one
// register type never overlap.
TEST_F(AddressLearningTest, RandomAddressesEndCoveredWithoutOverlaps) {
  std::mt19937 random(11);
  const char* types[] = {"D", "W", "M", "X"};
  for (int i = 0; i < 1500; ++i) {
    std::string type = types[random() % 4];
    unsigned address = random() % 4000;
    char text[32];
    bool hex = type == "W" || type == "X";
    std::snprintf(text, sizeof text, hex ? "PLC1:%s:%X" : "PLC1:%s:%u", type.c_str(), address);
    auto r = learn_address(doc, text);
    ASSERT_NE(r.kind, LearnResult::Ignored) << text;
    auto* covering = static_cast<CDrvSpecificIORec*>(r.record);
    ASSERT_LE(covering->start_address(), address) << text;
    ASSERT_GE(covering->end_address(), address) << text;
  }
  const auto& records = device->iorecs();
  for (std::size_t a = 0; a < records.size(); ++a) {
    for (std::size_t b = a + 1; b < records.size(); ++b) {
      auto* x = rec(device, a);
      auto* y = rec(device, b);
      if (x->overlap_kind() != y->overlap_kind()) continue;
      EXPECT_TRUE(x->end_address() < y->start_address() || y->end_address() < x->start_address())
          << a << " and " << b;
    }
  }
}

}  // namespace
}  // namespace hbt::editor
