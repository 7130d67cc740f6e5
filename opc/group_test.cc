// Groups and items through IOPCGroupStateMgt(2), IOPCItemMgt, IEnumOPCItemAttributes and
// IOPCItemDeadbandMgt, with items bound against the standard plant.
#include "opc/group.h"

#include <cmath>

#include "com/task_memory.h"
#include "com/variant.h"
#include "opc/item.h"
#include "opc/test_server.h"

namespace hbt::opc::testing {
namespace {

struct Added {
  HRESULT hr = E_FAIL;
  std::vector<OPCITEMRESULT> results;
  std::vector<HRESULT> errors;
};

class GroupTest : public ServerTest {
 protected:
  IOPCGroupStateMgt* group = nullptr;
  IOPCItemMgt* items = nullptr;
  OPCHANDLE group_handle = 0;

  void SetUp() override {
    ServerTest::SetUp();
    ASSERT_EQ(add_group(u"G", &group, &group_handle), S_OK);
    items = query<IOPCItemMgt>(group, IID_IOPCItemMgt);
  }
  void TearDown() override {
    if (items) items->Release();
    if (group) group->Release();
    ServerTest::TearDown();
  }

  Added add(const std::vector<std::u16string>& ids, VARTYPE requested = VT_EMPTY, bool validate = false,
            IOPCItemMgt* target = nullptr) {
    std::vector<OPCITEMDEF> defs(ids.size());
    for (std::size_t i = 0; i < ids.size(); ++i) {
      defs[i].szItemID = const_cast<LPWSTR>(ids[i].c_str());
      defs[i].bActive = TRUE;
      defs[i].hClient = static_cast<OPCHANDLE>(100 + i);
      defs[i].vtRequestedDataType = requested;
    }
    OPCITEMRESULT* results = nullptr;
    HRESULT* errors = nullptr;
    Added out;
    IOPCItemMgt* m = target ? target : items;
    out.hr = validate ? m->ValidateItems(static_cast<DWORD>(defs.size()), defs.data(), FALSE, &results, &errors)
                      : m->AddItems(static_cast<DWORD>(defs.size()), defs.data(), &results, &errors);
    if (results) out.results.assign(results, results + ids.size());
    if (errors) out.errors.assign(errors, errors + ids.size());
    com::CoTaskMemFree(results);
    com::CoTaskMemFree(errors);
    return out;
  }
  OPCHANDLE add_one(const std::u16string& id) {
    Added a = add({id});
    EXPECT_EQ(a.hr, S_OK) << narrow(id);
    return a.results.empty() ? 0 : a.results[0].hServer;
  }
  // The item behind a handle, for the fields no interface shows.
  COPCDrvItem* item(OPCHANDLE h) { return reinterpret_cast<COPCDrvGroup*>(group_object())->find_item_for_test(h); }
  IUnknown* group_object() {
    IUnknown* u = query<IUnknown>(group, IID_IUnknown);
    u->Release();
    return u;
  }
  std::vector<OPCITEMATTRIBUTES> attributes(IOPCItemMgt* m = nullptr) {
    IEnumOPCItemAttributes* e = nullptr;
    EXPECT_EQ((m ? m : items)->CreateEnumerator(IID_IEnumOPCItemAttributes, reinterpret_cast<LPUNKNOWN*>(&e)), S_OK);
    std::vector<OPCITEMATTRIBUTES> out;
    OPCITEMATTRIBUTES* block = nullptr;
    ULONG n = 0;
    e->Next(10000, &block, &n);
    for (ULONG i = 0; i < n; ++i) {
      out.push_back(block[i]);
      com::CoTaskMemFree(block[i].szAccessPath);
      com::CoTaskMemFree(block[i].szItemID);
    }
    com::CoTaskMemFree(block);
    e->Release();
    return out;
  }
};

TEST_F(GroupTest, BindingTableOfTheItemGrammar) {
  // Analog with every default.
  COPCDrvItem* a = item(add_one(u"PLC1:D:100"));
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a->format().kind, 1);
  EXPECT_EQ(a->egu_low(), 0.0f);
  EXPECT_EQ(a->egu_span(), 65535.0f);
  EXPECT_EQ(a->format().decimals, 1);
  EXPECT_EQ(a->element_count(), 1);
  EXPECT_EQ(a->canonical_type(), VT_R4);

  COPCDrvItem* b = item(add_one(u"PLC1:D:100|LIN,0,100,,degC"));
  EXPECT_EQ(b->egu_low(), 0.0f);
  EXPECT_EQ(b->egu_span(), 100.0f);
  EXPECT_EQ(b->format().decimals, 0);
  EXPECT_STREQ(b->units(), "degC");

