// Server handles and group names: a handle is never one that is in use, also after the
// process-wide counter has gone round; a generated group name is never one that is taken,
// under any number of threads; a removal is forced by any true BOOL.
#include <algorithm>
#include <set>
#include <thread>

#include "com/task_memory.h"
#include "opc/data_test_support.h"
#include "opc/handle_table.h"
#include "opc/server.h"

namespace hbt::opc::testing {
namespace {

std::u16string group_name(IUnknown* group) {
  auto* state = query<IOPCGroupStateMgt>(group, IID_IOPCGroupStateMgt);
  LPWSTR name = nullptr;
  EXPECT_EQ(state->GetState(nullptr, nullptr, &name, nullptr, nullptr, nullptr, nullptr, nullptr), S_OK);
  state->Release();
  std::u16string out = name ? std::u16string(name) : u"";
  com::CoTaskMemFree(name);
  return out;
}

OPCHANDLE server_handle_of(IUnknown* group) {
  auto* state = query<IOPCGroupStateMgt>(group, IID_IOPCGroupStateMgt);
  OPCHANDLE h = 0;
  EXPECT_EQ(state->GetState(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &h), S_OK);
  state->Release();
  return h;
}

using HandleTest = DataTest;

TEST_F(HandleTest, NewHandlesSkipThoseOfLiveGroupsAndItems) {
  const std::vector<OPCHANDLE> first = add({u"PLC1:D:100", u"PLC1:D:101"}, true, 1);
  std::set<OPCHANDLE> live = {group_handle, first[0], first[1]};

  // The counter comes round to the live group's handle: the new group gets another.
  set_next_handle_for_test(group_handle);
  IOPCGroupStateMgt* second = nullptr;
  OPCHANDLE second_handle = 0;
  ASSERT_EQ(add_group(u"Second", &second, &second_handle), S_OK);
  EXPECT_TRUE(live.insert(second_handle).second) << second_handle;

  // Then to the live items' handles: new items and a clone with its items get others.
  set_next_handle_for_test(first[0]);
  const std::vector<OPCHANDLE> more = add({u"PLC1:D:102"}, true, 3);
  ASSERT_EQ(more.size(), 1u);
  EXPECT_TRUE(live.insert(more[0]).second) << more[0];
  set_next_handle_for_test(group_handle);
  IUnknown* clone = nullptr;
  ASSERT_EQ(group->CloneGroup(u"Clone", IID_IOPCItemMgt, &clone), S_OK);
  EXPECT_TRUE(live.insert(server_handle_of(clone)).second);
  IEnumOPCItemAttributes* e = nullptr;
  ASSERT_EQ(static_cast<IOPCItemMgt*>(static_cast<void*>(clone))
                ->CreateEnumerator(IID_IEnumOPCItemAttributes, reinterpret_cast<LPUNKNOWN*>(&e)),
            S_OK);
  OPCITEMATTRIBUTES* cloned = nullptr;
  ULONG n = 0;
  e->Next(10, &cloned, &n);
  EXPECT_EQ(n, 3u);
  for (ULONG i = 0; i < n; ++i) {
    EXPECT_TRUE(live.insert(cloned[i].hServer).second) << cloned[i].hServer;
    com::CoTaskMemFree(cloned[i].szAccessPath);
    com::CoTaskMemFree(cloned[i].szItemID);
  }
  com::CoTaskMemFree(cloned);
  e->Release();

  // Removing the newcomers by their handles leaves the first group and its items whole.
  HRESULT* errors = nullptr;
  ASSERT_EQ(items->RemoveItems(1, const_cast<OPCHANDLE*>(more.data()), &errors), S_OK);
  com::CoTaskMemFree(errors);
  EXPECT_EQ(server->RemoveGroup(second_handle, FALSE), OPC_S_INUSE);
  second->Release();
  IUnknown* found = nullptr;
  ASSERT_EQ(server->GetGroupByName(u"G", IID_IUnknown, &found), S_OK);
  found->Release();
  auto* sync = query<IOPCSyncIO>(group, IID_IOPCSyncIO);
  OPCITEMSTATE* states = nullptr;
  ASSERT_EQ(sync->Read(OPC_DS_DEVICE, 2, const_cast<OPCHANDLE*>(first.data()), &states, &errors), S_OK);
  EXPECT_EQ(states[0].hClient, 1u);
  EXPECT_EQ(states[1].hClient, 2u);
  for (int i = 0; i < 2; ++i) com::VariantClear(&states[i].vDataValue);
  com::CoTaskMemFree(states);
  com::CoTaskMemFree(errors);
  sync->Release();
  clone->Release();
}

TEST_F(HandleTest, TheCounterGoesRoundPastZero) {
  set_next_handle_for_test(0xFFFFFFFE);
  IOPCGroupStateMgt *a = nullptr, *b = nullptr, *c = nullptr;
  OPCHANDLE ha = 0, hb = 0, hc = 0;
  ASSERT_EQ(add_group(u"A", &a, &ha), S_OK);
  ASSERT_EQ(add_group(u"B", &b, &hb), S_OK);
  ASSERT_EQ(add_group(u"C", &c, &hc), S_OK);
  EXPECT_EQ(ha, 0xFFFFFFFEu);
  EXPECT_EQ(hb, 0xFFFFFFFFu);
  EXPECT_NE(hc, 0u);
  EXPECT_NE(hc, group_handle);
  // A handle comes free with its object.
  ASSERT_EQ(server->RemoveGroup(ha, FALSE), OPC_S_INUSE);
  a->Release();
  set_next_handle_for_test(0xFFFFFFFE);
  IOPCGroupStateMgt* d = nullptr;
  OPCHANDLE hd = 0;
  ASSERT_EQ(add_group(u"D", &d, &hd), S_OK);
  EXPECT_EQ(hd, 0xFFFFFFFEu);
  for (auto* g : {b, c, d}) g->Release();
}

TEST_F(ServerTest, GeneratedNamesSkipNamesClientsHaveTaken) {
  IOPCGroupStateMgt *named = nullptr, *generated = nullptr, *next = nullptr, *named5 = nullptr;
  ASSERT_EQ(add_group(u"Group2", &named), S_OK);  // the counter now stands at 2
  ASSERT_EQ(add_group(u"", &generated), S_OK);
  EXPECT_EQ(group_name(generated), u"Group3");
  ASSERT_EQ(add_group(u"", &next), S_OK);
  EXPECT_NE(group_name(next), u"Group2");
  EXPECT_NE(group_name(next), u"Group3");
  // A clone asking for a generated name skips taken names the same way.
  ASSERT_EQ(add_group(u"Group5", &named5), S_OK);
  IUnknown* clone = nullptr;
  ASSERT_EQ(next->CloneGroup(u"", IID_IUnknown, &clone), S_OK);
  const std::u16string clone_name = group_name(clone);
  for (const char16_t* taken : {u"Group2", u"Group3", u"Group5"}) EXPECT_NE(clone_name, taken);
  EXPECT_EQ(clone_name.rfind(u"Group", 0), 0u);
  clone->Release();
  for (auto* g : {named, generated, next, named5}) g->Release();
  named = nullptr;
  ASSERT_EQ(server->GetGroupByName(u"Group2", IID_IOPCGroupStateMgt, reinterpret_cast<LPUNKNOWN*>(&named)), S_OK);
  named->Release();
}

TEST_F(ServerTest, GeneratedNamesAreUniqueUnderManyThreads) {
  constexpr int kThreads = 4;
  constexpr int kPerThread = 250;
  std::vector<std::vector<IUnknown*>> made(kThreads);
  std::atomic<int> refused{0};
  std::vector<std::thread> clients;
  for (int t = 0; t < kThreads; ++t) {
    clients.emplace_back([&, t] {
      for (int i = 0; i < kPerThread; ++i) {
        OPCHANDLE h = 0;
        IUnknown* unk = nullptr;
        if (server->AddGroup(u"", TRUE, 1000, 0, nullptr, nullptr, 0, &h, nullptr, IID_IUnknown, &unk) == S_OK)
          made[t].push_back(unk);
        else
          ++refused;
      }
    });
  }
  for (auto& c : clients) c.join();
  EXPECT_EQ(refused.load(), 0);
  std::set<std::u16string> names;
  std::size_t total = 0;
  for (auto& list : made) {
    for (IUnknown* g : list) {
      names.insert(group_name(g));
      ++total;
      g->Release();
    }
  }
  EXPECT_EQ(total, static_cast<std::size_t>(kThreads * kPerThread));
  EXPECT_EQ(names.size(), total) << "no name given twice";
}

TEST_F(ServerTest, AnyTrueForceRemovesAGroupStillReferenced) {
  for (BOOL force : {BOOL{2}, BOOL{-1}}) {
    IOPCGroupStateMgt* g = nullptr;
    OPCHANDLE h = 0;
    ASSERT_EQ(add_group(u"Forced", &g, &h), S_OK);
    auto* mgt = query<IOPCItemMgt>(g, IID_IOPCItemMgt);
    OPCITEMDEF def{};
    def.szItemID = const_cast<LPWSTR>(u"PLC1:D:100");
    def.bActive = TRUE;
    OPCITEMRESULT* results = nullptr;
    HRESULT* errors = nullptr;
    ASSERT_EQ(mgt->AddItems(1, &def, &results, &errors), S_OK);
    com::CoTaskMemFree(results);
    com::CoTaskMemFree(errors);
    IUnknown* u = query<IUnknown>(g, IID_IUnknown);
    auto* object = static_cast<COPCDrvGroup*>(u);
    EXPECT_EQ(server->RemoveGroup(h, force), S_OK) << force;
    EXPECT_EQ(object->item_count(), 0u) << "a forced removal empties the group at once";
    u->Release();
    mgt->Release();
    g->Release();
  }
}

}  // namespace
}  // namespace hbt::opc::testing
