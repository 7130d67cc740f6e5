// One client that reads, writes and subscribes at the same time, from end to end: mcsim counts
// a register up and records every value its registers take, the real poller polls it, and
// this process activates the server through the registry. Two threads of the client read the
// subscribed items without pause (every read interface) and write one of them now and then;
// the subscription must still bring every value the registers took, each once, in order.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <fstream>
#include <mutex>
#include <sstream>
#include <thread>
#include <vector>

#include "opc/com_base.h"
#include "testsupport/child_process.h"
#include "testsupport/driver_setup.h"
#include "testsupport/mcsim_peer.h"
#include "tools/hbtopc/server_registration.h"

namespace hbt::opc::testing {
namespace {

using namespace std::chrono_literals;

constexpr OPCHANDLE kCounter = 1;  // PLC1:D:102, counted up by mcsim
constexpr OPCHANDLE kWritten = 2;  // PLC1:D:105, written by the client

// The subscription's values per client handle; completions of reads and writes are counted.
class Subscriber final : public IOPCDataCallback {
 public:
  HRESULT QueryInterface(REFIID riid, void** out) override {
    *out = nullptr;
    if (riid != IID_IUnknown && riid != IID_IOPCDataCallback) return E_NOINTERFACE;
    *out = static_cast<IOPCDataCallback*>(this);
    AddRef();
    return S_OK;
  }
  ULONG AddRef() override { return ++references; }
  ULONG Release() override { return --references; }
  HRESULT OnDataChange(DWORD transaction, OPCHANDLE, HRESULT, HRESULT, DWORD count, OPCHANDLE* clients,
                       VARIANT* values, WORD* qualities, FILETIME*, HRESULT*) override {
    if (transaction != 0) return S_OK;  // a refresh, not the subscription
    std::lock_guard lock(mutex);
    for (DWORD i = 0; i < count; ++i) {
      if (qualities[i] != OPC_QUALITY_GOOD || values[i].vt != VT_R4) {
        ++not_good;
        continue;
      }
      (clients[i] == kCounter ? counter : written).push_back(static_cast<int>(values[i].fltVal));
    }
    return S_OK;
  }
  HRESULT OnReadComplete(DWORD, OPCHANDLE, HRESULT, HRESULT, DWORD, OPCHANDLE*, VARIANT*, WORD*, FILETIME*,
                         HRESULT*) override {
    ++reads;
    return S_OK;
  }
  HRESULT OnWriteComplete(DWORD, OPCHANDLE, HRESULT, DWORD, OPCHANDLE*, HRESULT*) override { return S_OK; }
  HRESULT OnCancelComplete(DWORD, OPCHANDLE) override { return S_OK; }

  std::vector<int> values_of(OPCHANDLE client) {
    std::lock_guard lock(mutex);
    return client == kCounter ? counter : written;
  }

