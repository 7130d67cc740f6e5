#include "opc/group.h"

#include <ctime>
#include <new>

#include "com/task_memory.h"
#include "com/unknown.h"
#include "com/variant.h"
#include "opc/com_util.h"
#include "opc/data_object.h"
#include "opc/group_tear_offs.h"
#include "opc/item.h"
#include "opc/server.h"
#include "opc/settings.h"

namespace hbt::opc {
namespace {

constexpr DWORD kMinKeepAlive = 1000;
constexpr DWORD kMaxKeepAlive = 3600000;

// Minutes west of UTC, as the system's time-zone bias is given.
LONG system_time_bias() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return static_cast<LONG>(-local.tm_gmtoff / 60);
}

}  // namespace

COPCDrvGroup::COPCDrvGroup(COPCDrvServer* server) : server_(server), time_bias_(system_time_bias()) {}

HBT_CALLS_FOREIGN_OBJECTS COPCDrvGroup::~COPCDrvGroup() {
  // Whichever thread lets the group go releases both sides of the data callback; nobody else
  // can reach them any more.
  if (hand_off_stream_) {
    IUnknown* pending = nullptr;
    if (SUCCEEDED(CoGetInterfaceAndReleaseStream(hand_off_stream_, IID_IOPCDataCallback,
                                                 reinterpret_cast<void**>(&pending))) && pending)
      pending->Release();
  }
  if (data_sink_) data_sink_->Release();
  if (client_sink_) client_sink_->Release();
  if (change_values_)
    for (std::size_t i = 0; i < kChangeCapacity; ++i) com::VariantClear(&change_values_[i]);
  com::CoTaskMemFree(change_errors_);
  com::CoTaskMemFree(change_values_);
  com::CoTaskMemFree(change_stamps_);
  com::CoTaskMemFree(change_qualities_);
  // Items go before the rest of the group they point to.
  items_.clear();
}

