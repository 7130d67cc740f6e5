// COPCDrvGroup::for_items: the per-handle loop of every method that takes a list of item
// handles and answers with one result per handle.
#pragma once

#include "opc/com_util.h"
#include "opc/group.h"
#include "opc/item.h"

namespace hbt::opc {

template <class Each>
HRESULT COPCDrvGroup::for_items(DWORD count, const OPCHANDLE* handles, HRESULT** errors, bool lock, Each each) {
  if (errors) *errors = nullptr;
  if (count == 0 || !handles || !errors) return E_INVALIDARG;
  HRESULT* out = task_array<HRESULT>(count);
  if (!out) return E_OUTOFMEMORY;
  std::unique_lock guard(mutex_, std::defer_lock);
  if (lock) guard.lock();
  bool any_failed = false;
  for (DWORD i = 0; i < count; ++i) {
    auto it = items_.find(handles[i]);
    out[i] = it == items_.end() ? OPC_E_INVALIDHANDLE : each(i, it);
    any_failed |= FAILED(out[i]);
  }
  *errors = out;
  return any_failed ? S_FALSE : S_OK;
}

}  // namespace hbt::opc
