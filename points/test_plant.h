// For the points library's tests: the host library's test plant (a configuration loaded into
// a live image by a driver-side NIOLIB) with a stand-in for the poller that ticks, polls and
// fails records on a fake clock, and a session over it that looks only when a test says so.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <string>

#include "hostlib/test_plant.h"
#include "image/lock_byte.h"
#include "points/session.h"

namespace hbt::points::testing {

using hostlib::testing::Plant;
using hostlib::testing::record;
using image::DataType;
using image::ExceptionType;
using image::RegisterType;
using testsupport::ConfigSpec;
using testsupport::DeviceSpec;
using testsupport::RecordSpec;

inline hostlib::HostLibrary* g_host = nullptr;

// The plant's host library behind the session's table of entry points.
inline HostExports plant_exports() {
  HostExports e;
  e.paddr = [](NioStatus* s, NioBlock* b, NioFormat* f, const char* a) { return g_host->nio_paddr(s, b, f, a); };
  e.psig = [](NioStatus* s, NioBlock* b, NioFormat* f, const char* t) { return g_host->nio_psig(s, b, f, t); };
  e.popt = [](NioStatus* s, NioBlock* b, NioFormat* f, const char* t) { return g_host->nio_popt(s, b, f, t); };
  e.read = [](NioStatus* s, NioBlock* b, NioFormat* f, NioValue* v) { return g_host->nio_read(s, b, f, v); };
  e.send = [](NioStatus* s, NioBlock* b, NioFormat* f, NioValue* v) { return g_host->nio_send(s, b, f, v); };
  e.Enum_Devices = [](NioStatus* s, std::int32_t* n, char** b) { return g_host->nio_Enum_Devices(s, n, b); };
  e.Enum_PollRecs = [](NioStatus* s, const char* d, std::int32_t* n, char** b) {
    return g_host->nio_Enum_PollRecs(s, d, n, b);
  };
  e.Free = [](void* b) { g_host->nio_Free(b); };
  e.find_dev = [](const char* d) { return g_host->nio_find_dev(d); };
  e.get_ServerStatus = [](char* t, std::int32_t* c) { return g_host->nio_get_ServerStatus(t, c); };
  e.read_stats = [](NioStatus* s, void*, std::int16_t c, std::int16_t* sel, std::uint8_t* b) {
    return g_host->nio_read_stats(s, c, sel, b);
  };
  return e;
}

class FakeClock final : public Clock {
 public:
  std::int64_t monotonic_ms() override { return now_; }
  std::int64_t unix_ms() override { return kEpoch + now_; }
  void sleep_ms(int ms) override {
    now_ += ms;
    if (on_sleep) on_sleep(ms);
  }
  void advance(int ms) { now_ += ms; }
  static constexpr std::int64_t kEpoch = 1'700'000'000'000;
  std::function<void(int)> on_sleep;

 private:
  std::int64_t now_ = 1000;
};

// What the poller does to the image, done by the test on the fake clock.
class FakePoller {
 public:
  FakePoller(Plant& plant, FakeClock& clock) : plant_(plant), clock_(clock) {
    clock_.on_sleep = [this](int ms) {
      if (running_) tick(ms);
    };
  }
  ~FakePoller() { clock_.on_sleep = nullptr; }

  void start() {
    running_ = true;
    image::PointerBlock* b = plant_.block();
    b->state = image::kStateRunning;
    header()->flags |= image::kPollingFlag;
  }
  void stop() {
    running_ = false;
    plant_.block()->state = image::kStateStopped;
  }
  // The poller hangs: the state word still says running, nothing moves.
  void freeze() { running_ = false; }
  void thaw() { running_ = true; }

  image::ImageHeader* header() { return plant_.driver().header(); }

  // Time passes: the watchdog moves and the countdowns run down, as the poller's ticks do.
  void advance(int ms) {
    clock_.advance(ms);
    if (running_) tick(ms);
  }
  void tick(int ms) {
    const int ticks = ms / 10;
    header()->watchdog = static_cast<std::uint16_t>(header()->watchdog + ticks);
    for (int k = 0; k < plant_.driver().poll_record_count(); ++k) {
      image::PollControlEntry* c = plant_.control(k);
      if (c->polled == 0) continue;
      c->poll_countdown = std::max(0, c->poll_countdown - ticks);
    }
  }
  // A read of record k: sent (countdown reloaded), answered and stored, status good.
  void poll(int k, const std::function<void()>& store = {}) {
    image::PollRecordHead* head = plant_.record(k);
    plant_.control(k)->poll_countdown = head->poll_time;
    {
      image::ByteLock lock(&head->lock);
      if (store) store();
    }
    head->status = 0;
    channel_of(k)->stats.replies_received = static_cast<std::uint16_t>(channel_of(k)->stats.replies_received + 1);
  }
  void set_status(int k, std::uint16_t status) { plant_.record(k)->status = status; }

  image::ChannelRecord* channel_of(int k) {
    for (int c = 0; c < plant_.driver().channel_count(); ++c) {
      image::ChannelRecord* ch = plant_.driver().nio_map_chan(c);
      if (k >= ch->first_poll_record && k < ch->first_poll_record + ch->poll_record_count) return ch;
    }
    return plant_.driver().nio_map_chan(0);
  }

 private:
  Plant& plant_;
  FakeClock& clock_;
  bool running_ = false;
};

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
