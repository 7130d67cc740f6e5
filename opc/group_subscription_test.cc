// Subscriptions: the IOPCDataCallback connection point, the update pass with its 32-entry
// change list, deadbands, keep-alive and SetEnable, and clients that misbehave inside their
// callbacks.
#include <cmath>
#include <random>

#include "com/safearray.h"
#include "opc/data_test_support.h"

namespace hbt::opc::testing {
namespace {

using SubscriptionTest = DataTest;

TEST_F(SubscriptionTest, FortyChangesArriveAsThirtyTwoThenEight) {
  WatchdogTicker poller(*plant);
  wait_alive(1);
  std::vector<std::u16string> ids(40, u"PLC1:D:100|NONE");
  add(ids, true, 1000);
  plant->set_word(kWordRecord, 0, 5);
  // The pass each call comes from: the passes finished before it. The hook runs on the poll
  // thread, which counts the pass after its calls.
  COPCDrvGroup* g = object(group);
  auto pass_of_call = std::make_shared<std::vector<std::uint64_t>>();
  sink.set_hook([g, pass_of_call](const Callback&) {
    pass_of_call->push_back(g->finished_passes_for_test());
    return S_OK;
  });
  ASSERT_EQ(advise(group, &sink), S_OK);
  ASSERT_TRUE(eventually([&] { return sink.changed_items() >= 40; }));
  plant->set_word(kWordRecord, 0, 6);
  ASSERT_TRUE(eventually([&] { return sink.changed_items() >= 80; }));
  ASSERT_TRUE(wait_passes(g, 3));  // nothing changes any more: nothing more arrives

  auto calls = sink.calls(Callback::kChange);
  ASSERT_EQ(calls.size(), 4u);
  for (std::size_t k = 0; k < calls.size(); ++k) {
    const Callback& c = calls[k];
    ASSERT_EQ(c.clients.size(), k % 2 == 0 ? 32u : 8u);
    EXPECT_EQ(c.transaction, 0u);
    EXPECT_EQ(c.group, 77u);
    EXPECT_EQ(c.master_quality, S_OK);
    EXPECT_EQ(c.master_error, S_OK);
    for (std::size_t i = 0; i < c.clients.size(); ++i) {
      EXPECT_EQ(c.clients[i], 1000 + (k % 2) * 32 + i) << "table order";
      EXPECT_EQ(c.values[i], k < 2 ? 5.0 : 6.0);
      EXPECT_EQ(c.types[i], VT_R4);
      EXPECT_EQ(c.qualities[i], OPC_QUALITY_GOOD);
    }
  }
  // 32 and 8 of one pass come together, the next pair from a later pass.
  ASSERT_EQ(pass_of_call->size(), 4u);
  EXPECT_EQ((*pass_of_call)[0], (*pass_of_call)[1]);
  EXPECT_EQ((*pass_of_call)[2], (*pass_of_call)[3]);
  EXPECT_LT((*pass_of_call)[1], (*pass_of_call)[2]);
  ASSERT_EQ(unadvise(group), S_OK);
  sink.set_hook(nullptr);
}

TEST_F(SubscriptionTest, KeepAliveSendsEmptyCallbacksWhileNothingChanges) {
  WatchdogTicker poller(*plant);
  wait_alive(1);
  add({u"PLC1:D:100"});
  auto* state = as<IOPCGroupStateMgt2>(group, IID_IOPCGroupStateMgt2);
  DWORD revised = 0;
  ASSERT_EQ(state->SetKeepAlive(1000, &revised), S_OK);
  ASSERT_EQ(advise(group, &sink), S_OK);
  ASSERT_TRUE(eventually([&] { return sink.count(Callback::kChange) >= 3; }));
  auto calls = sink.calls(Callback::kChange);
  EXPECT_EQ(calls[0].clients.size(), 1u);
  // One keep-alive per keep-alive time. The bounds are the behaviour, with room for a loaded
  // machine: the server counts from the start of the pass that sent the last call, and a
  // late poll thread sends late; a keep-alive every pass, or every second period, is outside.
  for (std::size_t k = 1; k < calls.size(); ++k) {
    EXPECT_EQ(calls[k].clients.size(), 0u);
    EXPECT_EQ(calls[k].master_quality, S_OK);
    EXPECT_EQ(calls[k].master_error, S_OK);
    auto gap = std::chrono::duration_cast<std::chrono::milliseconds>(calls[k].at - calls[k - 1].at).count();
    EXPECT_GE(gap, 800) << "one keep-alive per keep-alive time";
    EXPECT_LE(gap, 1800);
  }
  // A change in between puts the keep-alive off by a whole period again.
  sink.clear();
  plant->set_word(kWordRecord, 0, 999);
  ASSERT_TRUE(eventually([&] { return sink.count(Callback::kChange) >= 2; }));
  calls = sink.calls(Callback::kChange);
  if (calls[0].clients.size() == 1) {
    auto gap = std::chrono::duration_cast<std::chrono::milliseconds>(calls[1].at - calls[0].at).count();
    EXPECT_GE(gap, 800);
  }
  state->Release();
  ASSERT_EQ(unadvise(group), S_OK);
}

TEST_F(SubscriptionTest, SetEnableStopsAndRestartsCallbacks) {
  WatchdogTicker poller(*plant);
  wait_alive(1);
  auto* async = as<IOPCAsyncIO2>(group, IID_IOPCAsyncIO2);
  BOOL enabled = TRUE;
  EXPECT_EQ(async->SetEnable(FALSE), CONNECT_E_NOCONNECTION);
  EXPECT_EQ(async->GetEnable(&enabled), CONNECT_E_NOCONNECTION);
  add({u"PLC1:D:100|NONE"});
  ASSERT_EQ(advise(group, &sink), S_OK);
  EXPECT_EQ(async->GetEnable(nullptr), E_INVALIDARG);
  ASSERT_TRUE(eventually([&] { return sink.changed_items() == 1; }));

  ASSERT_EQ(async->SetEnable(FALSE), S_OK);
  ASSERT_EQ(async->GetEnable(&enabled), S_OK);
  EXPECT_EQ(enabled, FALSE);
  BOOL active = TRUE;
  ASSERT_EQ(group->GetState(nullptr, &active, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr), S_OK);
  EXPECT_EQ(active, FALSE);
  plant->set_word(kWordRecord, 0, 4242);
  ASSERT_TRUE(wait_passes(object(group), 3));
  EXPECT_EQ(sink.changed_items(), 1u) << "no callbacks while disabled";

  ASSERT_EQ(async->SetEnable(TRUE), S_OK);
  ASSERT_TRUE(eventually([&] { return sink.changed_items() == 2; }));
  EXPECT_EQ(sink.calls(Callback::kChange).back().values[0], 4242.0);
  async->Release();
  ASSERT_EQ(unadvise(group), S_OK);
}

TEST_F(SubscriptionTest, QualityIsOutOfServiceUntilThePollerRuns) {
  wait_alive(0);
  add({u"PLC1:D:100", u"PLC1:M:10", u"PLC1:D:200$4"});
  ASSERT_EQ(advise(group, &sink), S_OK);
  ASSERT_TRUE(eventually([&] { return sink.changed_items() >= 3; }));
  Callback first = sink.calls(Callback::kChange)[0];
  for (WORD q : first.qualities) EXPECT_EQ(q, OPC_QUALITY_OUT_OF_SERVICE);
  EXPECT_EQ(first.master_quality, S_FALSE);
  {
    WatchdogTicker poller(*plant);
    // The quality change alone is reported, without a new subscription.
    ASSERT_TRUE(eventually([&] { return sink.changed_items() >= 6; }));
    Callback good = sink.calls(Callback::kChange).back();
    for (WORD q : good.qualities) EXPECT_EQ(q, OPC_QUALITY_GOOD);
    EXPECT_EQ(good.master_quality, S_OK);
  }
  ASSERT_TRUE(eventually([&] { return sink.changed_items() >= 9; }));
  Callback stopped = sink.calls(Callback::kChange).back();
  for (WORD q : stopped.qualities) EXPECT_EQ(q, OPC_QUALITY_OUT_OF_SERVICE);
  ASSERT_EQ(unadvise(group), S_OK);
}

TEST_F(SubscriptionTest, ConnectionPointRules) {
  IConnectionPoint* cp = point(group);
  DWORD cookie = 0;
  EXPECT_EQ(cp->Advise(nullptr, &cookie), E_POINTER);
  EXPECT_EQ(cp->Advise(&sink, nullptr), E_POINTER);
  IID iid{};
  EXPECT_EQ(cp->GetConnectionInterface(&iid), S_OK);
  EXPECT_TRUE(IsEqualGUID(iid, IID_IOPCDataCallback));
  IEnumConnections* connections = nullptr;
  EXPECT_EQ(cp->EnumConnections(&connections), E_NOTIMPL);

  // Something that is no IOPCDataCallback cannot connect.
  IUnknown* not_a_callback = query<IUnknown>(server, IID_IUnknown);
  EXPECT_EQ(cp->Advise(not_a_callback, &cookie), CONNECT_E_CANNOTCONNECT);
  not_a_callback->Release();

  EXPECT_EQ(cp->Advise(&sink, &cookie), S_OK);
  RecordingSink second;
  EXPECT_EQ(cp->Advise(&second, &cookie), CONNECT_E_ADVISELIMIT);
  EXPECT_EQ(cp->Unadvise(2), CONNECT_E_NOCONNECTION);
  EXPECT_EQ(cp->Unadvise(1), S_OK);
  // Advising again at once waits for the poll thread to let the old sink go.
  EXPECT_EQ(cp->Advise(&second, &cookie), S_OK);
  EXPECT_TRUE(eventually([&] { return sink.references() == 1; }));
  EXPECT_EQ(cp->Unadvise(1), S_OK);
  EXPECT_TRUE(eventually([&] { return second.references() == 1; }));

  auto* container = query<IConnectionPointContainer>(group, IID_IConnectionPointContainer);
  IConnectionPoint* other = nullptr;
  EXPECT_EQ(container->FindConnectionPoint(IID_IOPCShutdown, &other), CONNECT_E_NOCONNECTION);
  IEnumConnectionPoints* points = nullptr;
  ASSERT_EQ(container->EnumConnectionPoints(&points), S_OK);
  IConnectionPoint* listed = nullptr;
  ULONG fetched = 0;
  EXPECT_EQ(points->Next(1, &listed, &fetched), S_OK);
  EXPECT_EQ(listed, cp);
  listed->Release();
  points->Release();
  container->Release();
  cp->Release();
}

// A client may unadvise, remove its group, throw or take its time inside a callback: the
// other groups go on, nothing deadlocks, and every reference comes back.
TEST_F(SubscriptionTest, ClientsMisbehavingInsideCallbacks) {
  WatchdogTicker poller(*plant);
  wait_alive(1);
  add({u"PLC1:D:100|NONE"});

  IOPCGroupStateMgt* other = nullptr;
  OPCHANDLE other_handle = 0;
  ASSERT_EQ(add_group(u"Other", &other, &other_handle, kRate), S_OK);
  auto* other_items = query<IOPCItemMgt>(other, IID_IOPCItemMgt);
  add({u"PLC1:D:100|NONE"}, true, 0, other_items);
  RecordingSink steady;
  ASSERT_EQ(advise(other, &steady), S_OK);
  ASSERT_TRUE(eventually([&] { return steady.changed_items() == 1; }));

  // Unadvise from inside the first callback: that one completes, no other follows.
  IConnectionPoint* cp = point(group);
  sink.set_hook([&](const Callback&) {
    EXPECT_EQ(cp->Unadvise(1), S_OK);
    return S_OK;
  });
  ASSERT_EQ(advise(group, &sink), S_OK);
  ASSERT_TRUE(eventually([&] { return sink.count(Callback::kChange) == 1; }));
  plant->set_word(kWordRecord, 0, 11);
  ASSERT_TRUE(eventually([&] { return steady.changed_items() >= 2; }));
  ASSERT_TRUE(wait_passes(object(group), 2));
  EXPECT_EQ(sink.count(Callback::kChange), 1u);
  EXPECT_TRUE(eventually([&] { return sink.references() == 1; }));
  cp->Release();

  // A callback that throws: the next change still arrives.
  RecordingSink thrower;
  thrower.set_hook([](const Callback&) -> HRESULT { throw std::runtime_error("client bug"); });
  ASSERT_EQ(advise(group, &thrower), S_OK);
  ASSERT_TRUE(eventually([&] { return thrower.changed_items() == 1; }));
  plant->set_word(kWordRecord, 0, 12);
  ASSERT_TRUE(eventually([&] { return thrower.changed_items() == 2; }));
  ASSERT_EQ(unadvise(group), S_OK);

  // A callback that blocks holds the other group up no longer than its own call: the call
  // lasts until the test lets it go, and the other group's change follows soon after. The
  // flags are shared with the poll thread, so that a failed test cannot leave it stuck on
  // freed ones.
  RecordingSink slow;
  auto blocked = std::make_shared<std::atomic<bool>>(false);
  auto let_go = std::make_shared<std::atomic<bool>>(false);
  slow.set_hook([blocked, let_go](const Callback&) {
    if (!blocked->exchange(true))
      while (!let_go->load()) std::this_thread::sleep_for(1ms);
    return S_OK;
  });
  struct LetGo {
    std::shared_ptr<std::atomic<bool>> flag;
    ~LetGo() { *flag = true; }
  } let_go_on_exit{let_go};
  plant->set_word(kWordRecord, 0, 14);
  ASSERT_EQ(advise(group, &slow), S_OK);
  ASSERT_TRUE(eventually([&] { return blocked->load(); }));
  plant->set_word(kWordRecord, 0, 13);
  *let_go = true;
  const auto let_go_at = std::chrono::steady_clock::now();
  ASSERT_TRUE(eventually([&] {
    auto calls = steady.calls(Callback::kChange);
    return !calls.empty() && calls.back().values == std::vector<double>{13.0};
  }));
  EXPECT_LT(std::chrono::steady_clock::now() - let_go_at, 2s) << "a few passes of 40 ms, on a loaded machine";
  ASSERT_EQ(unadvise(group), S_OK);

  // The group removed and released from inside its own callback.
  RecordingSink remover;
  std::atomic<IOPCGroupStateMgt*> doomed{group};
  IOPCItemMgt* doomed_items = items;
  remover.set_hook([&](const Callback&) {
    if (IOPCGroupStateMgt* g = doomed.exchange(nullptr)) {
      EXPECT_EQ(server->RemoveGroup(group_handle, TRUE), S_OK);
      doomed_items->Release();
      g->Release();
    }
    return S_OK;
  });
  plant->set_word(kWordRecord, 0, 99);
  ASSERT_EQ(advise(group, &remover), S_OK);
  ASSERT_TRUE(eventually([&] { return doomed.load() == nullptr; }));
  items = nullptr;
  group = nullptr;
  steady.clear();
  plant->set_word(kWordRecord, 0, 15);
  ASSERT_TRUE(eventually([&] { return steady.changed_items() >= 1; })) << "the other group goes on";
  EXPECT_TRUE(eventually([&] { return remover.references() == 1; }));

  ASSERT_EQ(unadvise(other), S_OK);
  other_items->Release();
  other->Release();
  EXPECT_TRUE(eventually([&] { return steady.references() == 1; }));
  EXPECT_EQ(thrower.references(), 1u);
  EXPECT_EQ(slow.references(), 1u);
}

// Over random values the scan reports exactly the moves at or beyond the deadband, and the
// cache always holds the value last reported.
TEST_F(SubscriptionTest, DeadbandDecidesOverRandomValues) {
  std::mt19937 random(3);
  auto* deadband = query<IOPCItemDeadbandMgt>(group, IID_IOPCItemDeadbandMgt);
  // EGU 0..100: a percent deadband p is p units.
  std::vector<OPCHANDLE> h = add({u"PLC1:D:300|NONE,0,100", u"PLC1:D:302|NONE,0,100", u"PLC1:D:304[3]|NONE,0,100"});
  float percents[3] = {0.0f, 2.5f, 10.0f};
  HRESULT* errors = nullptr;
  ASSERT_EQ(deadband->SetItemDeadband(3, h.data(), percents, &errors), S_OK);
  com::CoTaskMemFree(errors);
  deadband->Release();
  COPCDrvGroup* g = object(group);  // no sink: the poll thread never scans this group
  std::uniform_real_distribution<float> step(-15.0f, 15.0f);

  float last[3] = {}, now[3] = {};
  float array_last[3] = {}, array_now[3] = {};
  for (int round = 0; round < 400; ++round) {
    for (int k = 0; k < 2; ++k) {
      now[k] = round == 0 ? 50.0f : last[k] + (random() % 4 == 0 ? 0.0f : step(random));
      set_float(k, now[k]);
    }
    for (int e = 0; e < 3; ++e) {
      array_now[e] = round == 0 ? 10.0f : array_last[e] + (random() % 3 == 0 ? step(random) / 3 : 0.0f);
      set_float(2 + e, array_now[e]);
    }
    for (int k = 0; k < 3; ++k) {
      COPCDrvItem* item = g->find_item_for_test(h[k]);
      bool expected = round == 0;  // pending from activation
      if (k == 0 && round > 0) expected = now[0] != last[0];
      if (k == 1 && round > 0) expected = std::fabs(now[1] - last[1]) >= 2.5f;
      if (k == 2 && round > 0)
        for (int e = 0; e < 3; ++e) expected |= std::fabs(array_now[e] - array_last[e]) >= 10.0f;
      ASSERT_EQ(item->scan_for_change(), expected) << "item " << k << " round " << round;
      if (expected) {
        item->clear_pending(kPendingBoth);
        if (k < 2) last[k] = now[k];
        if (k == 2) std::copy(array_now, array_now + 3, array_last);
      }
      const VARIANT& cached = item->cached_value();
      if (k < 2) {
        ASSERT_EQ(cached.vt, VT_R4);
        EXPECT_EQ(cached.fltVal, last[k]);
      } else {
        ASSERT_EQ(cached.vt, VT_ARRAY | VT_R4);
        const auto* data = static_cast<const float*>(cached.parray->pvData);
        for (int e = 0; e < 3; ++e) EXPECT_EQ(data[e], array_last[e]);
      }
    }
  }
}

TEST_F(SubscriptionTest, TextAndRelayChangesAreExact) {
  WatchdogTicker poller(*plant);
  wait_alive(1);
  std::vector<OPCHANDLE> h = add({u"PLC1:D:200$4", u"PLC1:M:10"}, true, 0, nullptr, VT_BSTR);
  COPCDrvGroup* g = object(group);
  COPCDrvItem* text = g->find_item_for_test(h[0]);
  COPCDrvItem* relay = g->find_item_for_test(h[1]);
  for (COPCDrvItem* item : {text, relay}) {
    item->scan_for_change();
    item->clear_pending(kPendingBoth);
    EXPECT_FALSE(item->scan_for_change()) << "nothing moved";
  }
  std::memcpy(plant->area(1, 1), "AB", 2);
  EXPECT_TRUE(text->scan_for_change());
  EXPECT_FALSE(relay->scan_for_change());
  plant->set_word(9, 0, 1u << 10);
  EXPECT_TRUE(relay->scan_for_change());
  relay->clear_pending(kPendingBoth);
  plant->set_word(9, 0, (1u << 10) | (1u << 11));  // a neighbour moves, the relay does not
  EXPECT_FALSE(relay->scan_for_change());
}

}  // namespace
}  // namespace hbt::opc::testing
