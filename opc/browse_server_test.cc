// Address-space browsing through the server object: positions, branch and leaf lists with
// the name filter, flat lists, item IDs of list entries, and the host library's enumeration
// buffers, every one of which must go back.
#include "opc/browse_server.h"

#include <atomic>
#include <map>
#include <mutex>
#include <random>
#include <set>
#include <thread>

#include "com/task_memory.h"
#include "opc/test_server.h"

namespace hbt::opc::testing {
namespace {

using hostlib::testing::record;
using image::DataType;
using image::RegisterType;

// Every list the plant's devices give, in configuration order.
const std::vector<std::u16string> kPlc1Ranges = {
    u"D:100 - D:109", u"D:200 - D:209", u"D:300 - D:309", u"D:400 - D:409", u"X:0 - X:1F",   u"D:500 - D:503",
    u"D:100 - D:119", u"EX:2:300 - EX:2:349", u"W:10 - W:2F", u"M:0 - M:15", u"D:600 - D:609", u"D:700 - D:709"};
const std::vector<std::u16string> kPlc2Ranges = {u"D:0 - D:99"};
const std::vector<std::u16string> kPlc3Ranges = {u"R:0 - R:9"};

std::vector<std::u16string> drain(IEnumString* e) {
  std::vector<std::u16string> out;
  if (!e) return out;
  LPOLESTR got[5];
  ULONG n = 0;
  HRESULT hr;
  do {
    hr = e->Next(5, got, &n);
    for (ULONG i = 0; i < n; ++i) {
      out.emplace_back(got[i]);
      com::CoTaskMemFree(got[i]);
    }
  } while (hr == S_OK);
  e->Release();
  return out;
}

// The host library's buffers as the server receives and returns them.
struct BufferLedger {
  std::mutex mutex;
  std::multiset<void*> out;
  int handed = 0, returned = 0, foreign = 0;
  void hand(char* b) {
    std::lock_guard lock(mutex);
    if (b) {
      out.insert(b);
      ++handed;
    }
  }
  void back(void* b) {
    std::lock_guard lock(mutex);
    auto it = out.find(b);
    if (it == out.end()) {
      ++foreign;
    } else {
      out.erase(it);
      ++returned;
    }
  }
};
BufferLedger* g_ledger = nullptr;
NioStatus g_devices_status = 0;

class BrowseTest : public ServerTest {
 protected:
  IOPCBrowseServerAddressSpace* browse = nullptr;
  BufferLedger ledger;

  void SetUp() override {
    ServerTest::SetUp();
    g_ledger = &ledger;
    g_devices_status = 0;
    HostApi& host = library().host;
    host.Enum_Devices = [](NioStatus* s, std::int32_t* n, char** b) {
      g_host->nio_Enum_Devices(s, n, b);
      g_ledger->hand(*b);
      if (g_devices_status != 0) *s = g_devices_status;
      return *s;
    };
    host.Enum_PollRecs = [](NioStatus* s, const char* d, std::int32_t* n, char** b) {
      g_host->nio_Enum_PollRecs(s, d, n, b);
      g_ledger->hand(*b);
      return *s;
    };
    host.Free = [](void* b) {
      g_ledger->back(b);
      g_host->nio_Free(b);
    };
    browse = query<IOPCBrowseServerAddressSpace>(server, IID_IOPCBrowseServerAddressSpace);
    ASSERT_NE(browse, nullptr);
  }
  void TearDown() override {
    if (browse) browse->Release();
    EXPECT_TRUE(ledger.out.empty()) << ledger.out.size() << " enumeration buffers kept";
    EXPECT_EQ(ledger.foreign, 0);
    ServerTest::TearDown();
    g_ledger = nullptr;
  }

