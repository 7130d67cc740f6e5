// The host library's test plant (a configuration loaded into a live image by a driver-side
// NIOLIB) behind a session's table of host entry points, and a stand-in for the poller that
// ticks, polls and fails records on a fake clock. For the points library's tests and
// benchmarks.
#pragma once

#include <algorithm>
#include <cstring>
#include <functional>

#include "hostlib/test_plant.h"
#include "image/lock_byte.h"
#include "points/clock.h"
#include "points/host_exports.h"

namespace hbt::points::testing {

using hostlib::testing::Plant;

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

}  // namespace hbt::points::testing
