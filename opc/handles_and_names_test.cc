// Server handles of groups and items: a handle is never one that is in use, also after the
// process-wide counter has gone round.
#include <algorithm>
#include <set>
#include <thread>

#include "com/task_memory.h"
#include "opc/data_test_support.h"
#include "opc/handle_table.h"
#include "opc/server.h"

namespace hbt::opc::testing {
namespace {

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

}  // namespace
}  // namespace hbt::opc::testing