  std::atomic<ULONG> references{1};
  std::atomic<int> reads{0};
  std::mutex mutex;
  std::vector<int> counter, written;
  int not_good = 0;
};

// The values one register took, in order, from mcsim's history ("MS TYPE NUMBER VALUE"),
// after the value it started with (which the history has only when it was set).
std::vector<int> history_of(const std::string& path, const std::string& type, unsigned number, int start) {
  std::ifstream in(path);
  std::vector<int> out = {start};
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    double ms = 0;
    std::string t;
    unsigned n = 0;
    int value = 0;
    if (fields >> ms >> t >> n >> value && t == type && n == number && value != out.back()) out.push_back(value);
  }
  return out;
}

std::string text(const std::vector<int>& v) {
  std::string out;
  for (int x : v) out += std::to_string(x) + " ";
  return out;
}

TEST(BusyClient, ReadingAndWritingWhileSubscribedLosesAndRepeatsNoChange) {
  testsupport::TestEnvironment env;
  const std::string history = env.path("history.txt");
  testsupport::McsimPeer plc(env.dir(), {"udp:0:3e-binary"}, {"--history", history});
  ASSERT_TRUE(plc.ready()) << plc.output();
  ASSERT_TRUE(plc.ok("set D102 0"));
  ASSERT_TRUE(plc.ok("set D105 0"));
  testsupport::PollerProcess poller(env, testsupport::words_and_bits_configuration(plc.port(0)));
  ASSERT_TRUE(poller.mapped()) << poller.output();
  ASSERT_EQ(hbtopc::register_server(HBT_LIB_DIR "/HBTOPC.so"), "");

  ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
  CLSID clsid{};
  ASSERT_EQ(CLSIDFromProgID(u"Velmora.Brenlow", &clsid), S_OK);
  IOPCServer* server = nullptr;
  ASSERT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IOPCServer, reinterpret_cast<void**>(&server)),
            S_OK);
  OPCHANDLE group_handle = 0;
  DWORD rate = 0;
  IUnknown* unknown = nullptr;
  ASSERT_EQ(server->AddGroup(u"busy", TRUE, 100, 7, nullptr, nullptr, 1033, &group_handle, &rate, IID_IOPCItemMgt,
                             &unknown),
            S_OK);
  auto* items = static_cast<IOPCItemMgt*>(static_cast<void*>(unknown));
  OPCITEMDEF defs[2] = {};
  defs[0].szItemID = const_cast<LPWSTR>(u"PLC1:D:102");
  defs[1].szItemID = const_cast<LPWSTR>(u"PLC1:D:105");
  defs[0].bActive = defs[1].bActive = TRUE;
  defs[0].hClient = kCounter;
  defs[1].hClient = kWritten;
  OPCITEMRESULT* results = nullptr;
  HRESULT* errors = nullptr;
  ASSERT_EQ(items->AddItems(2, defs, &results, &errors), S_OK);
  OPCHANDLE handles[2] = {results[0].hServer, results[1].hServer};
  CoTaskMemFree(results);
  CoTaskMemFree(errors);

  Subscriber subscriber;
  IConnectionPointContainer* container = nullptr;
  ASSERT_EQ(items->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&container)), S_OK);
  IConnectionPoint* point = nullptr;
  ASSERT_EQ(container->FindConnectionPoint(IID_IOPCDataCallback, &point), S_OK);
  DWORD cookie = 0;
  ASSERT_EQ(point->Advise(&subscriber, &cookie), S_OK);
  // Up once the subscription has brought the first good values.
  ASSERT_TRUE(testsupport::eventually(
      [&] {
        poller.output();
        return !subscriber.values_of(kCounter).empty() && !subscriber.values_of(kWritten).empty();
      },
      20000))
      << poller.output();
  {
    std::lock_guard lock(subscriber.mutex);
    subscriber.not_good = 0;  // out of service until the server has seen the poller's watchdog move
  }

  IOPCSyncIO* sync = nullptr;
  IOPCSyncIO2* sync2 = nullptr;
  IOPCAsyncIO2* async = nullptr;
  ASSERT_EQ(items->QueryInterface(IID_IOPCSyncIO, reinterpret_cast<void**>(&sync)), S_OK);
  ASSERT_EQ(items->QueryInterface(IID_IOPCSyncIO2, reinterpret_cast<void**>(&sync2)), S_OK);
  ASSERT_EQ(items->QueryInterface(IID_IOPCAsyncIO2, reinterpret_cast<void**>(&async)), S_OK);

  // The counter holds each value for 500 ms: five update passes and five polls of the poller.
  ASSERT_TRUE(plc.ok("move D102 counter 1 500"));
  std::atomic<bool> stop{false};
  std::atomic<int> reads{0};
  std::thread reader([&] {
    for (int round = 0; !stop; ++round) {
      HRESULT* e = nullptr;
      switch (round % 4) {
        case 0:
        case 1: {
          OPCITEMSTATE* states = nullptr;
          if (sync->Read(round % 4 == 0 ? OPC_DS_DEVICE : OPC_DS_CACHE, 2, handles, &states, &e) == S_OK) {
            for (int i = 0; i < 2; ++i) VariantClear(&states[i].vDataValue);
            ++reads;
          }
          CoTaskMemFree(states);
          break;
        }
        case 2: {
          DWORD ages[2] = {0, 0};
          VARIANT* values = nullptr;
          WORD* qualities = nullptr;
          FILETIME* stamps = nullptr;
          if (sync2->ReadMaxAge(2, handles, ages, &values, &qualities, &stamps, &e) == S_OK) {
            for (int i = 0; i < 2; ++i) VariantClear(&values[i]);
            ++reads;
          }
          CoTaskMemFree(values);
          CoTaskMemFree(qualities);
          CoTaskMemFree(stamps);
          break;
        }
        case 3: {
          DWORD cancel = 0;
          if (async->Read(2, handles, static_cast<DWORD>(round), &cancel, &e) == S_OK) ++reads;
          break;
        }
      }
      CoTaskMemFree(e);
      std::this_thread::sleep_for(5ms);
    }
  });
  constexpr int kWrites = 8;
  std::thread writer([&] {
    for (int v = 1; v <= kWrites && !stop; ++v) {
      VARIANT value;
      VariantInit(&value);
      value.vt = VT_R4;
      value.fltVal = static_cast<float>(v * 10);
      HRESULT* e = nullptr;
      DWORD cancel = 0;
      if (v % 2 == 0)
        sync->Write(1, &handles[1], &value, &e);
      else
        async->Write(1, &handles[1], &value, static_cast<DWORD>(v), &cancel, &e);
      CoTaskMemFree(e);
      std::this_thread::sleep_for(600ms);
    }
  });
  writer.join();
  ASSERT_TRUE(plc.ok("move D102 stop"));
  const std::string final_counter = plc.control("get D102");
  // Quiet now: the last values arrive within a few passes.
  std::this_thread::sleep_for(1500ms);
  stop = true;
  reader.join();

  const std::vector<int> counted = history_of(history, "D", 102, 0);
  const std::vector<int> written = history_of(history, "D", 105, 0);
  const std::vector<int> got_counter = subscriber.values_of(kCounter);
  const std::vector<int> got_written = subscriber.values_of(kWritten);
  std::printf("%d reads while subscribed; the counter took %zu values and the subscription brought %zu; %zu of %zu "
              "written values came back\n",
              reads.load(), counted.size(), got_counter.size(), got_written.size(), written.size());
  EXPECT_GT(reads.load(), 100) << "the client read the items without pause";
  // Every value from the first one delivered on, each once, none left out.
  ASSERT_FALSE(got_counter.empty());
  auto first = std::find(counted.begin(), counted.end(), got_counter.front());
  ASSERT_NE(first, counted.end()) << "a value the counter never held: " << got_counter.front();
  EXPECT_EQ(got_counter, std::vector<int>(first, counted.end()))
      << "delivered: " << text(got_counter) << "\nheld:      " << text(counted);
  EXPECT_EQ("ok " + std::to_string(got_counter.back()), final_counter);
  EXPECT_GE(got_counter.size(), 8u) << "the counter moved for about five seconds";
  // The written register: its first value, then each write once, in order.
  std::vector<int> expected_written = {0};
  for (int v = 1; v <= kWrites; ++v) expected_written.push_back(v * 10);
  EXPECT_EQ(got_written, expected_written) << "delivered: " << text(got_written) << "\nheld: " << text(written);
  EXPECT_EQ(subscriber.not_good, 0);

  EXPECT_EQ(point->Unadvise(cookie), S_OK);
  point->Release();
  container->Release();
  sync->Release();
  sync2->Release();
  async->Release();
  items->Release();
  EXPECT_EQ(server->RemoveGroup(group_handle, FALSE), S_OK);
  server->Release();
  CoUninitialize();
  EXPECT_EQ(subscriber.references.load(), 1u);
}

}  // namespace
}  // namespace hbt::opc::testing
