// COPCDrvGroup: a client's group of items with its update rate, active state, deadband and
// keep-alive, its tear-offs (group state, item management, item deadband) and its item table.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "opc/com_base.h"
#include "opc/group_da1.h"
#include "opc/handle_table.h"
#include "opc/item.h"

namespace hbt::opc {

class COPCDrvServer;
class COPCDrvItem;
template <bool kSpreadsDeadband>
class CImpIOPCGroupStateMgtT;
class CImpIOPCItemMgt;
class CImpIOPCItemDeadbandMgt;
class CImpIOPCSyncIO;
class CImpIOPCSyncIO_2;
class CImpIOPCAsyncIO_2;
class CImpIOPCAsyncIO_3;
class ImplGroupCPC;

class COPCDrvGroup final : public IUnknown {
 public:
  explicit COPCDrvGroup(COPCDrvServer* server);
  COPCDrvGroup(const COPCDrvGroup&) = delete;
  COPCDrvGroup& operator=(const COPCDrvGroup&) = delete;

  // Client references: each also holds the server.
  HRESULT QueryInterface(REFIID riid, void** object) override;
  ULONG AddRef() override;
  ULONG Release() override;
  // The server table's reference, which does not hold the server.
  void table_add_ref();
  void table_release();
  // Deletes a group that never had a reference (failed creation).
  void discard();
  // References held by the table and by clients (the poll cycle's pins are not counted).
  ULONG references() const { return refs_.load() - pins_.load(); }
  // The poll cycle's hold on a group it visits with the server unlocked, so that a client
  // called back from the visit may remove groups; both under the server lock.
  void pin() {
    ++pins_;
    ++refs_;
  }
  void unpin() {
    --pins_;
    table_release();
  }

  // Set up by AddGroup and CloneGroup before the group is visible.
  void init(HandleLease server_handle, std::u16string name, OPCHANDLE client_handle, LCID locale);
  // Revises a requested update rate as AddGroup and SetState do; true when it was changed.
  bool revise_update_rate(DWORD requested, DWORD* revised);
  void set_active(bool active);
  void set_percent_deadband(float percent, bool spread_to_items);
  void set_time_bias(LONG bias);

  OPCHANDLE server_handle() const { return server_handle_.value(); }
  std::u16string name();
  // The server names a group that asked for a generated name as it enters the table.
  void set_name(std::u16string name);
  float percent_deadband() const { return percent_deadband_.load(); }
  bool removed() const { return removed_.load(); }
  // RemoveGroup with references left: out of the table, state methods answer E_FAIL.
  void mark_removed() { removed_ = true; }
  // Forced removal and server destruction: every item goes now; the object itself stays
  // until its last reference, so a client pointer never dangles.
  void clear_items();
  COPCDrvServer* server() const { return server_; }

  // IOPCGroupStateMgt / IOPCGroupStateMgt2.
  HRESULT GetState(DWORD* pUpdateRate, BOOL* pActive, LPWSTR* ppName, LONG* pTimeBias, FLOAT* pPercentDeadband,
                   LCID* pLCID, OPCHANDLE* phClientGroup, OPCHANDLE* phServerGroup);
  HRESULT SetState(DWORD* pRequestedUpdateRate, DWORD* pRevisedUpdateRate, BOOL* pActive, LONG* pTimeBias,
                   FLOAT* pPercentDeadband, LCID* pLCID, OPCHANDLE* phClientGroup, bool spread_deadband);
  HRESULT SetName(LPCWSTR szName);
  HRESULT CloneGroup(LPCWSTR szName, REFIID riid, LPUNKNOWN* ppUnk);
  HRESULT SetKeepAlive(DWORD dwKeepAliveTime, DWORD* pdwRevisedKeepAliveTime);
  HRESULT GetKeepAlive(DWORD* pdwKeepAliveTime);

  // IOPCItemMgt.
  HRESULT AddItems(DWORD dwCount, OPCITEMDEF* pItemArray, OPCITEMRESULT** ppAddResults, HRESULT** ppErrors);
  HRESULT ValidateItems(DWORD dwCount, OPCITEMDEF* pItemArray, BOOL bBlobUpdate, OPCITEMRESULT** ppValidationResults,
                        HRESULT** ppErrors);
  HRESULT RemoveItems(DWORD dwCount, OPCHANDLE* phServer, HRESULT** ppErrors);
  HRESULT SetActiveState(DWORD dwCount, OPCHANDLE* phServer, BOOL bActive, HRESULT** ppErrors);
  HRESULT SetClientHandles(DWORD dwCount, OPCHANDLE* phServer, OPCHANDLE* phClient, HRESULT** ppErrors);
  HRESULT SetDatatypes(DWORD dwCount, OPCHANDLE* phServer, VARTYPE* pRequestedDatatypes, HRESULT** ppErrors);
  HRESULT CreateEnumerator(REFIID riid, LPUNKNOWN* ppUnk);

