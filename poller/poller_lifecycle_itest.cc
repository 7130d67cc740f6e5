// The poller program as its clients and its operator meet it: started through "DriverExe",
// alone on the machine, exiting without clients, stopped and restarted from its console.
#include <atomic>
#include <cstring>

#include <gtest/gtest.h>

#include "image/message_ring.h"
#include "image/niolib.h"
#include "platform/clock.h"
#include "testsupport/by_value.h"
#include "testsupport/child_process.h"
#include "testsupport/driver_setup.h"
#include "testsupport/recording_sink.h"

namespace hbt::poller {
namespace {

using namespace hbt::image;
using testsupport::ChildProcess;
using testsupport::eventually;
using testsupport::RecordingSink;
using testsupport::TestEnvironment;
using testsupport::by_value;

testsupport::ConfigSpec one_channel() {
  testsupport::ConfigSpec plan;
  plan.channels[0].ip_address = 0x7F000001;
  plan.channels[0].ip_port = 9;  // nothing answers; this test is about the life cycle only
  plan.channels[0].devices[0].records[0].poll_time = image::kPollTimeDisabled;
  return plan;
}

NiolibOptions watcher_options() {
  NiolibOptions o;
  o.variant = NiolibVariant::kClient;
  o.start_poller = false;
  return o;
}

std::uint16_t state_of(PointerBlock* b) { return std::atomic_ref<std::uint16_t>(b->state).load(); }

// Everything the ring holds from its start (the block was fresh for this test).
std::string ring_text(PointerBlock* block) {
  RingReader reader(block, 0);
  std::string all;
  while (auto m = reader.next()) all += m->text + "\n";
  return all;
}

struct PollerLifecycle : ::testing::Test {
  TestEnvironment env;
  RecordingSink messages;
  Niolib watcher{watcher_options(), messages};

