// Four client threads read, write, refresh and add and remove items while two subscriptions
// run on the poll thread. Built for the thread sanitizer: any race, deadlock or lost
// reference shows here; the results must stay the documented ones throughout.
#include <random>
#include <set>

#include "opc/data_test_support.h"

namespace hbt::opc::testing {
namespace {

using StressTest = DataTest;

bool one_of(HRESULT hr, std::initializer_list<HRESULT> allowed) {
  for (HRESULT a : allowed)
    if (hr == a) return true;
  return false;
}

TEST_F(StressTest, ClientThreadsAndSubscriptionsTogether) {
  IOPCGroupStateMgt* second = nullptr;
  ASSERT_EQ(add_group(u"Second", &second, nullptr, kRate), S_OK);
  auto* second_items = query<IOPCItemMgt>(second, IID_IOPCItemMgt);
  const std::vector<std::u16string> ids = {u"PLC1:D:100|NONE", u"PLC1:D:101", u"PLC1:M:10", u"PLC1:D:200$4",
                                           u"PLC1:D:300[3]", u"PLC1:D:105|NONE,0,100,,bar"};
  // Client handles below 1000 belong to the first group, the others to the second.
  std::vector<OPCHANDLE> stable = add(ids, true, 0);
  add(ids, true, 1000, second_items);
  RecordingSink second_sink;
  ASSERT_EQ(advise(group, &sink), S_OK);
  ASSERT_EQ(advise(second, &second_sink), S_OK);

  std::mutex handles_mutex;
  std::vector<OPCHANDLE> handles = stable;
  auto some_handles = [&](std::mt19937& random) {
    std::lock_guard lock(handles_mutex);
    std::vector<OPCHANDLE> out;
    for (int i = 0, n = 1 + static_cast<int>(random() % 4); i < n; ++i)
      out.push_back(random() % 8 == 0 ? 0xFFFF0000u : handles[random() % handles.size()]);
    return out;
  };
  std::atomic<bool> running{true};
  std::atomic<int> unexpected{0};
  auto check = [&](HRESULT hr, std::initializer_list<HRESULT> allowed) {
    if (!one_of(hr, allowed)) ++unexpected;
  };
  // Clients pause a moment between calls, as real ones do; in tight loops four threads can
  // keep the poll thread from the group lock for long stretches.
  auto pause = [] { std::this_thread::sleep_for(1ms); };

  std::vector<std::thread> clients;
  clients.emplace_back([&] {  // synchronous reads
    std::mt19937 random(1);
    auto* sync = as<IOPCSyncIO2>(group, IID_IOPCSyncIO2);
    while (running) {
      pause();
      auto h = some_handles(random);
      OPCITEMSTATE* states = nullptr;
      HRESULT* errors = nullptr;
      HRESULT hr = sync->Read(OPC_DS_CACHE, static_cast<DWORD>(h.size()), h.data(), &states, &errors);
      check(hr, {S_OK, S_FALSE});
      for (std::size_t i = 0; states && i < h.size(); ++i) {
        check(errors[i], {S_OK, OPC_E_INVALIDHANDLE});
        com::VariantClear(&states[i].vDataValue);
      }
      com::CoTaskMemFree(states);
      com::CoTaskMemFree(errors);
    }
    sync->Release();
  });
  clients.emplace_back([&] {  // synchronous and completed-in-call writes
    std::mt19937 random(2);
    auto* sync = as<IOPCSyncIO>(group, IID_IOPCSyncIO);
    auto* async = as<IOPCAsyncIO2>(group, IID_IOPCAsyncIO2);
    while (running) {
      pause();
      auto h = some_handles(random);
      std::vector<VARIANT> values(h.size());
      for (VARIANT& v : values) {
        com::VariantInit(&v);
        if (random() % 5 != 0) {
          v.vt = VT_I4;
          v.lVal = static_cast<LONG>(random() % 1000);
        }
      }
      HRESULT* errors = nullptr;
      DWORD cancel = 0;
      HRESULT hr = random() % 2 ? sync->Write(static_cast<DWORD>(h.size()), h.data(), values.data(), &errors)
                                : async->Write(static_cast<DWORD>(h.size()), h.data(), values.data(), 3, &cancel,
                                               &errors);
      check(hr, {S_OK, S_FALSE});
      for (std::size_t i = 0; errors && i < h.size(); ++i)
        check(errors[i], {S_OK, OPC_E_BADTYPE, OPC_E_INVALIDHANDLE, E_FAIL});
      com::CoTaskMemFree(errors);
    }
    async->Release();
    sync->Release();
  });
  clients.emplace_back([&] {  // items come and go, and change their active state
    std::mt19937 random(3);
    while (running) {
      pause();
      std::vector<OPCHANDLE> added = add({ids[random() % ids.size()]}, random() % 2 == 0, 500);
      {
        std::lock_guard lock(handles_mutex);
        handles.insert(handles.end(), added.begin(), added.end());
      }
      HRESULT* errors = nullptr;
      OPCHANDLE flip = some_handles(random)[0];
      check(items->SetActiveState(1, &flip, random() % 2, &errors), {S_OK, S_FALSE});
      com::CoTaskMemFree(errors);
      if (random() % 2 == 0) {
        OPCHANDLE gone = 0;
        {
          std::lock_guard lock(handles_mutex);
          if (handles.size() > stable.size()) {
            gone = handles.back();
            handles.pop_back();
          }
        }
        if (gone) {
          check(items->RemoveItems(1, &gone, &errors), {S_OK});
          com::CoTaskMemFree(errors);
        }
      }
    }
  });
  clients.emplace_back([&] {  // completed-in-call reads, refreshes, enabling
    std::mt19937 random(4);
    auto* async = as<IOPCAsyncIO3>(group, IID_IOPCAsyncIO3);
    auto* second_async = as<IOPCAsyncIO2>(second, IID_IOPCAsyncIO2);
    while (running) {
      pause();
      auto h = some_handles(random);
      HRESULT* errors = nullptr;
      DWORD cancel = 0;
      check(async->Read(static_cast<DWORD>(h.size()), h.data(), 4, &cancel, &errors), {S_OK, S_FALSE});
      com::CoTaskMemFree(errors);
      check(async->Refresh2(OPC_DS_DEVICE, 5, &cancel), {S_OK, S_FALSE});
      check(second_async->SetEnable(random() % 4 != 0), {S_OK});
    }
    check(second_async->SetEnable(TRUE), {S_OK});
    second_async->Release();
    async->Release();
  });

  std::this_thread::sleep_for(1500ms);
  running = false;
  for (std::thread& t : clients) t.join();
  EXPECT_EQ(unexpected.load(), 0);

  // Every item a callback named belongs to the group whose sink received it.
  for (const Callback& c : sink.calls(Callback::kChange))
    for (OPCHANDLE client : c.clients) EXPECT_LT(client, 1000u);
  for (const Callback& c : second_sink.calls(Callback::kChange))
    for (OPCHANDLE client : c.clients) EXPECT_GE(client, 1000u);
  EXPECT_GT(sink.count(Callback::kChange), 0u);
  EXPECT_GT(second_sink.count(Callback::kChange), 0u);

  ASSERT_EQ(unadvise(group), S_OK);
  ASSERT_EQ(unadvise(second), S_OK);
  second_items->Release();
  second->Release();
  EXPECT_TRUE(eventually([&] { return second_sink.references() == 1; }));
}

}  // namespace
}  // namespace hbt::opc::testing