  COPCDrvItem* c = item(add_one(u"PLC1:D:100|NONE,-5.25,5,,millibar"));
  EXPECT_EQ(c->egu_low(), -5.25f);
  EXPECT_EQ(c->egu_span(), 10.25f);
  EXPECT_EQ(c->format().decimals, 2);
  EXPECT_STREQ(c->units(), "mill");  // four characters

  // ";" is "|", and an empty option text takes every default.
  COPCDrvItem* d = item(add_one(u"PLC1:D:100;LIN"));
  COPCDrvItem* e = item(add_one(u"PLC1:D:100|LIN"));
  EXPECT_EQ(d->egu_span(), e->egu_span());
  EXPECT_EQ(item(add_one(u"PLC1:D:100|"))->egu_span(), 65535.0f);

  // Text items: the default length, a given one, and one too long.
  COPCDrvItem* t1 = item(add_one(u"PLC1:D:100$"));
  EXPECT_EQ(t1->format().kind, 3);
  EXPECT_EQ(t1->element_count(), 120);
  EXPECT_EQ(t1->canonical_type() & VT_TYPEMASK, VT_BSTR);
  EXPECT_EQ(item(add_one(u"PLC1:D:100$20"))->element_count(), 20);
  EXPECT_EQ(item(add_one(u"PLC1:D:100$127,ignored"))->element_count(), 127);
  EXPECT_EQ(item(add_one(u"PLC1:D:100$0"))->element_count(), 120);
  Added long_text = add({u"PLC1:D:100$200", u"PLC1:D:100$128"});
  EXPECT_EQ(long_text.hr, S_FALSE);
  EXPECT_EQ(long_text.errors[0], OPC_E_INVALIDITEMID);
  EXPECT_EQ(long_text.errors[1], OPC_E_INVALIDITEMID);

