#include "platform/file_sharing.h"

#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

#include "platform/environment.h"

namespace hbt::platform {

namespace {

// The group of HBT_GROUP, or -1 (leave the group as created) when unset or unknown.
gid_t sharing_group() {
  const std::string name = env_or("HBT_GROUP", "");
  if (name.empty()) return static_cast<gid_t>(-1);
  char* end = nullptr;
  const unsigned long number = std::strtoul(name.c_str(), &end, 10);
  if (end != nullptr && *end == '\0') return static_cast<gid_t>(number);
  std::vector<char> buffer(16384);
  group entry{};
  group* found = nullptr;
  if (getgrnam_r(name.c_str(), &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr)
    return static_cast<gid_t>(-1);
  return found->gr_gid;
}

}  // namespace

void share_file(int fd, bool directory) {
  if (fd < 0) return;
  const int saved = errno;
  const gid_t group = sharing_group();
  if (group != static_cast<gid_t>(-1) && fchown(fd, static_cast<uid_t>(-1), group) != 0) {
    // Best effort: a file the group cannot be given keeps the group it was made with.
  }
  // After the group change, which may clear the set-group-id bit.
  (void)fchmod(fd, directory ? kSharedDirectoryMode : kSharedFileMode);
  errno = saved;
}

bool make_shared_directories(const std::string& path) {
  std::string partial;
  for (std::size_t i = 0; i <= path.size(); ++i) {
    if ((i == path.size() || path[i] == '/') && !partial.empty()) {
      if (mkdir(partial.c_str(), 0770) == 0) {
        int fd = open(partial.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        share_file(fd, true);
        if (fd >= 0) close(fd);
      } else if (errno != EEXIST) {
        return false;
      }
    }
    if (i < path.size()) partial.push_back(path[i]);
  }
  return true;
}

}  // namespace hbt::platform
