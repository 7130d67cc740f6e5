// The file and shared-memory system calls of the POSIX platform code, reached through one
// table that tests may replace entry by entry: that is how a test makes the Nth write fail
// as on a full disk, a rename fail, or a mapping be refused, on any file system and
// without privileges. Production code never changes the table.
//
// Each entry has the meaning, result and errno convention of the system call it is named
// after. The table is process-wide; replace entries only while no other thread uses them.
#pragma once

#include <cstddef>
#include <functional>

namespace hbt::platform::sys {

struct Table {
  std::function<int(const char* path, int flags, unsigned mode)> open;
  std::function<long(int fd, const void* data, std::size_t size)> write;
  std::function<int(int fd)> fsync;
  std::function<int(int fd)> close;
  std::function<int(const char* from, const char* to)> rename;
  // mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0); null on failure.
  std::function<void*(int fd, std::size_t size)> map_shared;
};

Table& table();

}  // namespace hbt::platform::sys