  // Arrays report VT_ARRAY with their element type.
  Added arr = add({u"PLC1:D:100[10]"});
  ASSERT_EQ(arr.hr, S_OK);
  EXPECT_EQ(arr.results[0].vtCanonicalDataType, VT_ARRAY | VT_R4);
  COPCDrvItem* ar = item(arr.results[0].hServer);
  EXPECT_EQ(ar->element_count(), 10);
  EXPECT_EQ(ar->canonical_type(), VT_ARRAY | VT_R4);
  EXPECT_EQ(ar->cached_value().vt, VT_ARRAY | VT_R4);
}

// What AddItems and ValidateItems report of an item is what the attribute enumerator says of
// it afterwards, arrays included.
TEST_F(GroupTest, CanonicalTypesAgreeBetweenTheResultsAndTheEnumerator) {
  const std::vector<std::u16string> ids = {u"PLC1:D:100[10]", u"PLC1:M:0[4]", u"PLC1:D:100[1]", u"PLC1:D:300[2]",
                                           u"PLC1:M:3", u"PLC1:D:200$8"};
  const std::vector<VARTYPE> expected = {VT_ARRAY | VT_R4, VT_ARRAY | VT_BOOL, VT_R4, VT_ARRAY | VT_R4, VT_BOOL,
                                         VT_BSTR};
  Added validated = add(ids, VT_EMPTY, true);
  Added a = add(ids);
  ASSERT_EQ(a.hr, S_OK);
  ASSERT_EQ(validated.hr, S_OK);
  auto list = attributes();
  ASSERT_EQ(list.size(), ids.size());
  for (std::size_t i = 0; i < ids.size(); ++i) {
    EXPECT_EQ(a.results[i].vtCanonicalDataType, expected[i]) << narrow(ids[i]);
    EXPECT_EQ(validated.results[i].vtCanonicalDataType, expected[i]) << narrow(ids[i]);
    EXPECT_EQ(list[i].vtCanonicalDataType, expected[i]) << narrow(ids[i]);
  }
  // The same when the first read finds the poll record failed and leaves the cache empty.
  plant->record(0)->status = 4293;
  Added failed = add({u"PLC1:D:100[3]"});
  ASSERT_EQ(failed.hr, S_OK);
  EXPECT_EQ(failed.results[0].vtCanonicalDataType, VT_ARRAY | VT_R4);
  EXPECT_EQ(attributes().back().vtCanonicalDataType, VT_ARRAY | VT_R4);
}

// A requested type the item's value can never become is refused when it is asked for, by
// AddItems and ValidateItems as by SetDatatypes; one that only some values cannot become is
// taken, and such a value fails its read instead.
TEST_F(GroupTest, RequestedTypesTheValueCanNeverBecomeAreRefused) {
  struct Case {
    std::u16string id;
    VARTYPE requested;
    HRESULT result;
  };
  const std::vector<Case> cases = {
      {u"PLC1:D:100[3]", VT_BSTR, OPC_E_BADTYPE},          {u"PLC1:D:100[3]", VT_R8, OPC_E_BADTYPE},
      {u"PLC1:D:100[3]", VT_ARRAY | VT_R8, OPC_E_BADTYPE}, {u"PLC1:D:100[3]", VT_ARRAY | VT_R4, S_OK},
      {u"PLC1:M:0[4]", VT_ARRAY | VT_BOOL, S_OK},          {u"PLC1:M:0[4]", VT_I2, OPC_E_BADTYPE},
      {u"PLC1:D:100", VT_ARRAY | VT_R4, OPC_E_BADTYPE},    {u"PLC1:D:100", VT_UI1, S_OK},
      {u"PLC1:D:100", VT_DATE, S_OK},                      {u"PLC1:M:0", VT_BSTR, S_OK},
      {u"PLC1:D:200$4", VT_I2, S_OK},                      {u"PLC1:D:200$4", VT_ARRAY | VT_BSTR, OPC_E_BADTYPE},
  };
  for (const Case& c : cases) {
    for (bool validate : {true, false}) {
      Added a = add({c.id}, c.requested, validate);
      EXPECT_EQ(a.errors[0], c.result) << narrow(c.id) << " as " << c.requested << " validate " << validate;
      EXPECT_EQ(a.hr, c.result == S_OK ? S_OK : S_FALSE);
    }
  }
  EXPECT_EQ(recorded.count("OPC DLL: Invalid requested datatype (5)"), 2);

  OPCHANDLE array = add_one(u"PLC1:D:100[3]");
  OPCHANDLE scalar = add_one(u"PLC1:D:100");
  OPCHANDLE handles[4] = {array, array, scalar, scalar};
  VARTYPE types[4] = {VT_BSTR, VT_ARRAY | VT_R4, VT_ARRAY | VT_R4, VT_I1};
  HRESULT* errors = nullptr;
  ASSERT_EQ(items->SetDatatypes(4, handles, types, &errors), S_FALSE);
  EXPECT_EQ(errors[0], OPC_E_BADTYPE);
  EXPECT_EQ(errors[1], S_OK);
  EXPECT_EQ(errors[2], OPC_E_BADTYPE);
  EXPECT_EQ(errors[3], S_OK);
  com::CoTaskMemFree(errors);
  EXPECT_EQ(item(array)->requested_type(), VT_ARRAY | VT_R4);
  EXPECT_EQ(item(scalar)->requested_type(), VT_I1);
}

// The element index of the host library is 16 bits: a larger array size is refused, not
// taken as a scalar.
TEST_F(GroupTest, ArraySizesBeyondTheElementIndexAreRefused) {
  const std::vector<std::u16string> ids = {u"PLC1:D:100[70000]", u"PLC1:D:100[65536]", u"PLC1:M:0[99999999999]",
                                           u"PLC1:D:100[4294967297]|NONE"};
  for (bool validate : {true, false}) {
    Added a = add(ids, VT_EMPTY, validate);
    EXPECT_EQ(a.hr, S_FALSE);
    for (std::size_t i = 0; i < ids.size(); ++i) {
      EXPECT_EQ(a.errors[i], OPC_E_INVALIDITEMID) << narrow(ids[i]) << " validate " << validate;
      EXPECT_EQ(a.results[i].hServer, 0u);
    }
  }
  EXPECT_TRUE(attributes().empty());
  EXPECT_EQ(item(add_one(u"PLC1:D:100[4]"))->element_count(), 4);
}

TEST_F(GroupTest, LabelsOfDigitalItems) {
  Added d = add({u"PLC1:M:10"});
  ASSERT_EQ(d.hr, S_OK);
  EXPECT_EQ(d.results[0].vtCanonicalDataType, VT_BOOL);
  COPCDrvItem* plain = item(d.results[0].hServer);
  EXPECT_EQ(plain->open_label(), "OFF");
  EXPECT_EQ(plain->close_label(), "ON");
  // One field and no comma: the analog defaults, cut to seven characters.
  COPCDrvItem* one = item(add_one(u"PLC1:M:10|NONE"));
  EXPECT_EQ(one->open_label(), "0.0");
  EXPECT_EQ(one->close_label(), "65535.0");
  COPCDrvItem* named = item(add_one(u"PLC1:M:10|NONE,Stopped,Running!"));
  EXPECT_EQ(named->open_label(), "Stopped");
  EXPECT_EQ(named->close_label(), "Running");
}

TEST_F(GroupTest, ItemIdLengthsFrom0To200) {
  const std::u16string base = u"PLC1:D:100";
  for (std::size_t n = 0; n <= 200; ++n) {
    std::u16string id = n <= base.size() ? base.substr(0, n) : base + u"|" + std::u16string(n - base.size() - 1, u' ');
    Added a = add({id});
    ASSERT_EQ(a.errors.size(), 1u) << n;
    if (n < 4 || n > 64) {
      EXPECT_EQ(a.errors[0], OPC_E_INVALIDITEMID) << n;
    } else if (n >= base.size()) {
      EXPECT_EQ(a.errors[0], S_OK) << n;
    }
    if (SUCCEEDED(a.errors[0])) {
      HRESULT* errors = nullptr;
      OPCHANDLE h = a.results[0].hServer;
      ASSERT_EQ(items->RemoveItems(1, &h, &errors), S_OK);
      com::CoTaskMemFree(errors);
    }
  }
  EXPECT_TRUE(attributes().empty());
}

TEST_F(GroupTest, BadItemsLeaveNothingAndSayWhy) {
  std::vector<OPCITEMDEF> defs(4);
  defs[0].szItemID = nullptr;
  defs[1].szItemID = const_cast<LPWSTR>(u"PLC9:D:100");
  defs[2].szItemID = const_cast<LPWSTR>(u"PLC1:D:100|BOGUS");
  // Longer than the host library takes as hardware options.
  const std::u16string long_options = u"PLC1:D:100|NONE,0,1," + std::u16string(32, u'Z');
  defs[3].szItemID = const_cast<LPWSTR>(long_options.c_str());
  OPCITEMRESULT* results = nullptr;
  HRESULT* errors = nullptr;
  ASSERT_EQ(items->AddItems(4, defs.data(), &results, &errors), S_FALSE);
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(errors[i], OPC_E_INVALIDITEMID) << i;
    EXPECT_EQ(results[i].hServer, 0u);
  }
  com::CoTaskMemFree(results);
  com::CoTaskMemFree(errors);
  EXPECT_EQ(recorded.count("OPC: Item id passed as NULL"), 1);
  EXPECT_EQ(recorded.count("OPC: Invalid signal conditioning passed to nio_psig() (BOGUS)"), 1);
  EXPECT_EQ(recorded.count("OPC DLL: Invalid hardware options passed to nio_popt() (" + std::string(32, 'Z') + ")"), 1);
  EXPECT_EQ(recorded.count("Client added 4 new tags err=0x1\n"), 1);
  EXPECT_TRUE(attributes().empty());