  // IOPCItemDeadbandMgt.
  HRESULT SetItemDeadband(DWORD dwCount, OPCHANDLE* phServer, FLOAT* pPercentDeadband, HRESULT** ppErrors);
  HRESULT GetItemDeadband(DWORD dwCount, OPCHANDLE* phServer, FLOAT** ppPercentDeadband, HRESULT** ppErrors);
  HRESULT ClearItemDeadband(DWORD dwCount, OPCHANDLE* phServer, HRESULT** ppErrors);

  // IOPCSyncIO / IOPCSyncIO2 (group_sync_io.cc).
  HRESULT Read(OPCDATASOURCE dwSource, DWORD dwCount, OPCHANDLE* phServer, OPCITEMSTATE** ppItemValues,
               HRESULT** ppErrors);
  HRESULT Write(DWORD dwCount, OPCHANDLE* phServer, VARIANT* pItemValues, HRESULT** ppErrors);
  HRESULT ReadMaxAge(DWORD dwCount, OPCHANDLE* phServer, DWORD* pdwMaxAge, VARIANT** ppvValues,
                     WORD** ppwQualities, FILETIME** ppftTimeStamps, HRESULT** ppErrors);
  HRESULT WriteVQT(DWORD dwCount, OPCHANDLE* phServer, OPCITEMVQT* pItemVQT, HRESULT** ppErrors);

  // IOPCAsyncIO2 / IOPCAsyncIO3 (group_async_io.cc): completed inside the call.
  HRESULT AsyncRead(DWORD dwCount, OPCHANDLE* phServer, DWORD dwTransactionID, DWORD* pdwCancelID,
                    HRESULT** ppErrors);
  HRESULT AsyncReadMaxAge(DWORD dwCount, OPCHANDLE* phServer, DWORD* pdwMaxAge, DWORD dwTransactionID,
                          DWORD* pdwCancelID, HRESULT** ppErrors);
  HRESULT AsyncWrite(DWORD dwCount, OPCHANDLE* phServer, VARIANT* pItemValues, DWORD dwTransactionID,
                     DWORD* pdwCancelID, HRESULT** ppErrors);
  HRESULT AsyncWriteVQT(DWORD dwCount, OPCHANDLE* phServer, OPCITEMVQT* pItemVQT, DWORD dwTransactionID,
                        DWORD* pdwCancelID, HRESULT** ppErrors);
  HRESULT Refresh2(OPCDATASOURCE dwSource, DWORD dwTransactionID, DWORD* pdwCancelID);
  HRESULT RefreshMaxAge(DWORD dwMaxAge, DWORD dwTransactionID, DWORD* pdwCancelID);
  HRESULT Cancel2(DWORD dwCancelID);
  HRESULT SetEnable(BOOL bEnable);
  HRESULT GetEnable(BOOL* pbEnable);

  // The IOPCDataCallback connection point (group_subscription.cc).
  HRESULT advise_data_callback(IUnknown* sink, DWORD* cookie);
  HRESULT unadvise_data_callback(DWORD cookie);
  bool data_callback_connected();

  // Poll thread: one visit with the elapsed milliseconds (group_subscription.cc).
  void update(std::uint32_t elapsed_ms);

  // IOPCAsyncIO (DA 1.0), group_da1.cc: requests queued for the poll thread, results on the
  // IDataObject streams.
  HRESULT Da1Read(DWORD dwConnection, OPCDATASOURCE dwSource, DWORD dwCount, OPCHANDLE* phServer,
                  DWORD* pTransactionID, HRESULT** ppErrors);
  HRESULT Da1Write(DWORD dwConnection, DWORD dwCount, OPCHANDLE* phServer, VARIANT* pItemValues, DWORD* pTransactionID,
                   HRESULT** ppErrors);
  HRESULT Da1Refresh(DWORD dwConnection, OPCDATASOURCE dwSource, DWORD* pTransactionID);
  HRESULT Da1Cancel(DWORD dwTransactionID);
  GroupDa1& da1_state() { return da1_; }
  // True once a client asked for the group's IDataObject.
  bool has_data_object() const { return da1_.data_object_seen.load() != nullptr; }
  // The change scan's last step (group lock held): ADVF_PRIMEFIRST in an advise word makes
  // every active item owed once to that stream, and is then cleared.
  void da1_prime_first_locked();
  // Update pass (group lock held): the data-with-time, then the data change report, for the
  // items owed to each advised stream.
  void da1_change_reports_locked();
  // After the update pass, group lock not held: sends the change reports, then carries out
  // the pending DA 1.0 reads (a data stream advised) and writes (write-complete advised).
  void da1_after_update();
  std::size_t da1_pending_count();

  std::size_t item_count();
  // Tests look at fields no interface shows.
  COPCDrvItem* find_item_for_test(OPCHANDLE handle);
  // Update passes finished, their reports sent: a test that waits for the server's work counts
  // passes, which no load on the machine can make come early or short.
  std::uint64_t finished_passes_for_test() const { return finished_passes_.load(); }

