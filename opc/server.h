// COPCDrvServer: one client connection of the OPC server. It owns the groups of that client,
// its tear-offs (IOPCServer, IOPCCommon, the shutdown connection point), its poll thread and
// its share of the bandwidth figure.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "opc/com_base.h"
#include "opc/wake_event.h"

namespace hbt::opc {

class COPCDrvGroup;
class CImpIOPCServer;
class CImpICommon;
class ImplCPC;
class CImpIOPCBrowseServer;
class CImpIItemProperties;
class CImpIOPCItemIO;
class CImpIPersistFile;

// Moves a client's sink to the poll thread, which makes every callback.
struct InterfaceHandOff {
  IID iid{};
  IUnknown** destination = nullptr;
  IStream* stream = nullptr;  // the marshalled sink, until the poll thread takes it out
  bool release_request = false;
};

class COPCDrvServer final : public IUnknown {
 public:
  COPCDrvServer();
  COPCDrvServer(const COPCDrvServer&) = delete;
  COPCDrvServer& operator=(const COPCDrvServer&) = delete;

  // Starts the poll thread and enters the server table; E_FAIL when the thread cannot start.
  HRESULT start();

  HRESULT QueryInterface(REFIID riid, void** object) override;
  ULONG AddRef() override;
  ULONG Release() override;

  // IOPCServer.
  HRESULT AddGroup(LPCWSTR szName, BOOL bActive, DWORD dwRequestedUpdateRate, OPCHANDLE hClientGroup,
                   LONG* pTimeBias, FLOAT* pPercentDeadband, DWORD dwLCID, OPCHANDLE* phServerGroup,
                   DWORD* pRevisedUpdateRate, REFIID riid, LPUNKNOWN* ppUnk);
  HRESULT GetErrorString(HRESULT dwError, LCID dwLocale, LPWSTR* ppString);
  HRESULT GetGroupByName(LPCWSTR szName, REFIID riid, LPUNKNOWN* ppUnk);
  HRESULT GetStatus(OPCSERVERSTATUS** ppServerStatus);
  HRESULT RemoveGroup(OPCHANDLE hServerGroup, BOOL bForce);
  HRESULT CreateGroupEnumerator(OPCENUMSCOPE dwScope, REFIID riid, LPUNKNOWN* ppUnk);

  // IOPCCommon.
  HRESULT SetLocaleID(LCID lcid);
  HRESULT GetLocaleID(LCID* lcid);
  HRESULT QueryAvailableLocaleIDs(DWORD* count, LCID** lcids);
  HRESULT CommonGetErrorString(HRESULT code, LPWSTR* text);
  HRESULT SetClientName(LPCWSTR name);

  // The shutdown connection point.
  HRESULT advise_shutdown(IUnknown* sink, DWORD* cookie);
  HRESULT unadvise_shutdown(DWORD cookie);
  bool has_shutdown_sink();

  // For groups: the group table, the poll thread's wake-up.
  // Enters a new group under its handle (one table reference); OPC_E_DUPLICATENAME when a
  // group of that name arrived meanwhile. With `generate_name` the group is named here, under
  // the same lock as the insertion: the prefix and the group-name counter, moved on past
  // every name a group already has.
  HRESULT enter_group(COPCDrvGroup* group, bool generate_name = false);
  bool group_name_in_use(std::u16string_view name);
  void wake() { wake_.signal(); }
  void count_group_visit(bool update_pass);
  // A report went to a client: GetStatus shows the time as the last update.
  void note_update_now();
  // DA 1.0 transaction ids: interlocked, never 0.
  DWORD next_transaction_id();

  // Bandwidth thread: turns the counters into the bandwidth figure and resets them.
  void take_bandwidth_sample();

  // Poll thread: one cycle over every group with the elapsed milliseconds.
  void poll_cycle(std::uint32_t elapsed_ms);

  // The process is ending with this server alive (its client exited holding it): the poll
  // thread stops at its next wake-up and leaves the client's objects alone, which may be gone
  // already. Called under the server-table lock; the thread's end can be waited for.
  void stop_for_exit();
  std::shared_ptr<DoneFlag> poll_thread_end() const { return poll_thread_done_; }
  std::thread::id poll_thread_id() const { return poll_thread_.get_id(); }
  // After stop_for_exit, under the server-table lock (so that no final release joins it at
  // the same time): a poll thread that has ended is joined.
  void join_ended_poll_thread();
  std::uint32_t serial() const { return serial_; }

 private:
  friend class ImplCPC;
  ~COPCDrvServer();
  void poll_loop();
  void process_hand_off();
  HRESULT hand_off(REFIID iid, IUnknown* sink, IUnknown** destination);
  void release_on_poll_thread(IUnknown** destination);
  bool shutdown_release_pending();
  void final_release();
  // Removes the groups and tear-offs and deletes the object (the count of live servers is
  // the caller's, after this).
  void destroy();
  void remove_all_groups();
  std::vector<COPCDrvGroup*> groups_for_enumeration();

  std::atomic<std::uint32_t> bandwidth_{0};
  std::atomic<std::uint32_t> due_updates_{0};
  std::atomic<std::uint32_t> visits_{0};
  std::atomic<std::uint32_t> group_name_counter_{1};

  std::mutex tear_off_mutex_;
  std::unique_ptr<CImpIOPCServer> server_if_;
  std::unique_ptr<CImpICommon> common_if_;
  std::unique_ptr<ImplCPC> cpc_;
  std::unique_ptr<CImpIOPCBrowseServer> browse_if_;
  std::unique_ptr<CImpIItemProperties> properties_if_;
  std::unique_ptr<CImpIOPCItemIO> item_io_if_;
  std::unique_ptr<CImpIPersistFile> persist_if_;

  std::atomic<ULONG> refs_{0};
  std::atomic<std::uint64_t> last_update_time_{0};  // a FILETIME; set by the poll thread
  std::atomic<DWORD> transaction_counter_{0};
  FILETIME start_time_{};
  std::uint32_t serial_ = 0;
  std::uint32_t last_poll_tick_ = 0;
  std::atomic<bool> running_{true};
  // The last reference went inside a call the poll thread made (a callback): that thread
  // cannot wait for itself, so it destroys the object once its loop has ended.
  std::atomic<bool> destroy_on_poll_thread_{false};
  std::atomic<bool> exiting_{false};  // stop_for_exit
  std::atomic<LCID> locale_{0x0800};
  std::mutex client_name_mutex_;
  std::u16string client_name_;
  bool has_client_name_ = false;
  std::int32_t previous_alive_ = 0;

  std::mutex hand_off_mutex_;
  InterfaceHandOff hand_off_;
  IUnknown* shutdown_sink_ = nullptr;  // owned by the poll thread

  WakeEvent wake_;
  std::thread poll_thread_;
  std::shared_ptr<DoneFlag> poll_thread_done_ = std::make_shared<DoneFlag>();

  std::mutex mutex_;  // the group table and every group-level operation that iterates it
  std::map<OPCHANDLE, COPCDrvGroup*> groups_;
};

}  // namespace hbt::opc
