// DA 1.0 through a group's IDataObject and IOPCAsyncIO, with the server's own poll thread
// carrying out the requests and a sink that decodes every block it receives.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <map>
#include <random>
#include <set>
#include <stdexcept>
#include <thread>

#include "com/task_memory.h"
#include "com/variant.h"
#include "opc/async_transaction.h"
#include "opc/da1_stream_reader.h"
#include "opc/group.h"
#include "opc/item.h"
#include "opc/test_server.h"

namespace hbt::opc::testing {
namespace {

using namespace std::chrono_literals;

const UINT kData = RegisterClipboardFormatA("OPCSTMFORMATDATA");
const UINT kDataTime = RegisterClipboardFormatA("OPCSTMFORMATDATATIME");
const UINT kWriteComplete = RegisterClipboardFormatA("OPCSTMFORMATWRITECOMPLETE");

struct Report {
  UINT format = 0;
  bool delivered_as_documented = false;  // FORMATETC and STGMEDIUM as a DA 1.0 client expects
  HGLOBAL block = nullptr;
  DecodedStream data;
  DecodedWrite write;
  std::vector<std::uint32_t> clients() const {
    std::vector<std::uint32_t> out;
    for (auto& i : data.items) out.push_back(i.client);
    return out;
  }
};

// A client's sink: keeps every report it is given, decoded, and can run a step of the
// client's inside the call (or fail with an exception).
class StreamSink final : public IAdviseSink {
 public:
  HRESULT QueryInterface(REFIID riid, void** out) override {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    if (riid != IID_IUnknown && riid != IID_IAdviseSink) return E_NOINTERFACE;
    *out = static_cast<IAdviseSink*>(this);
    AddRef();
    return S_OK;
  }
  ULONG AddRef() override { return ++references; }
  ULONG Release() override { return --references; }
  void OnDataChange(FORMATETC* format, STGMEDIUM* medium) override {
    Report r;
    r.format = format->cfFormat;
    r.delivered_as_documented = format->ptd == nullptr && format->dwAspect == DVASPECT_CONTENT &&
                                format->lindex == -1 && format->tymed == TYMED_HGLOBAL &&
                                medium->tymed == TYMED_HGLOBAL && medium->pUnkForRelease == nullptr;
    r.block = medium->hGlobal;
    if (r.format == kWriteComplete)
      r.write = decode_write(medium->hGlobal);
    else
      r.data = decode(medium->hGlobal, r.format == kDataTime);
    {
      std::lock_guard lock(mutex);
      reports.push_back(r);
    }
    changed.notify_all();
    if (during) during(r);
    pass_gate();
    if (throws) throw std::runtime_error("client failure");
  }
  void OnViewChange(DWORD, LONG) override {}
  void OnRename(IMoniker*) override {}
  void OnSave() override {}
  void OnClose() override {}

  // Waits until `done` holds for the reports; false after `limit`.
  bool wait(const std::function<bool(const std::vector<Report>&)>& done, std::chrono::milliseconds limit = 20s) {
    std::unique_lock lock(mutex);
    return changed.wait_for(lock, limit, [&] { return done(reports); });
  }
  std::vector<Report> taken() {
    std::lock_guard lock(mutex);
    return reports;
  }
  void forget() {
    std::lock_guard lock(mutex);
    reports.clear();
  }

  // Holds the caller (the poll thread) inside OnDataChange until released.
  void hold() {
    std::lock_guard lock(gate_mutex);
    gate_closed = true;
  }
  bool wait_held(std::chrono::milliseconds limit = 20s) {
    std::unique_lock lock(gate_mutex);
    return gate_changed.wait_for(lock, limit, [&] { return held_inside; });
  }
  void release() {
    {
      std::lock_guard lock(gate_mutex);
      gate_closed = false;
    }
    gate_changed.notify_all();
  }
  void pass_gate() {
    std::unique_lock lock(gate_mutex);
    if (!gate_closed) return;
    held_inside = true;
    gate_changed.notify_all();
    gate_changed.wait(lock, [&] { return !gate_closed; });
    held_inside = false;
  }

  std::atomic<ULONG> references{1};
  std::function<void(const Report&)> during;  // set before the sink is advised
  std::mutex gate_mutex;
  std::condition_variable gate_changed;
  bool gate_closed = false;
  bool held_inside = false;
  std::atomic<bool> throws{false};
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<Report> reports;
};

std::size_t count_with(const std::vector<Report>& reports, UINT format, DWORD transaction) {
  return static_cast<std::size_t>(std::count_if(reports.begin(), reports.end(), [&](const Report& r) {
    return r.format == format && (format == kWriteComplete ? r.write.transaction : r.data.transaction) == transaction;
  }));
}

class Da1Test : public ServerTest {
 protected:
  std::unique_ptr<WatchdogTicker> ticker;
  IOPCGroupStateMgt* group = nullptr;
  IOPCItemMgt* items = nullptr;
  IDataObject* data = nullptr;
  IOPCAsyncIO* async = nullptr;
  std::vector<OPCHANDLE> handles;  // server handles; client handles are 100, 101, ...
  StreamSink sink;

