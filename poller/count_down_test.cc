#include "poller/count_down.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

namespace hbt::poller {
namespace {

using image::kAccessNeverExpires;
using image::PollControlEntry;

// The count-down rules written out plainly, on 64-bit values, for one entry.
struct ReferenceEntry {
  std::int64_t poll, access;
  int polled, write_requests, expired;
};

std::int64_t toward_zero(std::int64_t v, int elapsed) { return v - elapsed < 0 ? 0 : v - elapsed; }

CountDown reference_count_down(std::vector<ReferenceEntry>& entries, int elapsed) {
  CountDown cd;
  for (ReferenceEntry& e : entries) {
    if (e.polled == 1) {
      if (e.poll != 0) e.poll = toward_zero(e.poll, elapsed);
      if (e.access != 0 && e.access != kAccessNeverExpires) e.access = toward_zero(e.access, elapsed);
    }
    if (e.write_requests > 0) cd.writes_pending = true;
    // What the read scan would act on: an access time that ran out and is not marked yet,
    // or a polled record that is due and still accessed.
    if (e.poll <= 0 && ((e.access <= 0 && e.expired == 0) || (e.access > 0 && e.polled == 1)))
      cd.reads_possible = true;
  }
  return cd;
}

std::int32_t some_countdown(std::mt19937& rng) {
  switch (rng() % 8) {
    case 0:
      return 0;
    case 1:
      return INT32_MIN + static_cast<std::int32_t>(rng() % 3);
    case 2:
      return INT32_MAX - static_cast<std::int32_t>(rng() % 3);
    case 3:
      return -static_cast<std::int32_t>(rng() % 200);
    case 4:
      return kAccessNeverExpires;
    default:
      return static_cast<std::int32_t>(rng() % 400);
  }
}

int some_elapsed(std::mt19937& rng) {
  switch (rng() % 6) {
    case 0:
      return 0;
    case 1:
      return static_cast<int>(rng() % 65536);  // a 16-bit elapsed count after a long stall
    default:
      return 1 + static_cast<int>(rng() % 5);
  }
}

// The entries lie packed at any offset in the image; everything but the two countdowns
// holds random bytes that the count-down must leave as they are.
TEST(CountDown, MatchesThePlainRulesOverRandomEntriesAndTicksAndChangesNothingElse) {
  std::mt19937 rng(20261208);
  for (int round = 0; round < 400; ++round) {
    const int count = static_cast<int>(rng() % 70);
    const std::size_t offset = rng() % 32;
    std::vector<std::uint8_t> image(offset + sizeof(PollControlEntry) * static_cast<std::size_t>(count) + 8);
    for (auto& b : image) b = static_cast<std::uint8_t>(rng());
    auto* entries = reinterpret_cast<PollControlEntry*>(image.data() + offset);
    // Runs of alike records (as a configuration has them) and random mixtures.
    const bool alike = rng() % 2 == 0;
    const std::int32_t alike_poll = some_countdown(rng), alike_access = some_countdown(rng);
    std::vector<ReferenceEntry> model(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
      PollControlEntry& e = entries[i];
      e.poll_countdown = !alike ? some_countdown(rng) : alike_poll > 0 ? alike_poll - static_cast<std::int32_t>(rng() % 2) : alike_poll;
      e.access_countdown = alike ? alike_access : some_countdown(rng);
      e.polled = static_cast<std::uint8_t>(rng() % 5 == 0 ? rng() % 3 : 1);
      e.access_expired = static_cast<std::uint8_t>(rng() % 4 == 0);
      e.write_request_count = static_cast<std::uint16_t>(rng() % 10 == 0 ? rng() % 70000 : 0);
      model[i] = {e.poll_countdown, e.access_countdown, e.polled, e.write_request_count, e.access_expired};
    }
    for (int tick = 0; tick < 30; ++tick) {
      // Between ticks a client reloads an access countdown, clears the expired flag, queues
      // or takes back writes; the poller reloads a poll countdown.
      if (count > 0 && rng() % 3 == 0) {
        const int i = static_cast<int>(rng() % static_cast<unsigned>(count));
        PollControlEntry& e = entries[i];
        switch (rng() % 4) {
          case 0:
            e.access_countdown = some_countdown(rng);
            e.access_expired = 0;
            break;
          case 1:
            e.poll_countdown = some_countdown(rng);
            break;
          case 2:
            e.write_request_count = static_cast<std::uint16_t>(rng() % 3);
            break;
          default:
            e.access_expired = 1;
            break;
        }
        model[i] = {e.poll_countdown, e.access_countdown, e.polled, e.write_request_count, e.access_expired};
      }
      std::vector<std::uint8_t> before = image;
      const int elapsed = some_elapsed(rng);
      const CountDown got = count_down_entries(entries, count, elapsed);
      const CountDown want = reference_count_down(model, elapsed);
      ASSERT_EQ(got.writes_pending, want.writes_pending) << "round " << round << " tick " << tick;
      ASSERT_EQ(got.reads_possible, want.reads_possible) << "round " << round << " tick " << tick;
      for (int i = 0; i < count; ++i) {
        // By value: the entries are packed, and a comparison would bind a reference.
        const std::int64_t poll = entries[i].poll_countdown, access = entries[i].access_countdown;
        ASSERT_EQ(poll, model[i].poll) << "round " << round << " entry " << i;
        ASSERT_EQ(access, model[i].access) << "round " << round << " entry " << i;
        // Put the expected countdowns into the old copy: then every byte must agree.
        auto* old = reinterpret_cast<PollControlEntry*>(before.data() + offset);
        old[i].poll_countdown = static_cast<std::int32_t>(model[i].poll);
        old[i].access_countdown = static_cast<std::int32_t>(model[i].access);
      }
      ASSERT_EQ(before, image) << "round " << round << ": a byte besides the countdowns changed";
    }
  }
}

}  // namespace
}  // namespace hbt::poller
