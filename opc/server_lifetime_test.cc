// How a server object and its client's sinks come and go: the shutdown sink advised again
// right after Unadvise.
#include <memory>

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

}  // namespace
}  // namespace hbt::opc::testing