  std::vector<std::u16string> list(OPCBROWSETYPE type, const char16_t* filter = u"", HRESULT* result = nullptr,
                                   VARTYPE vt = VT_EMPTY) {
    IEnumString* e = nullptr;
    HRESULT hr = browse->BrowseOPCItemIDs(type, filter, vt, 0, &e);
    if (result) *result = hr;
    if (SUCCEEDED(hr)) {
      EXPECT_NE(e, nullptr);
    } else {
      EXPECT_EQ(e, nullptr);
    }
    return drain(e);
  }
  std::u16string item_id(const char16_t* data_id) {
    LPWSTR out = nullptr;
    EXPECT_EQ(browse->GetItemID(const_cast<LPWSTR>(data_id), &out), S_OK);
    std::u16string text = out ? out : u"<null>";
    com::CoTaskMemFree(out);
    return text;
  }
};

TEST_F(BrowseTest, DownToADeviceListsItsRangesAndTheirItemIds) {
  OPCNAMESPACETYPE type{};
  EXPECT_EQ(browse->QueryOrganization(&type), S_OK);
  EXPECT_EQ(type, OPC_NS_HIERARCHIAL);
  EXPECT_EQ(browse->QueryOrganization(nullptr), E_INVALIDARG);

  HRESULT hr;
  EXPECT_EQ(list(OPC_LEAF, u"", &hr), std::vector<std::u16string>{});
  EXPECT_EQ(hr, S_FALSE);  // no leaves at the root
  EXPECT_EQ(list(OPC_BRANCH, u"", &hr), (std::vector<std::u16string>{u"PLC1", u"PLC2", u"PLC3"}));
  EXPECT_EQ(hr, S_OK);

  ASSERT_EQ(browse->ChangeBrowsePosition(OPC_BROWSE_DOWN, u"PLC2"), S_OK);
  EXPECT_EQ(list(OPC_LEAF, u"", &hr), kPlc2Ranges);
  EXPECT_EQ(hr, S_OK);
  EXPECT_EQ(item_id(u"D:0 - D:99"), u"PLC2:D:0");
  EXPECT_EQ(item_id(u""), u"PLC2");
  EXPECT_EQ(item_id(u"  D:5|LIN  "), u"PLC2:  D:5|LIN");
  EXPECT_EQ(list(OPC_BRANCH, u"", &hr), std::vector<std::u16string>{});
  EXPECT_EQ(hr, S_FALSE);  // nothing below a device

  // Down again from inside, and up twice.
  EXPECT_EQ(browse->ChangeBrowsePosition(OPC_BROWSE_DOWN, u"PLC1"), E_INVALIDARG);
  EXPECT_EQ(browse->ChangeBrowsePosition(OPC_BROWSE_TO, u"PLC1"), E_INVALIDARG);
  EXPECT_EQ(list(OPC_LEAF), kPlc2Ranges);
  EXPECT_EQ(browse->ChangeBrowsePosition(OPC_BROWSE_UP, u"x"), E_INVALIDARG);
  EXPECT_EQ(browse->ChangeBrowsePosition(OPC_BROWSE_UP, u""), S_OK);
  EXPECT_EQ(browse->ChangeBrowsePosition(OPC_BROWSE_UP, u""), E_FAIL);

  // Device names are the host library's: any case finds the device; its ranges follow.
  ASSERT_EQ(browse->ChangeBrowsePosition(OPC_BROWSE_TO, u"plc1"), S_OK);
  EXPECT_EQ(list(OPC_LEAF), kPlc1Ranges);
  EXPECT_EQ(item_id(u"EX:2:300 - EX:2:349"), u"plc1:EX:2:300");
  EXPECT_EQ(browse->ChangeBrowsePosition(OPC_BROWSE_TO, u""), S_OK);
  EXPECT_EQ(item_id(u" PLC1:D:0 - D:99 "), u"PLC1:D:0");
  EXPECT_EQ(item_id(u"PLC3:R:1"), u"PLC3:R:1");
  EXPECT_EQ(item_id(u""), u"");
}

TEST_F(BrowseTest, PositionsRefuseWhatIsNotThere) {
  EXPECT_EQ(browse->ChangeBrowsePosition(OPC_BROWSE_UP, u""), E_FAIL);
  for (const char16_t* missing : {u"PLC4", u"PLC", u"PLC12", u"", u" PLC1", u"PLC1:D:0"})
    EXPECT_EQ(browse->ChangeBrowsePosition(OPC_BROWSE_DOWN, missing), E_INVALIDARG) << narrow(missing);
  std::u16string long_name(300, u'P');
  EXPECT_EQ(browse->ChangeBrowsePosition(OPC_BROWSE_DOWN, long_name.c_str()), E_INVALIDARG);
  std::u16string prefixed = u"PLC1" + std::u16string(60, u'1');
  EXPECT_EQ(browse->ChangeBrowsePosition(OPC_BROWSE_TO, prefixed.c_str()), E_INVALIDARG);
  EXPECT_EQ(browse->ChangeBrowsePosition(OPC_BROWSE_DOWN, nullptr), E_INVALIDARG);
  EXPECT_EQ(browse->ChangeBrowsePosition(OPC_BROWSE_TO, nullptr), E_INVALIDARG);
  EXPECT_EQ(browse->ChangeBrowsePosition(static_cast<OPCBROWSEDIRECTION>(0), u"PLC1"), E_INVALIDARG);
  EXPECT_EQ(browse->ChangeBrowsePosition(static_cast<OPCBROWSEDIRECTION>(4), u""), E_INVALIDARG);
  // Still at the root after every refusal.
  EXPECT_EQ(browse->ChangeBrowsePosition(OPC_BROWSE_UP, u""), E_FAIL);
  EXPECT_EQ(list(OPC_BRANCH).size(), 3u);

  IEnumString* e = reinterpret_cast<IEnumString*>(1);
  EXPECT_EQ(browse->BrowseOPCItemIDs(OPC_BRANCH, u"", VT_EMPTY, 0, nullptr), E_INVALIDARG);
  EXPECT_EQ(browse->BrowseOPCItemIDs(static_cast<OPCBROWSETYPE>(0), u"", VT_EMPTY, 0, &e), E_INVALIDARG);
  EXPECT_EQ(e, nullptr);
  EXPECT_EQ(browse->BrowseOPCItemIDs(static_cast<OPCBROWSETYPE>(4), u"", VT_EMPTY, 0, &e), E_INVALIDARG);
  e = reinterpret_cast<IEnumString*>(1);
  EXPECT_EQ(browse->BrowseAccessPaths(u"PLC1:D:0", &e), E_NOTIMPL);
  EXPECT_EQ(e, nullptr);
  EXPECT_EQ(browse->BrowseAccessPaths(nullptr, nullptr), E_NOTIMPL);
  LPWSTR id = reinterpret_cast<LPWSTR>(1);
  EXPECT_EQ(browse->GetItemID(nullptr, &id), E_INVALIDARG);
  EXPECT_EQ(browse->GetItemID(const_cast<LPWSTR>(u"x"), nullptr), E_INVALIDARG);
}

TEST_F(BrowseTest, BranchFiltersAndTypeFilters) {
  using List = std::vector<std::u16string>;
  const List all = {u"PLC1", u"PLC2", u"PLC3"};
  EXPECT_EQ(list(OPC_BRANCH, u"PL*"), all);
  EXPECT_EQ(list(OPC_BRANCH, u"*1"), List{u"PLC1"});
  EXPECT_EQ(list(OPC_BRANCH, u"P*1"), all);
  EXPECT_EQ(list(OPC_BRANCH, u"*"), all);
  EXPECT_EQ(list(OPC_BRANCH, u"**"), all);
  EXPECT_EQ(list(OPC_BRANCH, nullptr), all);
  EXPECT_EQ(list(OPC_BRANCH, u"*LC*"), all);
  EXPECT_EQ(list(OPC_BRANCH, u"PLC2"), List{u"PLC2"});
  HRESULT hr;
  EXPECT_EQ(list(OPC_BRANCH, u"plc*", &hr), List{});
  EXPECT_EQ(hr, S_FALSE);
  EXPECT_EQ(list(OPC_BRANCH, u"PLC", &hr), List{});
  EXPECT_EQ(hr, S_FALSE);

  ASSERT_EQ(browse->ChangeBrowsePosition(OPC_BROWSE_DOWN, u"PLC1"), S_OK);
  EXPECT_EQ(list(OPC_LEAF, u"X*"), List{u"X:0 - X:1F"});
  EXPECT_EQ(list(OPC_LEAF, u"*09"), (List{u"D:100 - D:109", u"D:200 - D:209", u"D:300 - D:309", u"D:400 - D:409",
                                          u"D:600 - D:609", u"D:700 - D:709"}));
  EXPECT_EQ(list(OPC_LEAF, u"*EX*"), List{u"EX:2:300 - EX:2:349"});

  // The accepted type filters change nothing; any other type lists nothing.
  for (VARTYPE vt : std::initializer_list<VARTYPE>{VT_EMPTY, VT_I2, VT_I4, VT_R4, VT_BSTR, VT_BOOL}) {
    EXPECT_EQ(list(OPC_LEAF, u"", &hr, vt), kPlc1Ranges) << vt;
    EXPECT_EQ(hr, S_OK);
  }
  for (VARTYPE vt : std::initializer_list<VARTYPE>{VT_R8, VT_UI2, VT_DATE, VT_VARIANT, VT_ARRAY | VT_R4}) {
    EXPECT_EQ(list(OPC_LEAF, u"", &hr, vt), List{}) << vt;
    EXPECT_EQ(hr, S_FALSE);
    EXPECT_EQ(list(OPC_FLAT, u"", &hr, vt), List{}) << vt;
    EXPECT_EQ(hr, S_FALSE);
  }
}

TEST_F(BrowseTest, FlatListsIgnoreTheFilter) {
  std::vector<std::u16string> everything;
  for (const auto& r : kPlc1Ranges) everything.push_back(u"PLC1:" + r);
  for (const auto& r : kPlc2Ranges) everything.push_back(u"PLC2:" + r);
  for (const auto& r : kPlc3Ranges) everything.push_back(u"PLC3:" + r);
  HRESULT hr;
  EXPECT_EQ(list(OPC_FLAT, u"", &hr), everything);
  EXPECT_EQ(hr, S_OK);
  EXPECT_EQ(list(OPC_FLAT, u"nothing*"), everything);
  ASSERT_EQ(browse->ChangeBrowsePosition(OPC_BROWSE_DOWN, u"PLC3"), S_OK);
  EXPECT_EQ(list(OPC_FLAT, u"nothing"), kPlc3Ranges);
  ASSERT_EQ(browse->ChangeBrowsePosition(OPC_BROWSE_TO, u""), S_OK);
  // Every flat entry's item ID is an address the server binds.
  for (const auto& entry : everything) {
    const std::u16string id = item_id(entry.c_str());
    EXPECT_EQ(id, entry.substr(0, entry.find(u" - ")));
  }
}

TEST_F(BrowseTest, HostFailuresGiveEFailAndTheBuffersStillGoBack) {
  g_devices_status = 1;
  HRESULT hr;
  list(OPC_BRANCH, u"", &hr);
  EXPECT_EQ(hr, E_FAIL);
  list(OPC_FLAT, u"", &hr);
  EXPECT_EQ(hr, E_FAIL);
  g_devices_status = 0;
  EXPECT_GT(ledger.handed, 0);
  EXPECT_EQ(ledger.handed, ledger.returned);

  // A configuration without poll records has no flat list.
  library().host.num_pollblocks = [] { return 0; };
  list(OPC_FLAT, u"", &hr);
  EXPECT_EQ(hr, E_FAIL);
  // A host library without enumeration exports fails the same way.
  library().host.Enum_Devices = nullptr;
  list(OPC_BRANCH, u"", &hr);
  EXPECT_EQ(hr, E_FAIL);
}

TEST_F(BrowseTest, TheEnumeratorFollowsIEnumStringRules) {
  IEnumString* e = nullptr;
  ASSERT_EQ(browse->BrowseOPCItemIDs(OPC_BRANCH, u"", VT_EMPTY, 0, &e), S_OK);
  IEnumString* clone = nullptr;
  ASSERT_EQ(e->Skip(1), S_OK);
  ASSERT_EQ(e->Clone(&clone), S_OK);
  EXPECT_EQ(drain(clone), (std::vector<std::u16string>{u"PLC2", u"PLC3"}));
  ASSERT_EQ(e->Reset(), S_OK);
  // The enumerator keeps the server alive past the client's last server reference.
  server->Release();
  server = nullptr;
  browse->Release();
  browse = nullptr;
  EXPECT_EQ(drain(e), (std::vector<std::u16string>{u"PLC1", u"PLC2", u"PLC3"}));
}

// One position per server object, shared by every thread of its client: each list a thread
// receives is the list of one position, never a mixture, and no buffer is lost while threads
// enumerate at once.
TEST_F(BrowseTest, ThreadsBrowsingOneServerSeeWholeLists) {
  const std::map<std::u16string, std::vector<std::u16string>> lists = {
      {u"PLC1", kPlc1Ranges}, {u"PLC2", kPlc2Ranges}, {u"PLC3", kPlc3Ranges}};
  std::atomic<int> mixed{0}, leaf_lists{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      std::mt19937 random(t);
      const char16_t* names[] = {u"PLC1", u"PLC2", u"PLC3", u"NONE"};
      for (int i = 0; i < 300; ++i) {
        switch (random() % 4) {
          case 0:
            browse->ChangeBrowsePosition(OPC_BROWSE_TO, u"");
            browse->ChangeBrowsePosition(OPC_BROWSE_DOWN, names[random() % 4]);
            break;
          case 1:
            browse->ChangeBrowsePosition(OPC_BROWSE_UP, u"");
            break;
          case 2: {
            IEnumString* e = nullptr;
            if (FAILED(browse->BrowseOPCItemIDs(OPC_LEAF, u"", VT_EMPTY, 0, &e))) {
              ++mixed;
              break;
            }
            auto got = drain(e);
            bool whole = got.empty();
            for (const auto& [name, ranges] : lists) whole = whole || got == ranges;
            if (!whole) ++mixed;
            ++leaf_lists;
            break;
          }
          default: {
            IEnumString* e = nullptr;
            if (FAILED(browse->BrowseOPCItemIDs(OPC_FLAT, u"", VT_EMPTY, 0, &e))) ++mixed;
            const std::size_t n = drain(e).size();
            if (n != 1 && n != 12 && n != 14) ++mixed;
            break;
          }
        }
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(mixed.load(), 0);
  EXPECT_GT(leaf_lists.load(), 100);
}

// A configuration with names that tell the filter rules apart.
class NamedDevicesTest : public BrowseTest {
 protected:
  hostlib::testing::ConfigSpec plant_config() override {
    hostlib::testing::ConfigSpec config;
    config.channels[0].devices.clear();
    for (const char* name : {"PUMP1", "PLC10", "PLC1", "ALPHA", "P1", "TANK_P1"}) {
      testsupport::DeviceSpec d;
      d.name = name;
      d.records = {record(RegisterType::D, 0, 10, DataType::Unsigned)};
      config.channels[0].devices.push_back(d);
    }
    return config;
  }
};

TEST_F(NamedDevicesTest, FiltersOverDeviceNames) {
  using List = std::vector<std::u16string>;
  EXPECT_EQ(list(OPC_BRANCH, u"PL*"), (List{u"PLC10", u"PLC1"}));
  EXPECT_EQ(list(OPC_BRANCH, u"*1"), (List{u"PUMP1", u"PLC1", u"P1", u"TANK_P1"}));
  EXPECT_EQ(list(OPC_BRANCH, u"P*1").size(), 6u);
  EXPECT_EQ(list(OPC_BRANCH, u"*P1"), (List{u"PUMP1", u"P1", u"TANK_P1"}));
  EXPECT_EQ(list(OPC_BRANCH, u"*_P1"), List{u"TANK_P1"});
  EXPECT_EQ(list(OPC_BRANCH, u"*P*"), (List{u"PUMP1", u"PLC10", u"PLC1", u"ALPHA", u"P1", u"TANK_P1"}));
  EXPECT_EQ(list(OPC_BRANCH, u"*LC1*"), (List{u"PLC10", u"PLC1"}));
  EXPECT_EQ(list(OPC_BRANCH, u"P1"), List{u"P1"});
  // Longer than every name that would otherwise fit.
  EXPECT_EQ(list(OPC_BRANCH, u"*TANK_P1X"), List{});
  ASSERT_EQ(browse->ChangeBrowsePosition(OPC_BROWSE_DOWN, u"TANK_P1"), S_OK);
  EXPECT_EQ(list(OPC_LEAF), List{u"D:0 - D:9"});
  EXPECT_EQ(item_id(u"D:0 - D:9"), u"TANK_P1:D:0");
}

}  // namespace
}  // namespace hbt::opc::testing
