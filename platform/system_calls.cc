#include "platform/system_calls.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/mman.h>
#include <unistd.h>

namespace hbt::platform::sys {

namespace {

Table real_calls() {
  Table t;
  t.open = [](const char* path, int flags, unsigned mode) { return ::open(path, flags, static_cast<mode_t>(mode)); };
  t.write = [](int fd, const void* data, std::size_t size) { return static_cast<long>(::write(fd, data, size)); };
  t.fsync = [](int fd) { return ::fsync(fd); };
  t.close = [](int fd) { return ::close(fd); };
  t.rename = [](const char* from, const char* to) { return ::rename(from, to); };
  t.map_shared = [](int fd, std::size_t size) -> void* {
    void* data = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    return data == MAP_FAILED ? nullptr : data;
  };
  return t;
}

}  // namespace

Table& table() {
  static Table calls = real_calls();
  return calls;
}

}  // namespace hbt::platform::sys
