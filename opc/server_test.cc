// The server object through its interfaces: groups by name and handle, enumerators, status,
// error texts, locales, the shutdown connection point and reference counting.
#include "opc/server.h"

#include <atomic>
#include <chrono>
#include <thread>

#include "com/task_memory.h"
#include "opc/error_strings.h"
#include "opc/test_server.h"
#include "platform/registry.h"

namespace hbt::opc::testing {
namespace {

using namespace std::chrono_literals;

std::u16string take_string(LPWSTR text) {
  std::u16string out = text ? std::u16string(text) : u"";
  com::CoTaskMemFree(text);
  return out;
}

std::u16string group_name(IOPCGroupStateMgt* group) {
  LPWSTR name = nullptr;
  EXPECT_EQ(group->GetState(nullptr, nullptr, &name, nullptr, nullptr, nullptr, nullptr, nullptr), S_OK);
  return take_string(name);
}

using AddGroupTest = ServerTest;

TEST_F(AddGroupTest, GeneratedNamesCountEverySuccessfulAdd) {
  IOPCGroupStateMgt *a, *b, *c, *d;
  ASSERT_EQ(add_group(u"", &a), S_OK);
  EXPECT_EQ(group_name(a), u"Group1");
  ASSERT_EQ(add_group(u"", &b), S_OK);
  EXPECT_EQ(group_name(b), u"Group2");
  ASSERT_EQ(add_group(u"Named", &c), S_OK);
  // A refused add does not count.
  IOPCGroupStateMgt* dup = reinterpret_cast<IOPCGroupStateMgt*>(1);
  EXPECT_EQ(add_group(u"Named", &dup), OPC_E_DUPLICATENAME);
  EXPECT_EQ(dup, nullptr);
  ASSERT_EQ(add_group(u"", &d), S_OK);
  EXPECT_EQ(group_name(d), u"Group4");
  for (auto* g : {a, b, c, d}) g->Release();
}

TEST_F(AddGroupTest, UpdateRateIsRaisedToTheSleepTime) {
  OPCHANDLE h;
  DWORD revised = 0;
  IUnknown* unk = nullptr;
  EXPECT_EQ(server->AddGroup(u"fast", TRUE, 0, 1, nullptr, nullptr, 0, &h, &revised, IID_IUnknown, &unk),
            OPC_S_UNSUPPORTEDRATE);
  EXPECT_EQ(revised, 40u);
  unk->Release();
  // Without the revised-rate pointer the caller is not told.
  EXPECT_EQ(server->AddGroup(u"fast2", TRUE, 39, 1, nullptr, nullptr, 0, &h, nullptr, IID_IUnknown, &unk), S_OK);
  unk->Release();
  EXPECT_EQ(server->AddGroup(u"exact", TRUE, 40, 1, nullptr, nullptr, 0, &h, &revised, IID_IUnknown, &unk), S_OK);
  unk->Release();
  // A rate past 2^31 is an unsigned request like any other.
  EXPECT_EQ(server->AddGroup(u"slow", TRUE, 0xFFFFFFFFu, 1, nullptr, nullptr, 0, &h, &revised, IID_IUnknown, &unk),
            S_OK);
  EXPECT_EQ(revised, 0xFFFFFFFFu);
  unk->Release();
}

TEST_F(AddGroupTest, BadArgumentsLeaveNoGroup) {
  OPCHANDLE h = 0;
  IUnknown* unk = nullptr;
  EXPECT_EQ(server->AddGroup(nullptr, TRUE, 0, 1, nullptr, nullptr, 0, &h, nullptr, IID_IUnknown, &unk),
            E_INVALIDARG);
  EXPECT_EQ(server->AddGroup(u"x", TRUE, 0, 1, nullptr, nullptr, 0, nullptr, nullptr, IID_IUnknown, &unk),
            E_INVALIDARG);
  EXPECT_EQ(server->AddGroup(u"x", TRUE, 0, 1, nullptr, nullptr, 0, &h, nullptr, IID_IUnknown, nullptr),
            E_INVALIDARG);
  for (float bad : {100.5f, -0.1f, std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity()}) {
    IOPCGroupStateMgt* g = nullptr;
    EXPECT_EQ(add_group(u"db", &g, nullptr, 1000, &bad), E_INVALIDARG) << bad;
    EXPECT_EQ(g, nullptr);
  }
  // An interface groups do not have.
  EXPECT_EQ(server->AddGroup(u"x", TRUE, 0, 1, nullptr, nullptr, 0, &h, nullptr, IID_IOPCServer, &unk),
            E_NOINTERFACE);
  EXPECT_EQ(unk, nullptr);
  OPCSERVERSTATUS* status = nullptr;
  ASSERT_EQ(server->GetStatus(&status), S_OK);
  EXPECT_EQ(status->dwGroupCount, 0u);
  com::CoTaskMemFree(status->szVendorInfo);
  com::CoTaskMemFree(status);
  // The names stayed free, and the generated name did not move.
  IOPCGroupStateMgt *a, *b;
  float full = 100.0f;
  EXPECT_EQ(add_group(u"db", &a, nullptr, 1000, &full), S_OK);
  EXPECT_EQ(add_group(u"", &b), S_OK);
  EXPECT_EQ(group_name(b), u"Group2");
  a->Release();
  b->Release();
}

TEST_F(AddGroupTest, StateOfANewGroup) {
  OPCHANDLE h = 0;
  DWORD revised = 0;
  LONG bias = -60;
  FLOAT deadband = 12.5f;
  IUnknown* unk = nullptr;
  ASSERT_EQ(server->AddGroup(u"G", FALSE, 500, 4242, &bias, &deadband, 1031, &h, &revised, IID_IOPCGroupStateMgt, &unk),
            S_OK);
  auto* g = static_cast<IOPCGroupStateMgt*>(static_cast<void*>(unk));
  DWORD rate;
  BOOL active;
  LONG b;
  FLOAT db;
  LCID lcid;
  OPCHANDLE client, srv;
  LPWSTR name;
  ASSERT_EQ(g->GetState(&rate, &active, &name, &b, &db, &lcid, &client, &srv), S_OK);
  EXPECT_EQ(take_string(name), u"G");
  EXPECT_EQ(rate, 500u);
  EXPECT_EQ(active, FALSE);
  EXPECT_EQ(b, -60);
  EXPECT_EQ(db, 12.5f);
  EXPECT_EQ(lcid, 1031u);
  EXPECT_EQ(client, 4242u);
  EXPECT_EQ(srv, h);
  EXPECT_NE(h, 0u);
  g->Release();
}

TEST_F(ServerTest, GetGroupByNameIsExactAndCaseSensitive) {
  IOPCGroupStateMgt* g;
  ASSERT_EQ(add_group(u"Line", &g), S_OK);
  IUnknown* found = nullptr;
  EXPECT_EQ(server->GetGroupByName(u"Line", IID_IOPCItemMgt, &found), S_OK);
  ASSERT_NE(found, nullptr);
  found->Release();
  EXPECT_EQ(server->GetGroupByName(u"line", IID_IUnknown, &found), E_INVALIDARG);
  EXPECT_EQ(found, nullptr);
  EXPECT_EQ(server->GetGroupByName(u"Lin", IID_IUnknown, &found), E_INVALIDARG);
  EXPECT_EQ(server->GetGroupByName(nullptr, IID_IUnknown, &found), E_INVALIDARG);
  EXPECT_EQ(server->GetGroupByName(u"Line", IID_IUnknown, nullptr), E_INVALIDARG);
  EXPECT_EQ(server->GetGroupByName(u"Line", IID_IOPCServer, &found), E_NOINTERFACE);
  g->Release();
}

TEST_F(ServerTest, RemoveGroupInUseAndForced) {
  IOPCGroupStateMgt *kept, *forced, *free_group;
  OPCHANDLE hk, hf, hfree;
  ASSERT_EQ(add_group(u"kept", &kept, &hk), S_OK);
  ASSERT_EQ(add_group(u"forced", &forced, &hf), S_OK);
  ASSERT_EQ(add_group(u"free", &free_group, &hfree), S_OK);

  EXPECT_EQ(server->RemoveGroup(hk, FALSE), OPC_S_INUSE);
  // Out of the table: the name is free and the handle unknown; the state methods refuse.
  IUnknown* unk = nullptr;
  EXPECT_EQ(server->GetGroupByName(u"kept", IID_IUnknown, &unk), E_INVALIDARG);
  EXPECT_EQ(server->RemoveGroup(hk, FALSE), E_FAIL);
  EXPECT_EQ(kept->SetName(u"other"), E_FAIL);
  EXPECT_EQ(kept->GetState(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr), E_FAIL);
  IOPCGroupStateMgt* again;
  EXPECT_EQ(add_group(u"kept", &again), S_OK);
  again->Release();

  EXPECT_EQ(server->RemoveGroup(hf, TRUE), S_OK);
  EXPECT_EQ(forced->SetName(u"x"), E_FAIL);  // the client's pointer is still safe to use

  free_group->Release();  // only the table holds it now
  EXPECT_EQ(server->RemoveGroup(hfree, FALSE), S_OK);
  EXPECT_EQ(recorded.count("OPC: RemoveGroup"), 4);
  EXPECT_EQ(server->RemoveGroup(0, TRUE), E_FAIL);
  EXPECT_EQ(server->RemoveGroup(0xFFFFFFFF, FALSE), E_FAIL);
  kept->Release();
  forced->Release();
}

TEST_F(ServerTest, GroupEnumeratorsByScopeAndInterface) {
  IEnumUnknown* none = nullptr;
  EXPECT_EQ(server->CreateGroupEnumerator(OPC_ENUM_ALL, IID_IEnumUnknown, reinterpret_cast<LPUNKNOWN*>(&none)),
            S_FALSE);
  ASSERT_NE(none, nullptr);
  none->Release();

  IOPCGroupStateMgt *a, *b;
  ASSERT_EQ(add_group(u"A", &a), S_OK);
  ASSERT_EQ(add_group(u"B", &b), S_OK);
  for (OPCENUMSCOPE scope : {OPC_ENUM_PRIVATE_CONNECTIONS, OPC_ENUM_ALL_CONNECTIONS, OPC_ENUM_PRIVATE, OPC_ENUM_ALL}) {
    IEnumString* names = nullptr;
    ASSERT_EQ(server->CreateGroupEnumerator(scope, IID_IEnumString, reinterpret_cast<LPUNKNOWN*>(&names)), S_OK);
    LPOLESTR got[3] = {};
    ULONG n = 0;
    EXPECT_EQ(names->Next(3, got, &n), S_FALSE);
    ASSERT_EQ(n, 2u);
    EXPECT_EQ(take_string(got[0]), u"A");
    EXPECT_EQ(take_string(got[1]), u"B");
    names->Release();
  }
  // A scope outside the list is a 32-bit value like any other, and lists nothing either.
  for (OPCENUMSCOPE scope : {OPC_ENUM_PUBLIC, OPC_ENUM_PUBLIC_CONNECTIONS, static_cast<OPCENUMSCOPE>(0),
                             static_cast<OPCENUMSCOPE>(7), static_cast<OPCENUMSCOPE>(0xFFFFFFFF)}) {
    IEnumUnknown* e = nullptr;
    EXPECT_EQ(server->CreateGroupEnumerator(scope, IID_IEnumUnknown, reinterpret_cast<LPUNKNOWN*>(&e)), S_FALSE);
    IUnknown* g = nullptr;
    ULONG n = 9;
    EXPECT_EQ(e->Next(1, &g, &n), S_FALSE);
    EXPECT_EQ(n, 0u);
    e->Release();
  }
  IUnknown* bad = reinterpret_cast<IUnknown*>(1);
  EXPECT_EQ(server->CreateGroupEnumerator(OPC_ENUM_ALL, IID_IOPCServer, &bad), E_NOINTERFACE);
  EXPECT_EQ(bad, nullptr);
  EXPECT_EQ(server->CreateGroupEnumerator(OPC_ENUM_ALL, IID_IEnumString, nullptr), E_INVALIDARG);

  // The enumerator holds the groups: removal leaves them usable through it.
  IEnumUnknown* e = nullptr;
  ASSERT_EQ(server->CreateGroupEnumerator(OPC_ENUM_ALL, IID_IEnumUnknown, reinterpret_cast<LPUNKNOWN*>(&e)), S_OK);
  a->Release();
  b->Release();
  EXPECT_EQ(e->Skip(2), S_FALSE);  // would reach the end
  EXPECT_EQ(e->Skip(1), S_OK);
  IEnumUnknown* clone = nullptr;
  ASSERT_EQ(e->Clone(&clone), S_OK);
  e->Release();
  IUnknown* g = nullptr;
  ASSERT_EQ(clone->Next(1, &g, nullptr), S_OK);
  auto* state = query<IOPCGroupStateMgt>(g, IID_IOPCGroupStateMgt);
  EXPECT_EQ(group_name(state), u"B");
  state->Release();
  g->Release();
  clone->Release();

  // IEnumUnknown straight from the server lists the same.
  IEnumUnknown* direct = query<IEnumUnknown>(server, IID_IEnumUnknown);
  ASSERT_NE(direct, nullptr);
  ULONG n = 0;
  IUnknown* two[2] = {};
  EXPECT_EQ(direct->Next(2, two, &n), S_OK);
  EXPECT_EQ(n, 2u);
  for (auto* u : two) u->Release();
  direct->Release();
}

TEST_F(ServerTest, GetErrorStringCoversItsTableAndNothingElse) {
  LPWSTR text = nullptr;
  ASSERT_EQ(server->GetErrorString(static_cast<HRESULT>(0xC004000A), 0, &text), S_OK);
  EXPECT_EQ(take_string(text), u"The Filter string was not valid.");
  text = reinterpret_cast<LPWSTR>(1);
  EXPECT_EQ(server->GetErrorString(static_cast<HRESULT>(0xC0040002), 1033, &text), E_FAIL);
  EXPECT_EQ(text, nullptr);
  EXPECT_EQ(server->GetErrorString(0, 0, nullptr), E_INVALIDARG);
  // The codes the server itself returns have their texts: the deadband results of
  // IOPCItemDeadbandMgt, written values that were not taken as they came, the continuation
  // points of IOPCBrowse.
  for (std::uint32_t own : {0xC0040400u, 0xC0040401u, 0xC0040403u, 0xC0040406u, 0x0004000Eu}) {
    LPWSTR t = nullptr;
    EXPECT_EQ(server->GetErrorString(static_cast<HRESULT>(own), 0, &t), S_OK) << std::hex << own;
    EXPECT_FALSE(take_string(t).empty()) << std::hex << own;
  }
  ASSERT_EQ(server->GetErrorString(OPC_E_DEADBANDNOTSET, 0, &text), S_OK);
  EXPECT_EQ(take_string(text), u"The item deadband has not been set for this item.");
  // Every code of the table, whatever the locale; some codes around them are unknown.
  int known = 0;
  for (std::uint32_t base : {0x00000000u, 0x00040000u, 0x00048000u, 0x80004000u, 0x80010100u, 0x80040000u,
                             0x80040100u, 0x80040200u, 0x80070000u, 0xC0040000u, 0xC0040200u, 0xC0040400u}) {
    for (std::uint32_t low = 0; low < 0x80; ++low) {
      HRESULT code = static_cast<HRESULT>(base + low);
      LPWSTR t = nullptr;
      HRESULT hr = server->GetErrorString(code, 0x0407, &t);
      auto expected = error_text(code);
      if (expected) {
        ++known;
        ASSERT_EQ(hr, S_OK);
        EXPECT_EQ(narrow(take_string(t)), *expected);
      } else {
        EXPECT_EQ(hr, E_FAIL);
        EXPECT_EQ(t, nullptr);
      }
    }
  }
  EXPECT_EQ(known, 37);  // every entry of the table was met
}

TEST_F(ServerTest, CommonLocalesAndErrorTexts) {
  IOPCServer* fresh = make_server();  // a client that never asked for IOPCServer...
  IOPCCommon* only_common = query<IOPCCommon>(fresh, IID_IOPCCommon);
  fresh->Release();
  // ... (the factory did ask, so build one the way a common-only client would)
  IClassFactory* factory = nullptr;
  ASSERT_EQ(get_class_object(kServerClsid, IID_IClassFactory, reinterpret_cast<void**>(&factory)), S_OK);
  IOPCCommon* common_client = nullptr;
  ASSERT_EQ(factory->CreateInstance(nullptr, IID_IOPCCommon, reinterpret_cast<void**>(&common_client)), S_OK);
  factory->Release();
  LPWSTR text = nullptr;
  EXPECT_EQ(common_client->GetErrorString(E_FAIL, &text), OLE_E_NOCONNECTION);
  IOPCServer* later = query<IOPCServer>(common_client, IID_IOPCServer);
  EXPECT_EQ(common_client->GetErrorString(E_FAIL, &text), S_OK);
  EXPECT_EQ(take_string(text), u"Error. Operation failed.");
  EXPECT_EQ(common_client->GetErrorString(E_FAIL, nullptr), E_INVALIDARG);
  later->Release();
  common_client->Release();
  EXPECT_EQ(only_common->GetErrorString(S_OK, &text), S_OK);
  EXPECT_EQ(take_string(text), u"Operation Successful");

  LCID lcid = 0;
  ASSERT_EQ(only_common->GetLocaleID(&lcid), S_OK);
  EXPECT_EQ(lcid, 2048u);
  EXPECT_EQ(only_common->SetLocaleID(1033), S_OK);
  ASSERT_EQ(only_common->GetLocaleID(&lcid), S_OK);
  EXPECT_EQ(lcid, 1033u);
  EXPECT_EQ(only_common->SetLocaleID(0), S_OK);
  ASSERT_EQ(only_common->GetLocaleID(&lcid), S_OK);
  EXPECT_EQ(lcid, 2048u);
  for (LCID bad : {1031u, 1u, 0x0400u, 0xFFFFFFFFu}) EXPECT_EQ(only_common->SetLocaleID(bad), E_INVALIDARG);
  ASSERT_EQ(only_common->GetLocaleID(&lcid), S_OK);
  EXPECT_EQ(lcid, 2048u);
  EXPECT_EQ(only_common->GetLocaleID(nullptr), E_INVALIDARG);

  DWORD count = 9;
  LCID* list = nullptr;
  ASSERT_EQ(only_common->QueryAvailableLocaleIDs(&count, &list), S_OK);
  ASSERT_EQ(count, 1u);
  EXPECT_EQ(list[0], 1033u);
  com::CoTaskMemFree(list);
  EXPECT_EQ(only_common->QueryAvailableLocaleIDs(&count, nullptr), E_INVALIDARG);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(only_common->SetClientName(u"hbtopc"), S_OK);
  EXPECT_EQ(only_common->SetClientName(nullptr), S_OK);
  only_common->Release();
}

// A shutdown sink that counts its references.
class Sink final : public IOPCShutdown {
 public:
  std::atomic<int> refs{1};
  bool answer_shutdown = true;
  HRESULT QueryInterface(REFIID riid, void** out) override {
    *out = nullptr;
    if (is(riid, IID_IUnknown) || (answer_shutdown && is(riid, IID_IOPCShutdown))) {
      *out = static_cast<IOPCShutdown*>(this);
      AddRef();
      return S_OK;
    }
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return ++refs; }
  ULONG Release() override { return --refs; }
  HRESULT ShutdownRequest(LPCWSTR) override { return S_OK; }
};

TEST_F(ServerTest, ShutdownConnectionPoint) {
  auto* cpc = query<IConnectionPointContainer>(server, IID_IConnectionPointContainer);
  IConnectionPoint* cp = nullptr;
  EXPECT_EQ(cpc->FindConnectionPoint(IID_IOPCDataCallback, &cp), CONNECT_E_NOCONNECTION);
  EXPECT_EQ(cpc->FindConnectionPoint(IID_IOPCShutdown, nullptr), E_POINTER);
  ASSERT_EQ(cpc->FindConnectionPoint(IID_IOPCShutdown, &cp), S_OK);
  IID iid{};
  EXPECT_EQ(cp->GetConnectionInterface(&iid), S_OK);
  EXPECT_TRUE(is(iid, IID_IOPCShutdown));

  Sink refuses;
  refuses.answer_shutdown = false;
  DWORD cookie = 0;
  EXPECT_EQ(cp->Advise(&refuses, &cookie), CONNECT_E_CANNOTCONNECT);
  EXPECT_EQ(cp->Advise(nullptr, &cookie), E_POINTER);

  Sink sink;
  ASSERT_EQ(cp->Advise(&sink, &cookie), S_OK);
  EXPECT_EQ(cookie, 1u);
  Sink second;
  EXPECT_EQ(cp->Advise(&second, &cookie), CONNECT_E_ADVISELIMIT);
  EXPECT_TRUE(eventually([&] { return sink.refs == 2; }));  // held by the poll thread
  EXPECT_EQ(cp->Unadvise(2), CONNECT_E_NOCONNECTION);
  EXPECT_EQ(cp->Unadvise(1), S_OK);
  EXPECT_TRUE(eventually([&] { return sink.refs == 1; }));
  // Free again after the release.
  ASSERT_EQ(cp->Advise(&second, &cookie), S_OK);
  EXPECT_TRUE(eventually([&] { return second.refs == 2; }));

  IEnumConnectionPoints* points = nullptr;
  ASSERT_EQ(cpc->EnumConnectionPoints(&points), S_OK);
  IConnectionPoint* listed = nullptr;
  ASSERT_EQ(points->Next(1, &listed, nullptr), S_OK);
  EXPECT_EQ(listed, cp);
  listed->Release();
  points->Release();
  cp->Release();
  cpc->Release();
  // The server's end lets go of a sink still held.
  server->Release();
  server = nullptr;
  EXPECT_EQ(second.refs, 1);
}

TEST_F(ServerTest, StatusReportsSuspendedUntilTheWatchdogMoves) {
  OPCSERVERSTATUS* status = nullptr;
  EXPECT_EQ(server->GetStatus(nullptr), E_FAIL);
  ASSERT_EQ(server->GetStatus(&status), S_OK);
  EXPECT_EQ(status->dwServerState, OPC_STATUS_SUSPENDED);
  EXPECT_EQ(status->wMajorVersion, 7);
  EXPECT_EQ(status->wMinorVersion, 21);
  EXPECT_EQ(status->wBuildNumber, 9);
  EXPECT_EQ(status->wReserved, 42);
  EXPECT_EQ(narrow(status->szVendorInfo), "Brenlow Ethernet Driver Version 7.9.21");
  EXPECT_EQ(status->ftStartTime.dwLowDateTime, library().load_time.dwLowDateTime);
  com::CoTaskMemFree(status->szVendorInfo);
  com::CoTaskMemFree(status);

  // A ticking poller makes the server run; when it stops, one message says so.
  std::atomic<bool> ticking{true};
  std::thread poller([&] {
    while (ticking) {
      plant->driver().nio_map_hdr()->watchdog++;
      std::this_thread::sleep_for(5ms);
    }
  });
  EXPECT_TRUE(eventually([&] {
    OPCSERVERSTATUS* s = nullptr;
    server->GetStatus(&s);
    bool running = s->dwServerState == OPC_STATUS_RUNNING;
    com::CoTaskMemFree(s->szVendorInfo);
    com::CoTaskMemFree(s);
    return running;
  }));
  ticking = false;
  poller.join();
  EXPECT_TRUE(eventually([&] { return recorded.count("Poll failure please restart clients") == 1; }));
  std::this_thread::sleep_for(200ms);
  EXPECT_EQ(recorded.count("Poll failure please restart clients"), 1);
}

TEST_F(ServerTest, UnknownInterfacesAndNullOutputs) {
  void* out = reinterpret_cast<void*>(1);
  for (const IID* iid : {&IID_IOPCServerPublicGroups, &IID_IOPCGroupStateMgt, &IID_IClassFactory, &IID_IOPCItemMgt,
                         &IID_IOPCDataCallback}) {
    EXPECT_EQ(server->QueryInterface(*iid, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
  }
  EXPECT_EQ(server->QueryInterface(IID_IOPCServer, nullptr), E_INVALIDARG);
  // Every interface of one object answers with the same IUnknown.
  IUnknown* a = query<IUnknown>(server, IID_IUnknown);
  auto* common = query<IOPCCommon>(server, IID_IOPCCommon);
  IUnknown* b = query<IUnknown>(common, IID_IUnknown);
  EXPECT_EQ(a, b);
  // The DA 3.0 browser is one of the object's interfaces too: a DA 3.0 client's first call.
  auto* browse = query<IOPCBrowse>(server, IID_IOPCBrowse);
  ASSERT_NE(browse, nullptr);
  IUnknown* c = query<IUnknown>(browse, IID_IUnknown);
  EXPECT_EQ(a, c);
  c->Release();
  browse->Release();
  a->Release();
  b->Release();
  common->Release();
}

TEST_F(ServerTest, AGroupReferenceKeepsTheServerAlive) {
  IOPCGroupStateMgt* g;
  ASSERT_EQ(add_group(u"G", &g), S_OK);
  server->Release();
  server = nullptr;
  EXPECT_EQ(can_unload_now(), S_FALSE);
  EXPECT_EQ(group_name(g), u"G");  // still served
  // Reaching the server again through the group works while it lives.
  EXPECT_EQ(library().live_servers.load(), 1);
  g->Release();
  EXPECT_EQ(can_unload_now(), S_OK);
}

TEST_F(ServerTest, FactoryRefusesAggregationAndCountsLocks) {
  IClassFactory* factory = nullptr;
  EXPECT_EQ(get_class_object(IID_IOPCServer, IID_IClassFactory, reinterpret_cast<void**>(&factory)),
            CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_EQ(get_class_object(kServerClsid, IID_IOPCServer, reinterpret_cast<void**>(&factory)), E_NOINTERFACE);
  ASSERT_EQ(get_class_object(kServerClsid, IID_IClassFactory, reinterpret_cast<void**>(&factory)), S_OK);
  void* out = nullptr;
  EXPECT_EQ(factory->CreateInstance(server, IID_IUnknown, &out), CLASS_E_NOAGGREGATION);
  EXPECT_EQ(factory->CreateInstance(nullptr, IID_IOPCGroupStateMgt, &out), E_NOINTERFACE);
  EXPECT_EQ(factory->CreateInstance(nullptr, IID_IUnknown, nullptr), E_INVALIDARG);
  EXPECT_EQ(library().live_servers.load(), 1);  // the refused ones left nothing behind
  factory->LockServer(TRUE);
  server->Release();
  server = nullptr;
  EXPECT_EQ(can_unload_now(), S_FALSE);
  factory->LockServer(FALSE);
  EXPECT_EQ(can_unload_now(), S_OK);
  factory->Release();
}

TEST_F(ServerTest, ServersComeAndGoFromManyThreads) {
  std::vector<std::thread> clients;
  for (int t = 0; t < 4; ++t) {
    clients.emplace_back([this, t] {
      for (int i = 0; i < 5; ++i) {
        IOPCServer* s = make_server();
        IOPCGroupStateMgt* g = nullptr;
        OPCHANDLE h;
        IUnknown* unk = nullptr;
        std::u16string name = u"T" + wide(std::to_string(t));
        ASSERT_EQ(s->AddGroup(name.c_str(), TRUE, 0, 1, nullptr, nullptr, 0, &h, nullptr, IID_IOPCGroupStateMgt, &unk),
                  S_OK);
        g = static_cast<IOPCGroupStateMgt*>(static_cast<void*>(unk));
        s->RemoveGroup(h, i % 2);
        g->Release();
        s->Release();
      }
    });
  }
  for (auto& c : clients) c.join();
  EXPECT_EQ(library().live_servers.load(), 1);
}

class PriorityTest : public ServerTest, public ::testing::WithParamInterface<std::uint32_t> {
  void before_attach() override {
    platform::registry::set_dword(platform::registry::Hive::LocalMachine,
                                  identity().settings_key + "\\ServerDefaults", "ThreadPriority", GetParam());
  }
};

TEST_P(PriorityTest, OffTheScaleIsReportedAndTheThreadRunsOn) {
  IOPCGroupStateMgt* g;
  ASSERT_EQ(add_group(u"G", &g), S_OK);
  EXPECT_TRUE(eventually([&] { return recorded.event_count("Unable to change OPC server poll thread priority") == 1; }));
  g->Release();
}

INSTANTIATE_TEST_SUITE_P(Scale, PriorityTest, ::testing::Values(0u, 16u, 0xFFFFFFFFu));

}  // namespace
}  // namespace hbt::opc::testing
