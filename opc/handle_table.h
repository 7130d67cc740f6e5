// Server handles of groups and items: 32-bit values a client gives back to name an object, so
// they cannot be its address. One process-wide table hands them out from a counter that goes
// round, never 0 and never a value some live object still holds, and takes each back when its
// object goes.
#pragma once

#include "opc/com_base.h"

namespace hbt::opc {

// A handle taken from the table and held until the lease ends (or moves on).
class HandleLease {
 public:
  HandleLease() = default;
  // The next free handle after the counter. Throws std::bad_alloc when memory runs out (or,
  // in theory, when every handle is in use).
  static HandleLease take();
  ~HandleLease() { give_back(); }
  HandleLease(HandleLease&& other) noexcept : value_(other.value_) { other.value_ = 0; }
  HandleLease& operator=(HandleLease&& other) noexcept;
  HandleLease(const HandleLease&) = delete;
  HandleLease& operator=(const HandleLease&) = delete;

  OPCHANDLE value() const { return value_; }

 private:
  explicit HandleLease(OPCHANDLE value) : value_(value) {}
  void give_back();
  OPCHANDLE value_ = 0;
};

// Tests: where the counter stands, to bring it round to handles in use.
void set_next_handle_for_test(OPCHANDLE next);

}  // namespace hbt::opc