  Added bad_type = add({u"PLC1:D:100"}, static_cast<VARTYPE>(VT_UNKNOWN));
  EXPECT_EQ(bad_type.errors[0], OPC_E_BADTYPE);
  EXPECT_EQ(recorded.count("OPC DLL: Invalid requested datatype (13)"), 1);

  // Zero counts and null pointers.
  EXPECT_EQ(items->AddItems(0, defs.data(), &results, &errors), E_INVALIDARG);
  EXPECT_EQ(items->AddItems(1, nullptr, &results, &errors), E_INVALIDARG);
  EXPECT_EQ(items->AddItems(1, defs.data(), nullptr, &errors), E_INVALIDARG);
  EXPECT_EQ(items->AddItems(1, defs.data(), &results, nullptr), E_INVALIDARG);
  EXPECT_EQ(results, nullptr);
  EXPECT_EQ(items->ValidateItems(0, defs.data(), FALSE, &results, &errors), E_INVALIDARG);
  OPCHANDLE h = 1;
  EXPECT_EQ(items->RemoveItems(0, &h, &errors), E_INVALIDARG);
  EXPECT_EQ(items->RemoveItems(1, nullptr, &errors), E_INVALIDARG);
  EXPECT_EQ(items->RemoveItems(1, &h, nullptr), E_INVALIDARG);
  EXPECT_EQ(items->SetActiveState(1, &h, TRUE, nullptr), E_INVALIDARG);
  EXPECT_EQ(items->SetClientHandles(1, &h, nullptr, &errors), E_INVALIDARG);
  EXPECT_EQ(items->SetDatatypes(1, &h, nullptr, &errors), E_INVALIDARG);
  EXPECT_EQ(items->CreateEnumerator(IID_IEnumOPCItemAttributes, nullptr), E_INVALIDARG);
}

// Blanks alone are no address: such an ID fails as an empty one does, whether it is added
// or validated, instead of binding to a point that reads nothing. So does an ID whose only
// text after the blanks is option text.
TEST_F(GroupTest, IdsOfBlanksAreEmptyIds) {
  const std::vector<std::u16string> blanks = {u"    ", u"\t\t\t\t", u" \t \r\n\v\f ", std::u16string(64, u' ')};
  for (bool validate : {false, true}) {
    Added a = add(blanks, VT_EMPTY, validate);
    EXPECT_EQ(a.hr, S_FALSE) << validate;
    ASSERT_EQ(a.errors.size(), blanks.size());
    for (std::size_t i = 0; i < blanks.size(); ++i) {
      EXPECT_EQ(a.errors[i], OPC_E_INVALIDITEMID) << i << " validate " << validate;
      EXPECT_EQ(a.results[i].hServer, 0u) << i;
      EXPECT_EQ(a.results[i].vtCanonicalDataType, VT_EMPTY) << i;
    }
  }
  EXPECT_EQ(recorded.count("OPC: Empty Item ID passed"), static_cast<int>(2 * blanks.size()));

  const std::vector<std::u16string> options_only = {u"  |S,0,100", u"\t$20 ", u" ;LIN,0,1", u"   |", u"  [4]|LIN"};
  for (bool validate : {false, true}) {
    Added a = add(options_only, VT_EMPTY, validate);
    EXPECT_EQ(a.hr, S_FALSE);
    for (std::size_t i = 0; i < options_only.size(); ++i)
      EXPECT_EQ(a.errors[i], OPC_E_INVALIDITEMID) << narrow(options_only[i]) << " validate " << validate;
  }
  EXPECT_TRUE(attributes().empty());
  // The same address with blanks around it still binds.
  EXPECT_EQ(add({u" \t PLC1:D:100|LIN,0,100 \r\n"}).errors[0], S_OK);
}