  const std::vector<std::u16string> ids = {u"PLC1:D:100", u"PLC1:D:101|LIN,0,100,,degC", u"PLC1:D:200$10",
                                           u"PLC1:M:10", u"PLC1:D:300", u"PLC1:D:102"};

  void SetUp() override {
    ServerTest::SetUp();
    ticker = std::make_unique<WatchdogTicker>(*plant);
    ASSERT_EQ(add_group(u"G", &group, nullptr, 40), S_OK);
    items = query<IOPCItemMgt>(group, IID_IOPCItemMgt);
    data = query<IDataObject>(group, IID_IDataObject);
    async = query<IOPCAsyncIO>(group, IID_IOPCAsyncIO);
    std::vector<OPCITEMDEF> defs(ids.size());
    for (std::size_t i = 0; i < ids.size(); ++i) {
      defs[i].szItemID = const_cast<LPWSTR>(ids[i].c_str());
      defs[i].bActive = TRUE;
      defs[i].hClient = static_cast<OPCHANDLE>(100 + i);
    }
    OPCITEMRESULT* results = nullptr;
    HRESULT* errors = nullptr;
    ASSERT_EQ(items->AddItems(static_cast<DWORD>(defs.size()), defs.data(), &results, &errors), S_OK);
    for (std::size_t i = 0; i < ids.size(); ++i) handles.push_back(results[i].hServer);
    com::CoTaskMemFree(results);
    com::CoTaskMemFree(errors);
  }
  void TearDown() override {
    if (data)
      for (UINT f : {kData, kDataTime, kWriteComplete}) data->DUnadvise(f);
    if (async) async->Release();
    if (data) data->Release();
    if (items) items->Release();
    if (group) group->Release();
    if (server) server->Release();
    server = nullptr;
    ticker.reset();
    EXPECT_EQ(sink.references.load(), 1u) << "every reference to the sink was given back";
    ServerTest::TearDown();
  }

