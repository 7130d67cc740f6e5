// The DA 1.0 side of a group: IOPCAsyncIO requests queued as transactions, the change
// reports of the update pass, and the poll thread's work on both. Streams are built under the
// group lock and sent after it is released, so a sink may call back into the group (unadvise,
// queue another read) from inside its OnDataChange.
#include <iterator>
#include <new>

#include "com/task_memory.h"
#include "com/unknown.h"
#include "com/variant.h"
#include "opc/async_transaction.h"
#include "opc/da1_stream.h"
#include "opc/data_object.h"
#include "opc/group.h"
#include "opc/item.h"
#include "opc/server.h"

namespace hbt::opc {
namespace {

constexpr WORD kInactiveCacheQualityMask = 0xFF1F;

bool data_advised(CImpIDataObject* data) {
  return data != nullptr && (data->advised(kFormatData) || data->advised(kFormatDataTime));
}

// Values read for a stream; cleared however the building ends.
struct ReadValues {
  std::vector<ItemRead> reads;
  ~ReadValues() {
    for (ItemRead& r : reads) com::VariantClear(&r.value);
  }
};

}  // namespace

GroupDa1::GroupDa1() = default;

GroupDa1::~GroupDa1() {
  for (COPCDrvAsyncTrans* t : reads) delete t;
  for (COPCDrvAsyncTrans* t : writes) delete t;
  for (Da1Report& r : outbox) GlobalFree(r.block);
}

// --- IOPCAsyncIO ----------------------------------------------------------------------------

HRESULT COPCDrvGroup::da1_queue(bool write, DWORD source, DWORD count, const OPCHANDLE* handles,
                                const VARIANT* values, DWORD* transaction_id, HRESULT** errors) {
  auto* results = static_cast<HRESULT*>(com::CoTaskMemAlloc(count * sizeof(HRESULT)));
  if (results == nullptr) return E_OUTOFMEMORY;
  for (DWORD i = 0; i < count; ++i) results[i] = S_OK;

  std::lock_guard lock(mutex_);
  bool refused = false;
  for (DWORD i = 0; i < count; ++i) {
    if (items_.find(handles[i]) == items_.end()) {
      results[i] = OPC_E_INVALIDHANDLE;
      refused = true;
    }
  }
  if (refused) {
    // The whole request is refused; the slots say which handles were not of this group.
    *errors = results;
    return OPC_E_INVALIDHANDLE;
  }
  auto kind = write ? COPCDrvAsyncTrans::kWrite : COPCDrvAsyncTrans::kRead;
  auto* transaction = new (std::nothrow) COPCDrvAsyncTrans(this, server_->next_transaction_id(), kind, source);
  if (transaction == nullptr) {
    com::CoTaskMemFree(results);
    return E_OUTOFMEMORY;
  }
  std::list<COPCDrvAsyncTrans*>& list = write ? da1_.writes : da1_.reads;
  try {
    if (!transaction->take_copies(count, handles, write ? values : nullptr)) throw std::bad_alloc();
    list.push_back(transaction);
  } catch (const std::bad_alloc&) {
    delete transaction;
    com::CoTaskMemFree(results);
    return E_FAIL;
  }
  transaction->position = std::prev(list.end());
  *transaction_id = transaction->id();
  *errors = results;
  return S_OK;
}

HRESULT COPCDrvGroup::Da1Read(DWORD, OPCDATASOURCE dwSource, DWORD dwCount, OPCHANDLE* phServer,
                              DWORD* pTransactionID, HRESULT** ppErrors) {
  if (ppErrors != nullptr) *ppErrors = nullptr;
  if (dwCount == 0 || phServer == nullptr || pTransactionID == nullptr || ppErrors == nullptr) return E_INVALIDARG;
  // A source that is neither would leave the poll thread guessing where to read from.
  if (dwSource != OPC_DS_CACHE && dwSource != OPC_DS_DEVICE) return E_INVALIDARG;
  if (!data_advised(da1_.data_object_seen.load())) return CONNECT_E_NOCONNECTION;
  // A removed group is no longer visited: its transaction would never be carried out.
  if (removed()) return E_FAIL;
  return da1_queue(false, dwSource, dwCount, phServer, nullptr, pTransactionID, ppErrors);
}

HRESULT COPCDrvGroup::Da1Write(DWORD, DWORD dwCount, OPCHANDLE* phServer, VARIANT* pItemValues, DWORD* pTransactionID,
                               HRESULT** ppErrors) {
  if (ppErrors != nullptr) *ppErrors = nullptr;
  if (dwCount == 0 || phServer == nullptr || pItemValues == nullptr || pTransactionID == nullptr ||
      ppErrors == nullptr)
    return E_INVALIDARG;
  CImpIDataObject* data = da1_.data_object_seen.load();
  if (data == nullptr || !data->advised(kFormatWriteComplete)) return CONNECT_E_NOCONNECTION;
  if (removed()) return E_FAIL;
  return da1_queue(true, OPC_DS_CACHE, dwCount, phServer, pItemValues, pTransactionID, ppErrors);
}

HRESULT COPCDrvGroup::Da1Refresh(DWORD dwConnection, OPCDATASOURCE dwSource, DWORD* pTransactionID) {
  if (pTransactionID == nullptr) return E_INVALIDARG;
  if (!data_advised(da1_.data_object_seen.load())) return CONNECT_E_NOCONNECTION;
  if (!active_) return E_FAIL;
  std::vector<OPCHANDLE> handles;
  try {
    std::lock_guard lock(mutex_);
    for (auto& [handle, item] : items_)
      if (item->active()) handles.push_back(handle);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  if (handles.empty()) return E_FAIL;
  HRESULT* errors = nullptr;
  HRESULT hr = Da1Read(dwConnection, dwSource, static_cast<DWORD>(handles.size()), handles.data(), pTransactionID,
                       &errors);
  com::CoTaskMemFree(errors);
  return hr == S_OK ? S_OK : E_FAIL;
}

HRESULT COPCDrvGroup::Da1Cancel(DWORD dwTransactionID) {
  std::lock_guard lock(mutex_);
  for (std::list<COPCDrvAsyncTrans*>* list : {&da1_.reads, &da1_.writes}) {
    for (COPCDrvAsyncTrans* t : *list) {
      if (t->id() == dwTransactionID) {
        list->erase(t->position);
        delete t;
        return S_OK;
      }
    }
  }
  return E_FAIL;
}

std::size_t COPCDrvGroup::da1_pending_count() {
  std::lock_guard lock(mutex_);
  return da1_.reads.size() + da1_.writes.size();
}

// --- Update pass ----------------------------------------------------------------------------

void COPCDrvGroup::da1_prime_first_locked() {
  // Read and cleared in one step, so a DAdvise arriving meanwhile keeps its own request.
  DWORD data = da1_.advise_words[kFormatData].fetch_and(~static_cast<DWORD>(ADVF_PRIMEFIRST));
  DWORD timed = da1_.advise_words[kFormatDataTime].fetch_and(~static_cast<DWORD>(ADVF_PRIMEFIRST));
  std::uint16_t bits = static_cast<std::uint16_t>(((data & ADVF_PRIMEFIRST) != 0 ? kPendingData : 0) |
                                                  ((timed & ADVF_PRIMEFIRST) != 0 ? kPendingDataTime : 0));
  if (bits == 0) return;
  for (auto& [handle, item] : items_)
    if (item->active()) item->set_pending(bits);
}

HGLOBAL COPCDrvGroup::da1_data_stream_locked(bool with_time, DWORD transaction_id,
                                             const std::vector<COPCDrvItem*>& items, ReadSource source,
                                             bool inactive_cache_quality) {
  try {
    ReadValues values;
    values.reads.reserve(items.size());
    std::vector<StreamValue> stream;
    stream.reserve(items.size());
    for (COPCDrvItem* item : items) {
      values.reads.push_back(item->read(source));
      item->clear_pending(kPendingBoth);
      ItemRead& r = values.reads.back();
      if (inactive_cache_quality)
        r.quality = static_cast<std::uint16_t>((r.quality & kInactiveCacheQualityMask) | OPC_QUALITY_OUT_OF_SERVICE);
      stream.push_back({item->client_handle(), &r.value, r.quality, r.timestamp});
    }
    return build_data_stream(with_time, client_handle_.load(), transaction_id, stream.data(), stream.size());
  } catch (const std::bad_alloc&) {
    return nullptr;  // out of memory: the stream is skipped
  }
}

void COPCDrvGroup::da1_change_reports_locked() {
  CImpIDataObject* data = da1_.data_object_seen.load();
  if (data == nullptr) return;
  // The data-with-time stream goes first; it clears both bits of what it reports.
  for (Da1Format format : {kFormatDataTime, kFormatData}) {
    if (!data->advised(format)) continue;
    std::uint16_t bit = format == kFormatData ? kPendingData : kPendingDataTime;
    try {
      std::vector<COPCDrvItem*> owed;
      for (auto& [handle, item] : items_)
        if ((item->pending() & bit) != 0) owed.push_back(item.get());
      if (owed.empty()) continue;  // nothing changed: no report
      // What this pass's change scan read from the device and reported: a second read here
      // could show a value the scan never compared.
      HGLOBAL block = da1_data_stream_locked(format == kFormatDataTime, 0, owed, ReadSource::kReported, false);
      if (block == nullptr) continue;
      try {
        da1_.outbox.push_back({format, block});
      } catch (const std::bad_alloc&) {
        GlobalFree(block);
      }
    } catch (const std::bad_alloc&) {
    }
  }
}

HBT_CALLS_FOREIGN_OBJECTS void COPCDrvGroup::da1_deliver(Da1Format format, HGLOBAL block) {
  if (block == nullptr) return;
  CImpIDataObject* data = da1_.data_object_seen.load();
  IAdviseSink* sink = data != nullptr ? data->poll_sink(format) : nullptr;
  if (sink != nullptr) {
    FORMATETC formatetc{static_cast<CLIPFORMAT>(data->clipboard_format(format)), nullptr, DVASPECT_CONTENT, -1,
                        TYMED_HGLOBAL};
    STGMEDIUM medium{};
    medium.tymed = TYMED_HGLOBAL;
    medium.hGlobal = block;
    medium.pUnkForRelease = nullptr;
    server_->note_update_now();
    try {
      sink->OnDataChange(&formatetc, &medium);
    } catch (...) {
      // The client's failure is its own; the block is freed below all the same.
    }
    sink->Release();
  }
  GlobalFree(block);
}

void COPCDrvGroup::da1_after_update() {
  std::vector<Da1Report> reports;
  {
    std::lock_guard lock(mutex_);
    reports.swap(da1_.outbox);
  }
  for (Da1Report& r : reports) da1_deliver(r.format, r.block);

  CImpIDataObject* data = da1_.data_object_seen.load();
  if (data == nullptr) return;
  if (data_advised(data)) da1_run_reads();
  if (data->advised(kFormatWriteComplete)) da1_run_writes();
}

namespace {

// Takes a list's transactions, in order, off the group (caller holds the group lock).
std::vector<std::unique_ptr<COPCDrvAsyncTrans>> take_all(std::list<COPCDrvAsyncTrans*>& list) {
  std::vector<std::unique_ptr<COPCDrvAsyncTrans>> out;
  out.reserve(list.size());
  for (COPCDrvAsyncTrans* t : list) out.emplace_back(t);
  list.clear();
  return out;
}

}  // namespace

void COPCDrvGroup::da1_run_reads() {
  std::vector<std::unique_ptr<COPCDrvAsyncTrans>> taken;
  try {
    std::lock_guard lock(mutex_);
    if (da1_.reads.empty()) return;
    taken = take_all(da1_.reads);
  } catch (const std::bad_alloc&) {
    return;  // left on the list for the next cycle
  }
  CImpIDataObject* data = da1_.data_object_seen.load();
  for (auto& t : taken) {
    HGLOBAL plain = nullptr;
    HGLOBAL timed = nullptr;
    {
      std::lock_guard lock(mutex_);
      std::vector<COPCDrvItem*> items;
      try {
        items.reserve(t->count());
        for (DWORD i = 0; i < t->count(); ++i) {
          auto it = items_.find(t->handles()[i]);
          if (it != items_.end()) items.push_back(it->second.get());  // removed since: left out
        }
      } catch (const std::bad_alloc&) {
        continue;
      }
      bool device = t->source() == OPC_DS_DEVICE;
      // A device transaction reads each item once, into the cache, and reports from there.
      if (device)
        for (COPCDrvItem* item : items) item->read_device();
      bool inactive_cache = !device && !active_;
      if (data->advised(kFormatData))
        plain = da1_data_stream_locked(false, t->id(), items, ReadSource::kCache, inactive_cache);
      if (data->advised(kFormatDataTime))
        timed = da1_data_stream_locked(true, t->id(), items, ReadSource::kCache, inactive_cache);
    }
    da1_deliver(kFormatData, plain);
    da1_deliver(kFormatDataTime, timed);
  }
}

void COPCDrvGroup::da1_run_writes() {
  std::vector<std::unique_ptr<COPCDrvAsyncTrans>> taken;
  try {
    std::lock_guard lock(mutex_);
    if (da1_.writes.empty()) return;
    taken = take_all(da1_.writes);
  } catch (const std::bad_alloc&) {
    return;
  }
  CImpIDataObject* data = da1_.data_object_seen.load();
  for (auto& t : taken) {
    HGLOBAL block = nullptr;
    try {
      std::vector<StreamWriteResult> results;
      results.reserve(t->count());
      {
        std::lock_guard lock(mutex_);
        for (DWORD i = 0; i < t->count(); ++i) {
          auto it = items_.find(t->handles()[i]);
          if (it == items_.end()) continue;  // removed since the request: nobody to report to
          results.push_back({it->second->client_handle(), it->second->write(t->values()[i])});
        }
      }
      if (data->advised(kFormatWriteComplete))
        block = build_write_complete_stream(client_handle_.load(), t->id(), results.data(), results.size());
    } catch (const std::bad_alloc&) {
      continue;
    }
    da1_deliver(kFormatWriteComplete, block);
  }
}

}  // namespace hbt::opc
