#include "tools/mcsim/history.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "tools/mcsim/device_memory.h"

namespace hbt::mcsim {

namespace {

int history_fd = -1;

void record(RegisterType t, std::uint32_t n, std::uint8_t block, std::uint16_t value) {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  const double ms = static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
  char line[96];
  const char* name = image::kRegisterTypeNames[static_cast<int>(t)];
  const int length = t == RegisterType::EX
                         ? std::snprintf(line, sizeof line, "%.3f %s%u %u %u\n", ms, name, block, n, value)
                         : std::snprintf(line, sizeof line, "%.3f %s %u %u\n", ms, name, n, value);
  // One write per line, so that a reader never sees half a line from an earlier change.
  if (length > 0) (void)!::write(history_fd, line, static_cast<std::size_t>(length));
}

}  // namespace

bool start_history(const std::string& path, std::string* error) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) {
    *error = "cannot write the history " + path + ": " + std::strerror(errno);
    return false;
  }
  if (history_fd >= 0) ::close(history_fd);
  history_fd = fd;
  DeviceMemory::set_write_observer(record);
  return true;
}

}  // namespace hbt::mcsim
