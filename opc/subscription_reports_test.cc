// What a subscription reports, whatever else its client does: a keep-alive only after the
// keep-alive time went by with nothing sent; a refresh only of a group that has active items.
#include <functional>
#include <map>
#include <memory>

#include "com/task_memory.h"
#include "opc/data_test_support.h"

namespace hbt::opc::testing {
namespace {

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
};

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
