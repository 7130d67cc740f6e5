// The message ring under writers and readers in several processes and threads at once: a
// reader must only ever get lines that were written completely, each writer's lines in order.
#include "image/message_ring.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "image/message_sink.h"
#include "platform/clock.h"
#include "platform/shared_region.h"
#include "testsupport/test_environment.h"

namespace hbt::image {
namespace {

constexpr int kWriterProcesses = 3;
constexpr int kThreadsPerWriter = 2;
constexpr int kWriters = kWriterProcesses * kThreadsPerWriter;
constexpr int kLinesPerWriter = 4000;
constexpr int kReaders = 3;  // two threads here and one process

// The block and what the test processes share besides it.
struct Shared {
  PointerBlock block;
  std::atomic<int> readers_ready;
  std::atomic<int> writers_done;
  std::atomic<int> reader_lines;
  std::atomic<int> reader_faults;
  char first_fault[160];
};

// Every line names its writer and number and carries a filler whose length and letters
// follow from both, so a line mixed from two writes or cut short does not pass.
std::string line_of(int writer, int number) {
  char head[16];
  std::snprintf(head, sizeof head, "W%02d S%06d ", writer, number);
  std::string text = head;
  const int filler = 5 + (writer * 7 + number * 13) % 105;
  for (int i = 0; i < filler; ++i) text += static_cast<char>('a' + (writer + number + i) % 26);
  return text;
}

// Checks the lines one reader gets: complete, really written, and each writer's in order.
class LineChecker {
 public:
  // Returns "" when the line is acceptable, else what is wrong with it.
  std::string check(const RingMessage& m) {
    int writer = -1, number = -1;
    if (std::sscanf(m.text.c_str(), "W%2d S%6d ", &writer, &number) != 2 || writer < 0 || writer >= kWriters ||
        number < 0 || number >= kLinesPerWriter)
      return "not a line any writer wrote: \"" + m.text + "\"";
    if (m.text != line_of(writer, number)) return "incomplete or mixed line: \"" + m.text + "\"";
    if (m.colour != kColourInfo + writer) return "colour of another line: " + m.text;
    if (number <= last_[writer]) return "line seen out of order or twice: " + m.text;
    last_[writer] = number;
    ++lines_;
    return "";
  }
  int lines() const { return lines_; }

