// The library shared by many threads of one host while the poller works and reloads: readers,
// a writer and an exception fetcher run at once, the image is replaced under them by another
// process, and every call keeps answering. Meant to run under the thread sanitizer too.
#include <atomic>
#include <thread>

#include <gtest/gtest.h>

#include "hostlib/point_position.h"
#include "hostlib/test_plant.h"
#include "platform/clock.h"
#include "testsupport/child_process.h"

namespace hbt::hostlib::testing {
namespace {

TEST(Concurrency, ReadersWritersAndAReloadShareTheLibrary) {
  Plant plant(standard_plant());
  ASSERT_TRUE(plant.loaded());
  plant.all_good();
  HostLibrary& host = plant.host();
  host.nio_enable_options(1);

  constexpr int kReaders = 4;
  std::vector<std::unique_ptr<Point>> reader_points, watched;
  for (int i = 0; i < kReaders; ++i) reader_points.push_back(plant.point("PLC1:D:10" + std::to_string(i), 1));
  for (int i = 0; i < 10; ++i) {
    watched.push_back(plant.point("PLC1:D:10" + std::to_string(i), 1));
    NioEventId id{static_cast<std::uint8_t>(i + 1), 0, 0};
    NioStatus status = 0;
    host.nio_on(&status, &watched.back()->block, &watched.back()->format, &id, 0);
    ASSERT_EQ(status, kStatusRegistered);
  }
  auto writer_point = plant.point("PLC1:D:600", 1);
  auto array_point = plant.point("PLC1:D:100", 1);

  image::PollRecordHead* record = plant.record(0);
  image::PollControlEntry* control = plant.control(0);
  std::uint8_t* values = plant.area(0, 1);
  auto* table = reinterpret_cast<image::ExceptionEntry*>(plant.area(0, 5));

  std::atomic<bool> stop{false};
  std::atomic<int> bad{0}, reads{0};
  std::atomic<int> on_new_image{0};

  // The poller's part: new values (multiples of 3) under the record lock, changes flagged.
  std::thread poller([&] {
    for (std::uint16_t v = 0; !stop; v = static_cast<std::uint16_t>((v + 1) % 20000)) {
      int flagged = 0;
      {
        image::ByteLock lock(&record->lock);
        for (int w = 0; w < 10; ++w) store(values + 2 * w, static_cast<std::uint16_t>(3 * v));
        for (int e = 0; e < 10; ++e)
          if (table[e].id != 0 && table[e].changed == 0) table[e].changed = 1, ++flagged;
      }
      if (flagged) {
        image::ByteLock lock(&control->lock);
        store_changed_count(control, static_cast<std::uint16_t>(load_changed_count(control) + flagged));
      }
      platform::sleep_ms(1);
    }
  });

  std::vector<std::thread> threads;
  for (int r = 0; r < kReaders; ++r) {
    threads.emplace_back([&, r] {
      Point& p = *reader_points[r];
      bool counted = false;
      while (!stop) {
        float f = -1;
        NioValue v{0, 4, 0, &f};
        NioStatus status = -1;
        host.nio_read(&status, &p.block, &p.format, &v);
        // Before the reload every value is a multiple of 3; the new image is not polled yet.
        const bool good = status == 0 && ((v.status == 0 && static_cast<int>(f) % 3 == 0) || v.status == 4297);
        if (!good) ++bad;
        ++reads;
        if (!counted && ((p.address.handle >> 16) & 3) == 1) {
          counted = true;
          ++on_new_image;
        }
      }
    });
  }
  threads.emplace_back([&] {  // VARIANT reads of arrays and writes
    while (!stop) {
      com::VARIANT out;
      com::VariantInit(&out);
      std::uint16_t quality = 0;
      com::FILETIME when;
      NioStatus status = -1;
      host.nio_readEx(&status, &array_point->block, &array_point->format, &when, &quality, 5, &out);
      if (status != 0 || out.vt != (com::VT_ARRAY | com::VT_R4)) ++bad;
      com::VariantClear(&out);
      float f = 12;
      NioValue v{kValueFloat, 4, 0, &f};
      host.nio_send(&status, &writer_point->block, &writer_point->format, &v);
      if (status != 0) ++bad;
    }
  });
  threads.emplace_back([&] {  // exception reporting: fetch, then acknowledge by reading
    NioEventId events[16];
    while (!stop) {
      std::int16_t count = 0;
      NioStatus status = -1;
      host.nio_fetch(&status, events, 16, &count);
      for (int i = 0; i < count; ++i) {
        if (events[i].id < 1 || events[i].id > 10) {
          ++bad;
          continue;
        }
        Point& p = *watched[events[i].id - 1];
        float f;
        NioValue v{0, 4, 0, &f};
        host.nio_read(&status, &p.block, &p.format, &v);
      }
    }
  });

  platform::sleep_ms(300);
  testsupport::ChildProcess reloader({HBT_RELOADER}, false);
  ASSERT_TRUE(reloader.wait_for_output("reloaded", 5000)) << reloader.output();
  EXPECT_TRUE(testsupport::eventually([&] { return on_new_image == kReaders; }, 5000));
  platform::sleep_ms(200);
  stop = true;
  poller.join();
  for (auto& t : threads) t.join();

  EXPECT_EQ(bad, 0) << "of " << reads << " reads";
  EXPECT_GT(reads, 1000);
  EXPECT_EQ(on_new_image, kReaders) << "every reader followed the reload";
  reloader.kill_now();
}

}  // namespace
}  // namespace hbt::hostlib::testing
