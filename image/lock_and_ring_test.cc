#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>

#include <gtest/gtest.h>

#include "image/lock_byte.h"
#include "image/message_ring.h"
#include "image/message_sink.h"
#include "platform/clock.h"
#include "platform/shared_region.h"
#include "testsupport/test_environment.h"

namespace hbt::image {
namespace {

using testsupport::TestEnvironment;

std::unique_ptr<platform::SharedRegion> shared_block() {
  bool existed;
  return platform::SharedRegion::create_or_open("Block", sizeof(PointerBlock), &existed);
}

TEST(LockByte, FreeLockIsTakenAtOnceAndReleased) {
  std::uint8_t byte = kUnlocked;
  std::int64_t start = platform::monotonic_ns();
  EXPECT_TRUE(lock_byte(&byte));
  EXPECT_EQ(byte, kLocked);
  unlock_byte(&byte);
  EXPECT_EQ(byte, kUnlocked);
  EXPECT_LT(platform::monotonic_ns() - start, 1000000);
}

TEST(LockByte, DeadHolderDelaysOthersByTheBoundedWaitOnly) {
  TestEnvironment env;
  auto region = shared_block();
  auto* byte = static_cast<std::uint8_t*>(region->data());
  *byte = kUnlocked;
  pid_t pid = fork();
  if (pid == 0) {
    lock_byte(byte);
    kill(getpid(), SIGKILL);  // dies holding the lock
  }
  int status;
  waitpid(pid, &status, 0);
  ASSERT_EQ(*byte, kLocked);
  std::int64_t start = platform::monotonic_ns();
  EXPECT_FALSE(lock_byte(byte)) << "taken over, not granted";
  double ms = (platform::monotonic_ns() - start) / 1e6;
  EXPECT_GE(ms, 31.0);
  EXPECT_LT(ms, 200.0);
  EXPECT_EQ(*byte, kLocked);
}

TEST(LockByte, LiveHolderIsWaitedFor) {
  TestEnvironment env;
  auto region = shared_block();
  auto* byte = static_cast<std::uint8_t*>(region->data());
  auto* counter = reinterpret_cast<std::uint32_t*>(byte + 64);
  *byte = kUnlocked;
  *counter = 0;
  // Two processes increment a plain counter under the lock; none of the increments is lost.
  constexpr int kRounds = 2000;
  pid_t pid = fork();
  for (int i = 0; i < kRounds; ++i) {
    ByteLock lock(byte);
    std::uint32_t v = *counter;
    if (i % 64 == 0) usleep(50);
    *counter = v + 1;
  }
  if (pid == 0) _exit(0);
  int status;
  waitpid(pid, &status, 0);
  EXPECT_EQ(*counter, 2u * kRounds);
}

TEST(MessageRing, WritersInSeveralProcessesNeverShareASlot) {
  TestEnvironment env;
  auto region = shared_block();
  auto* block = static_cast<PointerBlock*>(region->data());
  block->ring_enabled = 1;
  constexpr int kProcesses = 4;
  constexpr int kMessages = 250;
  std::vector<pid_t> children;
  for (int p = 0; p < kProcesses; ++p) {
    pid_t pid = fork();
    if (pid == 0) {
      for (int m = 0; m < kMessages; ++m) append_to_ring(block, kColourInfo, "process " + std::to_string(p));
      _exit(0);
    }
    children.push_back(pid);
  }
  for (pid_t pid : children) waitpid(pid, nullptr, 0);
  EXPECT_EQ(block->ring_next, std::uint32_t{kProcesses * kMessages % kMessageRingEntries});
}

TEST(MessageRing, ReaderFollowsWrapsAndCutsTexts) {
  PointerBlock block{};
  block.ring_enabled = 1;
  block.ring_next = 62;
  RingReader reader(&block);
  EXPECT_FALSE(reader.next());
  append_to_ring(&block, kColourError, "first");
  append_to_ring(&block, kColourInfo, "second\rhidden");
  append_to_ring(&block, kColourNormal, std::string(200, 'x'));
  EXPECT_EQ(block.ring_next, 1u);
  auto a = reader.next();
  auto b = reader.next();
  auto c = reader.next();
  ASSERT_TRUE(a && b && c);
  EXPECT_EQ(a->text, "first");
  EXPECT_EQ(a->colour, kColourError);
  EXPECT_EQ(b->text, "second");
  EXPECT_EQ(c->text, std::string(123, 'x'));
  EXPECT_EQ(block.ring[0].length, 123);
  EXPECT_FALSE(reader.next());

  block.ring_enabled = 0;
  append_to_ring(&block, kColourInfo, "not stored");
  EXPECT_EQ(block.ring_next, 1u);
}

}  // namespace
}  // namespace hbt::image
