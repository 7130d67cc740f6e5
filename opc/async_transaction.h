// COPCDrvAsyncTrans: one pending DA 1.0 read, refresh or write, queued by IOPCAsyncIO and
// carried out by the poll thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <list>

#include "opc/com_base.h"

namespace hbt::opc {

class COPCDrvGroup;

class COPCDrvAsyncTrans {
 public:
  enum Kind : std::uint32_t { kWrite = 0, kRead = 1 };

  COPCDrvAsyncTrans(COPCDrvGroup* group, DWORD id, Kind kind, DWORD source)
      : group_(group), id_(id), kind_(kind), source_(source) {}
  // Frees both arrays, clearing every value.
  virtual ~COPCDrvAsyncTrans();
  COPCDrvAsyncTrans(const COPCDrvAsyncTrans&) = delete;
  COPCDrvAsyncTrans& operator=(const COPCDrvAsyncTrans&) = delete;

  // Copies the handles (and, for a write, the values); false when memory runs out, with
  // nothing kept.
  bool take_copies(DWORD count, const OPCHANDLE* handles, const VARIANT* values);

  COPCDrvGroup* group() const { return group_; }
  DWORD id() const { return id_; }
  DWORD count() const { return count_; }
  const OPCHANDLE* handles() const { return handles_; }
  const VARIANT* values() const { return values_; }
  Kind kind() const { return kind_; }
  DWORD source() const { return source_; }

  std::list<COPCDrvAsyncTrans*>::iterator position;  // in the group's list that owns it

 private:
  // The group owns the transaction through its list; the pointer stays valid for the whole
  // life of the transaction, which never outlives the group.
  COPCDrvGroup* group_;
  DWORD id_;
  DWORD count_ = 0;
  OPCHANDLE* handles_ = nullptr;
  VARIANT* values_ = nullptr;
  Kind kind_;
  DWORD source_;
};

// The next id from a server's transaction-id counter: an interlocked increment, with 0 (which
// a DA 1.0 stream reserves for change reports) skipped when the counter wraps.
inline DWORD next_transaction_id(std::atomic<DWORD>& counter) {
  for (;;) {
    DWORD id = counter.fetch_add(1) + 1;
    if (id != 0) return id;
  }
}

}  // namespace hbt::opc