  HRESULT advise(UINT format, DWORD advf = 0, IAdviseSink* target = nullptr, DWORD* connection = nullptr) {
    FORMATETC f{static_cast<CLIPFORMAT>(format), nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
    DWORD c = 0;
    HRESULT hr = data->DAdvise(&f, advf, target ? target : &sink, &c);
    if (connection) *connection = c;
    return hr;
  }
  COPCDrvGroup* object() {
    IUnknown* u = query<IUnknown>(group, IID_IUnknown);
    u->Release();
    return static_cast<COPCDrvGroup*>(u);
  }
  void set_items_active(std::vector<OPCHANDLE> which, bool active) {
    HRESULT* errors = nullptr;
    ASSERT_EQ(items->SetActiveState(static_cast<DWORD>(which.size()), which.data(), active, &errors), S_OK);
    com::CoTaskMemFree(errors);
  }
  void set_group_active(bool active) {
    BOOL a = active;
    ASSERT_EQ(group->SetState(nullptr, nullptr, &a, nullptr, nullptr, nullptr, nullptr), S_OK);
  }
  // Waits for the reports of the advise (every active item owed once) to be sent, then
  // forgets them. The alive flag settles first, so that no quality change is owed later.
  void drain() {
    ASSERT_TRUE(eventually([] { return library().alive.load() == 1; }));
    ASSERT_TRUE(wait_passes(object(), 2));
    sink.forget();
  }
  HRESULT read(DWORD source, std::vector<OPCHANDLE> which, DWORD* id, std::vector<HRESULT>* errors = nullptr) {
    HRESULT* e = nullptr;
    HRESULT hr = async->Read(0, static_cast<OPCDATASOURCE>(source), static_cast<DWORD>(which.size()), which.data(),
                             id, &e);
    if (errors && e) errors->assign(e, e + which.size());
    com::CoTaskMemFree(e);
    return hr;
  }
};

TEST_F(Da1Test, AdviseRulesAndResultCodes) {
  DWORD connection = 0;
  FORMATETC f{static_cast<CLIPFORMAT>(kData), nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
  EXPECT_EQ(data->DAdvise(nullptr, 0, &sink, &connection), E_POINTER);
  EXPECT_EQ(data->DAdvise(&f, 0, nullptr, &connection), E_POINTER);
  EXPECT_EQ(data->DAdvise(&f, 0, &sink, nullptr), E_POINTER);
  EXPECT_EQ(advise(RegisterClipboardFormatA("CF_SOMETHING_ELSE")), DV_E_FORMATETC);
  EXPECT_EQ(advise(0), DV_E_FORMATETC);
  EXPECT_EQ(sink.references.load(), 1u) << "nothing kept from refused advises";

  for (UINT format : {kData, kDataTime, kWriteComplete}) {
    ASSERT_EQ(advise(format, 0, nullptr, &connection), S_OK);
    EXPECT_EQ(connection, format) << "the connection is the clipboard format";
    EXPECT_EQ(advise(format), CONNECT_E_ADVISELIMIT);
  }
  EXPECT_EQ(data->DUnadvise(kDataTime), S_OK);
  EXPECT_EQ(data->DUnadvise(kDataTime), OLE_E_NOCONNECTION);
  EXPECT_EQ(data->DUnadvise(12345), OLE_E_NOCONNECTION);
  EXPECT_EQ(advise(kDataTime), S_OK) << "a format is free again after DUnadvise";

  // The rest of IDataObject is not offered.
  STGMEDIUM medium{};
  FORMATETC out{};
  IEnumFORMATETC* formats = reinterpret_cast<IEnumFORMATETC*>(&sink);
  IEnumSTATDATA* advises = reinterpret_cast<IEnumSTATDATA*>(&sink);
  EXPECT_EQ(data->GetData(&f, &medium), E_NOTIMPL);
  EXPECT_EQ(data->GetDataHere(&f, &medium), E_NOTIMPL);
  EXPECT_EQ(data->QueryGetData(&f), E_NOTIMPL);
  EXPECT_EQ(data->GetCanonicalFormatEtc(&f, &out), E_NOTIMPL);
  EXPECT_EQ(data->SetData(&f, &medium, FALSE), E_NOTIMPL);
  EXPECT_EQ(data->EnumFormatEtc(DATADIR_GET, &formats), E_NOTIMPL);
  EXPECT_EQ(formats, nullptr);
  EXPECT_EQ(data->EnumDAdvise(&advises), E_NOTIMPL);
  EXPECT_EQ(advises, nullptr);
}

TEST_F(Da1Test, RequestsNeedTheirSinkAndRefuseBadInputWhole) {
  DWORD id = 0;
  HRESULT* errors = nullptr;
  VARIANT v;
  com::VariantInit(&v);
  v.vt = VT_I4;
  v.lVal = 5;
  EXPECT_EQ(read(OPC_DS_CACHE, {handles[0]}, &id), CONNECT_E_NOCONNECTION);
  EXPECT_EQ(async->Refresh(0, OPC_DS_CACHE, &id), CONNECT_E_NOCONNECTION);
  ASSERT_EQ(advise(kWriteComplete), S_OK);
  EXPECT_EQ(read(OPC_DS_CACHE, {handles[0]}, &id), CONNECT_E_NOCONNECTION) << "a write sink does not serve reads";
  ASSERT_EQ(data->DUnadvise(kWriteComplete), S_OK);
  ASSERT_EQ(advise(kData), S_OK);
  EXPECT_EQ(async->Write(0, 1, &handles[0], &v, &id, &errors), CONNECT_E_NOCONNECTION);
  EXPECT_EQ(errors, nullptr);

  // Null and empty arguments.
  EXPECT_EQ(async->Read(0, OPC_DS_CACHE, 0, &handles[0], &id, &errors), E_INVALIDARG);
  EXPECT_EQ(async->Read(0, OPC_DS_CACHE, 1, nullptr, &id, &errors), E_INVALIDARG);
  EXPECT_EQ(async->Read(0, OPC_DS_CACHE, 1, &handles[0], nullptr, &errors), E_INVALIDARG);
  EXPECT_EQ(async->Read(0, OPC_DS_CACHE, 1, &handles[0], &id, nullptr), E_INVALIDARG);
  EXPECT_EQ(async->Read(0, static_cast<OPCDATASOURCE>(7), 1, &handles[0], &id, &errors), E_INVALIDARG);
  EXPECT_EQ(async->Refresh(0, OPC_DS_CACHE, nullptr), E_INVALIDARG);
  EXPECT_EQ(errors, nullptr);

  // One bad handle among good ones: nothing is queued, the slots say which one.
  drain();
  std::vector<HRESULT> slots;
  id = 0xDEAD;
  OPCHANDLE bogus = handles.back() + 1000;
  EXPECT_EQ(read(OPC_DS_DEVICE, {handles[0], bogus, handles[1]}, &id, &slots), OPC_E_INVALIDHANDLE);
  EXPECT_EQ(slots, (std::vector<HRESULT>{S_OK, OPC_E_INVALIDHANDLE, S_OK}));
  EXPECT_EQ(id, 0xDEADu) << "no transaction id for a refused request";
  EXPECT_EQ(object()->da1_pending_count(), 0u);
  ASSERT_EQ(advise(kWriteComplete), S_OK);
  VARIANT values[2] = {v, v};
  OPCHANDLE write_handles[2] = {bogus, handles[0]};
  ASSERT_EQ(async->Write(0, 2, write_handles, values, &id, &errors), OPC_E_INVALIDHANDLE);
  EXPECT_EQ(errors[0], OPC_E_INVALIDHANDLE);
  EXPECT_EQ(errors[1], S_OK);
  com::CoTaskMemFree(errors);
  EXPECT_EQ(object()->da1_pending_count(), 0u);
  ASSERT_TRUE(wait_passes(object(), 2));
  EXPECT_TRUE(sink.taken().empty()) << "a refused request is never reported";

  // A handle of another group is not one of this group's.
  IOPCGroupStateMgt* other = nullptr;
  ASSERT_EQ(add_group(u"H", &other), S_OK);
  IOPCItemMgt* other_items = query<IOPCItemMgt>(other, IID_IOPCItemMgt);
  OPCITEMDEF def{};
  def.szItemID = const_cast<LPWSTR>(u"PLC1:D:100");
  def.bActive = TRUE;
  OPCITEMRESULT* results = nullptr;
  ASSERT_EQ(other_items->AddItems(1, &def, &results, &errors), S_OK);
  OPCHANDLE foreign = results[0].hServer;
  com::CoTaskMemFree(results);
  com::CoTaskMemFree(errors);
  EXPECT_EQ(read(OPC_DS_CACHE, {foreign}, &id), OPC_E_INVALIDHANDLE);
  other_items->Release();
  other->Release();
}

TEST_F(Da1Test, ReadsAreReportedOnEveryAdvisedDataStreamWithTheirId) {
  ASSERT_EQ(advise(kData), S_OK);
  ASSERT_EQ(advise(kDataTime), S_OK);
  drain();
  DWORD cache_id = 0, device_id = 0;
  ASSERT_EQ(read(OPC_DS_CACHE, {handles[2], handles[0]}, &cache_id), S_OK);
  ASSERT_EQ(read(OPC_DS_DEVICE, {handles[3]}, &device_id), S_OK);
  EXPECT_NE(cache_id, 0u);
  EXPECT_NE(device_id, 0u);
  EXPECT_NE(cache_id, device_id);
  ASSERT_TRUE(sink.wait([&](auto& r) { return count_with(r, kData, device_id) && count_with(r, kDataTime, device_id); }));
  ASSERT_TRUE(wait_passes(object(), 2));
  auto reports = sink.taken();
  EXPECT_EQ(count_with(reports, kData, cache_id), 1u);
  EXPECT_EQ(count_with(reports, kDataTime, cache_id), 1u);
  EXPECT_EQ(count_with(reports, kData, device_id), 1u);
  for (const Report& r : reports) {
    EXPECT_TRUE(r.delivered_as_documented);
    EXPECT_EQ(r.data.group, 77u) << "the group's client handle";
    EXPECT_EQ(r.data.status, 0u);
    if (r.data.transaction == cache_id) {
      EXPECT_EQ(r.clients(), (std::vector<std::uint32_t>{102, 100})) << "request order";
      EXPECT_EQ(r.data.items[0].vt, VT_BSTR) << "the text item";
      EXPECT_EQ(r.data.items[1].vt, VT_R4);
      for (auto& i : r.data.items) EXPECT_EQ(i.quality, OPC_QUALITY_GOOD);
    } else if (r.data.transaction == device_id) {
      EXPECT_EQ(r.clients(), (std::vector<std::uint32_t>{103}));
      EXPECT_EQ(r.data.items[0].vt, VT_BOOL);
    }
    if (r.format == kDataTime) {
      for (auto& i : r.data.items) EXPECT_NE(i.timestamp, 0u);
    }
  }
  EXPECT_EQ(object()->da1_pending_count(), 0u);
  // The block was the sender's: freed once the call returned.
  for (const Report& r : reports) EXPECT_EQ(GlobalSize(r.block), 0u);
}

TEST_F(Da1Test, RefreshReadsExactlyTheActiveItemsAndNeedsAnActiveGroup) {
  ASSERT_EQ(advise(kDataTime), S_OK);
  set_items_active({handles[1], handles[4]}, false);
  drain();
  DWORD id = 0;
  ASSERT_EQ(async->Refresh(0, OPC_DS_CACHE, &id), S_OK);
  ASSERT_TRUE(sink.wait([&](auto& r) { return count_with(r, kDataTime, id) == 1; }));
  for (const Report& r : sink.taken())
    if (r.data.transaction == id) {
      EXPECT_EQ(r.clients(), (std::vector<std::uint32_t>{100, 102, 103, 105}));
    }

  set_items_active({handles[0], handles[2], handles[3], handles[5]}, false);
  EXPECT_EQ(async->Refresh(0, OPC_DS_DEVICE, &id), E_FAIL) << "no active item";
  set_items_active({handles[0]}, true);
  set_group_active(false);
  EXPECT_EQ(async->Refresh(0, OPC_DS_DEVICE, &id), E_FAIL) << "inactive group";
  EXPECT_EQ(object()->da1_pending_count(), 0u);
}

TEST_F(Da1Test, CacheReadsOfAnInactiveGroupReportOutOfServiceQuality) {
  ASSERT_EQ(advise(kData), S_OK);
  drain();
  set_group_active(false);
  DWORD cache_id = 0, device_id = 0;
  ASSERT_EQ(read(OPC_DS_CACHE, handles, &cache_id), S_OK);
  ASSERT_EQ(read(OPC_DS_DEVICE, handles, &device_id), S_OK);
  ASSERT_TRUE(sink.wait([&](auto& r) { return count_with(r, kData, device_id) == 1; }));
  for (const Report& r : sink.taken()) {
    ASSERT_EQ(r.data.count, handles.size());
    for (std::size_t i = 0; i < handles.size(); ++i) {
      WORD q = object()->find_item_for_test(handles[i])->quality();
      if (r.data.transaction == cache_id) {
        EXPECT_EQ(r.data.items[i].quality, (q & 0xFF1F) | 0x1C);
      } else {
        EXPECT_EQ(r.data.items[i].quality, q) << "a device read reports the quality as read";
      }
    }
  }
}

TEST_F(Da1Test, PrimeFirstReportsEveryActiveItemOnce) {
  set_items_active({handles[1]}, false);
  // Without ADVF_PRIMEFIRST and with nothing owed, an advise brings no report.
  ASSERT_EQ(advise(kDataTime), S_OK);
  drain();
  ASSERT_EQ(data->DUnadvise(kDataTime), S_OK);
  ASSERT_EQ(advise(kDataTime), S_OK);
  ASSERT_TRUE(wait_passes(object(), 3));
  EXPECT_TRUE(sink.taken().empty());
  ASSERT_EQ(data->DUnadvise(kDataTime), S_OK);

  for (UINT format : {kDataTime, kData}) {
    ASSERT_EQ(advise(format, ADVF_PRIMEFIRST), S_OK);
    ASSERT_TRUE(sink.wait([&](auto& r) { return !r.empty(); }));
    ASSERT_TRUE(wait_passes(object(), 3));
    auto reports = sink.taken();
    ASSERT_EQ(reports.size(), 1u) << "once, and not again while nothing changes";
    EXPECT_EQ(reports[0].format, format);
    EXPECT_EQ(reports[0].data.transaction, 0u) << "a change report";
    EXPECT_EQ(reports[0].clients(), (std::vector<std::uint32_t>{100, 102, 103, 104, 105}));
    ASSERT_EQ(data->DUnadvise(format), S_OK);
    sink.forget();
  }
}

TEST_F(Da1Test, WithBothStreamsTheTimedOneReportsFirstAndTakesTheItems) {
  // The first poll cycles take the fresh watchdog slots for a moving watchdog; once the alive
  // flag has settled, no quality change reports the items a second time.
  ASSERT_TRUE(eventually([] { return library().alive.load() == 1; }));
  ASSERT_TRUE(wait_passes(object(), 2));
  // Newly added active items are owed to both streams.
  ASSERT_EQ(advise(kData), S_OK);
  ASSERT_EQ(advise(kDataTime), S_OK);
  ASSERT_TRUE(sink.wait([&](auto& r) { return !r.empty(); }));
  ASSERT_TRUE(wait_passes(object(), 2));
  auto reports = sink.taken();
  // Whichever stream was advised when the pass ran reported each item once, in all.
  std::multiset<std::uint32_t> seen;
  for (const Report& r : reports)
    for (auto c : r.clients()) seen.insert(c);
  EXPECT_EQ(seen, (std::multiset<std::uint32_t>{100, 101, 102, 103, 104, 105}));
  sink.forget();
  DWORD dummy = 0;
  ASSERT_EQ(data->DUnadvise(kData), S_OK);
  ASSERT_EQ(data->DUnadvise(kDataTime), S_OK);
  ASSERT_EQ(advise(kData, ADVF_PRIMEFIRST), S_OK);
  ASSERT_EQ(advise(kDataTime, ADVF_PRIMEFIRST, nullptr, &dummy), S_OK);
  ASSERT_TRUE(sink.wait([&](auto& r) { return !r.empty(); }));
  ASSERT_TRUE(wait_passes(object(), 2));
  reports = sink.taken();
  ASSERT_FALSE(reports.empty());
  EXPECT_EQ(reports[0].format, kDataTime);
  for (const Report& r : reports) {
    if (r.format == kData) ADD_FAILURE() << "the data stream found the items already reported";
  }
}

TEST_F(Da1Test, AValueChangeIsReportedOnceOnTheAdvisedStream) {
  // Once the poller is judged alive, qualities stay put and only values change.
  ASSERT_TRUE(eventually([] { return library().alive.load() == 1; }));
  ASSERT_EQ(advise(kDataTime), S_OK);
  drain();
  plant->set_word(0, 0, 4321);  // D100, client handle 100
  ASSERT_TRUE(sink.wait([&](auto& r) { return !r.empty(); }));
  ASSERT_TRUE(wait_passes(object(), 3));
  auto reports = sink.taken();
  ASSERT_EQ(reports.size(), 1u) << "one report, and none again while nothing else changes";
  EXPECT_EQ(reports[0].data.transaction, 0u) << "a change report";
  ASSERT_EQ(reports[0].clients(), (std::vector<std::uint32_t>{100}));
  float reported = 0;
  std::uint32_t bits = static_cast<std::uint32_t>(reports[0].data.items[0].raw_value);
  std::memcpy(&reported, &bits, 4);
  EXPECT_EQ(reported, 4321.0f);
  EXPECT_EQ(reports[0].data.items[0].quality, OPC_QUALITY_GOOD);

  // An inactive group is not scanned; active again, the change made meanwhile is reported.
  sink.forget();
  set_group_active(false);
  plant->set_word(0, 2, 777);  // D102, client handle 105
  ASSERT_TRUE(wait_passes(object(), 3));
  EXPECT_TRUE(sink.taken().empty());
  set_group_active(true);
  ASSERT_TRUE(sink.wait([&](auto& r) { return !r.empty(); }));
  EXPECT_EQ(sink.taken()[0].clients(), (std::vector<std::uint32_t>{105}));
}

TEST_F(Da1Test, WritesCompleteWithEachItemsResult) {
  ASSERT_EQ(advise(kWriteComplete), S_OK);
  VARIANT values[3];
  for (auto& v : values) com::VariantInit(&v);
  values[0].vt = VT_I4;
  values[0].lVal = 1234;
  // values[1] stays VT_EMPTY
  values[2].vt = VT_R8;
  values[2].dblVal = 55.0;
  OPCHANDLE which[3] = {handles[0], handles[5], handles[1]};
  DWORD id = 0;
  HRESULT* errors = nullptr;
  ASSERT_EQ(async->Write(0, 3, which, values, &id, &errors), S_OK);
  EXPECT_EQ(errors[0] | errors[1] | errors[2], S_OK);
  com::CoTaskMemFree(errors);
  ASSERT_TRUE(sink.wait([&](auto& r) { return count_with(r, kWriteComplete, id) == 1; }));
  for (const Report& r : sink.taken()) {
    EXPECT_TRUE(r.delivered_as_documented);
    EXPECT_EQ(r.write.group, 77u);
    EXPECT_EQ(r.write.status, 0u);
    ASSERT_EQ(r.write.results.size(), 3u);
    EXPECT_EQ(r.write.results[0], std::make_pair(100u, S_OK));
    EXPECT_EQ(r.write.results[1], std::make_pair(105u, OPC_E_BADTYPE));
    EXPECT_EQ(r.write.results[2], std::make_pair(101u, S_OK));
  }
  EXPECT_EQ(plant->word(0, 2, 0), 1234) << "the write reached the image's write area";
}

TEST_F(Da1Test, CancelRemovesAPendingTransactionOnly) {
  // The poll thread is held inside the sink while the client queues and cancels.
  sink.hold();
  ASSERT_EQ(advise(kData, ADVF_PRIMEFIRST), S_OK);
  ASSERT_TRUE(sink.wait_held());
  DWORD kept = 0, cancelled = 0;
  ASSERT_EQ(read(OPC_DS_CACHE, {handles[0]}, &cancelled), S_OK) << "the group lock is free during a report";
  ASSERT_EQ(read(OPC_DS_CACHE, {handles[1]}, &kept), S_OK);
  EXPECT_EQ(async->Cancel(cancelled), S_OK);
  EXPECT_EQ(async->Cancel(cancelled), E_FAIL);
  EXPECT_EQ(async->Cancel(0), E_FAIL);
  EXPECT_EQ(async->Cancel(kept + 1000), E_FAIL);
  EXPECT_EQ(object()->da1_pending_count(), 1u);
  sink.release();
  ASSERT_TRUE(sink.wait([&](auto& r) { return count_with(r, kData, kept) == 1; }));
  ASSERT_TRUE(wait_passes(object(), 2));
  EXPECT_EQ(count_with(sink.taken(), kData, cancelled), 0u);
  EXPECT_EQ(async->Cancel(kept), E_FAIL) << "already carried out";
}

TEST_F(Da1Test, ASinkThatThrowsOrUnadvisesInsideItsCallIsSurvived) {
  // The alive flag settles first: a quality change owed later would bring a report the second
  // sink does not expect.
  ASSERT_TRUE(eventually([] { return library().alive.load() == 1; }));
  sink.throws = true;
  ASSERT_EQ(advise(kData, ADVF_PRIMEFIRST), S_OK);
  ASSERT_TRUE(sink.wait([&](auto& r) { return !r.empty(); }));
  DWORD id = 0;
  ASSERT_EQ(read(OPC_DS_CACHE, {handles[0]}, &id), S_OK);
  ASSERT_TRUE(sink.wait([&](auto& r) { return count_with(r, kData, id) == 1; })) << "the poll thread carried on";
  ASSERT_TRUE(wait_passes(object(), 2));
  for (const Report& r : sink.taken()) EXPECT_EQ(GlobalSize(r.block), 0u) << "freed although the sink threw";
  sink.throws = false;

  ASSERT_EQ(data->DUnadvise(kData), S_OK);

  // Unadvising, and queuing another read, from inside the call.
  StreamSink second;
  DWORD inner = 0;
  std::atomic<int> calls{0};
  second.during = [&](const Report&) {
    if (calls++ == 0) {
      EXPECT_EQ(read(OPC_DS_CACHE, {handles[1]}, &inner), S_OK);
      EXPECT_EQ(data->DUnadvise(kData), S_OK);
    }
  };
  ASSERT_EQ(advise(kData, 0, &second), S_OK);
  ASSERT_EQ(read(OPC_DS_CACHE, {handles[0]}, &id), S_OK);
  ASSERT_TRUE(second.wait([&](auto& r) { return !r.empty(); }));
  ASSERT_TRUE(wait_passes(object(), 3));
  EXPECT_EQ(second.taken().size(), 1u) << "nothing after the unadvise";
  EXPECT_EQ(object()->da1_pending_count(), 1u) << "the inner read waits for a sink";
  EXPECT_EQ(second.references.load(), 1u);
}

TEST_F(Da1Test, AGroupGoneWithPendingTransactionsFreesThem) {
  ASSERT_EQ(advise(kWriteComplete), S_OK);
  ASSERT_EQ(advise(kData), S_OK);
  drain();
  // The poll thread is held inside the sink while the client queues, then unadvises, so the
  // transactions stay pending.
  sink.hold();
  DWORD id = 0;
  ASSERT_EQ(read(OPC_DS_CACHE, {handles[0]}, &id), S_OK);
  ASSERT_TRUE(sink.wait_held());
  VARIANT text;
  com::VariantInit(&text);
  text.vt = VT_BSTR;
  text.bstrVal = com::SysAllocString(u"a value the transaction owns a copy of");
  HRESULT* errors = nullptr;
  for (int i = 0; i < 5; ++i) {
    ASSERT_EQ(read(OPC_DS_DEVICE, handles, &id), S_OK);
    ASSERT_EQ(async->Write(0, 1, &handles[2], &text, &id, &errors), S_OK);
    com::CoTaskMemFree(errors);
  }
  com::VariantClear(&text);
  EXPECT_EQ(data->DUnadvise(kData), S_OK);
  EXPECT_EQ(data->DUnadvise(kWriteComplete), S_OK);
  sink.release();
  ASSERT_TRUE(wait_passes(object(), 2));
  EXPECT_EQ(object()->da1_pending_count(), 10u);
  OPCHANDLE h = 0;
  ASSERT_EQ(group->GetState(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &h), S_OK);
  async->Release();
  async = nullptr;
  data->Release();
  data = nullptr;
  items->Release();
  items = nullptr;
  group->Release();
  group = nullptr;
  EXPECT_EQ(server->RemoveGroup(h, FALSE), S_OK);
  // asan reports the transactions, their copies and the group if anything stayed behind.
}

TEST_F(Da1Test, ASinkMayAskForTheStatusAndRemoveItsGroupFromInsideItsCall) {
  OPCHANDLE h = 0;
  ASSERT_EQ(group->GetState(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &h), S_OK);
  // The client lets go of everything but the IDataObject, which it releases in the call.
  async->Release();
  async = nullptr;
  items->Release();
  items = nullptr;
  group->Release();
  group = nullptr;
  std::atomic<int> calls{0};
  std::atomic<HRESULT> status_result{E_FAIL}, remove_result{E_FAIL};
  IDataObject* held = data;
  sink.during = [&, held](const Report&) {
    if (calls++ != 0) return;
    OPCSERVERSTATUS* status = nullptr;
    status_result = server->GetStatus(&status);
    if (status) {
      com::CoTaskMemFree(status->szVendorInfo);
      com::CoTaskMemFree(status);
    }
    held->DUnadvise(kData);
    remove_result = server->RemoveGroup(h, FALSE);
    held->Release();
  };
  ASSERT_EQ(advise(kData, ADVF_PRIMEFIRST), S_OK);
  data = nullptr;  // released by the sink
  ASSERT_TRUE(sink.wait([&](auto& r) { return !r.empty(); }));
  EXPECT_TRUE(eventually([&] { return remove_result != E_FAIL; }));
  EXPECT_EQ(status_result.load(), S_OK);
  EXPECT_EQ(remove_result.load(), OPC_S_INUSE) << "the IDataObject was still held";
  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(calls.load(), 1);
  OPCSERVERSTATUS* status = nullptr;
  ASSERT_EQ(server->GetStatus(&status), S_OK);
  EXPECT_EQ(status->dwGroupCount, 0u);
  EXPECT_NE(status->ftLastUpdateTime.dwHighDateTime, 0u) << "a report counts as an update";
  com::CoTaskMemFree(status->szVendorInfo);
  com::CoTaskMemFree(status);
}

// Random requests against the running poll thread: every request that was accepted and not
// cancelled is reported exactly once, with its own id and its items in request order; a
// cancelled or refused one never is.
TEST_F(Da1Test, EveryAcceptedRequestIsReportedOnceUnlessCancelled) {
  ASSERT_EQ(advise(kData), S_OK);
  ASSERT_EQ(advise(kWriteComplete), S_OK);
  drain();
  std::mt19937 rng(4242);
  std::map<DWORD, std::vector<std::uint32_t>> reads, writes;
  std::set<DWORD> cancelled, ids;
  const OPCHANDLE bogus = handles.back() + 77;
  for (int op = 0; op < 400; ++op) {
    int kind = static_cast<int>(rng() % 10);
    if (kind < 6) {
      std::vector<OPCHANDLE> which(1 + rng() % 6);
      std::vector<std::uint32_t> clients;
      bool bad = rng() % 6 == 0;
      for (auto& h : which) {
        std::size_t k = rng() % handles.size();
        h = handles[k];
        clients.push_back(static_cast<std::uint32_t>(100 + k));
      }
      if (bad) which[rng() % which.size()] = bogus;
      DWORD id = 0;
      HRESULT* errors = nullptr;
      HRESULT hr;
      bool write = kind >= 4;
      if (write) {
        std::vector<VARIANT> values(which.size());
        for (auto& v : values) {
          com::VariantInit(&v);
          v.vt = VT_I4;
          v.lVal = static_cast<LONG>(rng() % 1000);
        }
        hr = async->Write(0, static_cast<DWORD>(which.size()), which.data(), values.data(), &id, &errors);
      } else {
        hr = async->Read(0, rng() % 2 ? OPC_DS_CACHE : OPC_DS_DEVICE, static_cast<DWORD>(which.size()), which.data(),
                         &id, &errors);
      }
      com::CoTaskMemFree(errors);
      if (bad) {
        EXPECT_EQ(hr, OPC_E_INVALIDHANDLE);
        continue;
      }
      ASSERT_EQ(hr, S_OK);
      EXPECT_TRUE(ids.insert(id).second) << "ids are unique";
      (write ? writes : reads)[id] = clients;
    } else if (kind < 8) {
      DWORD id = 0;
      ASSERT_EQ(async->Refresh(0, OPC_DS_CACHE, &id), S_OK);
      EXPECT_TRUE(ids.insert(id).second);
      reads[id] = {100, 101, 102, 103, 104, 105};
    } else if (!ids.empty()) {
      auto it = ids.begin();
      std::advance(it, rng() % ids.size());
      DWORD id = *it;
      if (async->Cancel(id) == S_OK) {
        EXPECT_TRUE(cancelled.insert(id).second) << "cancelled once only";
        EXPECT_EQ(reads.erase(id) + writes.erase(id), 1u);
      }
    }
    if (rng() % 8 == 0) std::this_thread::sleep_for(std::chrono::milliseconds(rng() % 30));
  }
  EXPECT_FALSE(cancelled.empty()) << "the run should cancel some before the poll thread takes them";
  ASSERT_TRUE(sink.wait([&](auto& r) {
    for (auto& [id, c] : reads)
      if (count_with(r, kData, id) == 0) return false;
    for (auto& [id, c] : writes)
      if (count_with(r, kWriteComplete, id) == 0) return false;
    return true;
  }));
  ASSERT_TRUE(wait_passes(object(), 2));
  auto reports = sink.taken();
  for (const Report& r : reports) {
    DWORD id = r.format == kWriteComplete ? r.write.transaction : r.data.transaction;
    if (id == 0) continue;  // a change report
    EXPECT_EQ(cancelled.count(id), 0u) << id;
    if (r.format == kWriteComplete) {
      ASSERT_EQ(writes.count(id), 1u) << id;
      std::vector<std::uint32_t> clients;
      for (auto& [c, e] : r.write.results) clients.push_back(c);
      EXPECT_EQ(clients, writes[id]);
      EXPECT_EQ(count_with(reports, kWriteComplete, id), 1u);
    } else {
      ASSERT_EQ(reads.count(id), 1u) << id;
      EXPECT_EQ(r.clients(), reads[id]);
      EXPECT_EQ(count_with(reports, kData, id), 1u);
    }
  }
  EXPECT_EQ(object()->da1_pending_count(), 0u);
}

TEST(Da1TransactionIds, TheCounterSkipsZero) {
  std::atomic<DWORD> counter{0xFFFFFFFDu};
  EXPECT_EQ(next_transaction_id(counter), 0xFFFFFFFEu);
  EXPECT_EQ(next_transaction_id(counter), 0xFFFFFFFFu);
  EXPECT_EQ(next_transaction_id(counter), 1u);
  // From several threads: every id once, none zero.
  counter = 0xFFFFF000u;
  std::vector<std::vector<DWORD>> got(4);
  std::vector<std::thread> threads;
  for (auto& g : got)
    threads.emplace_back([&counter, &g] {
      for (int i = 0; i < 2000; ++i) g.push_back(next_transaction_id(counter));
    });
  for (auto& t : threads) t.join();
  std::set<DWORD> all;
  for (auto& g : got) all.insert(g.begin(), g.end());
  EXPECT_EQ(all.size(), 8000u);
  EXPECT_EQ(all.count(0), 0u);
}

}  // namespace
}  // namespace hbt::opc::testing
