// The registry stand-in when the system fails under it: a full disk at any point of a write,
// a failing sync, close or rename, a lock that cannot be had, and writers that fail while
// others write and read. A hive on disk is always a whole old or a whole new text.
#include <dirent.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/registry.h"
#include "platform/registry_text.h"
#include "platform/system_calls.h"
#include "testsupport/system_call_faults.h"
#include "testsupport/test_environment.h"

namespace hbt::platform::registry {
namespace {

using testsupport::CallOverride;
using testsupport::FailCalls;
using testsupport::TestEnvironment;

constexpr const char* kKey = "Software\\Velmora\\Brenlow\\Config";

std::vector<std::string> directory_entries() {
  std::vector<std::string> names;
  if (DIR* d = opendir(directory().c_str())) {
    while (dirent* e = readdir(d))
      if (e->d_name[0] != '.') names.emplace_back(e->d_name);
    closedir(d);
  }
  std::sort(names.begin(), names.end());
  return names;
}

class RegistryFaults : public ::testing::Test {
 protected:
  TestEnvironment env;
  std::string hive_file;
  std::string before;

  void SetUp() override {
    // A hive of a few kilobytes, so that a write takes several calls below.
    ASSERT_TRUE(set_string(Hive::LocalMachine, kKey, "ConfigFile", "/plant/LINE1.HBT"));
    for (int i = 0; i < 40; ++i)
      ASSERT_TRUE(set_string(Hive::LocalMachine, "Software\\Plant\\Tag" + std::to_string(i), "Text",
                             std::string(60, static_cast<char>('a' + i % 26))));
    hive_file = directory() + "/HKLM.reg";
    before = testsupport::read_file(hive_file);
    ASSERT_GT(before.size(), 4000u);
  }