// An address whose register name the host library does not know is refused, not bound to
// the X register of the same number.
TEST_F(GroupTest, UnknownRegisterNamesAreInvalidItemIds) {
  const std::vector<std::u16string> ids = {u"PLC1:Q:0", u"PLC1:Q:10|NONE", u"PLC1:DX:100", u"PLC1: D:100",
                                           u"PLC1:D:1A", u"PLC1:X:0"};
  Added a = add(ids);
  EXPECT_EQ(a.hr, S_FALSE);
  ASSERT_EQ(a.errors.size(), ids.size());
  for (std::size_t i = 0; i + 1 < ids.size(); ++i) EXPECT_EQ(a.errors[i], OPC_E_INVALIDITEMID) << narrow(ids[i]);
  EXPECT_EQ(a.errors.back(), S_OK);
  EXPECT_EQ(attributes().size(), 1u);
}

TEST_F(GroupTest, UnknownHandlesGetTheirOwnError) {
  OPCHANDLE good = add_one(u"PLC1:D:100");
  OPCHANDLE handles[3] = {good, good + 1000, 0};
  HRESULT* errors = nullptr;
  ASSERT_EQ(items->SetActiveState(3, handles, FALSE, &errors), S_FALSE);
  EXPECT_EQ(errors[0], S_OK);
  EXPECT_EQ(errors[1], OPC_E_INVALIDHANDLE);
  EXPECT_EQ(errors[2], OPC_E_INVALIDHANDLE);
  com::CoTaskMemFree(errors);
  EXPECT_EQ(item(good)->quality(), OPC_QUALITY_OUT_OF_SERVICE);
  EXPECT_FALSE(item(good)->active());

  OPCHANDLE clients[3] = {7, 8, 9};
  ASSERT_EQ(items->SetClientHandles(3, handles, clients, &errors), S_FALSE);
  com::CoTaskMemFree(errors);
  EXPECT_EQ(item(good)->client_handle(), 7u);

  VARTYPE types[3] = {VT_R8, VT_I2, VT_I2};
  ASSERT_EQ(items->SetDatatypes(3, handles, types, &errors), S_FALSE);
  com::CoTaskMemFree(errors);
  EXPECT_EQ(item(good)->requested_type(), VT_R8);
  VARTYPE refused = VT_DISPATCH;
  ASSERT_EQ(items->SetDatatypes(1, handles, &refused, &errors), S_FALSE);
  EXPECT_EQ(errors[0], OPC_E_BADTYPE);
  com::CoTaskMemFree(errors);
  EXPECT_EQ(item(good)->requested_type(), VT_R8);

  ASSERT_EQ(items->RemoveItems(3, handles, &errors), S_FALSE);
  EXPECT_EQ(errors[0], S_OK);
  com::CoTaskMemFree(errors);
  ASSERT_EQ(items->RemoveItems(1, handles, &errors), S_FALSE);
  EXPECT_EQ(errors[0], OPC_E_INVALIDHANDLE);
  com::CoTaskMemFree(errors);
}

TEST_F(GroupTest, ActivationMovesTheQuality) {
  OPCHANDLE h = add_one(u"PLC1:D:100");
  HRESULT* errors = nullptr;
  ASSERT_EQ(items->SetActiveState(1, &h, FALSE, &errors), S_OK);
  com::CoTaskMemFree(errors);
  EXPECT_EQ(item(h)->quality(), OPC_QUALITY_OUT_OF_SERVICE);
  ASSERT_EQ(items->SetActiveState(1, &h, TRUE, &errors), S_OK);
  com::CoTaskMemFree(errors);
  EXPECT_EQ(item(h)->quality(), OPC_QUALITY_BAD);  // AutoStart clears the out-of-service bits
  EXPECT_TRUE(item(h)->active());
}

