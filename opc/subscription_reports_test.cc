// What a subscription reports, whatever else its client does: every change of value or
// quality once, also when the client reads the same items between two passes; a keep-alive
// only after the keep-alive time went by with nothing sent; a refresh only of a group that
// has active items.
#include <functional>
#include <map>
#include <memory>

#include "com/task_memory.h"
#include "opc/data_test_support.h"

namespace hbt::opc::testing {
namespace {

// A DA 1.0 sink that counts the streams it receives.
class CountingAdviseSink final : public IAdviseSink {
 public:
  std::atomic<int> references{1};
  std::atomic<int> streams{0};
  HRESULT QueryInterface(REFIID riid, void** out) override {
    *out = nullptr;
    if (!is(riid, IID_IUnknown) && !is(riid, IID_IAdviseSink)) return E_NOINTERFACE;
    *out = static_cast<IAdviseSink*>(this);
    AddRef();
    return S_OK;
  }
  ULONG AddRef() override { return ++references; }
  ULONG Release() override { return --references; }
  void OnDataChange(FORMATETC*, STGMEDIUM*) override { ++streams; }
  void OnViewChange(DWORD, LONG) override {}
  void OnRename(IMoniker*) override {}
  void OnSave() override {}
  void OnClose() override {}
};

class ReportTest : public DataTest {
 protected:
  void set_group_active(bool active) {
    BOOL a = active ? TRUE : FALSE;
    ASSERT_EQ(group->SetState(nullptr, nullptr, &a, nullptr, nullptr, nullptr, nullptr), S_OK);
  }
  void set_rate(DWORD rate) {
    DWORD revised = 0;
    ASSERT_EQ(group->SetState(&rate, &revised, nullptr, nullptr, nullptr, nullptr, nullptr), S_OK);
  }
  // The values the subscription delivered for one client handle, in order.
  std::vector<double> delivered(OPCHANDLE client) {
    std::vector<double> out;
    for (const Callback& c : sink.calls(Callback::kChange))
      for (std::size_t i = 0; i < c.clients.size(); ++i)
        if (c.transaction == 0 && c.clients[i] == client) out.push_back(c.values[i]);
    return out;
  }
  std::vector<WORD> delivered_qualities(OPCHANDLE client) {
    std::vector<WORD> out;
    for (const Callback& c : sink.calls(Callback::kChange))
      for (std::size_t i = 0; i < c.clients.size(); ++i)
        if (c.transaction == 0 && c.clients[i] == client) out.push_back(c.qualities[i]);
    return out;
  }
};

// The change scan is run by the test on a group the poll thread leaves alone (inactive), with
// every way a client can read the item from the device in between.
TEST_F(ReportTest, AReadBetweenTwoScansLeavesTheChangeToTheScan) {
  WatchdogTicker poller(*plant);
  wait_alive(1);
  set_group_active(false);
  ASSERT_EQ(advise(group, &sink), S_OK);
  auto* data = as<IDataObject>(group, IID_IDataObject);
  CountingAdviseSink streams;
  FORMATETC format{static_cast<CLIPFORMAT>(RegisterClipboardFormatA("OPCSTMFORMATDATA")), nullptr,
                   DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
  DWORD connection = 0;
  ASSERT_EQ(data->DAdvise(&format, 0, &streams, &connection), S_OK);

  std::vector<OPCHANDLE> h = add({u"PLC1:D:100|NONE"}, true, 1);
  COPCDrvItem* item = object(group)->find_item_for_test(h[0]);
  ASSERT_TRUE(item->scan_for_change());  // the first report of every item
  item->clear_pending(kPendingBoth);
  ASSERT_FALSE(item->scan_for_change());

  auto* sync = as<IOPCSyncIO>(group, IID_IOPCSyncIO);
  auto* sync2 = as<IOPCSyncIO2>(group, IID_IOPCSyncIO2);
  auto* async2 = as<IOPCAsyncIO2>(group, IID_IOPCAsyncIO2);
  auto* async3 = as<IOPCAsyncIO3>(group, IID_IOPCAsyncIO3);
  auto* da1 = as<IOPCAsyncIO>(group, IID_IOPCAsyncIO);
  auto sync_read = [&](OPCDATASOURCE source) {
    OPCITEMSTATE* states = nullptr;
    HRESULT* errors = nullptr;
    ASSERT_EQ(sync->Read(source, 1, h.data(), &states, &errors), S_OK);
    com::VariantClear(&states[0].vDataValue);
    com::CoTaskMemFree(states);
    com::CoTaskMemFree(errors);
  };
  DWORD cancel = 0;
  DWORD max_age = 0;
  HRESULT* errors = nullptr;
  const std::vector<std::pair<const char*, std::function<void()>>> reads = {
      {"IOPCSyncIO::Read from the device", [&] { sync_read(OPC_DS_DEVICE); }},
      {"IOPCSyncIO::Read from the cache", [&] { sync_read(OPC_DS_CACHE); }},
      {"IOPCSyncIO2::ReadMaxAge",
       [&] {
         VARIANT* values = nullptr;
         WORD* qualities = nullptr;
         FILETIME* stamps = nullptr;
         ASSERT_EQ(sync2->ReadMaxAge(1, h.data(), &max_age, &values, &qualities, &stamps, &errors), S_OK);
         com::VariantClear(&values[0]);
         for (void* p : {static_cast<void*>(values), static_cast<void*>(qualities), static_cast<void*>(stamps),
                         static_cast<void*>(errors)})
           com::CoTaskMemFree(p);
       }},
      {"IOPCAsyncIO2::Read",
       [&] {
         ASSERT_EQ(async2->Read(1, h.data(), 5, &cancel, &errors), S_OK);
         com::CoTaskMemFree(errors);
       }},
      {"IOPCAsyncIO3::ReadMaxAge",
       [&] {
         ASSERT_EQ(async3->ReadMaxAge(1, h.data(), &max_age, 6, &cancel, &errors), S_OK);
         com::CoTaskMemFree(errors);
       }},
      {"IOPCAsyncIO2::Refresh2", [&] { ASSERT_EQ(async2->Refresh2(OPC_DS_DEVICE, 7, &cancel), S_OK); }},
      {"IOPCAsyncIO::Read from the device",
       [&] {
         const int before = streams.streams.load();
         DWORD transaction = 0;
         ASSERT_EQ(da1->Read(connection, OPC_DS_DEVICE, 1, h.data(), &transaction, &errors), S_OK);
         com::CoTaskMemFree(errors);
         ASSERT_TRUE(eventually([&] { return streams.streams.load() > before; }));
       }},
  };
  std::uint16_t value = 500;
  for (const auto& [name, read] : reads) {
    plant->set_word(kWordRecord, 0, ++value);
    read();
    EXPECT_TRUE(item->scan_for_change()) << name << " swallowed the change to " << value;
    item->clear_pending(kPendingBoth);
    EXPECT_FALSE(item->scan_for_change()) << name << ": the change is reported once";
  }
  // A failure of the record is a change of quality, reported the same way.
  plant->record(kWordRecord)->status = image::kStatusCommFailure;
  sync_read(OPC_DS_DEVICE);
  EXPECT_TRUE(item->scan_for_change()) << "the read swallowed the failure";
  item->clear_pending(kPendingBoth);
  EXPECT_FALSE(item->scan_for_change());
  plant->record(kWordRecord)->status = image::kStatusGood;
  sync_read(OPC_DS_DEVICE);
  EXPECT_TRUE(item->scan_for_change()) << "the read swallowed the recovery";

  for (IUnknown* i : std::initializer_list<IUnknown*>{sync, sync2, async2, async3, da1}) i->Release();
  ASSERT_EQ(data->DUnadvise(connection), S_OK);
  data->Release();
  ASSERT_EQ(unadvise(group), S_OK);
  EXPECT_TRUE(eventually([&] { return streams.references == 1; }));
}

// The same through the poll thread: a client thread reads the items without pause while the
// values move and then the record fails; the subscriber hears of each change once.
TEST_F(ReportTest, EveryChangeReachesTheSubscriberOnceWhileTheClientReadsWithoutPause) {
  WatchdogTicker poller(*plant);
  wait_alive(1);
  set_rate(100);
  std::vector<std::u16string> ids;
  for (int i = 0; i < 10; ++i) ids.push_back(u"PLC1:D:" + wide(std::to_string(100 + i)) + u"|NONE");
  std::vector<OPCHANDLE> h = add(ids, true, 1);
  for (int i = 0; i < 10; ++i) plant->set_word(kWordRecord, i, 0);
  ASSERT_EQ(advise(group, &sink), S_OK);
  ASSERT_TRUE(eventually([&] { return sink.changed_items() >= 10; }));

  auto reader_stop = std::make_shared<std::atomic<bool>>(false);
  std::thread reader([this, h, reader_stop] {
    auto* sync = as<IOPCSyncIO>(group, IID_IOPCSyncIO);
    auto* async2 = as<IOPCAsyncIO2>(group, IID_IOPCAsyncIO2);
    for (int round = 0; !reader_stop->load(); ++round) {
      HRESULT* errors = nullptr;
      if (round % 2 == 0) {
        OPCITEMSTATE* states = nullptr;
        if (SUCCEEDED(sync->Read(OPC_DS_DEVICE, static_cast<DWORD>(h.size()), const_cast<OPCHANDLE*>(h.data()),
                                 &states, &errors))) {
          for (std::size_t i = 0; i < h.size(); ++i) com::VariantClear(&states[i].vDataValue);
          com::CoTaskMemFree(states);
        }
      } else {
        DWORD cancel = 0;
        async2->Read(static_cast<DWORD>(h.size()), const_cast<OPCHANDLE*>(h.data()), 1, &cancel, &errors);
      }
      com::CoTaskMemFree(errors);
    }
    sync->Release();
    async2->Release();
  });
  struct Join {
    std::thread& t;
    std::shared_ptr<std::atomic<bool>> stop;
    ~Join() {
      *stop = true;
      if (t.joinable()) t.join();
    }
  } join{reader, reader_stop};

  constexpr int kChanges = 10;
  for (int v = 1; v <= kChanges; ++v) {
    plant->set_word(kWordRecord, 0, static_cast<std::uint16_t>(v));
    ASSERT_TRUE(eventually([&] {
      auto values = delivered(1);
      return !values.empty() && values.back() == v;
    }, std::chrono::seconds(10)))
        << "change " << v << " never reached the subscriber";
  }
  plant->record(kWordRecord)->status = image::kStatusCommFailure;
  EXPECT_TRUE(eventually([&] {
    for (OPCHANDLE client = 1; client <= 10; ++client) {
      auto q = delivered_qualities(client);
      if (q.empty() || q.back() == OPC_QUALITY_GOOD) return false;
    }
    return true;
  }, std::chrono::seconds(10)))
      << "every item's failure reaches the subscriber";
  *reader_stop = true;
  reader.join();
  ASSERT_EQ(unadvise(group), S_OK);

  std::vector<double> expected = {0};
  for (int v = 1; v <= kChanges; ++v) expected.push_back(v);
  std::vector<double> values = delivered(1);
  // The failure may come with the last value once more: that report is about its quality.
  if (values.size() == expected.size() + 1) values.pop_back();
  EXPECT_EQ(values, expected) << "each value once, none left out";
}

TEST_F(ReportTest, AKeepAliveComesOnlyAfterTheKeepAliveTimeWithNothingSent) {
  WatchdogTicker poller(*plant);
  wait_alive(1);
  // The update rate equals the keep-alive time, and every pass has a change to report: a data
  // callback each pass, so no keep-alive is ever due.
  set_rate(1000);
  auto* state = as<IOPCGroupStateMgt2>(group, IID_IOPCGroupStateMgt2);
  DWORD revised = 0;
  ASSERT_EQ(state->SetKeepAlive(1000, &revised), S_OK);
  state->Release();
  add({u"PLC1:D:100|NONE"});
  auto next = std::make_shared<std::atomic<std::uint16_t>>(1);
  hostlib::testing::Plant* p = plant.get();
  sink.set_hook([p, next](const Callback& c) {
    if (!c.clients.empty()) p->set_word(kWordRecord, 0, next->fetch_add(1) + 1);
    return S_OK;
  });
  ASSERT_EQ(advise(group, &sink), S_OK);
  ASSERT_TRUE(eventually([&] { return sink.changed_items() >= 3; }));
  ASSERT_EQ(unadvise(group), S_OK);
  sink.set_hook(nullptr);
  for (const Callback& c : sink.calls(Callback::kChange)) EXPECT_EQ(c.clients.size(), 1u) << "a keep-alive";
}

TEST_F(ReportTest, Refresh2NeedsAnActiveItem) {
  auto* async2 = as<IOPCAsyncIO2>(group, IID_IOPCAsyncIO2);
  auto* async3 = as<IOPCAsyncIO3>(group, IID_IOPCAsyncIO3);
  ASSERT_EQ(advise(group, &sink), S_OK);
  DWORD cancel = 0;
  EXPECT_EQ(async2->Refresh2(OPC_DS_DEVICE, 7, &cancel), E_FAIL) << "no items";
  std::vector<OPCHANDLE> idle = add({u"PLC1:D:100"}, false, 10);
  EXPECT_EQ(async2->Refresh2(OPC_DS_CACHE, 8, &cancel), E_FAIL) << "no active item";
  EXPECT_EQ(async3->RefreshMaxAge(0, 9, &cancel), E_FAIL);
  for (const Callback& c : sink.calls(Callback::kChange)) EXPECT_EQ(c.transaction, 0u) << "no refresh was sent";

  // One active item: the refresh goes out, with the inactive item too.
  std::vector<OPCHANDLE> active = add({u"PLC1:D:101"}, true, 11);
  ASSERT_EQ(async2->Refresh2(OPC_DS_DEVICE, 10, &cancel), S_OK);
  EXPECT_EQ(cancel, 88u);
  int refreshes = 0;
  for (const Callback& c : sink.calls(Callback::kChange)) {
    if (c.transaction != 10) continue;
    ++refreshes;
    EXPECT_EQ(c.clients.size(), 2u);
  }
  EXPECT_EQ(refreshes, 1);
  // Deactivated again: refused again.
  HRESULT* errors = nullptr;
  ASSERT_EQ(items->SetActiveState(1, active.data(), FALSE, &errors), S_OK);
  com::CoTaskMemFree(errors);
  EXPECT_EQ(async2->Refresh2(OPC_DS_DEVICE, 11, &cancel), E_FAIL);
  async2->Release();
  async3->Release();
  ASSERT_EQ(unadvise(group), S_OK);
}

}  // namespace
}  // namespace hbt::opc::testing