  // The failed write changed nothing and left nothing behind; the next one works again.
  void expect_old_content_kept(const std::string& what) {
    SCOPED_TRACE(what);
    EXPECT_EQ(testsupport::read_file(hive_file), before) << "the hive is exactly the old text";
    EXPECT_EQ(directory_entries(), (std::vector<std::string>{"HKLM.reg", "HKLM.reg.lock"})) << "no temporary left";
    EXPECT_EQ(get_string(Hive::LocalMachine, kKey, "ConfigFile"), "/plant/LINE1.HBT");
    EXPECT_FALSE(get_string(Hive::LocalMachine, kKey, "DriverExe"));
  }
};

TEST_F(RegistryFaults, FullDiskAtAnyWriteKeepsTheOldHive) {
  // Short writes of at most 512 bytes, and the disk full from the Nth call on.
  CallOverride<long(int, const void*, std::size_t)> short_writes(
      sys::table().write, [original = sys::table().write](int fd, const void* data, std::size_t size) {
        return original(fd, data, std::min<std::size_t>(size, 512));
      });
  const int calls_needed = static_cast<int>(before.size() / 512) + 2;
  for (int n = 1; n <= calls_needed; ++n) {
    FailCalls full(sys::table().write, n, 1000, ENOSPC, -1L);
    errno = 0;
    const bool written = set_string(Hive::LocalMachine, kKey, "DriverExe", "/opt/hbt/HBTSPOLL");
    if (full.failed() == 0) {
      // Past the last call of the write: nothing failed and the value is there; undo it.
      ASSERT_TRUE(written);
      ASSERT_TRUE(delete_value(Hive::LocalMachine, kKey, "DriverExe"));
      before = testsupport::read_file(hive_file);
      break;
    }
    EXPECT_FALSE(written) << "call " << n;
    EXPECT_EQ(errno, ENOSPC) << "call " << n;
    expect_old_content_kept("disk full from write call " + std::to_string(n));
  }
  // A write that makes no progress at all counts as a full disk too.
  {
    CallOverride<long(int, const void*, std::size_t)> nothing(sys::table().write,
                                                               [](int, const void*, std::size_t) { return 0L; });
    errno = 0;
    EXPECT_FALSE(set_string(Hive::LocalMachine, kKey, "DriverExe", "x"));
    EXPECT_EQ(errno, ENOSPC);
    expect_old_content_kept("no progress");
  }
  EXPECT_TRUE(set_string(Hive::LocalMachine, kKey, "DriverExe", "/opt/hbt/HBTSPOLL"));
  EXPECT_EQ(get_string(Hive::LocalMachine, kKey, "DriverExe"), "/opt/hbt/HBTSPOLL");
}

TEST_F(RegistryFaults, FailingSyncCloseOrRenameKeepsTheOldHive) {
  {
    FailCalls sync(sys::table().fsync, 1, 1, EIO, -1);
    errno = 0;
    EXPECT_FALSE(set_dword(Hive::LocalMachine, kKey, "DriverExe", 1));
    EXPECT_EQ(errno, EIO);
    EXPECT_EQ(sync.failed(), 1);
    expect_old_content_kept("sync");
  }
  {
    // The descriptor is closed, but the close reports the late write error.
    CallOverride<int(int)> close_fails(sys::table().close, [original = sys::table().close](int fd) {
      original(fd);
      errno = EDQUOT;
      return -1;
    });
    errno = 0;
    EXPECT_FALSE(set_dword(Hive::LocalMachine, kKey, "DriverExe", 2));
    EXPECT_EQ(errno, EDQUOT);
  }
  expect_old_content_kept("close");
  for (int error : {EXDEV, EACCES, EIO, ENOSPC}) {
    FailCalls rename_fails(sys::table().rename, 1, 1, error, -1);
    errno = 0;
    EXPECT_FALSE(delete_key(Hive::LocalMachine, "Software\\Plant"));
    EXPECT_EQ(errno, error);
    expect_old_content_kept("rename");
    EXPECT_TRUE(key_exists(Hive::LocalMachine, "Software\\Plant\\Tag7"));
  }
  std::string error;
  {
    FailCalls rename_fails(sys::table().rename, 1, 1, ENOSPC, -1);
    EXPECT_FALSE(import_text("REGEDIT4\n\n[HKLM\\Software\\New]\n\"a\"=\"b\"\n", &error));
  }
  EXPECT_NE(error.find("HKLM.reg: No space left on device"), std::string::npos) << error;
  expect_old_content_kept("import");
}

TEST_F(RegistryFaults, HiveLockThatCannotBeOpenedChangesNothing) {
  FailCalls refuse(sys::table().open, 1, 1, EACCES, -1);
  errno = 0;
  EXPECT_FALSE(set_string(Hive::LocalMachine, kKey, "DriverExe", "x"));
  EXPECT_EQ(errno, EACCES);
  expect_old_content_kept("lock");
}

// Writers in several processes, one of them on a disk that is full at every other write,
// and a reader that checks every version of the hive it finds on disk.
TEST(RegistryUnderLoad, FailingWriterNeverLeavesAHalfHiveAndLosesOnlyItsOwnValues) {
  TestEnvironment env;
  constexpr int kWriters = 3;
  constexpr int kValuesEach = 30;
  struct Shared {
    std::atomic<int> writers_done;
    std::atomic<int> reader_versions;
    std::atomic<int> reader_faults;
    std::atomic<bool> written[kWriters][kValuesEach];
    char first_fault[200];
  };
  void* memory = mmap(nullptr, sizeof(Shared), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
  ASSERT_NE(memory, MAP_FAILED);
  auto* shared = new (memory) Shared{};
  ASSERT_TRUE(set_string(Hive::LocalMachine, kKey, "ConfigFile", "/plant/LINE1.HBT"));
  const std::string hive_file = directory() + "/HKLM.reg";

  std::vector<pid_t> children;
  pid_t reader = fork();
  if (reader == 0) {
    std::size_t most_values = 0;
    auto fault = [&](const std::string& what) {
      if (shared->reader_faults.fetch_add(1) == 0)
        std::snprintf(shared->first_fault, sizeof shared->first_fault, "%s", what.c_str());
    };
    for (;;) {
      const bool done = shared->writers_done.load() == kWriters;
      const std::string text = testsupport::read_file(hive_file);
      std::vector<TextEntry> entries;
      std::string error;
      if (text.rfind("REGEDIT4\n", 0) != 0 || text.back() != '\n' || !parse_text(text, &entries, &error)) {
        fault("a hive of " + std::to_string(text.size()) + " bytes that is not whole: " + error);
      } else {
        const std::size_t count = values(Hive::LocalMachine, "Software\\Race").size();
        if (count < most_values) fault("values went missing: " + std::to_string(count) + " after " +
                                       std::to_string(most_values));
        most_values = std::max(most_values, count);
        shared->reader_versions.fetch_add(1);
      }
      if (done) break;
    }
    _exit(0);
  }
  for (int w = 0; w < kWriters; ++w) {
    pid_t pid = fork();
    if (pid == 0) {
      // Writer 0 writes to a disk that is full now and then: every eleventh write call fails.
      std::unique_ptr<CallOverride<long(int, const void*, std::size_t)>> flaky;
      if (w == 0) {
        auto calls = std::make_shared<int>(0);
        flaky = std::make_unique<CallOverride<long(int, const void*, std::size_t)>>(
            sys::table().write, [calls, original = sys::table().write](int fd, const void* data, std::size_t size) {
              if (++*calls % 11 == 0) {
                errno = ENOSPC;
                return -1L;
              }
              return original(fd, data, std::min<std::size_t>(size, 256));
            });
      }
      for (int v = 0; v < kValuesEach; ++v) {
        const bool ok = set_dword(Hive::LocalMachine, "Software\\Race", "w" + std::to_string(w) + "v" + std::to_string(v),
                                  static_cast<std::uint32_t>(v));
        shared->written[w][v].store(ok);
      }
      shared->writers_done.fetch_add(1);
      _exit(0);
    }
    children.push_back(pid);
  }
  for (pid_t pid : children) {
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  int status = 0;
  waitpid(reader, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

  EXPECT_EQ(shared->reader_faults.load(), 0) << shared->first_fault;
  EXPECT_GT(shared->reader_versions.load(), 5);
  int failed = 0;
  for (int w = 0; w < kWriters; ++w) {
    for (int v = 0; v < kValuesEach; ++v) {
      const std::string name = "w" + std::to_string(w) + "v" + std::to_string(v);
      const bool ok = shared->written[w][v].load();
      if (w > 0) {
        EXPECT_TRUE(ok) << name;
      }
      failed += ok ? 0 : 1;
      EXPECT_EQ(get_dword(Hive::LocalMachine, "Software\\Race", name).has_value(), ok) << name;
    }
  }
  EXPECT_GT(failed, 0) << "the full disk was felt";
  EXPECT_EQ(get_string(Hive::LocalMachine, kKey, "ConfigFile"), "/plant/LINE1.HBT");
  munmap(memory, sizeof(Shared));
}

}  // namespace
}  // namespace hbt::platform::registry