TEST_F(GroupTest, ValidateItemsAddsNothing) {
  Added v = add({u"PLC1:D:100", u"PLC1:M:10", u"PLC1:D:100$20", u"bad!", u"PLC1:D:100|QQQ"}, VT_EMPTY, true);
  EXPECT_EQ(v.hr, S_FALSE);
  EXPECT_EQ(v.errors[0], S_OK);
  EXPECT_EQ(v.results[0].hServer, 0u);  // the index of the definition
  EXPECT_EQ(v.results[1].hServer, 1u);
  EXPECT_EQ(v.results[1].vtCanonicalDataType, VT_BOOL);
  EXPECT_EQ(v.results[2].vtCanonicalDataType, VT_BSTR);
  EXPECT_EQ(v.results[2].dwAccessRights, static_cast<DWORD>(OPC_READABLE | OPC_WRITEABLE));
  EXPECT_EQ(v.errors[3], OPC_E_INVALIDITEMID);
  EXPECT_EQ(v.errors[4], OPC_E_INVALIDITEMID);
  EXPECT_TRUE(attributes().empty());
  EXPECT_EQ(recorded.count("Client added 5 new tags err=0x1\n"), 0);
}

TEST_F(GroupTest, EnumeratorSnapshotsTheItems) {
  IUnknown* wrong = nullptr;
  EXPECT_EQ(items->CreateEnumerator(IID_IEnumUnknown, &wrong), E_INVALIDARG);
  EXPECT_TRUE(attributes().empty());  // S_OK on an empty group too
  OPCHANDLE a = add_one(u"PLC1:D:100");
  OPCHANDLE b = add_one(u"PLC1:M:10");
  auto list = attributes();
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0].hServer, a);
  EXPECT_EQ(list[1].hServer, b);
  EXPECT_EQ(list[1].vtCanonicalDataType, VT_BOOL);
  EXPECT_EQ(list[0].hClient, 100u);
  EXPECT_EQ(list[0].dwAccessRights, 3u);
  EXPECT_EQ(list[0].dwEUType, OPC_NOENUM);

  IEnumOPCItemAttributes* e = nullptr;
  ASSERT_EQ(items->CreateEnumerator(IID_IEnumOPCItemAttributes, reinterpret_cast<LPUNKNOWN*>(&e)), S_OK);
  EXPECT_EQ(e->Skip(2), S_FALSE);
  EXPECT_EQ(e->Skip(1), S_OK);
  IEnumOPCItemAttributes* clone = nullptr;
  ASSERT_EQ(e->Clone(&clone), S_OK);
  OPCITEMATTRIBUTES* block = nullptr;
  ULONG n = 0;
  EXPECT_EQ(clone->Next(5, &block, &n), S_FALSE);
  ASSERT_EQ(n, 1u);
  EXPECT_EQ(block[0].hServer, b);
  EXPECT_EQ(block[0].szItemID[0], 0);
  com::CoTaskMemFree(block[0].szAccessPath);
  com::CoTaskMemFree(block[0].szItemID);
  com::CoTaskMemFree(block);
  EXPECT_EQ(clone->Next(1, &block, &n), S_FALSE);
  EXPECT_EQ(n, 0u);
  clone->Release();
  // The enumerator keeps the group alive after the client let go of everything else.
  items->Release();
  items = nullptr;
  group->Release();
  group = nullptr;
  server->RemoveGroup(group_handle, FALSE);
  e->Reset();
  EXPECT_EQ(e->Next(1, &block, &n), S_OK);
  com::CoTaskMemFree(block[0].szAccessPath);
  com::CoTaskMemFree(block[0].szItemID);
  com::CoTaskMemFree(block);
  e->Release();
}

