// Writes through the host's write path: what lands in the record's write values, and the
// result of every kind of value.
#include <bit>
#include <cmath>
#include <limits>

#include "points/test_plant.h"

namespace hbt::points::testing {
namespace {

class Writes : public PointsTest {
 protected:
  void SetUp() override {
    poller_.start();
    open(write_tags("PLC1:D:600|LIN,0,100,,degC\n"
                    "PLC1:D:601|SQ12,0,100\n"
                    "PLC1:D:602 readonly\n"
                    "PLC1:D:202$5\n"
                    "PLC3:R:5|D10\n"));
    look();
    for (int k = 0; k < plant_->driver().poll_record_count(); ++k) poller_.poll(k);
    look();
  }
  std::int32_t write(const std::string& item, hbt_point_value v) {
    v.id = id(item);
    std::int32_t result = -1;
    EXPECT_EQ(session_->write(&v, 1, &result), HBT_POINTS_OK);
    return result;
  }
  static hbt_point_value integer(std::int64_t i, std::uint8_t type = HBT_POINT_INT32) {
    hbt_point_value v{};
    v.type = type;
    v.integer = i;
    return v;
  }
  static hbt_point_value real(double d, std::uint8_t type = HBT_POINT_DOUBLE) {
    hbt_point_value v{};
    v.type = type;
    v.real = d;
    return v;
  }
  static hbt_point_value text(const char* t) {
    hbt_point_value v{};
    v.type = HBT_POINT_STRING;
    v.text = t;
    v.text_length = static_cast<std::uint32_t>(std::strlen(t));
    return v;
  }
  std::uint16_t pending(int k, int i) { return plant_->word(k, 2, i); }
  std::uint16_t flag(int k, int i) { return plant_->word(k, 3, i); }
};

TEST_F(Writes, EveryKindLandsInTheWriteValues) {
  EXPECT_EQ(write("PLC1:D:103", integer(65535)), HBT_WRITE_OK);
  EXPECT_EQ(pending(0, 3), 65535);
  EXPECT_EQ(flag(0, 3), 0xFFFF);
  EXPECT_EQ(write("PLC1:D:605", integer(-300)), HBT_WRITE_OK);
  EXPECT_EQ(static_cast<std::int16_t>(pending(10, 5)), -300);
  EXPECT_EQ(write("PLC1:D:302", real(-2.25, HBT_POINT_FLOAT)), HBT_WRITE_OK);
  EXPECT_EQ(std::bit_cast<float>(plant_->long_at(2, 2, 1)), -2.25f);
  // 32-bit integers pass whole: a float would make 2147483647 into 2147483648.
  EXPECT_EQ(write("PLC1:D:408", integer(2147483647)), HBT_WRITE_OK);
  EXPECT_EQ(plant_->long_at(3, 2, 4), 2147483647u);
  EXPECT_EQ(write("PLC1:D:400", integer(-16777217)), HBT_WRITE_OK);
  EXPECT_EQ(static_cast<std::int32_t>(plant_->long_at(3, 2, 0)), -16777217);
  EXPECT_EQ(write("PLC1:D:702", integer(4294967295)), HBT_WRITE_OK);
  EXPECT_EQ(plant_->long_at(11, 2, 1), 4294967295u);
  EXPECT_EQ(write("PLC1:X:1F", integer(1, HBT_POINT_BOOL)), HBT_WRITE_OK);
  EXPECT_EQ(flag(4, 1), 0x8000);
  EXPECT_EQ(write("PLC1:D:501:3", real(1.0)), HBT_WRITE_OK);
  EXPECT_EQ(pending(5, 1) & 0x8, 0x8);
  EXPECT_EQ(write("PLC1:D:200$20", text("HI")), HBT_WRITE_OK);
  EXPECT_EQ(std::memcmp(plant_->area(1, 2), "HI\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0", 20), 0)
      << "the whole field is written: no tail of an older text remains";
  EXPECT_EQ(flag(1, 9), 0xFFFF);
  // The conditioned tag: 25 degC of 0..100 over 0..65535, signed record (LIN's 0x8000 shift).
  EXPECT_EQ(write("PLC1:D:600|LIN,0,100,,degC", real(25)), HBT_WRITE_OK);
  EXPECT_EQ(pending(10, 0), static_cast<std::uint16_t>(16384 - 0x8000));
  EXPECT_EQ(write("PLC3:R:5|D10", real(12.3)), HBT_WRITE_OK);
  EXPECT_EQ(pending(13, 5), 123);
}

TEST_F(Writes, SaturatedOrCutValuesAreClamped) {
  EXPECT_EQ(write("PLC1:D:605", integer(40000)), HBT_WRITE_CLAMPED);
  EXPECT_EQ(static_cast<std::int16_t>(pending(10, 5)), 32767);
  EXPECT_EQ(write("PLC1:D:103", integer(-1)), HBT_WRITE_CLAMPED);
  EXPECT_EQ(pending(0, 3), 0);
  EXPECT_EQ(write("PLC1:D:103", real(12.5)), HBT_WRITE_CLAMPED) << "an integer point takes no fraction";
  EXPECT_EQ(pending(0, 3), 13);
  EXPECT_EQ(write("PLC1:D:408", integer(5'000'000'000)), HBT_WRITE_CLAMPED);
  EXPECT_EQ(plant_->long_at(3, 2, 4), 2147483647u);
  EXPECT_EQ(write("PLC1:D:600|LIN,0,100,,degC", real(150)), HBT_WRITE_CLAMPED);
  EXPECT_EQ(pending(10, 0), 0x7FFF) << "the top of the raw range";
  EXPECT_EQ(write("PLC1:D:601|SQ12,0,100", real(120)), HBT_WRITE_CLAMPED);
  EXPECT_EQ(write("PLC1:D:601|SQ12,0,100", real(50)), HBT_WRITE_OK);
  EXPECT_EQ(write("PLC1:D:202$5", text("TOO LONG")), HBT_WRITE_CLAMPED);
  EXPECT_EQ(std::memcmp(plant_->area(1, 2) + 4, "TOO L\0", 6), 0);
}

TEST_F(Writes, ValuesNoPointCanHoldAreRefusedUnwritten) {
  const std::uint16_t before = plant_->control(0)->write_request_count;
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  EXPECT_EQ(write("PLC1:D:103", real(nan)), HBT_WRITE_OUT_OF_RANGE);
  EXPECT_EQ(write("PLC1:D:103", real(inf)), HBT_WRITE_OUT_OF_RANGE);
  EXPECT_EQ(write("PLC1:D:302", real(1e39, HBT_POINT_FLOAT)), HBT_WRITE_OUT_OF_RANGE);
  EXPECT_EQ(write("PLC1:X:1F", integer(2)), HBT_WRITE_OUT_OF_RANGE);
  EXPECT_EQ(write("PLC1:D:601|SQ12,0,100", real(-1)), HBT_WRITE_OUT_OF_RANGE) << "no raw value is below a root";
  EXPECT_EQ(plant_->control(0)->write_request_count, before);

  EXPECT_EQ(write("PLC1:D:103", text("12")), HBT_WRITE_TYPE_MISMATCH);
  EXPECT_EQ(write("PLC1:D:200$20", integer(12)), HBT_WRITE_TYPE_MISMATCH);
  hbt_point_value odd = integer(1);
  odd.type = 99;
  EXPECT_EQ(write("PLC1:D:103", odd), HBT_WRITE_TYPE_MISMATCH);
  EXPECT_EQ(write("PLC1:D:602", integer(1)), HBT_WRITE_NOT_WRITABLE);
  EXPECT_EQ(plant_->control(10)->write_request_count, 0);

  hbt_point_value unknown = integer(1);
  unknown.id = point_count_;
  std::int32_t result = -1;
  EXPECT_EQ(session_->write(&unknown, 1, &result), HBT_POINTS_OK);
  EXPECT_EQ(result, HBT_WRITE_UNKNOWN_POINT);
}

TEST_F(Writes, AFailedRecordOrAStalledPollerRefusesWrites) {
  poller_.set_status(0, 4293);
  look();
  EXPECT_EQ(write("PLC1:D:103", integer(1)), HBT_WRITE_COMM_FAILURE);
  EXPECT_EQ(plant_->control(0)->write_request_count, 0) << "nothing waits to reach the PLC later";
  EXPECT_EQ(write("PLC1:D:603", integer(1)), HBT_WRITE_OK);
  poller_.freeze();
  look(600);
  EXPECT_EQ(write("PLC1:D:604", integer(1)), HBT_WRITE_COMM_FAILURE);
}

TEST_F(Writes, OneResultPerValueOfABatch) {
  hbt_point_value values[3] = {integer(1), text("x"), real(std::nan(""))};
  values[0].id = id("PLC1:D:100");
  values[1].id = id("PLC1:D:101");
  values[2].id = id("PLC1:D:102");
  std::int32_t results[3] = {-1, -1, -1};
  EXPECT_EQ(session_->write(values, 3, results), HBT_POINTS_OK);
  EXPECT_EQ(results[0], HBT_WRITE_OK);
  EXPECT_EQ(results[1], HBT_WRITE_TYPE_MISMATCH);
  EXPECT_EQ(results[2], HBT_WRITE_OUT_OF_RANGE);
}

TEST_F(Writes, TheReadBackOfAWriteComesThroughTheFeed) {
  std::uint64_t cursor = 0;
  changes(&cursor);
  EXPECT_EQ(write("PLC1:D:104", integer(321)), HBT_WRITE_OK);
  // The poller sends it and reads the record back.
  poller_.poll(0, [&] { set_word(0, 4, 321); });
  look(20);
  auto batch = changes(&cursor);
  ASSERT_EQ(batch.size(), 1u);
  EXPECT_EQ(batch[0].integer, 321);
}

}  // namespace
}  // namespace hbt::points::testing
