#include "opc/server.h"

#include <chrono>
#include <new>

#include "com/filetime.h"
#include "com/unknown.h"
#include "opc/async_transaction.h"
#include "opc/browse_server.h"
#include "opc/com_util.h"
#include "opc/enumerators.h"
#include "opc/error_strings.h"
#include "opc/direct_item_io.h"
#include "opc/group.h"
#include "opc/handle_table.h"
#include "opc/item_properties.h"
#include "opc/library.h"
#include "opc/persist_file.h"
#include "opc/reporting.h"
#include "opc/server_tear_offs.h"
#include "opc/settings.h"
#include "opc/thread_priority.h"
#include <cstdio>

namespace hbt::opc {
namespace {

constexpr LCID kSystemDefault = 0x0800;
constexpr LCID kEnglishUs = 1033;
constexpr auto kPollThreadGrace = std::chrono::milliseconds(2000);
constexpr int kHandOffTries = 101;
constexpr int kAdviseWaits = 21;
constexpr auto kAdviseWait = std::chrono::milliseconds(50);

std::uint32_t tick_count() {
  using namespace std::chrono;
  return static_cast<std::uint32_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

}  // namespace

COPCDrvServer::COPCDrvServer() { start_time_ = library().load_time; }

COPCDrvServer::~COPCDrvServer() = default;

HRESULT COPCDrvServer::start() {
  try {
    poll_thread_ = std::thread([this, done = poll_thread_done_] {
      poll_loop();  // may have destroyed the object
      done->set();
    });
  } catch (const std::system_error&) {
    log_event("_beginthreadex failed. Unalbe to create polling thread");
    return E_FAIL;
  }
  serial_ = enter_server(this);
  return S_OK;
}

HRESULT COPCDrvServer::QueryInterface(REFIID riid, void** object) {
  if (!object) return E_INVALIDARG;
  *object = nullptr;
  if (is(riid, IID_IEnumUnknown)) {
    return CreateGroupEnumerator(OPC_ENUM_ALL, riid, reinterpret_cast<LPUNKNOWN*>(object)) == E_NOINTERFACE
               ? E_NOINTERFACE
               : (*object ? S_OK : E_OUTOFMEMORY);
  }
  std::unique_lock lock(tear_off_mutex_);
  try {
    if (is(riid, IID_IUnknown)) {
      *object = static_cast<IUnknown*>(this);
    } else if (is(riid, IID_IOPCServer)) {
      if (!server_if_) server_if_ = std::make_unique<CImpIOPCServer>(this);
      *object = static_cast<IOPCServer*>(server_if_.get());
    } else if (is(riid, IID_IOPCCommon)) {
      if (!common_if_) common_if_ = std::make_unique<CImpICommon>(this);
      *object = static_cast<IOPCCommon*>(common_if_.get());
    } else if (is(riid, IID_IConnectionPointContainer)) {
      if (!cpc_) cpc_ = std::make_unique<ImplCPC>(this);
      *object = static_cast<IConnectionPointContainer*>(cpc_.get());
    } else if (is(riid, IID_IOPCBrowseServerAddressSpace)) {
      if (!browse_if_) browse_if_ = std::make_unique<CImpIOPCBrowseServer>(this);
      *object = static_cast<IOPCBrowseServerAddressSpace*>(browse_if_.get());
    } else if (is(riid, IID_IOPCItemProperties)) {
      if (!properties_if_) properties_if_ = std::make_unique<CImpIItemProperties>(this);
      *object = static_cast<IOPCItemProperties*>(properties_if_.get());
    } else if (is(riid, IID_IOPCItemIO)) {
      if (!item_io_if_) item_io_if_ = std::make_unique<CImpIOPCItemIO>(this);
      *object = static_cast<IOPCItemIO*>(item_io_if_.get());
    } else if (is(riid, IID_IPersistFile) || is(riid, IID_IPersist)) {
      if (!persist_if_) persist_if_ = std::make_unique<CImpIPersistFile>(this);
      *object = static_cast<IPersistFile*>(persist_if_.get());
    } else {
      return E_NOINTERFACE;
    }
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  lock.unlock();
  AddRef();
  return S_OK;
}

ULONG COPCDrvServer::AddRef() { return ++refs_; }

ULONG COPCDrvServer::Release() {
  ULONG left = --refs_;
  if (left == 0) final_release();
  return left;
}

void COPCDrvServer::final_release() {
  std::this_thread::sleep_for(std::chrono::milliseconds(10));
  running_ = false;
  remove_server(serial_);
  wake_.signal();
  if (poll_thread_.joinable() && poll_thread_.get_id() == std::this_thread::get_id()) {
    // Released from inside a callback of the poll thread: the thread finishes its cycle
    // without this server's groups and destroys the object on its way out.
    destroy_on_poll_thread_ = true;
    return;
  }
  if (poll_thread_.joinable()) {
    if (poll_thread_done_->wait_for(kPollThreadGrace)) {
      poll_thread_.join();
    } else {
      // No safe way to end a thread from outside: it is left to finish on its own, and the
      // object it uses is left alive for it. It stays counted, so that the library holding
      // its code is never unloaded under it.
      log_event("OPC server poll thread did not end in time");
      poll_thread_.detach();
      return;
    }
  }
  destroy();
  // Counted as gone only now: DllCanUnloadNow must not let the library go while the object
  // is still being taken apart.
  --library().live_servers;
}

void COPCDrvServer::destroy() {
  {
    std::lock_guard lock(mutex_);
    remove_all_groups();
    std::lock_guard tear_offs(tear_off_mutex_);
    server_if_.reset();
    common_if_.reset();
    cpc_.reset();
    browse_if_.reset();
    properties_if_.reset();
    item_io_if_.reset();
    persist_if_.reset();
    if (server_table_empty() && library().host.CleanUp) {
      NioStatus status[3] = {0, 0, 0};
      library().host.CleanUp(status);
      if (status[0] != 0) {
        char text[64];
        std::snprintf(text, sizeof text, "nio_CleanUp() failed. Returned code = %lX",
                      static_cast<unsigned long>((static_cast<std::uint16_t>(status[1]) << 16) |
                                                 static_cast<std::uint16_t>(status[2])));
        send_message(kColourError, text);
      }
    }
  }
  delete this;
}

// Called with the server mutex held.
void COPCDrvServer::remove_all_groups() {
  for (auto& [handle, group] : groups_) {
    group->mark_removed();
    group->clear_items();
    group->table_release();
  }
  groups_.clear();
}

HBT_CALLS_FOREIGN_OBJECTS void COPCDrvServer::poll_loop() {
  if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) {
    log_event("Fatal Error. Unable to initialize COM for OPC server poll thread");
    return;
  }
  const Settings& s = settings();
  if (!set_thread_priority(s.thread_priority)) log_event("Unable to change OPC server poll thread priority");
  // A zero sleep time would spin the processor; one millisecond keeps the thread polite.
  auto wait = std::chrono::milliseconds(s.thread_sleep_time == 0 ? 1 : s.thread_sleep_time);
  const auto sleep_ms = static_cast<std::uint32_t>(wait.count());
  while (running_.load()) {
    bool woken = wake_.wait_for(wait);
    if (exiting_) return;  // the process is ending: nothing more, not even the sinks' release
    // A wake-up alone does not run a cycle, but a cycle overdue by a whole sleep time still
    // runs: a client that wakes the thread more often than the sleep time (SetEnable or
    // SetActiveState in a loop) must not hold every subscription of the server back.
    std::uint32_t now = tick_count();
    if (!woken || now - last_poll_tick_ >= 2 * sleep_ms) {
      poll_cycle(now - last_poll_tick_);
      last_poll_tick_ = now;
    }
    process_hand_off();
  }
  if (exiting_) return;
  process_hand_off();
  // The sink this thread holds goes with the thread.
  if (shutdown_sink_) {
    shutdown_sink_->Release();
    shutdown_sink_ = nullptr;
  }
  CoUninitialize();
  if (destroy_on_poll_thread_) {
    // Nobody can join this thread from inside: it is handed to the library, which joins it
    // before the library itself goes, and counted out only after that.
    std::thread self = std::move(poll_thread_);
    destroy();
    retire_thread(std::move(self));
    --library().live_servers;
  }
}

void COPCDrvServer::stop_for_exit() {
  exiting_ = true;
  running_ = false;
  wake_.signal();
}

void COPCDrvServer::join_ended_poll_thread() {
  if (poll_thread_.joinable() && poll_thread_done_->is_set()) poll_thread_.join();
}

void COPCDrvServer::poll_cycle(std::uint32_t elapsed_ms) {
  std::int32_t alive = 0;
  // The groups are visited with the server unlocked: a client called back from a visit may
  // ask for the status, add groups or remove them (its own included) without waiting on this
  // thread. A pinned group outlives its removal until the visit is over.
  std::vector<COPCDrvGroup*> visiting;
  {
    std::lock_guard lock(mutex_);
    const HostApi& host = library().host;
    std::int32_t changed = -1;  // left so when the host cannot look
    if (host.get_ServerStatus) host.get_ServerStatus(nullptr, &changed);
    // The process's first two looks compare the watchdog with zero, not with an earlier look:
    // a poller that ever ticked would seem alive to every new client, frozen or not.
    if (changed >= 0 && library().watchdog_looks.fetch_add(1) >= 2) alive = changed;
    library().alive = alive;
    try {
      visiting.reserve(groups_.size());
    } catch (const std::bad_alloc&) {
      return;  // out of memory: this cycle is skipped
    }
    for (auto& [handle, group] : groups_) {
      group->pin();
      visiting.push_back(group);
    }
  }
  // A client that releases its last reference inside a callback ends the server's visits.
  for (COPCDrvGroup* group : visiting)
    if (!group->removed() && running_.load()) group->update(elapsed_ms);
  {
    std::lock_guard lock(mutex_);
    for (COPCDrvGroup* group : visiting) group->unpin();
  }
  if (alive == 0 && previous_alive_ != 0) send_message(kColourPollFailure, "Poll failure please restart clients");
  previous_alive_ = alive;
}

void COPCDrvServer::count_group_visit(bool update_pass) {
  ++visits_;
  if (update_pass) ++due_updates_;
}

void COPCDrvServer::note_update_now() {
  FILETIME now{};
  com::GetSystemTimeAsFileTime(&now);
  last_update_time_ = now.dwLowDateTime | static_cast<std::uint64_t>(now.dwHighDateTime) << 32;
}

DWORD COPCDrvServer::next_transaction_id() { return opc::next_transaction_id(transaction_counter_); }

void COPCDrvServer::take_bandwidth_sample() {
  std::uint32_t visits = visits_.exchange(0);
  std::uint32_t due = due_updates_.exchange(0);
  bandwidth_ = visits != 0 && due != 0 ? static_cast<std::uint32_t>(static_cast<double>(due) / visits * 100.0) : 0;
}

// --- Interface hand-off -------------------------------------------------------------------

HRESULT COPCDrvServer::hand_off(REFIID iid, IUnknown* sink, IUnknown** destination) {
  for (int tries = 0;; ++tries) {
    {
      std::lock_guard lock(hand_off_mutex_);
      if (!hand_off_.stream) {
        hand_off_.iid = iid;
        hand_off_.destination = destination;
        HRESULT hr = CoMarshalInterThreadInterfaceInStream(iid, sink, &hand_off_.stream);
        if (FAILED(hr)) {
          hand_off_.stream = nullptr;
          return hr;
        }
        break;
      }
    }
    if (tries == kHandOffTries - 1) return CONNECT_E_CANNOTCONNECT;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  wake_.signal();
  return S_OK;
}

void COPCDrvServer::release_on_poll_thread(IUnknown** destination) {
  {
    std::lock_guard lock(hand_off_mutex_);
    hand_off_.destination = destination;
    hand_off_.release_request = true;
  }
  wake_.signal();
}

HBT_CALLS_FOREIGN_OBJECTS void COPCDrvServer::process_hand_off() {
  std::lock_guard lock(hand_off_mutex_);
  if (hand_off_.stream) {
    IUnknown* received = nullptr;
    CoGetInterfaceAndReleaseStream(hand_off_.stream, hand_off_.iid, reinterpret_cast<void**>(&received));
    hand_off_.stream = nullptr;
    if (*hand_off_.destination) (*hand_off_.destination)->Release();
    *hand_off_.destination = received;
  }
  if (hand_off_.release_request) {
    if (hand_off_.destination && *hand_off_.destination) {
      (*hand_off_.destination)->Release();
      *hand_off_.destination = nullptr;
    }
    hand_off_.destination = nullptr;
    hand_off_.release_request = false;
  }
}

bool COPCDrvServer::has_shutdown_sink() {
  std::lock_guard lock(hand_off_mutex_);
  return shutdown_sink_ != nullptr || (hand_off_.stream && hand_off_.destination == &shutdown_sink_);
}

bool COPCDrvServer::shutdown_release_pending() {
  std::lock_guard lock(hand_off_mutex_);
  return hand_off_.release_request && hand_off_.destination == &shutdown_sink_;
}

HBT_CALLS_FOREIGN_OBJECTS HRESULT COPCDrvServer::advise_shutdown(IUnknown* sink, DWORD* cookie) {
  // The sink of an Unadvise just before stays with the poll thread until it next wakes: wake
  // it and wait for it to let go, as the data-callback point does, instead of refusing.
  for (int waits = 0; shutdown_release_pending(); ++waits) {
    if (waits == kAdviseWaits) return CONNECT_E_ADVISELIMIT;
    wake_.signal();
    std::this_thread::sleep_for(kAdviseWait);
  }
  if (has_shutdown_sink()) return CONNECT_E_ADVISELIMIT;
  IUnknown* shutdown = nullptr;
  if (FAILED(sink->QueryInterface(IID_IOPCShutdown, reinterpret_cast<void**>(&shutdown))) || !shutdown)
    return CONNECT_E_CANNOTCONNECT;
  HRESULT hr = hand_off(IID_IOPCShutdown, shutdown, &shutdown_sink_);
  shutdown->Release();
  if (SUCCEEDED(hr)) *cookie = 1;
  return hr;
}

HRESULT COPCDrvServer::unadvise_shutdown(DWORD cookie) {
  if (cookie != 1) return CONNECT_E_NOCONNECTION;
  release_on_poll_thread(&shutdown_sink_);
  return S_OK;
}

// --- IOPCServer ---------------------------------------------------------------------------

bool COPCDrvServer::group_name_in_use(std::u16string_view name) {
  std::lock_guard lock(mutex_);
  for (auto& [handle, group] : groups_)
    if (group->name() == name) return true;
  return false;
}

HRESULT COPCDrvServer::enter_group(COPCDrvGroup* group, bool generate_name) {
  std::lock_guard lock(mutex_);
  auto taken = [&](const std::u16string& name) {
    for (auto& [handle, other] : groups_)
      if (other->name() == name) return true;
    return false;
  };
  std::uint32_t counter = group_name_counter_.load();
  try {
    if (generate_name) {
      const std::string& prefix = settings().generated_group_name;
      std::u16string name = wide(prefix + std::to_string(counter));
      while (taken(name)) name = wide(prefix + std::to_string(++counter));
      group->set_name(std::move(name));
    } else if (taken(group->name())) {
      return OPC_E_DUPLICATENAME;
    }
    groups_.emplace(group->server_handle(), group);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  group->table_add_ref();
  group_name_counter_ = counter + 1;
  return S_OK;
}

HRESULT COPCDrvServer::AddGroup(LPCWSTR szName, BOOL bActive, DWORD dwRequestedUpdateRate, OPCHANDLE hClientGroup,
                                LONG* pTimeBias, FLOAT* pPercentDeadband, DWORD dwLCID, OPCHANDLE* phServerGroup,
                                DWORD* pRevisedUpdateRate, REFIID riid, LPUNKNOWN* ppUnk) {
  if (ppUnk) *ppUnk = nullptr;
  if (!szName || !ppUnk || !phServerGroup) return E_INVALIDARG;
  if (pPercentDeadband && !(*pPercentDeadband >= 0.0f && *pPercentDeadband <= 100.0f)) return E_INVALIDARG;
  // An empty name asks for a generated one, chosen when the group enters the table.
  const bool generate_name = szName[0] == 0;
  std::u16string name(wide_view(szName));
  if (!generate_name && group_name_in_use(name)) return OPC_E_DUPLICATENAME;

  auto* group = new (std::nothrow) COPCDrvGroup(this);
  if (!group) return E_OUTOFMEMORY;
  try {
    group->init(HandleLease::take(), name, hClientGroup, dwLCID);
  } catch (const std::bad_alloc&) {
    group->discard();
    return E_OUTOFMEMORY;
  }
  group->set_active(bActive != 0);
  DWORD revised = 0;
  bool changed = group->revise_update_rate(dwRequestedUpdateRate, &revised);
  if (pRevisedUpdateRate) *pRevisedUpdateRate = revised;
  HRESULT result = pRevisedUpdateRate && changed ? OPC_S_UNSUPPORTEDRATE : S_OK;
  if (pPercentDeadband) group->set_percent_deadband(*pPercentDeadband, false);
  if (pTimeBias) group->set_time_bias(*pTimeBias);

  if (FAILED(group->QueryInterface(riid, reinterpret_cast<void**>(ppUnk)))) {
    group->discard();
    return E_NOINTERFACE;
  }
  HRESULT entered = enter_group(group, generate_name);
  if (FAILED(entered)) {
    (*ppUnk)->Release();
    *ppUnk = nullptr;
    return entered;
  }
  *phServerGroup = group->server_handle();
  wake_.signal();
  return result;
}

HRESULT COPCDrvServer::GetErrorString(HRESULT dwError, LCID, LPWSTR* ppString) {
  if (!ppString) return E_INVALIDARG;
  *ppString = nullptr;
  auto text = error_text(dwError);
  if (!text) return E_FAIL;
  *ppString = task_wide_copy(*text);
  return *ppString ? S_OK : E_OUTOFMEMORY;
}

HRESULT COPCDrvServer::GetGroupByName(LPCWSTR szName, REFIID riid, LPUNKNOWN* ppUnk) {
  if (!ppUnk) return E_INVALIDARG;
  *ppUnk = nullptr;
  if (!szName) return E_INVALIDARG;
  std::u16string_view wanted = wide_view(szName);
  std::lock_guard lock(mutex_);
  for (auto& [handle, group] : groups_)
    if (group->name() == wanted) return group->QueryInterface(riid, reinterpret_cast<void**>(ppUnk));
  return E_INVALIDARG;
}

HRESULT COPCDrvServer::GetStatus(OPCSERVERSTATUS** ppServerStatus) {
  if (!ppServerStatus) return E_FAIL;
  *ppServerStatus = nullptr;
  auto* status = static_cast<OPCSERVERSTATUS*>(com::CoTaskMemAlloc(sizeof(OPCSERVERSTATUS)));
  if (!status) return E_OUTOFMEMORY;
  *status = OPCSERVERSTATUS{};
  status->szVendorInfo = task_wide_copy(std::string_view(refresh_vendor_text()));
  if (!status->szVendorInfo) {
    com::CoTaskMemFree(status);
    return E_FAIL;
  }
  status->ftStartTime = start_time_;
  com::CoFileTimeNow(&status->ftCurrentTime);
  std::uint64_t last_update = last_update_time_.load();
  status->ftLastUpdateTime = {static_cast<DWORD>(last_update), static_cast<DWORD>(last_update >> 32)};
  status->dwServerState = library().alive.load() ? OPC_STATUS_RUNNING : OPC_STATUS_SUSPENDED;
  {
    std::lock_guard lock(mutex_);
    status->dwGroupCount = static_cast<DWORD>(groups_.size());
  }
  status->dwBandWidth = bandwidth_;
  status->wMajorVersion = 7;
  status->wMinorVersion = 21;
  status->wBuildNumber = 9;
  status->wReserved = 42;
  *ppServerStatus = status;
  return S_OK;
}

HRESULT COPCDrvServer::RemoveGroup(OPCHANDLE hServerGroup, BOOL bForce) {
  send_message(kColourClient, "OPC: RemoveGroup");
  std::lock_guard lock(mutex_);
  auto it = groups_.find(hServerGroup);
  if (it == groups_.end()) return E_FAIL;
  COPCDrvGroup* group = it->second;
  groups_.erase(it);
  bool in_use = group->references() > 1;  // more than the table's own
  group->mark_removed();  // a visit of the poll cycle under way skips it from now on
  if (in_use) {
    // A forced removal empties the group now; the object itself waits for the client's last
    // reference, so a pointer the client still holds never dangles.
    if (bForce != FALSE) group->clear_items();
  }
  group->table_release();
  return in_use && bForce == FALSE ? OPC_S_INUSE : S_OK;
}

std::vector<COPCDrvGroup*> COPCDrvServer::groups_for_enumeration() {
  std::vector<COPCDrvGroup*> out;
  for (auto& [handle, group] : groups_) out.push_back(group);
  return out;
}

HRESULT COPCDrvServer::CreateGroupEnumerator(OPCENUMSCOPE dwScope, REFIID riid, LPUNKNOWN* ppUnk) {
  if (!ppUnk) return E_INVALIDARG;
  *ppUnk = nullptr;
  bool list = dwScope == OPC_ENUM_PRIVATE_CONNECTIONS || dwScope == OPC_ENUM_ALL_CONNECTIONS ||
              dwScope == OPC_ENUM_PRIVATE || dwScope == OPC_ENUM_ALL;
  IUnknown* e = nullptr;
  std::size_t count = 0;
  try {
    if (is(riid, IID_IEnumUnknown)) {
      std::vector<IUnknown*> groups;
      {
        std::lock_guard lock(mutex_);
        if (list)
          for (COPCDrvGroup* g : groups_for_enumeration()) {
            g->AddRef();
            groups.push_back(g);
          }
      }
      count = groups.size();
      e = new_unknown_enumerator(this, std::move(groups));
    } else if (is(riid, IID_IEnumString)) {
      std::vector<std::u16string> names;
      {
        std::lock_guard lock(mutex_);
        if (list)
          for (COPCDrvGroup* g : groups_for_enumeration()) names.push_back(g->name());
      }
      count = names.size();
      e = new_string_enumerator(this, std::move(names));
    } else {
      return E_NOINTERFACE;
    }
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  if (!e) return E_OUTOFMEMORY;
  HRESULT hr = e->QueryInterface(riid, reinterpret_cast<void**>(ppUnk));
  e->Release();
  if (FAILED(hr)) return E_FAIL;
  return count == 0 ? S_FALSE : S_OK;
}

// --- IOPCCommon ---------------------------------------------------------------------------

HRESULT COPCDrvServer::SetLocaleID(LCID lcid) {
  if (lcid == 0 || lcid == kSystemDefault) {
    locale_ = kSystemDefault;
  } else if (lcid == kEnglishUs) {
    locale_ = kEnglishUs;
  } else {
    return E_INVALIDARG;
  }
  return S_OK;
}

HRESULT COPCDrvServer::GetLocaleID(LCID* lcid) {
  if (!lcid) return E_INVALIDARG;
  *lcid = locale_;
  return S_OK;
}

HRESULT COPCDrvServer::QueryAvailableLocaleIDs(DWORD* count, LCID** lcids) {
  if (count) *count = 0;
  if (lcids) *lcids = nullptr;
  if (!count || !lcids) return E_INVALIDARG;
  auto* block = static_cast<LCID*>(com::CoTaskMemAlloc(sizeof(LCID)));
  if (!block) return E_OUTOFMEMORY;
  block[0] = kEnglishUs;
  *lcids = block;
  *count = 1;
  return S_OK;
}

HRESULT COPCDrvServer::CommonGetErrorString(HRESULT code, LPWSTR* text) {
  if (!text) return E_INVALIDARG;
  *text = nullptr;
  {
    std::lock_guard lock(tear_off_mutex_);
    if (!server_if_) return OLE_E_NOCONNECTION;
  }
  return GetErrorString(code, locale_, text);
}

HRESULT COPCDrvServer::SetClientName(LPCWSTR name) {
  std::lock_guard lock(client_name_mutex_);
  has_client_name_ = name != nullptr;
  client_name_ = name ? std::u16string(wide_view(name)) : std::u16string();
  return S_OK;
}

}  // namespace hbt::opc
