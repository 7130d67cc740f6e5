#include "mqtt/topics.h"

#include <gtest/gtest.h>

namespace hbt::mqtt {
namespace {

TEST(Topics, NodeAndDeviceTopicsFollowTheNamespace) {
  EXPECT_EQ(node_topic("Plant", MessageType::kNBirth, "Line1"), "spBv1.0/Plant/NBIRTH/Line1");
  EXPECT_EQ(device_topic("Plant", MessageType::kDData, "Line1", "QPLC1"), "spBv1.0/Plant/DDATA/Line1/QPLC1");
  EXPECT_EQ(state_topic("SCADA"), "spBv1.0/STATE/SCADA");
}

TEST(Topics, ParseRecognisesCommandsAndRefusesWhatIsNotOurs) {
  auto dcmd = parse_topic("spBv1.0/Plant/DCMD/Line1/QPLC1");
  ASSERT_TRUE(dcmd);
  EXPECT_EQ(dcmd->type, MessageType::kDCmd);
  EXPECT_EQ(dcmd->group, "Plant");
  EXPECT_EQ(dcmd->edge, "Line1");
  EXPECT_EQ(dcmd->device, "QPLC1");
  auto ncmd = parse_topic("spBv1.0/Plant/NCMD/Line1");
  ASSERT_TRUE(ncmd);
  EXPECT_EQ(ncmd->type, MessageType::kNCmd);
  EXPECT_TRUE(ncmd->device.empty());

  EXPECT_FALSE(parse_topic("spBv1.0/Plant/DCMD/Line1"));          // a device message needs a device
  EXPECT_FALSE(parse_topic("spBv1.0/Plant/NCMD/Line1/QPLC1"));    // a node message has none
  EXPECT_FALSE(parse_topic("spBv1.0/STATE/SCADA"));
  EXPECT_FALSE(parse_topic("spAv1.0/Plant/NCMD/Line1"));
  EXPECT_FALSE(parse_topic("spBv1.0/Plant/XCMD/Line1"));
  EXPECT_FALSE(parse_topic("spBv1.0//NCMD/Line1"));
  EXPECT_FALSE(parse_topic("spBv1.0/Plant/DCMD/Line1/QPLC1/extra"));
  EXPECT_FALSE(parse_topic(""));
}

TEST(Topics, IdsMayNotCarryWildcardsOrSeparators) {
  EXPECT_TRUE(valid_topic_id("QPLC1"));
  EXPECT_TRUE(valid_topic_id("Line 1"));
  EXPECT_FALSE(valid_topic_id(""));
  EXPECT_FALSE(valid_topic_id("A/B"));
  EXPECT_FALSE(valid_topic_id("A+"));
  EXPECT_FALSE(valid_topic_id("#"));
}

}  // namespace
}  // namespace hbt::mqtt
