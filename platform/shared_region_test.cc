#include "platform/shared_region.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>

#include <gtest/gtest.h>

#include "testsupport/test_environment.h"

namespace hbt::platform {
namespace {

using testsupport::TestEnvironment;

// Runs `body` in a child process and returns its exit status.
template <typename Body>
int in_child(Body body) {
  pid_t pid = fork();
  if (pid == 0) _exit(body());
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

TEST(SharedRegion, SecondOpenSeesTheFirstAndItsContent) {
  TestEnvironment env;
  bool existed = true;
  auto first = SharedRegion::create_or_open("R", 4096, &existed);
  ASSERT_TRUE(first);
  EXPECT_FALSE(existed);
  EXPECT_EQ(first->size(), 4096u);
  std::memcpy(first->data(), "hello", 6);

  auto second = SharedRegion::create_or_open("R", 100, &existed);
  ASSERT_TRUE(second);
  EXPECT_TRUE(existed);
  EXPECT_EQ(second->size(), 4096u) << "an existing region keeps its size";
  EXPECT_STREQ(static_cast<char*>(second->data()), "hello");
  EXPECT_EQ(in_child([] {
              auto r = SharedRegion::open_existing("R");
              return r && std::strcmp(static_cast<char*>(r->data()), "hello") == 0 ? 0 : 1;
            }),
            0);
}

TEST(SharedRegion, RegionDisappearsWithItsLastHolder) {
  TestEnvironment env;
  {
    bool existed;
    auto region = SharedRegion::create_or_open("Gone", 64, &existed);
    std::memset(region->data(), 0xAB, 64);
    EXPECT_TRUE(SharedRegion::exists("Gone"));
  }
  EXPECT_FALSE(SharedRegion::exists("Gone"));
  EXPECT_FALSE(SharedRegion::open_existing("Gone"));
  bool existed = true;
  auto again = SharedRegion::create_or_open("Gone", 64, &existed);
  EXPECT_FALSE(existed);
  EXPECT_EQ(static_cast<unsigned char*>(again->data())[0], 0) << "a new region starts zero-filled";
}

TEST(SharedRegion, CrashedHolderLeavesNoStaleRegion) {
  TestEnvironment env;
  // The child creates the region, fills it and dies without any clean-up.
  int status = in_child([] {
    bool existed;
    auto region = SharedRegion::create_or_open("Crash", 64, &existed);
    std::memset(region->data(), 0x5A, 64);
    kill(getpid(), SIGKILL);
    return 0;
  });
  EXPECT_EQ(status, 128 + SIGKILL);
  EXPECT_FALSE(SharedRegion::exists("Crash"));
  EXPECT_FALSE(SharedRegion::open_existing("Crash"));
  bool existed = true;
  auto region = SharedRegion::create_or_open("Crash", 64, &existed);
  ASSERT_TRUE(region);
  EXPECT_FALSE(existed);
  EXPECT_EQ(static_cast<unsigned char*>(region->data())[10], 0);
}

TEST(SharedRegion, ChildSeesRegionHeldByLiveParent) {
  TestEnvironment env;
  bool existed;
  auto region = SharedRegion::create_or_open("Held", 64, &existed);
  EXPECT_EQ(in_child([] {
              bool existed_in_child = false;
              auto r = SharedRegion::create_or_open("Held", 64, &existed_in_child);
              return r && existed_in_child ? 0 : 1;
            }),
            0);
  // The child's close must not have removed the parent's region.
  EXPECT_TRUE(SharedRegion::exists("Held"));
}

TEST(SharedRegion, NamespacesKeepTestsApart) {
  TestEnvironment a;
  bool existed;
  auto region = SharedRegion::create_or_open("Same", 64, &existed);
  {
    TestEnvironment b;
    EXPECT_FALSE(SharedRegion::exists("Same"));
  }
  EXPECT_TRUE(SharedRegion::exists("Same"));
}

TEST(SharedRegion, InitialiserRunsOnlyForAFreshRegion) {
  TestEnvironment env;
  int runs = 0;
  auto init = [&](void* data, std::size_t) {
    ++runs;
    static_cast<char*>(data)[0] = 'I';
  };
  bool existed;
  auto first = SharedRegion::create_or_open("Init", 64, &existed, nullptr, init);
  auto second = SharedRegion::create_or_open("Init", 64, &existed, nullptr, init);
  EXPECT_EQ(runs, 1);
  EXPECT_EQ(static_cast<char*>(second->data())[0], 'I');
}

TEST(SharedRegion, BadNamesAreRefused) {
  TestEnvironment env;
  bool existed;
  int error = 0;
  EXPECT_FALSE(SharedRegion::create_or_open("a/b", 64, &existed, &error));
  EXPECT_NE(error, 0);
  EXPECT_FALSE(SharedRegion::create_or_open("", 64, &existed));
  EXPECT_FALSE(SharedRegion::create_or_open("zero", 0, &existed));
}

}  // namespace
}  // namespace hbt::platform
