// The lists a session builds: devices, poll records and one point per value, named by the
// host's item IDs, each resolving through the host library to the record it is listed under.
#include <set>

#include "hostlib/address_text.h"
#include "points/test_plant.h"

namespace hbt::points::testing {
namespace {

class Lists : public PointsTest {};

TEST_F(Lists, DevicesAndRecordsAsTheHostEnumeratesThem) {
  open();
  ASSERT_EQ(device_count_, 3u);
  EXPECT_STREQ(devices_[0].name, "PLC1");
  EXPECT_STREQ(devices_[0].description, "PLC1") << "a PLC without a description shows its name";
  EXPECT_EQ(devices_[0].channel, 1u);
  EXPECT_EQ(devices_[2].channel, 2u);
  EXPECT_EQ(devices_[0].record_count, 12u);
  EXPECT_EQ(devices_[1].first_record, 12u);
  ASSERT_EQ(record_count_, 14u);
  EXPECT_STREQ(records_[0].range, "D:100 - D:109");
  EXPECT_STREQ(records_[4].range, "X:0 - X:1F");
  EXPECT_STREQ(records_[7].range, "EX:2:300 - EX:2:349");
  EXPECT_STREQ(records_[8].range, "W:10 - W:2F");
  EXPECT_EQ(records_[2].data_type, 3);
  EXPECT_EQ(records_[2].length, 10);
  EXPECT_EQ(records_[2].poll_time_cs, 10);
  for (std::uint32_t r = 0; r < record_count_; ++r) {
    EXPECT_EQ(records_[r].id, r);
    for (std::uint32_t p = records_[r].first_point; p < records_[r].first_point + records_[r].point_count; ++p)
      EXPECT_EQ(points_[p].record, r) << points_[p].item_id;
  }
}

TEST_F(Lists, OnePointPerValueTypedFromTheRecord) {
  open();
  struct Expect {
    std::uint32_t record, count;
    const char* first;
    const char* last;
    std::uint8_t type;
  };
  const Expect expected[] = {
      {0, 10, "PLC1:D:100", "PLC1:D:109", HBT_POINT_UINT16},
      {1, 1, "PLC1:D:200$20", "PLC1:D:200$20", HBT_POINT_STRING},
      {2, 5, "PLC1:D:300", "PLC1:D:308", HBT_POINT_FLOAT},
      {3, 5, "PLC1:D:400", "PLC1:D:408", HBT_POINT_INT32},
      {4, 32, "PLC1:X:0", "PLC1:X:1F", HBT_POINT_BOOL},
      {5, 64, "PLC1:D:500:0", "PLC1:D:503:15", HBT_POINT_BOOL},
      // D100-119 after D100-109: the host reads D100..D109 from the first record, so the
      // second holds only the values no earlier record covers.
      {6, 10, "PLC1:D:110", "PLC1:D:119", HBT_POINT_UINT16},
      {7, 50, "PLC1:EX:2:300", "PLC1:EX:2:349", HBT_POINT_UINT16},
      {8, 32, "PLC1:W:10", "PLC1:W:2F", HBT_POINT_INT16},
      {9, 16, "PLC1:M:0", "PLC1:M:15", HBT_POINT_BOOL},
      {11, 5, "PLC1:D:700", "PLC1:D:708", HBT_POINT_UINT32},
      {13, 10, "PLC3:R:0", "PLC3:R:9", HBT_POINT_UINT16},
  };
  for (const Expect& e : expected) {
    const hbt_record_info& r = records_[e.record];
    ASSERT_EQ(r.point_count, e.count) << r.range;
    EXPECT_STREQ(points_[r.first_point].item_id, e.first);
    EXPECT_STREQ(points_[r.first_point + r.point_count - 1].item_id, e.last);
    EXPECT_EQ(points_[r.first_point].type, e.type) << e.first;
  }
  EXPECT_STREQ(points_[records_[0].first_point].name, "D:100");
  EXPECT_STREQ(points_[records_[5].first_point + 19].item_id, "PLC1:D:501:3");
  EXPECT_EQ(points_[records_[1].first_point].text_length, 20u);
  EXPECT_EQ(point_count_, 10u + 1 + 5 + 5 + 32 + 64 + 10 + 50 + 32 + 16 + 10 + 5 + 100 + 10);
}

TEST_F(Lists, EveryItemIdIsUniqueAndResolvesToItsOwnRecord) {
  open();
  std::set<std::string> seen;
  for (std::uint32_t p = 0; p < point_count_; ++p) {
    const hbt_point_info& info = points_[p];
    EXPECT_EQ(info.id, p);
    EXPECT_TRUE(seen.insert(info.item_id).second) << info.item_id;
    hostlib::testing::Point hp;
    std::string address = info.item_id;
    address = address.substr(0, address.find('$'));
    hp.format.kind = info.type == HBT_POINT_STRING ? 3 : 5;
    plant_->host().nio_paddr(&hp.parse_status, &hp.block, &hp.format, address.c_str());
    ASSERT_EQ(hp.parse_status, 0) << info.item_id;
    const int k = static_cast<int>(hp.address.handle & 0xFFFF);
    EXPECT_EQ(plant_->host().nio_num_pollblocks(), 14);
    // The record the host reads the item from is the one the point is listed under.
    std::uint32_t listed = UINT32_MAX;
    for (std::uint32_t r = 0; r < record_count_; ++r)
      if (p >= records_[r].first_point && p < records_[r].first_point + records_[r].point_count) listed = r;
    EXPECT_EQ(static_cast<std::uint32_t>(k), listed) << info.item_id;
    EXPECT_EQ(hp.format.kind, info.type == HBT_POINT_BOOL ? 2 : info.type == HBT_POINT_STRING ? 3 : 1) << info.item_id;
  }
}

TEST_F(Lists, ARecordFirstItemMatchesTheOpcBrowseItemId) {
  // The OPC server names a leaf's item ID by the device and the range text cut at " - ".
  open();
  for (std::uint32_t r = 0; r < record_count_; ++r) {
    if (records_[r].point_count == 0 || r == 6) continue;
    std::string range = records_[r].range;
    std::string browse = std::string(devices_[records_[r].device].name) + ":" + range.substr(0, range.find(" - "));
    std::string first = points_[records_[r].first_point].item_id;
    EXPECT_EQ(first.substr(0, first.find_first_of("$")).substr(0, browse.size()), browse) << range;
  }
}

}  // namespace
}  // namespace hbt::points::testing
