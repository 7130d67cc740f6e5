// The poller killed outright (SIGKILL) while clients write and while it reloads, and a client
// killed while it holds a lock byte: the survivors notice within the liveness window, no call
// waits longer than the bounded lock wait, and a new poller takes over cleanly.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <random>
#include <thread>

#include <gtest/gtest.h>

#include "hostlib/host_library.h"
#include "image/lock_byte.h"
#include "platform/clock.h"
#include "testsupport/mcsim_peer.h"

namespace hbt::hostlib {
namespace {

using testsupport::McsimPeer;
using testsupport::ChildProcess;
using testsupport::eventually;

double ms_since(std::int64_t start_ns) { return (platform::monotonic_ns() - start_ns) / 1e6; }

struct Point {
  NioAddress address{};
  NioDriverArea driver_area{};
  NioBlock block{nullptr, &address, &driver_area};
  NioFormat format{};
};

class PollerCrash : public ::testing::Test {
 protected:
  testsupport::TestEnvironment env;
  McsimPeer plc{env.dir(), {"udp:0:3e-binary"}};
  std::unique_ptr<ChildProcess> poller;
  testsupport::RecordingSink watcher_messages;
  image::Niolib watcher{watcher_options(), watcher_messages};  // sees the block as any client does

  static image::NiolibOptions watcher_options() {
    image::NiolibOptions o;
    o.variant = image::NiolibVariant::kClient;
    o.start_poller = false;
    return o;
  }

  void SetUp() override {
    ASSERT_TRUE(plc.ready()) << plc.output();
    ASSERT_TRUE(plc.ok("set D100 11 12 13 14 15 16 17 18 19 20"));
    testsupport::ConfigSpec plan;
    auto& ch = plan.channels[0];
    ch.ip_port = plc.port(0);
    ch.retries = 1;
    ch.reply_timeout = 50;
    ch.delay = 50;
    ch.devices[0].name = "PLC1";
    ch.devices[0].records = {testsupport::RecordSpec{image::RegisterType::D, 100, 10},
                             testsupport::RecordSpec{image::RegisterType::D, 200, 10}};
    for (auto& r : ch.devices[0].records) r.poll_time = 10;
    testsupport::install_configuration(env, plan);
    start_poller();
  }
  void TearDown() override {
    if (image::PointerBlock* b = watcher.pointer_block())
      std::atomic_ref<std::uint16_t>(b->command).store(image::kCommandExit);
    if (poller && !poller->wait_exit(5000)) poller->kill_now();
  }

  void start_poller() {
    poller = std::make_unique<ChildProcess>(std::vector<std::string>{testsupport::poller_path(), "S"}, false, env.dir());
    ASSERT_TRUE(eventually(
        [&] {
          poller->output();
          image::PointerBlock* b = watcher.open_pointer_block();
          return b && std::atomic_ref<std::uint16_t>(b->state).load() == image::kStateRunning &&
                 std::atomic_ref<std::uint32_t>(b->loaded_generation).load() ==
                     std::atomic_ref<std::uint32_t>(b->map_generation).load();
        },
        5000))
        << poller->output();
  }

  void kill_poller() {
    poller->kill_now(SIGKILL);
    ASSERT_TRUE(poller->wait_exit(2000).has_value());
  }