 private:
  ~COPCDrvGroup();
  // Runs `each` on every listed handle under the group lock; null item for unknown handles.
  template <class Each>
  HRESULT for_items(DWORD count, const OPCHANDLE* handles, HRESULT** errors, bool lock, Each each);

  // The update pass (group lock held through `lock`, which the callbacks leave and re-enter).
  void scan_for_changes(std::unique_lock<std::mutex>& lock);
  void send_data_change(std::unique_lock<std::mutex>& lock);
  bool change_arrays_ready();
  void take_handed_off_sink();
  // The client-side sink with a reference for the caller, or null.
  IOPCDataCallback* client_sink();
  // DA 2.0 completions of reads (group_async_io.cc).
  HRESULT complete_reads(DWORD count, const OPCHANDLE* handles, DWORD transaction, HRESULT* errors,
                         IOPCDataCallback* sink, bool refresh);
  HRESULT async_write(DWORD count, const OPCHANDLE* handles, DWORD transaction, DWORD* cancel_id,
                      HRESULT** ppErrors, bool have_values,
                      const std::function<HRESULT(DWORD, COPCDrvItem&)>& write_one);

  COPCDrvServer* server_;
  std::atomic<ULONG> refs_{0};
  std::atomic<ULONG> pins_{0};
  std::atomic<DWORD> update_rate_{0};
  std::atomic<DWORD> keep_alive_{0};
  std::atomic<float> percent_deadband_{0.0f};
  std::atomic<LCID> locale_{0x0800};
  std::atomic<LONG> time_bias_{0};
  std::atomic<BOOL> active_{0};
  std::u16string name_;
  HandleLease server_handle_;
  std::atomic<OPCHANDLE> client_handle_{0};

  std::mutex tear_off_mutex_;
  std::unique_ptr<CImpIOPCGroupStateMgtT<true>> state_if_;
  std::unique_ptr<CImpIOPCGroupStateMgtT<false>> state2_if_;
  std::unique_ptr<CImpIOPCItemMgt> item_mgt_if_;
  std::unique_ptr<CImpIOPCItemDeadbandMgt> deadband_if_;
  std::unique_ptr<CImpIOPCSyncIO> sync_if_;
  std::unique_ptr<CImpIOPCSyncIO_2> sync2_if_;
  std::unique_ptr<CImpIOPCAsyncIO_2> async2_if_;
  std::unique_ptr<CImpIOPCAsyncIO_3> async3_if_;
  std::unique_ptr<ImplGroupCPC> cpc_;

  std::atomic<std::int32_t> update_countdown_{0};  // also set by client threads to hurry a pass
  std::int32_t keep_alive_countdown_ = 0;         // group lock
  std::uint32_t since_last_pass_ = 0;             // poll thread: elapsed time the keep-alive counts
  std::atomic<bool> removed_{false};
  std::atomic<std::uint64_t> finished_passes_{0};

  // The data callback: the client's side (Advise/Unadvise and the DA 2.0 completions), the
  // hand-off stream that carries it to the poll thread and the request to let it go.
  std::mutex sink_mutex_;
  IOPCDataCallback* client_sink_ = nullptr;
  IStream* hand_off_stream_ = nullptr;
  bool release_request_ = false;
  // The poll thread's side: only the poll thread sets or clears it (under sink_mutex_).
  IOPCDataCallback* data_sink_ = nullptr;

  // The change list: server handles of the items a pass found changed, and the arrays a data
  // callback hands over, allocated once with the task allocator so a callback allocates
  // nothing. Poll thread, group lock.
  static constexpr std::size_t kChangeCapacity = 32;
  OPCHANDLE change_handles_[kChangeCapacity] = {};
  OPCHANDLE change_clients_[kChangeCapacity] = {};
  std::size_t change_count_ = 0;
  HRESULT* change_errors_ = nullptr;
  VARIANT* change_values_ = nullptr;
  FILETIME* change_stamps_ = nullptr;
  WORD* change_qualities_ = nullptr;

  std::mutex mutex_;  // items, change list, transaction lists; name
  std::map<OPCHANDLE, std::unique_ptr<COPCDrvItem>> items_;

  // DA 1.0 (group_da1.cc).
  HRESULT da1_queue(bool write, DWORD source, DWORD count, const OPCHANDLE* handles, const VARIANT* values,
                    DWORD* transaction_id, HRESULT** errors);
  HGLOBAL da1_data_stream_locked(bool with_time, DWORD transaction_id, const std::vector<COPCDrvItem*>& items,
                                 ReadSource source, bool inactive_cache_quality);
  void da1_deliver(Da1Format format, HGLOBAL block);
  void da1_run_reads();
  void da1_run_writes();
  GroupDa1 da1_;
};

}  // namespace hbt::opc
