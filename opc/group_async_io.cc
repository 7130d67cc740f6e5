// IOPCAsyncIO2 and IOPCAsyncIO3 of COPCDrvGroup. Nothing is ever pending: each request is
// carried out inside the call and its completion made on the calling thread through the
// client's IOPCDataCallback before the method returns; the cancel ids are constants.
#include <functional>
#include <new>
#include <vector>

#include "com/task_memory.h"
#include "com/unknown.h"
#include "com/variant.h"
#include "opc/com_util.h"
#include "opc/group.h"
#include "opc/item.h"
#include "opc/server.h"

namespace hbt::opc {
namespace {

constexpr DWORD kReadCancelId = 11;
constexpr DWORD kWriteCancelId = 99;
constexpr DWORD kRefreshCancelId = 88;

// Values, qualities and timestamps of one completion, in the order the client listed them.
struct Completion {
  std::vector<OPCHANDLE> clients;
  std::vector<VARIANT> values;
  std::vector<WORD> qualities;
  std::vector<FILETIME> stamps;
  std::vector<HRESULT> errors;
  explicit Completion(std::size_t n) : clients(n), values(n), qualities(n), stamps(n), errors(n) {
    for (VARIANT& v : values) com::VariantInit(&v);
  }
  ~Completion() {
    for (VARIANT& v : values) com::VariantClear(&v);
  }
  HRESULT master_quality() const {
    for (WORD q : qualities)
      if (q != OPC_QUALITY_GOOD) return S_FALSE;
    return S_OK;
  }
  HRESULT master_error() const {
    for (HRESULT e : errors)
      if (e != S_OK) return S_FALSE;
    return S_OK;
  }
};

// The method's result after the completion: the callback's failure, RPC_E_SERVERFAULT for an
// exception, else S_FALSE when an item failed.
template <class Call>
HBT_CALLS_FOREIGN_OBJECTS HRESULT call_back(IOPCDataCallback* sink, HRESULT master_error, Call call) {
  HRESULT hr = S_OK;
  try {
    hr = call(sink);
  } catch (...) {
    hr = RPC_E_SERVERFAULT;
  }
  sink->Release();
  if (FAILED(hr)) return hr;
  return master_error;
}

// A failed call hands nothing back: the errors array goes.
HRESULT finish(HRESULT result, HRESULT* errors, HRESULT** ppErrors) {
  if (FAILED(result)) {
    com::CoTaskMemFree(errors);
    return result;
  }
  *ppErrors = errors;
  return result;
}

}  // namespace

HBT_CALLS_FOREIGN_OBJECTS
HRESULT COPCDrvGroup::AsyncRead(DWORD dwCount, OPCHANDLE* phServer, DWORD dwTransactionID, DWORD* pdwCancelID,
                                HRESULT** ppErrors) {
  if (ppErrors) *ppErrors = nullptr;
  if (dwCount == 0 || !phServer || !pdwCancelID || !ppErrors) return E_INVALIDARG;
  IOPCDataCallback* sink = client_sink();
  if (!sink) return CONNECT_E_NOCONNECTION;
  HRESULT* errors = task_array<HRESULT>(dwCount);
  if (!errors) {
    sink->Release();
    return E_OUTOFMEMORY;
  }
  *pdwCancelID = kReadCancelId;
  return finish(complete_reads(dwCount, phServer, dwTransactionID, errors, sink, false), errors, ppErrors);
}

HRESULT COPCDrvGroup::AsyncReadMaxAge(DWORD dwCount, OPCHANDLE* phServer, DWORD* pdwMaxAge, DWORD dwTransactionID,
                                      DWORD* pdwCancelID, HRESULT** ppErrors) {
  if (ppErrors) *ppErrors = nullptr;
  if (!pdwMaxAge) return E_INVALIDARG;
  return AsyncRead(dwCount, phServer, dwTransactionID, pdwCancelID, ppErrors);
}

// Reads the listed items from the device (all items in table order for a refresh, when
// `handles` is null) and makes the completion. Takes over the reference on `sink`.
HBT_CALLS_FOREIGN_OBJECTS
HRESULT COPCDrvGroup::complete_reads(DWORD count, const OPCHANDLE* handles, DWORD transaction, HRESULT* errors,
                                     IOPCDataCallback* sink, bool refresh) {
  std::unique_lock lock(mutex_);
  if (refresh) {
    // A refresh is a report of the subscription: with no active item there is nothing it
    // would report, which the client learns from E_FAIL rather than from an empty callback.
    bool any_active = false;
    for (auto& [handle, item] : items_) any_active |= item->active();
    if (!any_active) {
      lock.unlock();
      sink->Release();
      return E_FAIL;
    }
    count = static_cast<DWORD>(items_.size());
  }
  Completion c(count);
  bool any_succeeded = false;
  auto one = [&](DWORD i, COPCDrvItem* item) {
    if (!item) {
      c.errors[i] = OPC_E_INVALIDHANDLE;  // quality 0, empty value
      return;
    }
    c.clients[i] = item->client_handle();
    c.errors[i] = item->read(ReadSource::kDevice, &c.values[i], &c.qualities[i], &c.stamps[i]);
    any_succeeded |= SUCCEEDED(c.errors[i]);
  };
  if (refresh) {
    DWORD i = 0;
    for (auto& [handle, item] : items_) one(i++, item.get());
  } else {
    for (DWORD i = 0; i < count; ++i) {
      auto it = items_.find(handles[i]);
      one(i, it == items_.end() ? nullptr : it->second.get());
    }
  }
  lock.unlock();
  if (errors)
    for (DWORD i = 0; i < count; ++i) errors[i] = c.errors[i];
  const OPCHANDLE group_client = client_handle_;
  const HRESULT master_quality = c.master_quality();
  const HRESULT master_error = c.master_error();
  if (!refresh && !any_succeeded) {
    sink->Release();
    return S_FALSE;
  }
  return call_back(sink, master_error, [&](IOPCDataCallback* s) HBT_CALLS_FOREIGN_OBJECTS {
    if (refresh)
      return s->OnDataChange(transaction, group_client, master_quality, master_error, count, c.clients.data(),
                             c.values.data(), c.qualities.data(), c.stamps.data(), c.errors.data());
    return s->OnReadComplete(transaction, group_client, master_quality, master_error, count, c.clients.data(),
                             c.values.data(), c.qualities.data(), c.stamps.data(), c.errors.data());
  });
}

HRESULT COPCDrvGroup::Refresh2(OPCDATASOURCE /*dwSource*/, DWORD dwTransactionID, DWORD* pdwCancelID) {
  if (!pdwCancelID) return E_INVALIDARG;
  IOPCDataCallback* sink = client_sink();
  if (!sink) return CONNECT_E_NOCONNECTION;
  *pdwCancelID = kRefreshCancelId;
  return complete_reads(0, nullptr, dwTransactionID, nullptr, sink, true);
}

HRESULT COPCDrvGroup::RefreshMaxAge(DWORD /*dwMaxAge*/, DWORD dwTransactionID, DWORD* pdwCancelID) {
  return Refresh2(OPC_DS_DEVICE, dwTransactionID, pdwCancelID);
}

HRESULT COPCDrvGroup::AsyncWrite(DWORD dwCount, OPCHANDLE* phServer, VARIANT* pItemValues, DWORD dwTransactionID,
                                 DWORD* pdwCancelID, HRESULT** ppErrors) {
  return async_write(dwCount, phServer, dwTransactionID, pdwCancelID, ppErrors, pItemValues != nullptr,
                     [&](DWORD i, COPCDrvItem& item) { return item.write(pItemValues[i]); });
}

HRESULT COPCDrvGroup::AsyncWriteVQT(DWORD dwCount, OPCHANDLE* phServer, OPCITEMVQT* pItemVQT, DWORD dwTransactionID,
                                    DWORD* pdwCancelID, HRESULT** ppErrors) {
  return async_write(dwCount, phServer, dwTransactionID, pdwCancelID, ppErrors, pItemVQT != nullptr,
                     [&](DWORD i, COPCDrvItem& item) { return item.write_vqt(pItemVQT[i]); });
}

HBT_CALLS_FOREIGN_OBJECTS
HRESULT COPCDrvGroup::async_write(DWORD count, const OPCHANDLE* handles, DWORD transaction, DWORD* cancel_id,
                                  HRESULT** ppErrors, bool have_values,
                                  const std::function<HRESULT(DWORD, COPCDrvItem&)>& write_one) {
  if (ppErrors) *ppErrors = nullptr;
  if (count == 0 || !handles || !have_values || !cancel_id || !ppErrors) return E_INVALIDARG;
  IOPCDataCallback* sink = client_sink();
  if (!sink) return CONNECT_E_NOCONNECTION;
  HRESULT* errors = task_array<HRESULT>(count);
  std::vector<OPCHANDLE> clients;
  try {
    clients.resize(count);
  } catch (const std::bad_alloc&) {
    com::CoTaskMemFree(errors);
    errors = nullptr;
  }
  if (!errors) {
    sink->Release();
    return E_OUTOFMEMORY;
  }
  *cancel_id = kWriteCancelId;
  bool any_succeeded = false;
  HRESULT master_error = S_OK;
  {
    std::lock_guard lock(mutex_);
    for (DWORD i = 0; i < count; ++i) {
      auto it = items_.find(handles[i]);
      if (it == items_.end()) {
        errors[i] = OPC_E_INVALIDHANDLE;
      } else {
        clients[i] = it->second->client_handle();
        errors[i] = write_one(i, *it->second);
      }
      any_succeeded |= SUCCEEDED(errors[i]);
      if (errors[i] != S_OK) master_error = S_FALSE;
    }
  }
  if (!any_succeeded) {
    sink->Release();
    *ppErrors = errors;
    return S_FALSE;
  }
  const OPCHANDLE group_client = client_handle_;
  HRESULT hr = call_back(sink, master_error, [&](IOPCDataCallback* s) HBT_CALLS_FOREIGN_OBJECTS {
    return s->OnWriteComplete(transaction, group_client, master_error, count, clients.data(), errors);
  });
  return finish(hr, errors, ppErrors);
}

HRESULT COPCDrvGroup::Cancel2(DWORD /*dwCancelID*/) {
  if (!data_callback_connected()) return CONNECT_E_NOCONNECTION;
  return E_FAIL;  // nothing is ever pending
}

HRESULT COPCDrvGroup::SetEnable(BOOL bEnable) {
  if (!data_callback_connected()) return CONNECT_E_NOCONNECTION;
  set_active(bEnable != 0);
  server_->wake();
  return S_OK;
}

HRESULT COPCDrvGroup::GetEnable(BOOL* pbEnable) {
  if (!pbEnable) return E_INVALIDARG;
  if (!data_callback_connected()) return CONNECT_E_NOCONNECTION;
  *pbEnable = active_.load();
  return S_OK;
}

}  // namespace hbt::opc
