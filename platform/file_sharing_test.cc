// What the driver creates is for its user and its group only: registry folders, hives and
// their lock files, shared regions and their guards; the group is HBT_GROUP when set.
#include "platform/file_sharing.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/registry.h"
#include "platform/shared_region.h"
#include "testsupport/test_environment.h"

namespace hbt::platform {
namespace {

struct stat status_of(const std::string& path) {
  struct stat st{};
  EXPECT_EQ(stat(path.c_str(), &st), 0) << path;
  return st;
}

// Whatever the umask of the creating process, modes come out the same.
class UmaskGuard {
 public:
  explicit UmaskGuard(mode_t mask) : old_(umask(mask)) {}
  ~UmaskGuard() { umask(old_); }

 private:
  mode_t old_;
};

// A group this process may give its files other than its own, if it has one.
std::optional<gid_t> other_group() {
  if (geteuid() == 0) return static_cast<gid_t>(getegid() == 1 ? 2 : 1);
  std::vector<gid_t> groups(static_cast<std::size_t>(std::max(getgroups(0, nullptr), 0)));
  if (!groups.empty() && getgroups(static_cast<int>(groups.size()), groups.data()) < 0) groups.clear();
  for (gid_t g : groups)
    if (g != getegid()) return g;
  return std::nullopt;
}

TEST(FileSharing, RegistryFilesAndRegionsAreForOwnerAndGroupOnly) {
  for (mode_t mask : {mode_t{0}, mode_t{022}, mode_t{077}}) {
    SCOPED_TRACE("umask " + std::to_string(mask));
    testsupport::TestEnvironment env;
    UmaskGuard guard(mask);
    ASSERT_TRUE(registry::set_string(registry::Hive::LocalMachine, "Software\\A", "x", "1"));
    const std::string dir = registry::directory();
    EXPECT_EQ(status_of(dir).st_mode & 07777, kSharedDirectoryMode);
    EXPECT_EQ(status_of(dir + "/HKLM.reg").st_mode & 07777, kSharedFileMode);
    EXPECT_EQ(status_of(dir + "/HKLM.reg.lock").st_mode & 07777, kSharedFileMode);
    EXPECT_EQ(status_of(env.dir()).st_mode & 07777, 0700u) << "a folder that was there is left as it was";

    bool existed = false;
    auto region = SharedRegion::create_or_open("Shared", 4096, &existed);
    ASSERT_TRUE(region);
    const std::string shm = "/dev/shm/" + env.name_space() + "Shared";
    EXPECT_EQ(status_of(shm).st_mode & 07777, kSharedFileMode);
    EXPECT_EQ(status_of(shm + ".guard").st_mode & 07777, kSharedFileMode);
  }
}

TEST(FileSharing, TheDriversGroupOwnsWhatIsCreated) {
  const auto group = other_group();
  if (!group) GTEST_SKIP() << "this user belongs to no second group";
  testsupport::TestEnvironment env;
  setenv("HBT_GROUP", std::to_string(*group).c_str(), 1);
  ASSERT_TRUE(registry::set_string(registry::Hive::LocalMachine, "Software\\A", "x", "1"));
  bool existed = false;
  auto region = SharedRegion::create_or_open("Shared", 4096, &existed);
  unsetenv("HBT_GROUP");
  ASSERT_TRUE(region);
  const std::string dir = registry::directory();
  for (const std::string& path : {dir, dir + "/HKLM.reg", dir + "/HKLM.reg.lock",
                                  "/dev/shm/" + env.name_space() + "Shared"}) {
    const struct stat st = status_of(path);
    EXPECT_EQ(st.st_gid, *group) << path;
    EXPECT_EQ(st.st_mode & 0007, 0u) << path << " is not for everybody";
  }
  EXPECT_EQ(status_of(dir).st_mode & 07777, kSharedDirectoryMode) << "the set-group-id bit survives the change";
}

}  // namespace
}  // namespace hbt::platform
