// IOPCItemMgt and IOPCItemDeadbandMgt of COPCDrvGroup.
#include <cstdio>
#include <cstring>
#include <new>

#include "opc/com_util.h"
#include "opc/group.h"
#include "opc/group_for_items.h"
#include "opc/item.h"
#include "opc/item_attributes_enum.h"
#include "opc/reporting.h"
#include "opc/server.h"

namespace hbt::opc {
namespace {

constexpr std::size_t kMinItemIdLength = 4;
constexpr std::size_t kMaxItemIdLength = 64;

// The length test that comes before any parsing; a null ID is left to the binding.
bool length_acceptable(const OPCITEMDEF& def) {
  if (!def.szItemID) return true;
  std::size_t n = wide_length(def.szItemID, kMaxItemIdLength + 1);
  return n >= kMinItemIdLength && n <= kMaxItemIdLength;
}

}  // namespace

HRESULT COPCDrvGroup::AddItems(DWORD dwCount, OPCITEMDEF* pItemArray, OPCITEMRESULT** ppAddResults,
                               HRESULT** ppErrors) {
  if (ppAddResults) *ppAddResults = nullptr;
  if (ppErrors) *ppErrors = nullptr;
  if (removed()) return E_FAIL;
  if (dwCount == 0 || !pItemArray || !ppAddResults || !ppErrors) return E_INVALIDARG;
  auto* results = task_array<OPCITEMRESULT>(dwCount);
  auto* errors = task_array<HRESULT>(dwCount);
  if (!results || !errors) {
    com::CoTaskMemFree(results);
    com::CoTaskMemFree(errors);
    return E_OUTOFMEMORY;
  }
  bool any_failed = false;
  for (DWORD i = 0; i < dwCount; ++i) {
    if (!length_acceptable(pItemArray[i])) {
      errors[i] = OPC_E_INVALIDITEMID;
      any_failed = true;
      continue;
    }
    std::unique_ptr<COPCDrvItem> item(new (std::nothrow) COPCDrvItem(this));
    if (!item) {
      errors[i] = E_OUTOFMEMORY;
      any_failed = true;
      continue;
    }
    HandleLease lease;
    try {
      lease = HandleLease::take();
    } catch (const std::bad_alloc&) {
      errors[i] = E_OUTOFMEMORY;
      any_failed = true;
      continue;
    }
    const OPCHANDLE handle = lease.value();
    errors[i] = item->bind(pItemArray[i], handle, &results[i]);
    if (FAILED(errors[i])) {
      any_failed = true;
      continue;
    }
    item->hold_handle(std::move(lease));
    try {
      std::lock_guard lock(mutex_);
      items_.emplace(handle, std::move(item));
    } catch (const std::bad_alloc&) {
      std::memset(&results[i], 0, sizeof results[i]);
      errors[i] = E_OUTOFMEMORY;
      any_failed = true;
    }
  }
  *ppAddResults = results;
  *ppErrors = errors;
  HRESULT result = any_failed ? S_FALSE : S_OK;
  char text[64];
  std::snprintf(text, sizeof text, "Client added %d new tags err=0x%X\n", static_cast<int>(dwCount),
                static_cast<unsigned>(result));
  send_message(kColourClient, text);
  return result;
}

HRESULT COPCDrvGroup::ValidateItems(DWORD dwCount, OPCITEMDEF* pItemArray, BOOL, OPCITEMRESULT** ppValidationResults,
                                    HRESULT** ppErrors) {
  if (ppValidationResults) *ppValidationResults = nullptr;
  if (ppErrors) *ppErrors = nullptr;
  if (removed()) return E_FAIL;
  if (dwCount == 0 || !pItemArray || !ppValidationResults || !ppErrors) return E_INVALIDARG;
  auto* results = task_array<OPCITEMRESULT>(dwCount);
  auto* errors = task_array<HRESULT>(dwCount);
  std::unique_ptr<COPCDrvItem> scratch(new (std::nothrow) COPCDrvItem(this));
  if (!results || !errors || !scratch) {
    com::CoTaskMemFree(results);
    com::CoTaskMemFree(errors);
    return E_OUTOFMEMORY;
  }
  bool any_failed = false;
  for (DWORD i = 0; i < dwCount; ++i) {
    errors[i] = length_acceptable(pItemArray[i]) ? scratch->bind(pItemArray[i], i, &results[i]) : OPC_E_INVALIDITEMID;
    any_failed |= FAILED(errors[i]);
  }
  *ppValidationResults = results;
  *ppErrors = errors;
  return any_failed ? S_FALSE : S_OK;
}

HRESULT COPCDrvGroup::RemoveItems(DWORD dwCount, OPCHANDLE* phServer, HRESULT** ppErrors) {
  if (removed()) {
    if (ppErrors) *ppErrors = nullptr;
    return E_FAIL;
  }
  std::vector<std::unique_ptr<COPCDrvItem>> gone;  // destroyed after the lock is left
  return for_items(dwCount, phServer, ppErrors, true, [&](DWORD, auto it) {
    gone.push_back(std::move(it->second));
    items_.erase(it);
    return S_OK;
  });
}

HRESULT COPCDrvGroup::SetActiveState(DWORD dwCount, OPCHANDLE* phServer, BOOL bActive, HRESULT** ppErrors) {
  if (removed()) {
    if (ppErrors) *ppErrors = nullptr;
    return E_FAIL;
  }
  HRESULT hr = for_items(dwCount, phServer, ppErrors, true, [&](DWORD, auto it) {
    it->second->set_active(bActive != 0);
    return S_OK;
  });
  if (SUCCEEDED(hr)) {
    {
      std::lock_guard lock(mutex_);
      update_countdown_ = 0;
    }
    server_->wake();
  }
  return hr;
}

HRESULT COPCDrvGroup::SetClientHandles(DWORD dwCount, OPCHANDLE* phServer, OPCHANDLE* phClient, HRESULT** ppErrors) {
  if (removed() || !phClient) {
    if (ppErrors) *ppErrors = nullptr;
    return removed() ? E_FAIL : E_INVALIDARG;
  }
  // The item table itself is still read under the group lock: a concurrent RemoveItems must
  // not free an item while its handle is changed.
  return for_items(dwCount, phServer, ppErrors, true, [&](DWORD i, auto it) {
    it->second->set_client_handle(phClient[i]);
    return S_OK;
  });
}

HRESULT COPCDrvGroup::SetDatatypes(DWORD dwCount, OPCHANDLE* phServer, VARTYPE* pRequestedDatatypes,
                                   HRESULT** ppErrors) {
  if (removed() || !pRequestedDatatypes) {
    if (ppErrors) *ppErrors = nullptr;
    return removed() ? E_FAIL : E_INVALIDARG;
  }
  return for_items(dwCount, phServer, ppErrors, true,
                   [&](DWORD i, auto it) { return it->second->set_requested_type(pRequestedDatatypes[i]); });
}

HRESULT COPCDrvGroup::CreateEnumerator(REFIID riid, LPUNKNOWN* ppUnk) {
  if (!ppUnk) return E_INVALIDARG;
  *ppUnk = nullptr;
  if (removed()) return E_FAIL;
  if (!is(riid, IID_IEnumOPCItemAttributes)) return E_INVALIDARG;
  std::vector<OPCITEMATTRIBUTES> snapshot;
  try {
    std::lock_guard lock(mutex_);
    snapshot.reserve(items_.size());
    for (auto& [handle, item] : items_) snapshot.push_back(item->attributes());
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  IEnumOPCItemAttributes* e = new_item_attributes_enumerator(this, std::move(snapshot));
  if (!e) return E_OUTOFMEMORY;
  HRESULT hr = e->QueryInterface(riid, reinterpret_cast<void**>(ppUnk));
  e->Release();
  return hr;
}

HRESULT COPCDrvGroup::SetItemDeadband(DWORD dwCount, OPCHANDLE* phServer, FLOAT* pPercentDeadband, HRESULT** ppErrors) {
  if (!pPercentDeadband) {
    if (ppErrors) *ppErrors = nullptr;
    return E_INVALIDARG;
  }
  return for_items(dwCount, phServer, ppErrors, true, [&](DWORD i, auto it) {
    if (!it->second->is_analog()) return OPC_E_DEADBANDNOTSUPPORTED;
    it->second->set_deadband(pPercentDeadband[i], true);
    return S_OK;
  });
}

HRESULT COPCDrvGroup::GetItemDeadband(DWORD dwCount, OPCHANDLE* phServer, FLOAT** ppPercentDeadband,
                                      HRESULT** ppErrors) {
  if (ppPercentDeadband) *ppPercentDeadband = nullptr;
  if (!ppPercentDeadband) {
    if (ppErrors) *ppErrors = nullptr;
    return E_INVALIDARG;
  }
  if (dwCount == 0) return for_items(dwCount, phServer, ppErrors, false, [](DWORD, auto) { return S_OK; });
  FLOAT* values = task_array<FLOAT>(dwCount);
  if (!values) {
    if (ppErrors) *ppErrors = nullptr;
    return E_OUTOFMEMORY;
  }
  HRESULT hr = for_items(dwCount, phServer, ppErrors, true, [&](DWORD i, auto it) {
    if (!it->second->is_analog()) return OPC_E_DEADBANDNOTSUPPORTED;
    values[i] = it->second->percent_deadband();
    return it->second->deadband_explicit() ? S_OK : OPC_E_DEADBANDNOTSET;
  });
  if (FAILED(hr)) {
    com::CoTaskMemFree(values);
    return hr;
  }
  *ppPercentDeadband = values;
  return hr;
}

HRESULT COPCDrvGroup::ClearItemDeadband(DWORD dwCount, OPCHANDLE* phServer, HRESULT** ppErrors) {
  float group_value = percent_deadband();
  return for_items(dwCount, phServer, ppErrors, true, [&](DWORD, auto it) {
    if (!it->second->is_analog()) return OPC_E_DEADBANDNOTSUPPORTED;
    it->second->set_deadband(group_value, false);
    return S_OK;
  });
}

}  // namespace hbt::opc
