// Tags from the tag file, and what a session does when the poller loads another
// configuration: new lists, a generation that moves, STALE once for the feed, item IDs kept,
// removed points CONFIG.
#include <map>

#include "points/test_plant.h"

namespace hbt::points::testing {
namespace {

class Tags : public PointsTest {};

TEST_F(Tags, ConditionedTextAndSettingTagsAndThoseThatDoNotBind) {
  poller_.start();
  open(write_tags("# extra points\n"
                  "PLC1:D:100|LIN,0,100,,degC deadband=0.5\n"
                  "\n"
                  "PLC1:D:205$4\n"
                  "plc1:d:101 units=bar readonly\n"
                  "NOPLC:D:1\n"
                  "PLC1:D:9000\n"
                  "PLC1:D:300|LIN,0.0,10\n"));
  const hbt_point_info& lin = points_[id("PLC1:D:100|LIN,0,100,,degC")];
  EXPECT_EQ(lin.type, HBT_POINT_DOUBLE);
  EXPECT_EQ(lin.analog, 1);
  EXPECT_EQ(lin.eu_low, 0.0);
  EXPECT_EQ(lin.eu_high, 100.0);
  EXPECT_STREQ(lin.eu_units, "degC");
  EXPECT_EQ(lin.deadband, 0.5);
  EXPECT_EQ(lin.record, UINT32_MAX) << "a tag is not one of a record's points";
  EXPECT_EQ(lin.device, 0u);
  EXPECT_STREQ(lin.name, "D:100|LIN,0,100,,degC");
  EXPECT_EQ(points_[id("PLC1:D:205$4")].type, HBT_POINT_STRING);
  EXPECT_EQ(points_[id("PLC1:D:205$4")].text_length, 4u);
  // A tag that names a point of the configuration sets it, under the point's own item ID.
  EXPECT_STREQ(points_[id("PLC1:D:101")].eu_units, "bar");
  EXPECT_EQ(points_[id("PLC1:D:101")].writable, 0);
  EXPECT_EQ(points_[id("PLC1:D:300|LIN,0.0,10")].type, HBT_POINT_DOUBLE) << "a float record's value, conditioned";
  // Tags that name nothing configured are left out, and said so among the messages.
  std::uint64_t cursor = 0;
  hbt_message m[16];
  std::uint32_t n = 0;
  session_->messages(&cursor, m, 16, &n);
  std::string said;
  for (std::uint32_t i = 0; i < n; ++i) said += std::string(m[i].text) + "\n";
  EXPECT_NE(said.find("tag line 6: NOPLC:D:1 names the device NOPLC, which is not configured"), std::string::npos) << said;
  EXPECT_NE(said.find("tag line 7: PLC1:D:9000 names no configured value"), std::string::npos) << said;
  EXPECT_EQ(point_count_, 350u + 3);

  look();
  poller_.poll(0, [&] { set_word(0, 0, 65535); });
  poller_.poll(1, [&] { std::memcpy(plant_->area(1, 1) + 10, "ABCDEFGH", 8); });
  look();
  EXPECT_EQ(read("PLC1:D:100|LIN,0,100,,degC").real, 100.0);
  hbt_point_value t = read("PLC1:D:205$4");
  EXPECT_EQ(std::string(t.text, t.text_length), "ABCD");
}

TEST_F(Tags, ABadTagFileIsRefusedWithItsLine) {
  poller_.start();
  const std::string path = write_tags("PLC1:D:100\nPLC1:D:100|XYZ\n");
  std::int32_t result = 0;
  std::string error;
  EXPECT_EQ(Session::open(options(path), &result, &error), nullptr);
  EXPECT_EQ(result, HBT_POINTS_E_TAGS);
  EXPECT_EQ(error, path + ":2: unknown signal conditioning \"XYZ\"");
  EXPECT_EQ(Session::open(options(path + ".missing"), &result, &error), nullptr);
  EXPECT_EQ(result, HBT_POINTS_E_TAGS);
  EXPECT_EQ(error, path + ".missing: No such file or directory");
}

ConfigSpec before_reload() {
  ConfigSpec c;
  auto& d = c.channels[0].devices[0];
  d.name = "PLC1";
  d.records = {record(RegisterType::D, 100, 4, DataType::Unsigned), record(RegisterType::D, 200, 4, DataType::Unsigned),
               record(RegisterType::M, 0, 16, DataType::Digital)};
  return c;
}

// D200-203 goes, D300-301 and a second PLC come; D100 and M0 stay, in other places.
ConfigSpec after_reload() {
  ConfigSpec c;
  auto& d = c.channels[0].devices[0];
  d.name = "PLC1";
  d.records = {record(RegisterType::D, 300, 2, DataType::Signed), record(RegisterType::M, 0, 16, DataType::Digital),
               record(RegisterType::D, 100, 4, DataType::Unsigned)};
  DeviceSpec plc2;
  plc2.name = "PLC2";
  plc2.records = {record(RegisterType::D, 0, 2, DataType::Unsigned)};
  c.channels[0].devices.push_back(plc2);
  return c;
}

class Reload : public PointsTest {
 protected:
  Reload() : PointsTest(before_reload()) {}
  void SetUp() override {
    poller_.start();
    open();
    look();
    for (int k = 0; k < 3; ++k) poller_.poll(k);
    poller_.poll(0, [&] { set_word(0, 1, 11); });
    poller_.poll(1, [&] { set_word(1, 1, 22); });
    look();
    changes(&cursor_);
  }
  void reload(const ConfigSpec& next) {
    testsupport::install_configuration(plant_->env(), next);
    ASSERT_TRUE(plant_->driver().nio_poll_reload());
    for (int k = 0; k < plant_->driver().poll_record_count(); ++k) {
      plant_->record(k)->poll_time = 10;
      plant_->control(k)->polled = 1;
    }
    poller_.start();
  }
  std::uint64_t cursor_ = 0;
};

TEST_F(Reload, ListsFollowTheNewConfiguration) {
  const std::uint32_t old_generation = generation_;
  const std::uint32_t old_d101 = id("PLC1:D:101"), old_d201 = id("PLC1:D:201"), old_m3 = id("PLC1:M:3");
  reload(after_reload());
  look();
  look();
  hbt_driver_state state{sizeof state};
  session_->state(&state);
  EXPECT_GT(state.generation, old_generation);
  EXPECT_EQ(state.point_count, 2u + 16 + 4 + 2);

  // Until the caller lists again the feed says STALE, and ids are still the old list's.
  std::vector<hbt_point_value> out(8);
  std::uint32_t n = 0, more = 0;
  std::uint64_t c = cursor_;
  EXPECT_EQ(session_->changes(&c, out.data(), 8, &n, &more), HBT_POINTS_E_STALE);
  EXPECT_EQ(c, cursor_);
  std::uint32_t ids[3] = {old_d101, old_d201, old_m3};
  hbt_point_value v[3];
  poller_.poll(2, [&] { set_word(2, 1, 33); });
  look();
  ASSERT_EQ(session_->read(ids, 3, v), HBT_POINTS_OK);
  EXPECT_EQ(v[0].id, old_d101);
  EXPECT_EQ(v[0].integer, 33) << "a point that remains reads from its new place";
  EXPECT_EQ(v[0].quality, HBT_QUALITY_GOOD);
  EXPECT_EQ(v[1].quality, HBT_QUALITY_CONFIG) << "a point the reload removed";
  EXPECT_EQ(v[2].quality, HBT_QUALITY_NOT_POLLED);
  hbt_point_value w{};
  w.id = old_d201;
  w.type = HBT_POINT_UINT16;
  std::int32_t result = -1;
  session_->write(&w, 1, &result);
  EXPECT_EQ(result, HBT_WRITE_UNKNOWN_POINT);

  // Listing takes the new generation: the same item IDs for what remains.
  list();
  EXPECT_EQ(generation_, state.generation);
  EXPECT_STREQ(points_[id("PLC1:D:101")].item_id, "PLC1:D:101");
  EXPECT_STREQ(records_[points_[id("PLC1:D:101")].record].range, "D:100 - D:103");
  EXPECT_STREQ(devices_[1].name, "PLC2");
  std::uint64_t fresh = cursor_;
  auto all = changes(&fresh);
  EXPECT_EQ(all.size(), point_count_) << "an old cursor gives every point of the new lists";
  std::map<std::string, std::int64_t> values;
  for (const auto& x : all) values[points_[x.id].item_id] = x.integer;
  EXPECT_EQ(values["PLC1:D:101"], 33);
}

TEST_F(Reload, ValuesOfRemainingPointsStayWhileTheirNewRecordIsNotPolled) {
  reload(after_reload());
  look();
  look();
  list();
  std::uint64_t c = 0;
  auto all = changes(&c);
  for (const auto& x : all) {
    if (x.id == id("PLC1:D:101")) {
      EXPECT_EQ(x.integer, 11);
      EXPECT_EQ(x.quality, HBT_QUALITY_NOT_POLLED);
    }
  }
}

TEST_F(Reload, AReloadWhileTheCallerHoldsAnOlderGenerationMapsAcrossBoth) {
  const std::uint32_t old_d101 = id("PLC1:D:101");
  reload(after_reload());
  look();
  look();
  reload(before_reload());
  look();
  look();
  poller_.poll(0, [&] { set_word(0, 1, 44); });
  look();
  hbt_point_value v{};
  ASSERT_EQ(session_->read(&old_d101, 1, &v), HBT_POINTS_OK);
  EXPECT_EQ(v.integer, 44);
  EXPECT_EQ(v.quality, HBT_QUALITY_GOOD);
}

}  // namespace
}  // namespace hbt::points::testing