TEST_F(GroupTest, DeadbandManagement) {
  auto* deadband = query<IOPCItemDeadbandMgt>(group, IID_IOPCItemDeadbandMgt);
  OPCHANDLE analog = add_one(u"PLC1:D:100|NONE,0,200");
  OPCHANDLE digital = add_one(u"PLC1:M:10");
  OPCHANDLE handles[3] = {analog, digital, 4242};
  HRESULT* errors = nullptr;
  FLOAT* values = nullptr;

  ASSERT_EQ(deadband->GetItemDeadband(3, handles, &values, &errors), S_FALSE);
  EXPECT_EQ(errors[0], OPC_E_DEADBANDNOTSET);
  EXPECT_EQ(values[0], 0.0f);
  EXPECT_EQ(errors[1], OPC_E_DEADBANDNOTSUPPORTED);
  EXPECT_EQ(errors[2], OPC_E_INVALIDHANDLE);
  com::CoTaskMemFree(values);
  com::CoTaskMemFree(errors);

  FLOAT set[3] = {250.0f, 5.0f, 5.0f};  // no range check on items
  ASSERT_EQ(deadband->SetItemDeadband(3, handles, set, &errors), S_FALSE);
  EXPECT_EQ(errors[0], S_OK);
  EXPECT_EQ(errors[1], OPC_E_DEADBANDNOTSUPPORTED);
  com::CoTaskMemFree(errors);
  EXPECT_EQ(item(analog)->absolute_deadband(), 500.0f);

  // A group deadband through IOPCGroupStateMgt reaches only items without their own.
  OPCHANDLE follower = add_one(u"PLC1:D:101|NONE,0,1000");
  FLOAT group_db = 10.0f;
  ASSERT_EQ(group->SetState(nullptr, nullptr, nullptr, nullptr, &group_db, nullptr, nullptr), S_OK);
  EXPECT_EQ(item(follower)->percent_deadband(), 10.0f);
  EXPECT_EQ(item(follower)->absolute_deadband(), 100.0f);
  EXPECT_EQ(item(analog)->percent_deadband(), 250.0f);
  // Through IOPCGroupStateMgt2 only the group changes.
  auto* state2 = query<IOPCGroupStateMgt2>(group, IID_IOPCGroupStateMgt2);
  FLOAT group_db2 = 20.0f;
  ASSERT_EQ(state2->SetState(nullptr, nullptr, nullptr, nullptr, &group_db2, nullptr, nullptr), S_OK);
  EXPECT_EQ(item(follower)->percent_deadband(), 10.0f);

  ASSERT_EQ(deadband->ClearItemDeadband(2, handles, &errors), S_FALSE);
  EXPECT_EQ(errors[0], S_OK);
  com::CoTaskMemFree(errors);
  EXPECT_FALSE(item(analog)->deadband_explicit());
  EXPECT_EQ(item(analog)->percent_deadband(), 20.0f);
  ASSERT_EQ(deadband->ClearItemDeadband(1, handles, &errors), S_OK);  // also when none was set
  com::CoTaskMemFree(errors);

  EXPECT_EQ(deadband->SetItemDeadband(0, handles, set, &errors), E_INVALIDARG);
  EXPECT_EQ(deadband->SetItemDeadband(1, handles, nullptr, &errors), E_INVALIDARG);
  EXPECT_EQ(deadband->GetItemDeadband(1, handles, nullptr, &errors), E_INVALIDARG);
  EXPECT_EQ(deadband->GetItemDeadband(1, handles, &values, nullptr), E_INVALIDARG);
  EXPECT_EQ(values, nullptr);
  state2->Release();
  deadband->Release();
}

TEST_F(GroupTest, SetStateAndKeepAlive) {
  DWORD requested = 10, revised = 0;
  EXPECT_EQ(group->SetState(&requested, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr), E_INVALIDARG);
  EXPECT_EQ(group->SetState(&requested, &revised, nullptr, nullptr, nullptr, nullptr, nullptr), OPC_S_UNSUPPORTEDRATE);
  EXPECT_EQ(revised, 40u);
  FLOAT bad = 150.0f;
  BOOL inactive = FALSE;
  OPCHANDLE client = 9;
  LCID lcid = 1033;
  LONG bias = 120;
  EXPECT_EQ(group->SetState(nullptr, nullptr, &inactive, &bias, &bad, &lcid, &client), E_INVALIDARG);
  DWORD rate;
  BOOL active;
  FLOAT db;
  LCID got_lcid;
  OPCHANDLE got_client;
  LONG got_bias;
  ASSERT_EQ(group->GetState(&rate, &active, nullptr, &got_bias, &db, &got_lcid, &got_client, nullptr), S_OK);
  EXPECT_EQ(rate, 40u);
  EXPECT_EQ(active, FALSE);  // the other values were applied
  EXPECT_EQ(db, 0.0f);
  EXPECT_EQ(got_lcid, 1033u);
  EXPECT_EQ(got_client, 9u);
  EXPECT_EQ(got_bias, 120);

  auto* state2 = query<IOPCGroupStateMgt2>(group, IID_IOPCGroupStateMgt2);
  DWORD keep = 0;
  EXPECT_EQ(state2->SetKeepAlive(500, &keep), OPC_S_UNSUPPORTEDRATE);
  EXPECT_EQ(keep, 1000u);
  EXPECT_EQ(state2->SetKeepAlive(4000000, &keep), OPC_S_UNSUPPORTEDRATE);
  EXPECT_EQ(keep, 1000u);
  EXPECT_EQ(state2->SetKeepAlive(3600000, &keep), S_OK);
  EXPECT_EQ(state2->SetKeepAlive(0, &keep), OPC_S_UNSUPPORTEDRATE);
  EXPECT_EQ(keep, 1000u);
  EXPECT_EQ(state2->SetKeepAlive(2000, nullptr), E_INVALIDARG);
  EXPECT_EQ(state2->GetKeepAlive(&keep), S_OK);
  EXPECT_EQ(keep, 1000u);
  EXPECT_EQ(state2->GetKeepAlive(nullptr), E_INVALIDARG);
  state2->Release();
}

