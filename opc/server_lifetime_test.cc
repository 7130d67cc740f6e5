// How a server object and its client's sinks come and go: the client's last release made
// inside a callback; a new server object facing a poller that stands still; the shutdown sink
// advised again right after Unadvise.
#include <chrono>
#include <memory>
#include <utility>

#include "com/task_memory.h"

#include "opc/data_test_support.h"

namespace hbt::opc::testing {
namespace {

// A shutdown sink that counts its references.
class ShutdownSink final : public IOPCShutdown {
 public:
  std::atomic<int> refs{1};
  HRESULT QueryInterface(REFIID riid, void** out) override {
    *out = nullptr;
    if (!is(riid, IID_IUnknown) && !is(riid, IID_IOPCShutdown)) return E_NOINTERFACE;
    *out = static_cast<IOPCShutdown*>(this);
    AddRef();
    return S_OK;
  }
  ULONG AddRef() override { return ++refs; }
  ULONG Release() override { return --refs; }
  HRESULT ShutdownRequest(LPCWSTR) override { return S_OK; }
};

using ReleaseTest = DataTest;

// The poll thread making the callback is the one the server's end would wait for: the end
// must come without that wait, and still free the server, its groups and items.
TEST_F(ReleaseTest, TheLastReleaseInsideACallbackFreesEverythingAtOnce) {
  add({u"PLC1:D:100", u"PLC1:D:101"}, true, 1);
  IOPCServer* s = std::exchange(server, nullptr);
  IOPCGroupStateMgt* g = std::exchange(group, nullptr);
  IOPCItemMgt* m = std::exchange(items, nullptr);
  auto releases_took_ms = std::make_shared<std::atomic<long long>>(-1);
  sink.set_hook([s, g, m, releases_took_ms](const Callback&) {
    if (releases_took_ms->load() != -1) return S_OK;
    const auto start = std::chrono::steady_clock::now();
    m->Release();
    g->Release();
    s->Release();  // the last reference
    *releases_took_ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
    return S_OK;
  });
  ASSERT_EQ(advise(g, &sink), S_OK);
  ASSERT_TRUE(eventually([&] { return releases_took_ms->load() >= 0; }));
  EXPECT_LT(releases_took_ms->load(), 1000) << "the releasing call waited for its own thread";
  EXPECT_TRUE(eventually([&] { return can_unload_now() == S_OK; })) << "the server is gone";
  EXPECT_TRUE(eventually([&] { return sink.references() == 1; })) << "its group let go of the sink";
  EXPECT_EQ(recorded.event_count("OPC server poll thread did not end in time"), 0);
  // A new server object of the same process works as before.
  server = make_server();
  IOPCGroupStateMgt* again = nullptr;
  ASSERT_EQ(add_group(u"Again", &again), S_OK);
  again->Release();
}

TEST_F(ServerTest, ShutdownSinkAdvisedAgainRightAfterUnadvise) {
  auto* cpc = query<IConnectionPointContainer>(server, IID_IConnectionPointContainer);
  IConnectionPoint* cp = nullptr;
  ASSERT_EQ(cpc->FindConnectionPoint(IID_IOPCShutdown, &cp), S_OK);
  std::vector<std::unique_ptr<ShutdownSink>> sinks;
  for (int round = 0; round < 10; ++round) {
    sinks.push_back(std::make_unique<ShutdownSink>());
    DWORD cookie = 0;
    ASSERT_EQ(cp->Advise(sinks.back().get(), &cookie), S_OK) << "round " << round;
    EXPECT_EQ(cookie, 1u);
    ASSERT_EQ(cp->Unadvise(1), S_OK);
  }
  // Every sink was held once and given back; none is held twice or forgotten.
  for (auto& sink : sinks) EXPECT_TRUE(eventually([&] { return sink->refs == 1; }));
  // A sink still held is refused as before.
  ShutdownSink held, second;
  DWORD cookie = 0;
  ASSERT_EQ(cp->Advise(&held, &cookie), S_OK);
  EXPECT_EQ(cp->Advise(&second, &cookie), CONNECT_E_ADVISELIMIT);
  cp->Release();
  cpc->Release();
  server->Release();
  server = nullptr;
  EXPECT_EQ(held.refs, 1);
  EXPECT_EQ(second.refs, 1);
}

// The poller ticked once, long ago, and stands still: a process that loads the server now
// must not take the first looks at the watchdog for movement.
class FrozenPollerTest : public DataTest {
 protected:
  void before_attach() override { plant->driver().nio_map_hdr()->watchdog = 1234; }
};

TEST_F(FrozenPollerTest, ANewServerSeesAStalledPollerAsStalledFromItsFirstLook) {
  add({u"PLC1:D:100", u"PLC1:M:10"}, true, 1);
  ASSERT_EQ(advise(group, &sink), S_OK);
  ASSERT_TRUE(wait_passes(object(group), 6));
  auto calls = sink.calls(Callback::kChange);
  ASSERT_FALSE(calls.empty());
  for (const Callback& c : calls)
    for (WORD q : c.qualities) EXPECT_EQ(q, OPC_QUALITY_OUT_OF_SERVICE) << "a frozen poller's value as good";
  OPCSERVERSTATUS* status = nullptr;
  ASSERT_EQ(server->GetStatus(&status), S_OK);
  EXPECT_EQ(status->dwServerState, OPC_STATUS_SUSPENDED);
  com::CoTaskMemFree(status->szVendorInfo);
  com::CoTaskMemFree(status);
  EXPECT_EQ(recorded.count("Poll failure please restart clients"), 0) << "it was never seen running";

  // Once the watchdog moves, the same server runs and its items are good.
  {
    WatchdogTicker poller(*plant);
    ASSERT_TRUE(eventually([&] {
      auto last = sink.calls(Callback::kChange);
      return !last.empty() && !last.back().qualities.empty() && last.back().qualities[0] == OPC_QUALITY_GOOD;
    }));
  }
  ASSERT_EQ(unadvise(group), S_OK);
}

}  // namespace
}  // namespace hbt::opc::testing
