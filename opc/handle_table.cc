#include "opc/handle_table.h"

#include <mutex>
#include <new>
#include <unordered_set>

namespace hbt::opc {
namespace {

struct HandleTable {
  std::mutex mutex;
  std::unordered_set<OPCHANDLE> in_use;
  OPCHANDLE next = 1;
};

// Never destroyed: objects a client never released may give their handles back while the
// process ends, after static objects are gone.
HandleTable& table() {
  static HandleTable* t = new HandleTable;
  return *t;
}

}  // namespace

HandleLease HandleLease::take() {
  HandleTable& t = table();
  std::lock_guard lock(t.mutex);
  // Each round of the counter meets every handle once; a full round without a free one means
  // four billion live objects, which memory cannot hold anyway.
  for (std::uint64_t tries = 0; tries <= 0xFFFFFFFFull; ++tries) {
    OPCHANDLE h = t.next++;
    if (h == 0 || t.in_use.count(h) != 0) continue;
    t.in_use.insert(h);  // may throw: nothing is taken then
    return HandleLease(h);
  }
  throw std::bad_alloc();
}

HandleLease& HandleLease::operator=(HandleLease&& other) noexcept {
  if (this != &other) {
    give_back();
    value_ = other.value_;
    other.value_ = 0;
  }
  return *this;
}

void HandleLease::give_back() {
  if (value_ == 0) return;
  HandleTable& t = table();
  std::lock_guard lock(t.mutex);
  t.in_use.erase(value_);
  value_ = 0;
}

void set_next_handle_for_test(OPCHANDLE next) {
  HandleTable& t = table();
  std::lock_guard lock(t.mutex);
  t.next = next;
}

}  // namespace hbt::opc