  PointerBlock* block() {
    PointerBlock* b = watcher.open_pointer_block();
    EXPECT_NE(b, nullptr);
    return b;
  }
  void exit_poller() {
    std::atomic_ref<std::uint16_t>(block()->command).store(kCommandExit);
  }
};

TEST_F(PollerLifecycle, ClientStartsThePollerThroughDriverExeAndMapsItsImage) {
  testsupport::install_configuration(env, one_channel());
  testsupport::install_driver_exe("S");
  NiolibOptions options;
  options.variant = NiolibVariant::kClient;
  Niolib client(options, messages);
  ImageHeader* header = client.nio_map_hdr();
  ASSERT_NE(header, nullptr) << messages.all();
  client.attach_client();
  PointerBlock* b = client.pointer_block();
  EXPECT_TRUE(eventually([&] { return state_of(b) == kStateRunning; }, 3000));
  EXPECT_TRUE(eventually([&] { return (header->flags & kPollingFlag) != 0; }, 3000));
  std::uint32_t alive = b->alive_counter;
  std::uint16_t watchdog = header->watchdog;
  platform::sleep_ms(200);
  EXPECT_GT(b->alive_counter, alive + 5) << "the alive counter moves every tick";
  EXPECT_NE(by_value(header->watchdog), watchdog);
  EXPECT_EQ(b->client_count, 1u);
  EXPECT_EQ(client.nio_map_chan(0)->stats.active_selector, 0);
  EXPECT_EQ(by_value(client.nio_map_chan(0)->runtime_ref), 1u);
  std::string ring = ring_text(b);
  // The greeting comes before the block is open, so it reaches the console only.
  EXPECT_EQ(ring.find("Brenlow Ethernet Driver (HBT) V7.9.21 Started"), std::string::npos) << ring;
  EXPECT_NE(ring.find("Creating address for 127.0.0.1 "), std::string::npos) << ring;
  EXPECT_NE(ring.find("HBT V 7.9.21 started."), std::string::npos) << ring;

  client.detach_client();
  std::atomic_ref<std::uint16_t>(b->command).store(kCommandExit);
  EXPECT_TRUE(eventually([&] { return state_of(b) == kStateExited; }, 3000));
  EXPECT_EQ(b->alive_counter, 0u);
  EXPECT_EQ(header->flags & kPollingFlag, 0) << "polling stopped before the exit";
  EXPECT_EQ(by_value(client.nio_map_dit(0)->status), kStatusNotPolled);
}

TEST_F(PollerLifecycle, ASecondPollerExitsAtOnceUnlessGivenAnArgument) {
  testsupport::install_configuration(env, one_channel());
  PointerBlock* b = block();
  ChildProcess first({testsupport::poller_path()}, false, env.dir());
  ASSERT_TRUE(eventually([&] { return state_of(b) == kStateRunning; }, 3000)) << first.output();

  ChildProcess second({testsupport::poller_path()}, false, env.dir());
  std::int64_t start = platform::monotonic_ns();
  EXPECT_EQ(second.wait_exit(3000), 0);
  double seconds = (platform::monotonic_ns() - start) / 1e9;
  EXPECT_GE(seconds, 0.5);
  EXPECT_LT(seconds, 1.5);
  EXPECT_TRUE(first.running());

  // Any argument skips the check: this one keeps running beside the first.
  ChildProcess third({testsupport::poller_path(), "S"}, false, env.dir());
  platform::sleep_ms(1500);
  EXPECT_TRUE(third.running());
  exit_poller();
  EXPECT_EQ(first.wait_exit(5000), 0);
  EXPECT_EQ(third.wait_exit(5000), 0);
}

TEST_F(PollerLifecycle, ExitsAboutTenSecondsAfterStartWhenNoClientUsesIt) {
  testsupport::install_configuration(env, one_channel());
  PointerBlock* b = block();
  std::int64_t start = platform::monotonic_ns();
  ChildProcess poller({testsupport::poller_path()}, false, env.dir());
  auto code = poller.wait_exit(20000);
  double seconds = (platform::monotonic_ns() - start) / 1e9;
  ASSERT_EQ(code, 0);
  EXPECT_GT(seconds, 9.5);
  EXPECT_LT(seconds, 13.0);
  EXPECT_EQ(b->state, kStateExited);
  std::string ring = ring_text(b);
  EXPECT_NE(ring.find("Exiting No Client usage"), std::string::npos) << ring;
  EXPECT_NE(ring.find("HBT V 7.9.21 stopped."), std::string::npos) << ring;
  EXPECT_EQ(ring.find("nio_poll_reload()"), std::string::npos) << "no reload on the way out";
}

TEST_F(PollerLifecycle, KeySPressedTwiceReloadsAFreshImageUnderTheNextGeneration) {
  std::string path = testsupport::install_configuration(env, one_channel());
  PointerBlock* b = block();
  ChildProcess poller({testsupport::poller_path(), "S"}, true, env.dir());
  ASSERT_TRUE(eventually([&] { return state_of(b) == kStateRunning; }, 3000)) << poller.output();
  Niolib client(watcher_options(), messages);
  ASSERT_NE(client.nio_map_hdr(), nullptr);
  client.attach_client();
  client.nio_map_dit(0)->status = 1234;  // a run-time change that a reload must discard

  poller.send("s");
  ASSERT_TRUE(eventually([&] { return state_of(b) == kStateStopped; }, 3000)) << poller.output();
  EXPECT_TRUE(poller.wait_for_output("Stop Requested", 2000));
  EXPECT_TRUE(eventually([&] { return b->loaded_generation == 1; }, 3000));
  poller.send("S");
  ASSERT_TRUE(eventually([&] { return state_of(b) == kStateRunning; }, 3000)) << poller.output();
  EXPECT_TRUE(poller.wait_for_output("Start Requested", 2000));

  EXPECT_EQ(b->map_generation, 1u);
  EXPECT_STREQ(b->image_name, "HBT1");
  ASSERT_NE(client.nio_map_hdr(), nullptr);
  EXPECT_EQ(client.mapped_generation(), 1u);
  EXPECT_EQ(by_value(client.nio_map_dit(0)->status), kStatusNotPolled) << "the new image comes from the file";
  EXPECT_TRUE(poller.wait_for_output("nio_poll_reload()", 2000));

  // Any other key shows the usage; F toggles the log file.
  poller.send("?F");
  EXPECT_TRUE(poller.wait_for_output("Usage: 'S' Stop/Start", 2000));
  EXPECT_TRUE(poller.wait_for_output("Toggle File Log = 1", 2000));
  client.detach_client();
  exit_poller();
  EXPECT_EQ(poller.wait_exit(5000), 0);
}

TEST_F(PollerLifecycle, ClientFollowsAReloadRequestedThroughThePointerBlock) {
  testsupport::install_configuration(env, one_channel());
  PointerBlock* b = block();
  ChildProcess poller({testsupport::poller_path(), "S"}, false, env.dir());
  ASSERT_TRUE(eventually([&] { return state_of(b) == kStateRunning; }, 3000));
  Niolib client(watcher_options(), messages);
  ASSERT_NE(client.nio_map_hdr(), nullptr);
  client.attach_client();
  EXPECT_EQ(client.channel_count(), 1);

  testsupport::ConfigSpec two = one_channel();
  two.channels.push_back(two.channels[0]);
  testsupport::install_configuration(env, two);
  Niolib editor(watcher_options(), messages);
  EXPECT_EQ(editor.ReloadConfiguration("a", "b"), 1);
  EXPECT_EQ(state_of(b), kStateRunning);
  ASSERT_NE(client.nio_map_hdr(), nullptr);
  EXPECT_EQ(client.mapped_generation(), 1u);
  EXPECT_EQ(client.channel_count(), 2);
  EXPECT_TRUE(messages.contains("ReloadConfiguration(a,b)"));
  client.detach_client();
  exit_poller();
  EXPECT_EQ(poller.wait_exit(5000), 0);
}

TEST_F(PollerLifecycle, RefusedImageLeavesThePollerStoppedUntilTheNextStart) {
  testsupport::ConfigSpec plan = one_channel();
  std::string bytes = testsupport::build_configuration(plan);
  bytes[kFilePrefixSize + 18] = 0;  // no poll records
  bytes[kFilePrefixSize + 19] = 0;
  testsupport::install_configuration_bytes(env, bytes);
  PointerBlock* b = block();
  b->client_usage_countdown = 100000;
  ChildProcess poller({testsupport::poller_path(), "S"}, false, env.dir());
  ASSERT_TRUE(eventually([&] { return state_of(b) == kStateStopped; }, 5000));
  std::string ring = ring_text(b);
  EXPECT_NE(ring.find("init_dit() bad object counts"), std::string::npos) << ring;
  EXPECT_NE(ring.find("nio_map_hdr() failed"), std::string::npos) << ring;

  // Mended file, start command: the poller loads it and runs.
  testsupport::install_configuration(env, plan);
  Niolib editor(watcher_options(), messages);
  std::atomic_ref<std::uint16_t>(b->command).store(kCommandRun);
  EXPECT_TRUE(eventually([&] { return state_of(b) == kStateRunning; }, 5000)) << ring_text(b);
  exit_poller();
  EXPECT_EQ(poller.wait_exit(5000), 0);
}

TEST_F(PollerLifecycle, FileLogArgumentWritesTimedLinesIntoTheWorkingDirectory) {
  testsupport::install_configuration(env, one_channel());
  PointerBlock* b = block();
  ChildProcess poller({testsupport::poller_path(), "/fp"}, false, env.dir());
  ASSERT_TRUE(eventually([&] { return state_of(b) == kStateRunning; }, 3000));
  EXPECT_EQ(b->file_log, 1u);
  exit_poller();
  EXPECT_EQ(poller.wait_exit(5000), 0);
  std::string log = testsupport::read_file(env.path("HBT_LOG.TXT"));
  EXPECT_NE(log.find(" |HBT V 7.9.21 started.\r\n"), std::string::npos) << log;
  // "%d %02d:%02d:%02d |%s\r\n"
  std::size_t bar = log.find(" |");
  ASSERT_NE(bar, std::string::npos);
  std::size_t line_start = log.rfind('\n', bar);
  line_start = line_start == std::string::npos ? 0 : line_start + 1;
  std::string stamp = log.substr(line_start, bar - line_start);
  int day, h, m, s;
  char tail;
  EXPECT_EQ(std::sscanf(stamp.c_str(), "%d %2d:%2d:%2d%c", &day, &h, &m, &s, &tail), 4) << stamp;
  EXPECT_EQ(stamp.size() - stamp.find(' '), 9u) << "two-digit time fields: " << stamp;
  // "/FP" turns the log on and does not pause: messages reach the console.
  EXPECT_NE(poller.output().find("HBT V 7.9.21 started."), std::string::npos);
}

}  // namespace
}  // namespace hbt::poller
