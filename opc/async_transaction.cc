#include "opc/async_transaction.h"

#include <new>

#include "com/variant.h"

namespace hbt::opc {

COPCDrvAsyncTrans::~COPCDrvAsyncTrans() {
  if (values_ != nullptr)
    for (DWORD i = 0; i < count_; ++i) com::VariantClear(&values_[i]);
  delete[] values_;
  delete[] handles_;
}

bool COPCDrvAsyncTrans::take_copies(DWORD count, const OPCHANDLE* handles, const VARIANT* values) {
  auto* h = new (std::nothrow) OPCHANDLE[count];
  if (h == nullptr) return false;
  for (DWORD i = 0; i < count; ++i) h[i] = handles[i];
  VARIANT* v = nullptr;
  if (values != nullptr) {
    v = new (std::nothrow) VARIANT[count];
    if (v == nullptr) {
      delete[] h;
      return false;
    }
    for (DWORD i = 0; i < count; ++i) com::VariantInit(&v[i]);
    for (DWORD i = 0; i < count; ++i) {
      if (FAILED(com::VariantCopy(&v[i], &values[i]))) {
        for (DWORD k = 0; k < i; ++k) com::VariantClear(&v[k]);
        delete[] v;
        delete[] h;
        return false;
      }
    }
  }
  handles_ = h;
  values_ = v;
  count_ = count;
  return true;
}

}  // namespace hbt::opc