 private:
  int last_[kWriters] = {-1, -1, -1, -1, -1, -1};
  int lines_ = 0;
};

// Follows the ring until every writer is done, then reads what is left.
void follow(Shared* shared, const std::function<void(const std::string&)>& fault, int* lines) {
  RingReader reader(&shared->block, 0);
  LineChecker checker;
  shared->readers_ready.fetch_add(1);
  for (;;) {
    const bool done = shared->writers_done.load() == kWriters;
    while (auto m = reader.next()) {
      std::string problem = checker.check(*m);
      if (!problem.empty()) fault(problem);
    }
    if (done) break;
  }
  *lines = checker.lines();
}

TEST(MessageRing, ReadersInSeveralProcessesOnlyEverSeeCompleteLinesInOrder) {
  testsupport::TestEnvironment env;
  bool existed = false;
  auto region = platform::SharedRegion::create_or_open("RingTest", sizeof(Shared), &existed);
  ASSERT_TRUE(region);
  auto* shared = new (region->data()) Shared{};
  shared->block.ring_enabled = 1;
  // Texts no writer writes: a reader that gets one has read an entry before it was written.
  for (auto& entry : shared->block.ring) std::snprintf(entry.text, sizeof entry.text, "stale entry");

  std::vector<pid_t> children;
  pid_t reader_pid = fork();
  if (reader_pid == 0) {
    int lines = 0;
    follow(shared, [&](const std::string& problem) {
      if (shared->reader_faults.fetch_add(1) == 0)
        std::snprintf(shared->first_fault, sizeof shared->first_fault, "%s", problem.c_str());
    }, &lines);
    shared->reader_lines.store(lines);
    _exit(0);
  }
  for (int p = 0; p < kWriterProcesses; ++p) {
    pid_t pid = fork();
    if (pid == 0) {
      std::vector<std::thread> threads;
      for (int t = 0; t < kThreadsPerWriter; ++t) {
        threads.emplace_back([shared, writer = p * kThreadsPerWriter + t] {
          while (shared->readers_ready.load() < kReaders) std::this_thread::yield();
          for (int n = 0; n < kLinesPerWriter; ++n) {
            append_to_ring(&shared->block, static_cast<std::uint16_t>(kColourInfo + writer), line_of(writer, n));
            // Bursts with pauses, so that the readers keep up most of the time on a busy machine.
            if (n % 16 == 15) usleep(200);
          }
          shared->writers_done.fetch_add(1);
        });
      }
      for (auto& t : threads) t.join();
      _exit(0);
    }
    children.push_back(pid);
  }

  std::vector<std::string> problems;
  std::mutex problems_mutex;
  int lines[2] = {0, 0};
  std::vector<std::thread> readers;
  for (int r = 0; r < 2; ++r)
    readers.emplace_back([&, r] {
      follow(shared, [&](const std::string& problem) {
        std::lock_guard lock(problems_mutex);
        problems.push_back(problem);
      }, &lines[r]);
    });
  for (pid_t pid : children) {
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  for (auto& t : readers) t.join();
  int status = 0;
  waitpid(reader_pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

  EXPECT_EQ(shared->reader_faults.load(), 0) << shared->first_fault;
  EXPECT_TRUE(problems.empty()) << problems.size() << " bad lines, the first: " << problems.front();
  // The readers really followed the writers (the ring holds only the last 64 lines); on a
  // busy machine one of them may get little time, so they count together.
  EXPECT_GT(lines[0] + lines[1] + shared->reader_lines.load(), 300)
      << lines[0] << " + " << lines[1] << " + " << shared->reader_lines.load();
  EXPECT_EQ(shared->block.ring_writer, 0u);
}

TEST(MessageRing, IndexOutsideTheRingIsTakenAsZero) {
  PointerBlock block{};
  block.ring_enabled = 1;
  block.ring_next = 200;
  RingReader reader(&block, 5);
  // Read as 0, so entries 5..63 count as written and are handed out (empty ones, here).
  int handed_out = 0;
  while (reader.next()) ++handed_out;
  EXPECT_EQ(handed_out, 59);
  block.ring_next = 64;
  append_to_ring(&block, kColourError, "into entry 0");
  EXPECT_EQ(block.ring_next, 1u);
  EXPECT_STREQ(block.ring[0].text, "into entry 0");
  RingReader from_start(&block, 0);
  auto m = from_start.next();
  ASSERT_TRUE(m);
  EXPECT_EQ(m->text, "into entry 0");
  EXPECT_FALSE(from_start.next());
}

TEST(MessageRing, WriterKilledWhileHoldingTheRingDelaysOthersBriefly) {
  testsupport::TestEnvironment env;
  bool existed = false;
  auto region = platform::SharedRegion::create_or_open("RingTest", sizeof(PointerBlock), &existed);
  ASSERT_TRUE(region);
  auto* block = new (region->data()) PointerBlock{};
  block->ring_enabled = 1;
  pid_t pid = fork();
  if (pid == 0) {
    // Dies the way a killed writer would, between taking the ring and releasing it.
    std::atomic_ref<std::uint32_t>(block->ring_writer).store(static_cast<std::uint32_t>(getpid()));
    kill(getpid(), SIGKILL);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  ASSERT_EQ(block->ring_writer, static_cast<std::uint32_t>(pid));
  const std::int64_t start = platform::monotonic_ns();
  append_to_ring(block, kColourInfo, "after the crash");
  const double ms = (platform::monotonic_ns() - start) / 1e6;
  EXPECT_LT(ms, 100.0);
  EXPECT_EQ(block->ring_next, 1u);
  EXPECT_STREQ(block->ring[0].text, "after the crash");
  EXPECT_EQ(block->ring_writer, 0u);
}

}  // namespace
}  // namespace hbt::image
