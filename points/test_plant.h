// For the points library's tests: a plant with its poller stand-in (test_driver.h) and a
// session over it that looks only when a test says so.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "points/session.h"
#include "points/test_driver.h"

namespace hbt::points::testing {

using hostlib::testing::record;
using image::DataType;
using image::ExceptionType;
using image::RegisterType;
using testsupport::ConfigSpec;
using testsupport::DeviceSpec;
using testsupport::RecordSpec;

// A plant, its poller stand-in and a session that looks when the test calls look().
class PointsTest : public ::testing::Test {
 protected:
  explicit PointsTest(const ConfigSpec& config = hostlib::testing::standard_plant())
      : plant_(std::make_unique<Plant>(config)), poller_(*plant_, clock_) {
    g_host = &plant_->host();
    host_ = plant_exports();
    for (int k = 0; k < plant_->driver().poll_record_count(); ++k) {
      plant_->record(k)->poll_time = 10;
      plant_->control(k)->polled = 1;
      plant_->record(k)->polled = 1;
    }
  }
  ~PointsTest() override {
    session_.reset();
    g_host = nullptr;
  }

  SessionOptions options(const std::string& tag_file = "") {
    SessionOptions o;
    o.background = false;
    o.host = &host_;
    o.clock = &clock_;
    o.stall_ms = 500;
    o.attach_ms = 200;
    o.tag_file = tag_file;
    return o;
  }
  Session& open(const std::string& tag_file = "") {
    std::int32_t result = -99;
    std::string error;
    session_ = Session::open(options(tag_file), &result, &error);
    EXPECT_EQ(result, HBT_POINTS_OK) << error;
    if (!session_) throw std::runtime_error("open failed: " + error);
    list();
    return *session_;
  }
  std::string write_tags(const std::string& text) {
    const std::string path = plant_->env().path("tags.txt");
    testsupport::write_file(path, text);
    return path;
  }

  // A look after `ms` of the poller's time.
  void look(int ms = 100) {
    poller_.advance(ms);
    session_->update();
  }
  void list() {
    std::uint32_t n = 0;
    session_->list(&generation_, &devices_, &device_count_, &records_, &record_count_, &points_, &n);
    point_count_ = n;
  }
  std::uint32_t id(const std::string& item_id) const {
    for (std::uint32_t p = 0; p < point_count_; ++p)
      if (item_id == points_[p].item_id) return p;
    ADD_FAILURE() << "no point " << item_id;
    return UINT32_MAX;
  }
  hbt_point_value read(const std::string& item_id) {
    hbt_point_value v{};
    std::uint32_t p = id(item_id);
    EXPECT_EQ(session_->read(&p, 1, &v), HBT_POINTS_OK);
    return v;
  }
  // Every change since the cursor, taken in batches of `batch`.
  std::vector<hbt_point_value> changes(std::uint64_t* cursor, std::uint32_t batch = 1000,
                                       std::vector<std::string>* texts = nullptr) {
    std::vector<hbt_point_value> all;
    std::vector<hbt_point_value> out(batch);
    for (;;) {
      std::uint32_t n = 0, more = 0;
      EXPECT_EQ(session_->changes(cursor, out.data(), batch, &n, &more), HBT_POINTS_OK);
      for (std::uint32_t i = 0; i < n; ++i) {
        all.push_back(out[i]);
        if (texts) texts->push_back(out[i].text ? std::string(out[i].text, out[i].text_length) : "");
      }
      if (!more) return all;
    }
  }
  void set_word(int k, int i, std::uint16_t v) { std::memcpy(plant_->area(k, 1) + 2 * i, &v, 2); }
  void set_long(int k, int j, std::uint32_t v) { std::memcpy(plant_->area(k, 1) + 4 * j, &v, 4); }

  std::unique_ptr<Plant> plant_;
  FakeClock clock_;
  FakePoller poller_;
  HostExports host_;
  std::unique_ptr<Session> session_;
  std::uint32_t generation_ = 0;
  const hbt_device_info* devices_ = nullptr;
  const hbt_record_info* records_ = nullptr;
  const hbt_point_info* points_ = nullptr;
  std::uint32_t device_count_ = 0, record_count_ = 0, point_count_ = 0;
};

}  // namespace hbt::points::testing