  std::unique_ptr<Point> point(HostLibrary& host, const char* address) {
    auto p = std::make_unique<Point>();
    p->format.kind = kKindAnalog;
    p->format.egu_span = 100;
    NioStatus status = -1;
    host.nio_paddr(&status, &p->block, &p->format, address);
    EXPECT_EQ(status, 0) << address;
    return p;
  }
  struct Read {
    NioStatus status = -1;
    std::int16_t value_status = -1;
    float value = -1;
  };
  static Read read(HostLibrary& host, Point& p) {
    Read r;
    NioValue v{0, 4, 0, &r.value};
    host.nio_read(&r.status, &p.block, &p.format, &v);
    r.value_status = v.status;
    return r;
  }
  static NioStatus send(HostLibrary& host, Point& p, float f) {
    NioValue v{kValueFloat, 4, 0, &f};
    NioStatus status = -1;
    host.nio_send(&status, &p.block, &p.format, &v);
    return status;
  }
  // The client's view of the poller: the watchdog flag of nio_get_ServerStatus.
  static bool alive(HostLibrary& host) {
    std::int32_t changed = -1;
    host.nio_get_ServerStatus(nullptr, &changed);
    return changed == 1;
  }
  // How long after `since` the client stops seeing the watchdog move, asking every 100 ms.
  static double noticed_after(HostLibrary& host, std::int64_t since, double give_up_ms) {
    while (ms_since(since) < give_up_ms) {
      if (!alive(host)) return ms_since(since);
      platform::sleep_ms(100);
    }
    return give_up_ms;
  }
  bool reaches_plc(HostLibrary& host, Point& p, int value) {
    return eventually(
        [&] {
          send(host, p, static_cast<float>(value));
          poller->output();
          return plc.control("get D105") == "ok " + std::to_string(value);
        },
        5000);
  }
  // Every lock byte of the image is free.
  bool all_locks_free() {
    if (!watcher.nio_map_hdr()) return false;
    for (int k = 0; k < watcher.poll_record_count(); ++k) {
      if (std::atomic_ref<std::uint8_t>(watcher.nio_map_dit(k)->lock).load() != image::kUnlocked) return false;
      if (std::atomic_ref<std::uint8_t>(watcher.nio_map_ptr(k)->lock).load() != image::kUnlocked) return false;
    }
    return true;
  }
};

TEST_F(PollerCrash, KilledWhileClientsWriteIsNoticedAndANewPollerTakesOver) {
  HostLibrary host(HostOptions{false});
  auto p = point(host, "PLC1:D:105");
  auto q = point(host, "PLC1:D:200");
  ASSERT_TRUE(eventually([&] { return read(host, *p).value == 16.0f; }, 5000)) << poller->output();
  ASSERT_TRUE(reaches_plc(host, *p, 500));

  // Two threads write and read as fast as they can; the poller dies under them.
  std::atomic<bool> stop{false};
  std::atomic<std::int64_t> killed_at{0};
  std::atomic<std::int64_t> longest_after_kill_ns{0};
  auto hammer = [&](Point& point, int base) {
    for (int i = 0; !stop; ++i) {
      const std::int64_t start = platform::monotonic_ns();
      send(host, point, static_cast<float>(base + i % 1000));
      read(host, point);
      const std::int64_t took = platform::monotonic_ns() - start;
      if (killed_at.load() != 0 && start > killed_at.load() && took > longest_after_kill_ns.load())
        longest_after_kill_ns.store(took);
    }
  };
  std::thread a(hammer, std::ref(*p), 1000), b(hammer, std::ref(*q), 3000);
  platform::sleep_ms(300);
  const std::int64_t kill_time = platform::monotonic_ns();
  killed_at.store(kill_time);
  kill_poller();
  const double noticed = noticed_after(host, kill_time, 3000);
  platform::sleep_ms(300);
  stop = true;
  a.join();
  b.join();
  std::printf("poller killed while writing: noticed after %.0f ms, longest client call after the kill %.1f ms\n",
              noticed, longest_after_kill_ns.load() / 1e6);
  EXPECT_LE(noticed, 1100 + 150) << "the watchdog flag drops within the liveness window";
  EXPECT_LT(longest_after_kill_ns.load() / 1e6, 31 * 10.0) << "no lock byte is waited on beyond its bound";
  // The clients' own accesses took over whatever the dead poller held.
  read(host, *p);
  read(host, *q);
  EXPECT_TRUE(all_locks_free());

  start_poller();
  EXPECT_TRUE(eventually([&] { return alive(host); }, 3000)) << poller->output();
  EXPECT_TRUE(reaches_plc(host, *p, 777)) << poller->output();
  EXPECT_TRUE(eventually([&] { auto r = read(host, *q); return r.value_status == 0 && r.status == 0; }, 3000));
}

TEST_F(PollerCrash, KilledDuringAReloadLeavesClientsWaitingNoLongerThanTheLivenessWindow) {
  HostLibrary host(HostOptions{false});
  auto p = point(host, "PLC1:D:105");
  ASSERT_TRUE(eventually([&] { return read(host, *p).value == 16.0f; }, 5000)) << poller->output();
  std::mt19937 rng(std::random_device{}());
  for (int round = 0; round < 3; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    image::PointerBlock* block = watcher.pointer_block();
    ASSERT_NE(block, nullptr);
    // The editor's reload: stop, and once stopped, run again; the poller dies somewhere in it.
    std::atomic_ref<std::uint16_t> command(block->command), state(block->state);
    command.store(image::kCommandStop);
    ASSERT_TRUE(eventually([&] { return state.load() == image::kStateStopped; }, 3000)) << poller->output();
    command.store(image::kCommandRun);
    // Before it acts on the command, while it loads, or once it polls the new image again.
    platform::sleep_ms(static_cast<int>(round == 0 ? rng() % 15 : round == 1 ? 10 + rng() % 30 : 100 + rng() % 200));
    const std::int64_t kill_time = platform::monotonic_ns();
    kill_poller();

    // The client notices when a read fails or the watchdog stands still, whichever is first;
    // a read that finds the image half reloaded waits for the poller about 1.1 s, no longer.
    double longest = 0, noticed_ms = -1;
    while (ms_since(kill_time) < 2500) {
      std::int64_t start = platform::monotonic_ns();
      const Read r = read(host, *p);
      longest = std::max(longest, ms_since(start));
      if (noticed_ms < 0 && (r.status != 0 || r.value_status != 0)) noticed_ms = ms_since(kill_time);
      start = platform::monotonic_ns();
      const bool up = alive(host);
      longest = std::max(longest, ms_since(start));
      if (noticed_ms < 0 && !up) noticed_ms = ms_since(kill_time);
      platform::sleep_ms(50);
    }
    std::printf("poller killed in a reload: noticed after %.0f ms, longest client call %.0f ms\n", noticed_ms, longest);
    EXPECT_GE(noticed_ms, 0);
    EXPECT_LE(noticed_ms, 1100 + 400);
    EXPECT_LT(longest, 1100 + 400) << "a client waits for a dead poller no longer than the liveness window";

    start_poller();
    EXPECT_TRUE(eventually(
        [&] {
          auto r = read(host, *p);
          return r.status == 0 && r.value_status == 0 && r.value == 16.0f;
        },
        5000))
        << poller->output();
    EXPECT_TRUE(all_locks_free());
  }
}

TEST_F(PollerCrash, ClientKilledHoldingLockBytesDelaysTheOthersOnlyOnce) {
  HostLibrary host(HostOptions{false});
  auto p = point(host, "PLC1:D:105");
  ASSERT_TRUE(eventually([&] { return read(host, *p).value == 16.0f; }, 5000)) << poller->output();
  ASSERT_TRUE(watcher.nio_map_hdr());
  image::PollRecordHead* record = watcher.nio_map_dit(0);
  image::PollControlEntry* control = watcher.nio_map_ptr(0);
  pid_t pid = fork();
  if (pid == 0) {
    // Another client dies in the middle of an access.
    image::lock_byte(&record->lock);
    image::lock_byte(&control->lock);
    kill(getpid(), SIGKILL);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFSIGNALED(status));

  // The poller takes the locks over and goes on storing what the PLC holds.
  ASSERT_TRUE(plc.ok("set D105 4242"));
  const std::int64_t start = platform::monotonic_ns();
  EXPECT_TRUE(eventually([&] { return read(host, *p).value == 4242.0f; }, 3000)) << poller->output();
  std::printf("value through locks left by a dead client after %.0f ms\n", ms_since(start));
  const std::int64_t call = platform::monotonic_ns();
  read(host, *p);
  EXPECT_LT(ms_since(call), 31 * 10.0);
  EXPECT_TRUE(reaches_plc(host, *p, 99));
  EXPECT_TRUE(all_locks_free());
}

}  // namespace
}  // namespace hbt::hostlib