HRESULT COPCDrvGroup::QueryInterface(REFIID riid, void** object) {
  if (!object) return E_INVALIDARG;
  *object = nullptr;
  std::unique_lock lock(tear_off_mutex_);
  try {
    if (is(riid, IID_IUnknown)) {
      *object = static_cast<IUnknown*>(this);
    } else if (is(riid, IID_IOPCGroupStateMgt)) {
      if (!state_if_) state_if_ = std::make_unique<CImpIOPCGroupStateMgtT<true>>(this);
      *object = static_cast<IOPCGroupStateMgt*>(state_if_.get());
    } else if (is(riid, IID_IOPCGroupStateMgt2)) {
      if (!state2_if_) state2_if_ = std::make_unique<CImpIOPCGroupStateMgtT<false>>(this);
      *object = static_cast<IOPCGroupStateMgt2*>(state2_if_.get());
    } else if (is(riid, IID_IOPCItemMgt)) {
      if (!item_mgt_if_) item_mgt_if_ = std::make_unique<CImpIOPCItemMgt>(this);
      *object = static_cast<IOPCItemMgt*>(item_mgt_if_.get());
    } else if (is(riid, IID_IDataObject)) {
      if (!da1_.data_object) {
        da1_.data_object = std::make_unique<CImpIDataObject>(this);
        da1_.data_object_seen = da1_.data_object.get();
      }
      *object = static_cast<IDataObject*>(da1_.data_object.get());
    } else if (is(riid, IID_IOPCAsyncIO)) {
      if (!da1_.async_io) da1_.async_io = std::make_unique<CImpIOPCAsyncIO>(this);
      *object = static_cast<IOPCAsyncIO*>(da1_.async_io.get());
    } else if (is(riid, IID_IOPCItemDeadbandMgt)) {
      if (!deadband_if_) deadband_if_ = std::make_unique<CImpIOPCItemDeadbandMgt>(this);
      *object = static_cast<IOPCItemDeadbandMgt*>(deadband_if_.get());
    } else if (is(riid, IID_IOPCSyncIO)) {
      if (!sync_if_) sync_if_ = std::make_unique<CImpIOPCSyncIO>(this);
      *object = static_cast<IOPCSyncIO*>(sync_if_.get());
    } else if (is(riid, IID_IOPCSyncIO2)) {
      if (!sync2_if_) sync2_if_ = std::make_unique<CImpIOPCSyncIO_2>(this);
      *object = static_cast<IOPCSyncIO2*>(sync2_if_.get());
    } else if (is(riid, IID_IOPCAsyncIO2)) {
      if (!async2_if_) async2_if_ = std::make_unique<CImpIOPCAsyncIO_2>(this);
      *object = static_cast<IOPCAsyncIO2*>(async2_if_.get());
    } else if (is(riid, IID_IOPCAsyncIO3)) {
      if (!async3_if_) async3_if_ = std::make_unique<CImpIOPCAsyncIO_3>(this);
      *object = static_cast<IOPCAsyncIO3*>(async3_if_.get());
    } else if (is(riid, IID_IConnectionPointContainer)) {
      if (!cpc_) cpc_ = std::make_unique<ImplGroupCPC>(this);
      *object = static_cast<IConnectionPointContainer*>(cpc_.get());
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

ULONG COPCDrvGroup::AddRef() {
  server_->AddRef();
  return ++refs_;
}

ULONG COPCDrvGroup::Release() {
  COPCDrvServer* server = server_;
  ULONG left = --refs_;
  if (left == 0) delete this;
  server->Release();
  return left;
}

void COPCDrvGroup::table_add_ref() { ++refs_; }

void COPCDrvGroup::table_release() {
  if (--refs_ == 0) delete this;
}

void COPCDrvGroup::discard() { delete this; }

void COPCDrvGroup::init(HandleLease server_handle, std::u16string name, OPCHANDLE client_handle, LCID locale) {
  server_handle_ = std::move(server_handle);
  name_ = std::move(name);
  client_handle_ = client_handle;
  locale_ = locale;
}

bool COPCDrvGroup::revise_update_rate(DWORD requested, DWORD* revised) {
  DWORD floor = settings().thread_sleep_time;
  DWORD rate = requested < floor ? floor : requested;
  update_rate_ = rate;
  if (revised) *revised = rate;
  return rate != requested;
}

void COPCDrvGroup::set_active(bool active) {
  std::lock_guard lock(mutex_);
  active_ = active ? 1 : 0;
  update_countdown_ = 0;  // due at the next poll cycle
}

void COPCDrvGroup::set_percent_deadband(float percent, bool spread_to_items) {
  percent_deadband_ = percent;
  if (!spread_to_items) return;
  std::lock_guard lock(mutex_);
  for (auto& [handle, item] : items_)
    if (item->is_analog() && !item->deadband_explicit()) item->set_deadband(percent, false);
}

void COPCDrvGroup::set_time_bias(LONG bias) { time_bias_ = bias; }

void COPCDrvGroup::set_name(std::u16string name) {
  std::lock_guard lock(mutex_);
  name_ = std::move(name);
}

std::u16string COPCDrvGroup::name() {
  std::lock_guard lock(mutex_);
  return name_;
}

void COPCDrvGroup::clear_items() {
  std::lock_guard lock(mutex_);
  items_.clear();
}

COPCDrvItem* COPCDrvGroup::find_item_for_test(OPCHANDLE handle) {
  std::lock_guard lock(mutex_);
  auto it = items_.find(handle);
  return it == items_.end() ? nullptr : it->second.get();
}

std::size_t COPCDrvGroup::item_count() {
  std::lock_guard lock(mutex_);
  return items_.size();
}

HRESULT COPCDrvGroup::GetState(DWORD* pUpdateRate, BOOL* pActive, LPWSTR* ppName, LONG* pTimeBias,
                               FLOAT* pPercentDeadband, LCID* pLCID, OPCHANDLE* phClientGroup,
                               OPCHANDLE* phServerGroup) {
  if (removed()) return E_FAIL;
  if (ppName) {
    *ppName = task_wide_copy(name());
    if (!*ppName) return E_FAIL;
  }
  if (pUpdateRate) *pUpdateRate = update_rate_;
  if (pActive) *pActive = active_;
  if (pTimeBias) *pTimeBias = time_bias_;
  if (pPercentDeadband) *pPercentDeadband = percent_deadband_;
  if (pLCID) *pLCID = locale_;
  if (phClientGroup) *phClientGroup = client_handle_;
  if (phServerGroup) *phServerGroup = server_handle_.value();
  return S_OK;
}

HRESULT COPCDrvGroup::SetState(DWORD* pRequestedUpdateRate, DWORD* pRevisedUpdateRate, BOOL* pActive,
                               LONG* pTimeBias, FLOAT* pPercentDeadband, LCID* pLCID, OPCHANDLE* phClientGroup,
                               bool spread_deadband) {
  if (removed()) return E_FAIL;
  if (pRequestedUpdateRate && !pRevisedUpdateRate) return E_INVALIDARG;
  HRESULT result = S_OK;
  if (pRequestedUpdateRate && revise_update_rate(*pRequestedUpdateRate, pRevisedUpdateRate))
    result = OPC_S_UNSUPPORTEDRATE;
  if (pActive) set_active(*pActive != 0);
  if (phClientGroup) client_handle_ = *phClientGroup;
  if (pPercentDeadband) {
    float p = *pPercentDeadband;
    if (p >= 0.0f && p <= 100.0f)
      set_percent_deadband(p, spread_deadband);
    else
      result = E_INVALIDARG;  // the other values still apply
  }
  if (pLCID) locale_ = *pLCID;
  if (pTimeBias) time_bias_ = *pTimeBias;
  if (pActive || pRequestedUpdateRate) server_->wake();
  return result;
}

HRESULT COPCDrvGroup::SetName(LPCWSTR szName) {
  if (removed()) return E_FAIL;
  if (!szName || szName[0] == 0) return E_INVALIDARG;
  std::u16string wanted(wide_view(szName));
  if (server_->group_name_in_use(wanted)) return OPC_E_DUPLICATENAME;
  std::lock_guard lock(mutex_);
  name_ = std::move(wanted);
  return S_OK;
}

HRESULT COPCDrvGroup::CloneGroup(LPCWSTR szName, REFIID riid, LPUNKNOWN* ppUnk) {
  if (ppUnk) *ppUnk = nullptr;
  if (removed()) return E_FAIL;
  if (!szName || !ppUnk) return E_INVALIDARG;
  const bool generate_name = szName[0] == 0;  // named when it enters the table
  std::u16string name(wide_view(szName));
  if (!generate_name && server_->group_name_in_use(name)) return OPC_E_DUPLICATENAME;

  auto* clone = new (std::nothrow) COPCDrvGroup(server_);
  if (!clone) return E_FAIL;
  try {
    std::lock_guard lock(mutex_);
    clone->init(HandleLease::take(), name, client_handle_, locale_);
    clone->update_rate_ = update_rate_.load();
    clone->time_bias_ = time_bias_.load();
    clone->percent_deadband_ = percent_deadband_.load();
    for (auto& [handle, item] : items_) {
      auto copy = std::make_unique<COPCDrvItem>(clone);
      HandleLease lease = HandleLease::take();
      const OPCHANDLE h = lease.value();
      copy->clone_from(*item, h, clone->percent_deadband_);
      copy->hold_handle(std::move(lease));
      clone->items_.emplace(h, std::move(copy));
    }
  } catch (const std::bad_alloc&) {
    clone->discard();
    return E_FAIL;
  }
  HRESULT hr = clone->QueryInterface(riid, reinterpret_cast<void**>(ppUnk));
  if (FAILED(hr)) {
    clone->discard();
    return hr;
  }
  hr = server_->enter_group(clone, generate_name);
  if (FAILED(hr)) {
    (*ppUnk)->Release();  // the only reference: the clone goes with it
    *ppUnk = nullptr;
    return hr;
  }
  return S_OK;
}

HRESULT COPCDrvGroup::SetKeepAlive(DWORD dwKeepAliveTime, DWORD* pdwRevisedKeepAliveTime) {
  if (!pdwRevisedKeepAliveTime) return E_INVALIDARG;
  if (dwKeepAliveTime > kMaxKeepAlive) {
    *pdwRevisedKeepAliveTime = keep_alive_;
    return OPC_S_UNSUPPORTEDRATE;
  }
  DWORD revised = dwKeepAliveTime < kMinKeepAlive ? kMinKeepAlive : dwKeepAliveTime;
  {
    std::lock_guard lock(mutex_);
    keep_alive_ = revised;
    keep_alive_countdown_ = static_cast<std::int32_t>(revised);
  }
  *pdwRevisedKeepAliveTime = revised;
  return revised == dwKeepAliveTime ? S_OK : OPC_S_UNSUPPORTEDRATE;
}

HRESULT COPCDrvGroup::GetKeepAlive(DWORD* pdwKeepAliveTime) {
  if (!pdwKeepAliveTime) return E_INVALIDARG;
  *pdwKeepAliveTime = keep_alive_;
  return S_OK;
}

}  // namespace hbt::opc
