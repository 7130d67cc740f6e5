// For the OPC server's tests: a plant image with the host library of hostlib's tests behind
// the server's host table, the server library attached to it, and one server object made by
// the class factory. Messages and event-log records are recorded.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <thread>
#include <string>
#include <vector>

#include "hostlib/test_plant.h"
#include "opc/com_util.h"
#include "opc/group.h"
#include "opc/identity.h"
#include "opc/library.h"
#include "opc/reporting.h"
#include "opc/server_factory.h"
#include "opc/settings.h"

namespace hbt::opc::testing {

struct Recorded {
  std::mutex mutex;
  std::vector<std::pair<int, std::string>> messages;
  std::vector<std::pair<std::string, std::string>> events;
  int count(const std::string& text) {
    std::lock_guard lock(mutex);
    int n = 0;
    for (auto& [c, t] : messages) n += t == text;
    return n;
  }
  int event_count(const std::string& text) {
    std::lock_guard lock(mutex);
    int n = 0;
    for (auto& [t, raw] : events) n += t == text;
    return n;
  }
};

inline hostlib::HostLibrary* g_host = nullptr;
inline Recorded* g_recorded = nullptr;
// The plant whose poller runs (WatchdogTicker), or null.
inline std::atomic<hostlib::testing::Plant*> g_ticking_plant{nullptr};

// Browsing and the display texts of item properties, through the plant's host library.
inline void add_address_space(HostApi& api) {
  api.find_dev = [](const char* d) { return g_host->nio_find_dev(d); };
  api.Enum_Devices = [](NioStatus* s, std::int32_t* n, char** b) { return g_host->nio_Enum_Devices(s, n, b); };
  api.Enum_PollRecs = [](NioStatus* s, const char* d, std::int32_t* n, char** b) {
    return g_host->nio_Enum_PollRecs(s, d, n, b);
  };
  api.num_pollblocks = [] { return g_host->nio_num_pollblocks(); };
  api.Free = [](void* b) { g_host->nio_Free(b); };
  api.daddr = [](NioStatus* s, NioBlock* b, NioFormat* f, char* out, std::uint16_t n) {
    return g_host->nio_daddr(s, b, f, out, n);
  };
  api.dsig = [](NioStatus* s, NioBlock* b, NioFormat*, char* out, std::uint16_t n) {
    return g_host->nio_dsig(s, b, out, n);
  };
  api.dopt = [](NioStatus* s, NioBlock* b, NioFormat* f, char* out, std::int16_t n) {
    return g_host->nio_dopt(s, b, f, out, n);
  };
}

inline HostApi plant_api() {
  HostApi api;
  api.paddr = [](NioStatus* s, NioBlock* b, NioFormat* f, const char* a) { return g_host->nio_paddr(s, b, f, a); };
  api.psig = [](NioStatus* s, NioBlock* b, NioFormat* f, const char* t) { return g_host->nio_psig(s, b, f, t); };
  api.popt = [](NioStatus* s, NioBlock* b, NioFormat* f, const char* t) { return g_host->nio_popt(s, b, f, t); };
  api.readEx = [](NioStatus* s, NioBlock* b, NioFormat* f, FILETIME* ts, std::uint16_t* q, std::int32_t n,
                  VARIANT* v) { return g_host->nio_readEx(s, b, f, ts, q, n, v); };
  api.sendEx = [](NioStatus* s, NioBlock* b, NioFormat* f, void*, std::int32_t n, VARIANT* v) {
    return g_host->nio_sendEx(s, b, f, n, v);
  };
  api.sendVQT = [](NioStatus* s, NioBlock* b, NioFormat* f, std::int32_t n, void* vqt) {
    return g_host->nio_sendVQT(s, b, f, n, static_cast<VARIANT*>(vqt));
  };
  api.get_ServerStatus = [](char* text, std::int32_t* changed) {
    if (hostlib::testing::Plant* ticking = g_ticking_plant.load(); ticking && changed)
      ticking->driver().nio_map_hdr()->watchdog++;
    return g_host->nio_get_ServerStatus(text, changed);
  };
  api.SendMsg = [](std::int16_t colour, const char* text) {
    {
      std::lock_guard lock(g_recorded->mutex);
      g_recorded->messages.emplace_back(colour, text);
    }
    g_host->nio_SendMsg(colour, text);
  };
  api.CleanUp = [](NioStatus* s) {
    *s = 0;
    return *s;
  };
  add_address_space(api);
  return api;
}

// Polls `check` until it holds. The limit only ends a test that has already failed, so it is
// generous: a loaded machine may take seconds for what an idle one does in milliseconds.
template <class Check>
bool eventually(Check check, std::chrono::milliseconds limit = std::chrono::seconds(20)) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < end) {
    if (check()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return check();
}

// Waits until `group` has finished `passes` more update passes. The first may have begun
// before the call, so a whole pass after it takes two: what a test asks of the next pass,
// or that nothing more comes, is judged after passes of the server's, not after a time.
inline bool wait_passes(COPCDrvGroup* group, std::uint64_t passes) {
  const std::uint64_t target = group->finished_passes_for_test() + passes;
  return eventually([&] { return group->finished_passes_for_test() >= target; });
}

// Stands in for a running poller: while it lives, the image's watchdog moves before every
// look a poll cycle of the server takes at it, so the server judges the poller alive however
// late the machine runs its threads. (A thread ticking every few milliseconds can be starved
// on a loaded machine for longer than the server's two-look window, and the items would drop
// out of service in the middle of a test about something else.)
class WatchdogTicker {
 public:
  explicit WatchdogTicker(hostlib::testing::Plant& plant) { g_ticking_plant = &plant; }
  ~WatchdogTicker() { g_ticking_plant = nullptr; }
  WatchdogTicker(const WatchdogTicker&) = delete;
  WatchdogTicker& operator=(const WatchdogTicker&) = delete;
};

template <class T>
T* query(IUnknown* unknown, const IID& iid) {
  void* out = nullptr;
  EXPECT_EQ(unknown->QueryInterface(iid, &out), S_OK);
  return static_cast<T*>(out);
}

class ServerTest : public ::testing::Test {
 protected:
  Recorded recorded;
  std::unique_ptr<hostlib::testing::Plant> plant;
  IOPCServer* server = nullptr;

  // Tests that need other settings write them before the server starts.
  virtual void before_attach() {}
  // Tests that need another configuration name it here.
  virtual hostlib::testing::ConfigSpec plant_config() { return hostlib::testing::standard_plant(); }

  void SetUp() override {
    plant = std::make_unique<hostlib::testing::Plant>(plant_config());
    ASSERT_TRUE(plant->loaded());
    plant->all_good();
    g_host = &plant->host();
    g_recorded = &recorded;
    set_event_observer([this](const std::string& text, const std::string& raw) {
      std::lock_guard lock(recorded.mutex);
      recorded.events.emplace_back(text, raw);
    });
    before_attach();
    ASSERT_TRUE(library_attach(plant_api()));
    server = make_server();
  }
  void TearDown() override {
    if (server) server->Release();
    EXPECT_EQ(can_unload_now(), S_OK);
    library_detach();
    set_event_observer(nullptr);
    g_host = nullptr;
    g_recorded = nullptr;
  }

  IOPCServer* make_server() {
    IClassFactory* factory = nullptr;
    EXPECT_EQ(get_class_object(kServerClsid, IID_IClassFactory, reinterpret_cast<void**>(&factory)), S_OK);
    IOPCServer* s = nullptr;
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IOPCServer, reinterpret_cast<void**>(&s)), S_OK);
    factory->Release();
    return s;
  }

  // AddGroup with the usual arguments; the group's IOPCGroupStateMgt (or null).
  HRESULT add_group(const std::u16string& name, IOPCGroupStateMgt** group, OPCHANDLE* handle = nullptr,
                    DWORD rate = 1000, FLOAT* deadband = nullptr) {
    OPCHANDLE h = 0;
    DWORD revised = 0;
    IUnknown* unk = nullptr;
    HRESULT hr = server->AddGroup(name.c_str(), TRUE, rate, 77, nullptr, deadband, 1033, &h, &revised,
                                  IID_IOPCGroupStateMgt, &unk);
    *group = static_cast<IOPCGroupStateMgt*>(static_cast<void*>(unk));
    if (handle) *handle = h;
    return hr;
  }
};

}  // namespace hbt::opc::testing
