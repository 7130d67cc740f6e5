#include "opc/thread_priority.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace hbt::opc {

std::optional<int> windows_priority(std::uint32_t scale) {
  switch (scale) {
    case 1: return -15;
    case 2: case 5: case 11: return -2;
    case 3: case 6: case 12: return -1;
    case 4: case 7: case 13: return 0;
    case 8: case 14: return 1;
    case 9: case 10: case 15: return 2;
    default: return std::nullopt;
  }
}

bool set_thread_priority(std::uint32_t scale) {
  auto p = windows_priority(scale);
  if (!p) return false;
  // Idle is the weakest nice value; each step above normal is worth five nice levels.
  int nice_value = *p == -15 ? 19 : -5 * *p;
  pid_t tid = static_cast<pid_t>(syscall(SYS_gettid));
  return setpriority(PRIO_PROCESS, static_cast<id_t>(tid), nice_value) == 0;
}

}  // namespace hbt::opc