TEST_F(GroupTest, RenamingAndCloning) {
  EXPECT_EQ(group->SetName(u"G"), OPC_E_DUPLICATENAME);
  EXPECT_EQ(group->SetName(u""), E_INVALIDARG);
  EXPECT_EQ(group->SetName(nullptr), E_INVALIDARG);
  IOPCGroupStateMgt* other;
  ASSERT_EQ(add_group(u"Other", &other), S_OK);
  EXPECT_EQ(group->SetName(u"Other"), OPC_E_DUPLICATENAME);
  EXPECT_EQ(group->SetName(u"Renamed"), S_OK);
  IUnknown* found = nullptr;
  ASSERT_EQ(server->GetGroupByName(u"Renamed", IID_IUnknown, &found), S_OK);
  found->Release();

  OPCHANDLE a = add_one(u"PLC1:D:100|LIN,0,100,,degC");
  OPCHANDLE b = add_one(u"PLC1:M:10|NONE,Off,On");
  FLOAT db = 5.0f;
  ASSERT_EQ(group->SetState(nullptr, nullptr, nullptr, nullptr, &db, nullptr, nullptr), S_OK);

  IUnknown* clone_unk = reinterpret_cast<IUnknown*>(1);
  EXPECT_EQ(group->CloneGroup(nullptr, IID_IUnknown, &clone_unk), E_INVALIDARG);
  EXPECT_EQ(clone_unk, nullptr);
  EXPECT_EQ(group->CloneGroup(u"Other", IID_IUnknown, &clone_unk), OPC_E_DUPLICATENAME);
  EXPECT_EQ(group->CloneGroup(u"x", IID_IOPCServer, &clone_unk), E_NOINTERFACE);
  ASSERT_EQ(group->CloneGroup(u"", IID_IOPCItemMgt, &clone_unk), S_OK);
  auto* clone_items = static_cast<IOPCItemMgt*>(static_cast<void*>(clone_unk));
  auto* clone_state = query<IOPCGroupStateMgt>(clone_items, IID_IOPCGroupStateMgt);
  LPWSTR name = nullptr;
  BOOL active = TRUE;
  FLOAT clone_db = 0;
  OPCHANDLE clone_handle = 0;
  ASSERT_EQ(clone_state->GetState(nullptr, &active, &name, nullptr, &clone_db, nullptr, nullptr, &clone_handle), S_OK);
  EXPECT_EQ(std::u16string(name), u"Group3");  // "G" and "Other" counted
  com::CoTaskMemFree(name);
  EXPECT_EQ(active, FALSE);
  EXPECT_EQ(clone_db, 5.0f);
  EXPECT_NE(clone_handle, group_handle);
  auto list = attributes(clone_items);
  ASSERT_EQ(list.size(), 2u);
  EXPECT_NE(list[0].hServer, a);
  EXPECT_NE(list[1].hServer, b);
  EXPECT_EQ(list[0].hClient, 100u);
  EXPECT_EQ(list[1].vtCanonicalDataType, VT_BOOL);
  // The clone's items are its own: removing the source's leaves them.
  HRESULT* errors = nullptr;
  OPCHANDLE both[2] = {a, b};
  ASSERT_EQ(items->RemoveItems(2, both, &errors), S_OK);
  com::CoTaskMemFree(errors);
  EXPECT_EQ(attributes(clone_items).size(), 2u);
  clone_state->Release();
  clone_items->Release();
  other->Release();
}

TEST_F(GroupTest, AGroupOutlivesItsServerReferenceAndItsRemoval) {
  add_one(u"PLC1:D:100");
  server->Release();
  server = nullptr;
  // Still served: the group holds the server.
  EXPECT_EQ(attributes().size(), 1u);
  EXPECT_EQ(can_unload_now(), S_FALSE);
}

TEST_F(GroupTest, ForcedRemovalEmptiesAGroupStillReferenced) {
  add_one(u"PLC1:D:100");
  ASSERT_EQ(server->RemoveGroup(group_handle, TRUE), S_OK);
  OPCHANDLE h = 1;
  HRESULT* errors = nullptr;
  EXPECT_EQ(items->RemoveItems(1, &h, &errors), E_FAIL);
  EXPECT_EQ(errors, nullptr);
  IUnknown* e = nullptr;
  EXPECT_EQ(items->CreateEnumerator(IID_IEnumOPCItemAttributes, &e), E_FAIL);
}

TEST_F(GroupTest, GroupInterfaces) {
  void* out = reinterpret_cast<void*>(1);
  for (const IID* iid : {&IID_IOPCPublicGroupStateMgt, &IID_IOPCItemSamplingMgt, &IID_IOPCServer})
    EXPECT_EQ(group->QueryInterface(*iid, &out), E_NOINTERFACE);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(group->QueryInterface(IID_IOPCItemMgt, nullptr), E_INVALIDARG);
}

}  // namespace
}  // namespace hbt::opc::testing
