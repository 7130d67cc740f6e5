#include "platform/shared_region.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/environment.h"
#include "platform/file_sharing.h"
#include "platform/system_calls.h"

// How the lifetime rule is kept: every holder keeps a shared flock on the region's file.
// Whoever wins an exclusive flock knows that nobody holds the region, so the name "did not
// exist" and the content is reset. Opening, creating and removing run under a per-name guard
// lock so that no two processes interleave those steps; the guard file is removed with the
// region, and a process that locked a guard just removed re-opens the new one.

namespace hbt::platform {

namespace {

std::string shm_name(const std::string& full) { return "/" + full; }
std::string guard_name(const std::string& full) { return "/" + full + ".guard"; }

bool valid_name(std::string_view name) {
  return !name.empty() && name.size() < 200 && name.find('/') == std::string_view::npos;
}

int flock_retry(int fd, int operation) {
  int rc;
  do {
    rc = flock(fd, operation);
  } while (rc != 0 && errno == EINTR);
  return rc;
}

// Exclusive per-name lock that serialises open, create and remove.
class Guard {
 public:
  explicit Guard(const std::string& full) : name_(guard_name(full)) {
    for (int attempt = 0; attempt < 100; ++attempt) {
      fd_ = shm_open(name_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, kSharedFileMode);
      if (fd_ < 0) return;
      share_file(fd_);
      if (flock_retry(fd_, LOCK_EX) != 0) {
        close(fd_);
        fd_ = -1;
        return;
      }
      // The guard may have been removed between our open and our lock.
      struct stat held{}, current{};
      if (fstat(fd_, &held) == 0 && stat(("/dev/shm" + name_).c_str(), &current) == 0 &&
          held.st_ino == current.st_ino && held.st_dev == current.st_dev)
        return;
      close(fd_);
      fd_ = -1;
    }
  }
  ~Guard() {
    if (fd_ >= 0) close(fd_);
  }
  bool held() const { return fd_ >= 0; }
  void remove() { shm_unlink(name_.c_str()); }

 private:
  std::string name_;
  int fd_ = -1;
};

void* map_whole(int fd, std::size_t* size) {
  struct stat st{};
  if (fstat(fd, &st) != 0) return nullptr;
  *size = static_cast<std::size_t>(st.st_size);
  if (*size == 0) {
    errno = EINVAL;
    return nullptr;
  }
  return sys::table().map_shared(fd, *size);
}

void set_error(int* error, int value) {
  if (error) *error = value;
}

// Takes a shared hold on an opened region file and maps it; closes the file on failure.
void* hold_and_map(int fd, std::size_t* size, int* error, RegionStep* failed_step = nullptr) {
  const bool held = flock_retry(fd, LOCK_SH) == 0;
  void* data = held ? map_whole(fd, size) : nullptr;
  if (data == nullptr) {
    set_error(error, errno);
    if (failed_step) *failed_step = held ? RegionStep::kMap : RegionStep::kHold;
    close(fd);
  }
  return data;
}

}  // namespace

std::unique_ptr<SharedRegion> SharedRegion::create_or_open(
    std::string_view name, std::size_t size, bool* existed, int* error,
    const std::function<void(void* data, std::size_t size)>& initialise, RegionStep* failed_step) {
  if (failed_step) *failed_step = RegionStep::kHold;
  if (!valid_name(name) || size == 0) {
    set_error(error, EINVAL);
    return nullptr;
  }
  std::string full = region_namespace() + std::string(name);
  Guard guard(full);
  if (!guard.held()) {
    set_error(error, errno);
    return nullptr;
  }
  int fd = shm_open(shm_name(full).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, kSharedFileMode);
  if (fd < 0) {
    set_error(error, errno);
    return nullptr;
  }
  share_file(fd);
  bool fresh = flock_retry(fd, LOCK_EX | LOCK_NB) == 0;
  if (fresh) {
    // Nobody holds it: whatever the file holds is left over from dead processes.
    if (ftruncate(fd, 0) != 0 || ftruncate(fd, static_cast<off_t>(size)) != 0) {
      int saved = errno;
      close(fd);
      shm_unlink(shm_name(full).c_str());
      set_error(error, saved);
      return nullptr;
    }
  }
  // Converting exclusive to shared is not atomic, but the guard keeps everyone else out.
  std::size_t mapped_size = 0;
  void* data = hold_and_map(fd, &mapped_size, error, failed_step);
  if (data == nullptr) {
    if (fresh) shm_unlink(shm_name(full).c_str());
    return nullptr;
  }
  if (fresh && initialise) initialise(data, mapped_size);  // still under the guard
  if (existed) *existed = !fresh;
  return std::unique_ptr<SharedRegion>(new SharedRegion(full, fd, data, mapped_size));
}

std::unique_ptr<SharedRegion> SharedRegion::open_existing(std::string_view name, int* error) {
  if (!valid_name(name)) {
    set_error(error, EINVAL);
    return nullptr;
  }
  std::string full = region_namespace() + std::string(name);
  Guard guard(full);
  if (!guard.held()) {
    set_error(error, errno);
    return nullptr;
  }
  int fd = shm_open(shm_name(full).c_str(), O_RDWR | O_CLOEXEC, 0);
  if (fd < 0) {
    set_error(error, errno);
    return nullptr;
  }
  if (flock_retry(fd, LOCK_EX | LOCK_NB) == 0) {
    // Left over by processes that died: it does not exist.
    close(fd);
    shm_unlink(shm_name(full).c_str());
    guard.remove();
    set_error(error, ENOENT);
    return nullptr;
  }
  std::size_t mapped_size = 0;
  void* data = hold_and_map(fd, &mapped_size, error);
  if (data == nullptr) return nullptr;
  return std::unique_ptr<SharedRegion>(new SharedRegion(full, fd, data, mapped_size));
}

bool SharedRegion::exists(std::string_view name) {
  if (!valid_name(name)) return false;
  std::string full = region_namespace() + std::string(name);
  Guard guard(full);
  if (!guard.held()) return false;
  int fd = shm_open(shm_name(full).c_str(), O_RDWR | O_CLOEXEC, 0);
  if (fd < 0) return false;
  bool held_by_someone = flock_retry(fd, LOCK_EX | LOCK_NB) != 0;
  close(fd);
  return held_by_someone;
}

SharedRegion::~SharedRegion() {
  munmap(data_, size_);
  Guard guard(name_);  // name_ already carries the namespace prefix
  // Our shared hold turns exclusive only if nobody else holds the region.
  if (guard.held() && flock_retry(fd_, LOCK_EX | LOCK_NB) == 0) {
    shm_unlink(shm_name(name_).c_str());
    guard.remove();
  }
  close(fd_);
}

}  // namespace hbt::platform
