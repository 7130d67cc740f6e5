// Bounded byte access and the replace-by-rename writer.
#include "editor/byte_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace hbt::editor {

bool MemorySource::read(std::uint64_t offset, std::size_t count, void* out) {
  if (offset > bytes_.size() || count > bytes_.size() - offset) return false;
  if (count == 0) return true;
  std::memcpy(out, bytes_.data() + offset, count);
  return true;
}

FileSource::~FileSource() {
  if (fd_ >= 0) close(fd_);
}

bool FileSource::open(const std::string& path) {
  fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd_ < 0) return false;
  struct stat info {};
  if (fstat(fd_, &info) != 0 || !S_ISREG(info.st_mode)) {
    int saved = S_ISREG(info.st_mode) ? errno : EISDIR;
    close(fd_);
    fd_ = -1;
    errno = saved;
    return false;
  }
  size_ = static_cast<std::uint64_t>(info.st_size);
  return true;
}

namespace {
constexpr std::size_t kWindow = 64 * 1024;
}

bool FileSource::fill(Window& window, std::uint64_t offset, std::size_t count) {
  window.bytes.resize(std::max(kWindow, count));
  window.start = offset - offset % kWindow;
  std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(window.bytes.size(), size_ - window.start));
  if (offset + count > window.start + want) {  // a long read starting late in a block
    window.start = offset;
    want = static_cast<std::size_t>(std::min<std::uint64_t>(window.bytes.size(), size_ - offset));
  }
  std::size_t done = 0;
  while (done < want) {
    ssize_t n = pread(fd_, window.bytes.data() + done, want - done, static_cast<off_t>(window.start + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      window.size = 0;
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  window.size = done;
  return true;
}

bool FileSource::read(std::uint64_t offset, std::size_t count, void* out) {
  if (fd_ < 0 || offset > size_ || count > size_ - offset) return false;
  if (count == 0) return true;
  Window* use = nullptr;
  for (Window& w : windows_) {
    if (offset >= w.start && offset + count <= w.start + w.size) {
      use = &w;
      break;
    }
  }
  if (!use) {
    use = &windows_[0];
    for (Window& w : windows_) {
      if (w.last_use < use->last_use) use = &w;
    }
    if (!fill(*use, offset, count)) return false;
  }
  use->last_use = ++uses_;
  std::memcpy(out, use->bytes.data() + (offset - use->start), count);
  return true;
}

bool replace_file(const std::string& path, std::span<const std::uint8_t> bytes, int* error_number) {
  std::string temp = path + ".XXXXXX";
  int fd = mkstemp(temp.data());
  if (fd < 0) {
    *error_number = errno;
    return false;
  }
  // Keep the permissions of the file being replaced; a new file gets the usual ones.
  struct stat old {};
  mode_t mode;
  if (stat(path.c_str(), &old) == 0) {
    mode = old.st_mode & 07777;
  } else {
    mode_t mask = umask(0);
    umask(mask);
    mode = 0666 & ~mask;
  }
  bool ok = fchmod(fd, mode) == 0;
  std::size_t written = 0;
  while (ok && written < bytes.size()) {
    ssize_t n = write(fd, bytes.data() + written, bytes.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = false;
      break;
    }
    written += static_cast<std::size_t>(n);
  }
  ok = ok && fsync(fd) == 0;
  int saved = errno;
  if (close(fd) != 0 && ok) {
    ok = false;
    saved = errno;
  }
  if (ok && std::rename(temp.c_str(), path.c_str()) != 0) {
    ok = false;
    saved = errno;
  }
  if (!ok) {
    unlink(temp.c_str());
    *error_number = saved ? saved : EIO;
  }
  return ok;
}

bool read_whole_file(const std::string& path, std::string* out, int* error_number) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    *error_number = errno;
    return false;
  }
  struct stat info {};
  if (fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) {
    *error_number = S_ISDIR(info.st_mode) ? EISDIR : errno;
    close(fd);
    return false;
  }
  out->clear();
  if (S_ISREG(info.st_mode)) out->reserve(static_cast<std::size_t>(info.st_size));
  char buffer[65536];
  for (;;) {
    ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      *error_number = errno;
      close(fd);
      return false;
    }
    if (n == 0) break;
    out->append(buffer, static_cast<std::size_t>(n));
  }
  close(fd);
  return true;
}

}  // namespace hbt::editor
