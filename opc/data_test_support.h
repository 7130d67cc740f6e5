// For the data-exchange tests: an IOPCDataCallback that records every call (with a hook run
// inside the call), and a server fixture with one group and helpers to add items, advise the
// sink and wait for callbacks.
#pragma once

#include <bit>
#include <cmath>
#include <condition_variable>
#include <functional>

#include "com/variant.h"
#include "opc/group.h"
#include "opc/item.h"
#include "opc/test_server.h"

namespace hbt::opc::testing {

using namespace std::chrono_literals;

struct Callback {
  enum Kind { kChange, kRead, kWrite } kind;
  DWORD transaction = 0;
  OPCHANDLE group = 0;
  HRESULT master_quality = S_OK;
  HRESULT master_error = S_OK;
  std::vector<OPCHANDLE> clients;
  std::vector<VARTYPE> types;
  std::vector<double> values;  // as VT_R8 where the value converts, else NaN
  std::vector<WORD> qualities;
  std::vector<HRESULT> errors;
  std::chrono::steady_clock::time_point at;
};

class RecordingSink final : public IOPCDataCallback {
 public:
  RecordingSink() = default;
  RecordingSink(const RecordingSink&) = delete;
  RecordingSink& operator=(const RecordingSink&) = delete;

  HRESULT QueryInterface(REFIID riid, void** object) override {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (!IsEqualGUID(riid, IID_IUnknown) && !IsEqualGUID(riid, IID_IOPCDataCallback)) return E_NOINTERFACE;
    *object = static_cast<IOPCDataCallback*>(this);
    AddRef();
    return S_OK;
  }
  ULONG AddRef() override { return ++refs_; }
  // The test owns the object; the count only shows who still holds it.
  ULONG Release() override { return --refs_; }
  ULONG references() const { return refs_.load(); }

  HRESULT OnDataChange(DWORD tid, OPCHANDLE group, HRESULT mq, HRESULT me, DWORD n, OPCHANDLE* clients,
                       VARIANT* values, WORD* qualities, FILETIME*, HRESULT* errors) override {
    return record(Callback::kChange, tid, group, mq, me, n, clients, values, qualities, errors);
  }
  HRESULT OnReadComplete(DWORD tid, OPCHANDLE group, HRESULT mq, HRESULT me, DWORD n, OPCHANDLE* clients,
                         VARIANT* values, WORD* qualities, FILETIME*, HRESULT* errors) override {
    return record(Callback::kRead, tid, group, mq, me, n, clients, values, qualities, errors);
  }
  HRESULT OnWriteComplete(DWORD tid, OPCHANDLE group, HRESULT me, DWORD n, OPCHANDLE* clients,
                          HRESULT* errors) override {
    return record(Callback::kWrite, tid, group, S_OK, me, n, clients, nullptr, nullptr, errors);
  }
  HRESULT OnCancelComplete(DWORD, OPCHANDLE) override { return S_OK; }

  // Runs inside each call, after it is recorded; its result is the call's.
  void set_hook(std::function<HRESULT(const Callback&)> hook) {
    std::lock_guard lock(mutex_);
    hook_ = std::move(hook);
  }
  std::vector<Callback> calls(Callback::Kind kind) {
    std::lock_guard lock(mutex_);
    std::vector<Callback> out;
    for (const Callback& c : calls_)
      if (c.kind == kind) out.push_back(c);
    return out;
  }
  std::size_t count(Callback::Kind kind) { return calls(kind).size(); }
  // Items reported by data-change calls so far.
  std::size_t changed_items() {
    std::size_t n = 0;
    for (const Callback& c : calls(Callback::kChange)) n += c.clients.size();
    return n;
  }
  void clear() {
    std::lock_guard lock(mutex_);
    calls_.clear();
  }

 private:
  HRESULT record(Callback::Kind kind, DWORD tid, OPCHANDLE group, HRESULT mq, HRESULT me, DWORD n,
                 OPCHANDLE* clients, VARIANT* values, WORD* qualities, HRESULT* errors) {
    Callback c{kind, tid, group, mq, me};
    c.at = std::chrono::steady_clock::now();
    for (DWORD i = 0; i < n; ++i) {
      c.clients.push_back(clients[i]);
      c.errors.push_back(errors[i]);
      if (qualities) c.qualities.push_back(qualities[i]);
      if (values) {
        c.types.push_back(values[i].vt);
        VARIANT d;
        com::VariantInit(&d);
        bool ok = SUCCEEDED(com::VariantChangeType(&d, &values[i], 0, VT_R8));
        c.values.push_back(ok ? d.dblVal : std::nan(""));
      }
    }
    std::function<HRESULT(const Callback&)> hook;
    {
      std::lock_guard lock(mutex_);
      calls_.push_back(c);
      hook = hook_;
    }
    return hook ? hook(c) : S_OK;
  }

