// The pieces of the poller's start-up and console that need no running loop.
#include <unistd.h>

#include <gtest/gtest.h>

#include "image/message_ring.h"
#include "poller/command_line.h"
#include "poller/console_keys.h"
#include "poller/message_routine.h"
#include "poller/poller.h"
#include "testsupport/test_environment.h"

namespace hbt::poller {
namespace {

using namespace hbt::image;

TEST(CommandLine, FirstMatchingLetterDecides) {
  auto none = examine_command_line({});
  EXPECT_FALSE(none.any_argument);
  auto fp = examine_command_line({"/fp"});
  EXPECT_TRUE(fp.any_argument);
  EXPECT_TRUE(fp.file_log);
  EXPECT_FALSE(fp.paused) << "F matched first, so P is not looked at";
  auto sp = examine_command_line({"SP"});
  EXPECT_FALSE(sp.file_log);
  EXPECT_FALSE(sp.paused);
  auto p = examine_command_line({"x", "/p"});
  EXPECT_TRUE(p.paused);
  // Only the first 127 characters of an argument count.
  EXPECT_FALSE(examine_command_line({std::string(127, 'x') + "F"}).file_log);
}

struct Keys : ::testing::Test {
  testsupport::TestEnvironment env;
  MessageRoutine routine{nullptr, env.dir()};
  Poller poller{routine};
  PointerBlock* block = nullptr;
  void SetUp() override {
    block = poller.niolib.open_pointer_block();
    ASSERT_NE(block, nullptr);
    routine.set_pointer_block(block);
  }
  std::vector<std::string> ring() {
    RingReader reader(block, 0);
    std::vector<std::string> texts;
    while (auto m = reader.next()) texts.push_back(m->text);
    return texts;
  }
};

TEST_F(Keys, SStopsARunningPollerAndStartsAStoppedOne) {
  block->state = kStateRunning;
  handle_key(poller, 's');
  EXPECT_EQ(block->command, kCommandStop);
  block->state = kStateStopped;
  handle_key(poller, 'S');
  EXPECT_EQ(block->command, kCommandRun);
  EXPECT_EQ(ring(), (std::vector<std::string>{"Stop Requested", "Start Requested"}));
  EXPECT_EQ(block->ring[0].colour, kColourWarning);
}

TEST_F(Keys, FTogglesTheFileLogAndPThePauseAnyOtherShowsUsage) {
  handle_key(poller, 'f');
  EXPECT_EQ(block->file_log, 1u);
  handle_key(poller, 'F');
  EXPECT_EQ(block->file_log, 0u);
  handle_key(poller, 'p');
  EXPECT_TRUE(routine.paused());
  handle_key(poller, 'x');
  EXPECT_FALSE(routine.paused());
  EXPECT_EQ(ring(), (std::vector<std::string>{"Toggle File Log = 1", "Toggle File Log = 0",
                                              "Brenlow Ethernet Driver (HBT) V7.9.21", "Usage: 'S' Stop/Start",
                                              "       'P' Toggle Pause text messages"}));
}

TEST_F(Keys, MessageRoutineCutsAtLineEndsAndLogsOnlyWhileTheFlagIsSet) {
  report(routine, kColourInfo, "first line\r\nsecond line");
  block->file_log = 1;
  report(routine, kColourError, "logged %d", 42);
  block->ring_enabled = 0;
  report(routine, kColourError, "only in the file");
  EXPECT_EQ(ring(), (std::vector<std::string>{"first line", "logged 42"}));
  std::string log = testsupport::read_file(routine.log_file_path());
  EXPECT_NE(log.find(" |logged 42\r\n"), std::string::npos) << log;
  EXPECT_NE(log.find(" |only in the file\r\n"), std::string::npos) << log;
  EXPECT_EQ(log.find("first line"), std::string::npos);
}

TEST_F(Keys, UnwritableLogDirectoryIsReportedOnTheConsoleOnly) {
  MessageRoutine bad(nullptr, env.path("no/such/dir"));
  bad.set_pointer_block(block);
  block->file_log = 1;
  report(bad, kColourInfo, "still in the ring");
  EXPECT_EQ(ring(), (std::vector<std::string>{"still in the ring"}));
}

}  // namespace
}  // namespace hbt::poller
