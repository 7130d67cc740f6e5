// The subscription side of a group: the IOPCDataCallback connection, its hand-off to the poll
// thread, and the update pass the poll thread runs (change scan, change list, data-change
// callbacks, keep-alive).
#include <chrono>
#include <limits>
#include <thread>

#include "com/task_memory.h"
#include "com/unknown.h"
#include "com/variant.h"
#include "opc/com_util.h"
#include "opc/group.h"
#include "opc/item.h"
#include "opc/server.h"

namespace hbt::opc {
namespace {

constexpr int kAdviseWaits = 21;
constexpr auto kAdviseWait = std::chrono::milliseconds(50);
constexpr auto kUnadviseWait = std::chrono::milliseconds(10);

std::int32_t clamp_ms(std::uint64_t ms) {
  return static_cast<std::int32_t>(std::min<std::uint64_t>(ms, std::numeric_limits<std::int32_t>::max()));
}

}  // namespace

// --- The connection point -----------------------------------------------------------------

bool COPCDrvGroup::data_callback_connected() {
  std::lock_guard lock(sink_mutex_);
  return client_sink_ != nullptr;
}

HBT_CALLS_FOREIGN_OBJECTS IOPCDataCallback* COPCDrvGroup::client_sink() {
  std::lock_guard lock(sink_mutex_);
  if (client_sink_) client_sink_->AddRef();
  return client_sink_;
}

HBT_CALLS_FOREIGN_OBJECTS HRESULT COPCDrvGroup::advise_data_callback(IUnknown* sink, DWORD* cookie) {
  if (!sink || !cookie) return E_POINTER;
  // An earlier connection's sink still held by the poll thread would be released with the
  // new one: hurry the poll thread along until it has let the old one go.
  for (int waits = 0;; ++waits) {
    {
      std::lock_guard lock(sink_mutex_);
      if (!release_request_) break;
    }
    if (waits == kAdviseWaits) return CONNECT_E_ADVISELIMIT;
    update_countdown_ = 0;
    server_->wake();
    std::this_thread::sleep_for(kAdviseWait);
  }
  IOPCDataCallback* callback = nullptr;
  {
    std::lock_guard lock(sink_mutex_);
    if (client_sink_ || hand_off_stream_) return CONNECT_E_ADVISELIMIT;
    if (FAILED(sink->QueryInterface(IID_IOPCDataCallback, reinterpret_cast<void**>(&callback))) || !callback)
      return CONNECT_E_CANNOTCONNECT;
    client_sink_ = callback;
    HRESULT hr = CoMarshalInterThreadInterfaceInStream(IID_IOPCDataCallback, callback, &hand_off_stream_);
    if (FAILED(hr)) {
      hand_off_stream_ = nullptr;
      release_request_ = false;
      client_sink_ = nullptr;
      callback->Release();
      return hr;
    }
  }
  update_countdown_ = 0;
  server_->wake();
  *cookie = 1;
  return S_OK;
}

HBT_CALLS_FOREIGN_OBJECTS HRESULT COPCDrvGroup::unadvise_data_callback(DWORD cookie) {
  if (cookie != 1) return CONNECT_E_NOCONNECTION;
  IOPCDataCallback* gone = nullptr;
  {
    std::lock_guard lock(sink_mutex_);
    release_request_ = true;
    gone = client_sink_;
    client_sink_ = nullptr;
  }
  if (gone) gone->Release();
  update_countdown_ = 0;
  server_->wake();
  std::this_thread::sleep_for(kUnadviseWait);
  return S_OK;
}

// Poll thread: takes a newly handed-off sink and lets go of one whose release was asked for.
// The references are given up outside the lock, in case the client's Release calls back.
HBT_CALLS_FOREIGN_OBJECTS void COPCDrvGroup::take_handed_off_sink() {
  IOPCDataCallback* released[2] = {nullptr, nullptr};
  {
    std::lock_guard lock(sink_mutex_);
    if (hand_off_stream_) {
      IOPCDataCallback* received = nullptr;
      if (FAILED(CoGetInterfaceAndReleaseStream(hand_off_stream_, IID_IOPCDataCallback,
                                                reinterpret_cast<void**>(&received))))
        received = nullptr;
      hand_off_stream_ = nullptr;
      released[0] = data_sink_;
      data_sink_ = received;
    }
    if (release_request_) {
      released[1] = data_sink_;
      data_sink_ = nullptr;
      release_request_ = false;
    }
  }
  for (IOPCDataCallback* sink : released)
    if (sink) sink->Release();
}

// --- The update pass ----------------------------------------------------------------------

void COPCDrvGroup::update(std::uint32_t elapsed_ms) {
  const std::int32_t elapsed = clamp_ms(elapsed_ms);
  since_last_pass_ = static_cast<std::uint32_t>(clamp_ms(std::uint64_t{since_last_pass_} + elapsed_ms));
  // A sink the client has unadvised is never called again, not even by this visit.
  take_handed_off_sink();
  bool update_pass = false;
  const bool due = update_countdown_.fetch_sub(elapsed) - elapsed <= 0;
  if (due) {
    std::unique_lock lock(mutex_);
    if (active_ && (data_sink_ || has_data_object())) {
      update_pass = true;
      // The time since the last pass is counted before this pass's callbacks, each of which
      // starts the keep-alive time afresh: a keep-alive is due only once the whole keep-alive
      // time went by with nothing sent, never right after a data callback.
      if (keep_alive_ != 0) keep_alive_countdown_ -= clamp_ms(since_last_pass_);
      scan_for_changes(lock);
      da1_change_reports_locked();  // built here, sent once the lock is left
      if (change_count_ > 0 && data_sink_) send_data_change(lock);
      change_count_ = 0;  // without a data callback, DA 1.0 clients find changes by the pending bits
      if (keep_alive_ != 0 && data_sink_ && keep_alive_countdown_ <= 0) send_data_change(lock);
    }
    lock.unlock();
    since_last_pass_ = 0;
    update_countdown_ = clamp_ms(update_rate_.load());
  }
  server_->count_group_visit(update_pass);
  da1_after_update();
  take_handed_off_sink();
  if (due) finished_passes_.fetch_add(1);
}

void COPCDrvGroup::scan_for_changes(std::unique_lock<std::mutex>& lock) {
  for (auto it = items_.begin(); it != items_.end();) {
    const OPCHANDLE handle = it->first;
    if (!it->second->scan_for_change()) {
      ++it;
      continue;
    }
    change_handles_[change_count_++] = handle;
    if (change_count_ < kChangeCapacity) {
      ++it;
      continue;
    }
    if (data_sink_) {
      // The callback leaves the lock: the table may change meanwhile, so the scan goes on
      // after this handle rather than from an iterator.
      send_data_change(lock);
      change_count_ = 0;
      it = items_.upper_bound(handle);
    } else {
      change_count_ = 0;
      ++it;
    }
  }
  da1_prime_first_locked();
}

bool COPCDrvGroup::change_arrays_ready() {
  if (change_errors_ && change_values_ && change_stamps_ && change_qualities_) return true;
  if (!change_errors_) change_errors_ = task_array<HRESULT>(kChangeCapacity);
  if (!change_values_) change_values_ = task_array<VARIANT>(kChangeCapacity);  // zeroed: VT_EMPTY
  if (!change_stamps_) change_stamps_ = task_array<FILETIME>(kChangeCapacity);
  if (!change_qualities_) change_qualities_ = task_array<WORD>(kChangeCapacity);
  return change_errors_ && change_values_ && change_stamps_ && change_qualities_;
}

// Group lock held on entry and on return; left for the client's call.
HBT_CALLS_FOREIGN_OBJECTS void COPCDrvGroup::send_data_change(std::unique_lock<std::mutex>& lock) {
  IOPCDataCallback* sink = data_sink_;
  if (!sink) return;
  {
    // Unadvised meanwhile (by a client thread, or inside an earlier callback of this pass):
    // that sink is not called again, and the changes stay owed through their pending bits.
    std::lock_guard sinks(sink_mutex_);
    if (release_request_) {
      change_count_ = 0;
      return;
    }
  }
  const OPCHANDLE group_client = client_handle_;
  DWORD n = 0;
  HRESULT master_quality = S_OK;
  HRESULT master_error = S_OK;
  if (change_count_ > 0) {
    if (!change_arrays_ready()) {
      change_count_ = 0;  // out of memory: this report is skipped
      return;
    }
    for (std::size_t i = 0; i < change_count_; ++i) {
      auto it = items_.find(change_handles_[i]);
      if (it == items_.end()) continue;  // removed since the scan
      COPCDrvItem& item = *it->second;
      change_errors_[n] =
          item.read(ReadSource::kReported, &change_values_[n], &change_qualities_[n], &change_stamps_[n]);
      item.clear_pending(kPendingBoth);
      change_clients_[n] = item.client_handle();
      if (change_qualities_[n] != OPC_QUALITY_GOOD) master_quality = S_FALSE;
      if (change_errors_[n] != S_OK) master_error = S_FALSE;
      ++n;
    }
    change_count_ = 0;
    if (n == 0) return;
  }
  // The sink is the poll thread's own; the extra reference keeps it while an Unadvise from
  // inside the callback asks for its release.
  sink->AddRef();
  lock.unlock();
  try {
    if (n > 0)
      sink->OnDataChange(0, group_client, master_quality, master_error, n, change_clients_, change_values_,
                         change_qualities_, change_stamps_, change_errors_);
    else
      sink->OnDataChange(0, group_client, S_OK, S_OK, 0, nullptr, nullptr, nullptr, nullptr, nullptr);
  } catch (...) {
    // A subscription's callback failures are the client's own business.
  }
  sink->Release();
  lock.lock();
  for (DWORD i = 0; i < n; ++i) com::VariantClear(&change_values_[i]);
  keep_alive_countdown_ = static_cast<std::int32_t>(std::min<DWORD>(keep_alive_, 0x7FFFFFFF));
}

}  // namespace hbt::opc