  std::atomic<ULONG> refs_{1};
  std::mutex mutex_;
  std::vector<Callback> calls_;
  std::function<HRESULT(const Callback&)> hook_;
};

class DataTest : public ServerTest {
 protected:
  static constexpr int kWordRecord = 0;   // PLC1 D100..D109, unsigned
  static constexpr int kFloatRecord = 2;  // PLC1 D300..D309, float
  static constexpr DWORD kRate = 40;      // the smallest update rate

  IOPCGroupStateMgt* group = nullptr;
  IOPCItemMgt* items = nullptr;
  OPCHANDLE group_handle = 0;
  RecordingSink sink;

  void SetUp() override {
    ServerTest::SetUp();
    ASSERT_EQ(add_group(u"G", &group, &group_handle, kRate), S_OK);
    items = query<IOPCItemMgt>(group, IID_IOPCItemMgt);
  }
  void TearDown() override {
    if (items) items->Release();
    if (group) group->Release();
    ServerTest::TearDown();
    EXPECT_EQ(sink.references(), 1u) << "every reference on the sink is given back";
  }

  template <class T>
  T* as(IUnknown* unknown, const IID& iid) {
    return query<T>(unknown, iid);
  }
  COPCDrvGroup* object(IUnknown* g) {
    IUnknown* u = query<IUnknown>(g, IID_IUnknown);
    u->Release();
    return static_cast<COPCDrvGroup*>(u);
  }

  // Adds items with client handles first_client, first_client + 1, ...; their server handles.
  std::vector<OPCHANDLE> add(const std::vector<std::u16string>& ids, bool active = true, OPCHANDLE first_client = 0,
                             IOPCItemMgt* target = nullptr, VARTYPE requested = VT_EMPTY) {
    std::vector<OPCITEMDEF> defs(ids.size());
    for (std::size_t i = 0; i < ids.size(); ++i) {
      defs[i].szItemID = const_cast<LPWSTR>(ids[i].c_str());
      defs[i].bActive = active;
      defs[i].hClient = static_cast<OPCHANDLE>(first_client + i);
      defs[i].vtRequestedDataType = requested;
    }
    OPCITEMRESULT* results = nullptr;
    HRESULT* errors = nullptr;
    EXPECT_EQ((target ? target : items)->AddItems(static_cast<DWORD>(ids.size()), defs.data(), &results, &errors),
              S_OK);
    std::vector<OPCHANDLE> out;
    for (std::size_t i = 0; results && i < ids.size(); ++i) out.push_back(results[i].hServer);
    com::CoTaskMemFree(results);
    com::CoTaskMemFree(errors);
    return out;
  }

  IConnectionPoint* point(IUnknown* g) {
    auto* container = query<IConnectionPointContainer>(g, IID_IConnectionPointContainer);
    IConnectionPoint* cp = nullptr;
    EXPECT_EQ(container->FindConnectionPoint(IID_IOPCDataCallback, &cp), S_OK);
    container->Release();
    return cp;
  }
  HRESULT advise(IUnknown* g, IUnknown* s) {
    IConnectionPoint* cp = point(g);
    DWORD cookie = 0;
    HRESULT hr = cp->Advise(s, &cookie);
    if (SUCCEEDED(hr)) {
      EXPECT_EQ(cookie, 1u);
    }
    cp->Release();
    return hr;
  }
  HRESULT unadvise(IUnknown* g) {
    IConnectionPoint* cp = point(g);
    HRESULT hr = cp->Unadvise(1);
    cp->Release();
    return hr;
  }
  void wait_alive(std::int32_t wanted) {
    ASSERT_TRUE(eventually([&] { return library().alive.load() == wanted; }));
  }
  void set_float(int pair, float f) { plant->set_long(kFloatRecord, pair, std::bit_cast<std::uint32_t>(f)); }
};

}  // namespace hbt::opc::testing
