// IOPCSyncIO(2) and IOPCAsyncIO2/3 of a group: results per item, the completions made inside
// the call, and the answers to bad handles, empty values and a missing callback.
#include <cstring>

#include "com/bstr.h"
#include "com/safearray.h"
#include "opc/data_test_support.h"

namespace hbt::opc::testing {
namespace {

class GroupIoTest : public DataTest {
 protected:
  void SetUp() override {
    DataTest::SetUp();
    ticker = std::make_unique<WatchdogTicker>(*plant);
    wait_alive(1);
  }
  void TearDown() override {
    ticker.reset();
    DataTest::TearDown();
  }
  std::unique_ptr<WatchdogTicker> ticker;

  // The data-change call of a refresh (subscription calls carry transaction 0).
  Callback with_transaction(DWORD id) {
    for (const Callback& c : sink.calls(Callback::kChange))
      if (c.transaction == id) return c;
    ADD_FAILURE() << "no refresh " << id;
    return Callback{Callback::kChange};
  }
};

TEST_F(GroupIoTest, SyncReadsComeFromTheDeviceWhateverTheSource) {
  std::vector<OPCHANDLE> h = add({u"PLC1:D:100|NONE"});
  std::vector<OPCHANDLE> idle = add({u"PLC1:D:101|NONE"}, false, 50);
  auto* sync = as<IOPCSyncIO>(group, IID_IOPCSyncIO);
  plant->set_word(kWordRecord, 0, 321);
  plant->set_word(kWordRecord, 1, 654);
  OPCHANDLE handles[3] = {h[0], idle[0], 0xDEAD};
  OPCITEMSTATE* states = nullptr;
  HRESULT* errors = nullptr;
  ASSERT_EQ(sync->Read(OPC_DS_CACHE, 3, handles, &states, &errors), S_FALSE);
  EXPECT_EQ(errors[0], S_OK);
  EXPECT_EQ(errors[1], S_OK) << "an inactive item read from the device";
  EXPECT_EQ(errors[2], OPC_E_INVALIDHANDLE);
  EXPECT_EQ(states[0].hClient, 0u);
  EXPECT_EQ(states[0].vDataValue.fltVal, 321.0f);
  EXPECT_EQ(states[0].wQuality, OPC_QUALITY_GOOD);
  EXPECT_EQ(states[1].hClient, 50u);
  EXPECT_EQ(states[1].vDataValue.fltVal, 654.0f);
  EXPECT_EQ(states[2].vDataValue.vt, VT_EMPTY);
  EXPECT_EQ(states[2].wQuality, 0);
  for (int i = 0; i < 3; ++i) com::VariantClear(&states[i].vDataValue);
  com::CoTaskMemFree(states);
  com::CoTaskMemFree(errors);

  EXPECT_EQ(sync->Read(OPC_DS_DEVICE, 0, handles, &states, &errors), E_INVALIDARG);
  EXPECT_EQ(sync->Read(OPC_DS_DEVICE, 1, nullptr, &states, &errors), E_INVALIDARG);
  EXPECT_EQ(sync->Read(OPC_DS_DEVICE, 1, handles, nullptr, &errors), E_INVALIDARG);
  EXPECT_EQ(sync->Read(OPC_DS_DEVICE, 1, handles, &states, nullptr), E_INVALIDARG);
  sync->Release();

  auto* sync2 = as<IOPCSyncIO2>(group, IID_IOPCSyncIO2);
  DWORD ages[3] = {0, 0, 0};
  VARIANT* values = nullptr;
  WORD* qualities = nullptr;
  FILETIME* stamps = nullptr;
  EXPECT_EQ(sync2->ReadMaxAge(3, handles, nullptr, &values, &qualities, &stamps, &errors), E_INVALIDARG);
  ASSERT_EQ(sync2->ReadMaxAge(3, handles, ages, &values, &qualities, &stamps, &errors), S_FALSE);
  EXPECT_EQ(values[0].fltVal, 321.0f);
  EXPECT_EQ(qualities[1], OPC_QUALITY_GOOD);
  EXPECT_EQ(errors[2], OPC_E_INVALIDHANDLE);
  EXPECT_EQ(values[2].vt, VT_EMPTY);
  EXPECT_EQ(qualities[2], 0);
  EXPECT_EQ(stamps[2].dwLowDateTime | stamps[2].dwHighDateTime, 0u);
  EXPECT_NE(stamps[0].dwLowDateTime | stamps[0].dwHighDateTime, 0u);
  for (int i = 0; i < 3; ++i) com::VariantClear(&values[i]);
  for (void* p : {static_cast<void*>(values), static_cast<void*>(qualities), static_cast<void*>(stamps),
                  static_cast<void*>(errors)})
    com::CoTaskMemFree(p);
  sync2->Release();
}

// A value that cannot become the requested type fails in its own slot of every read, and the
// call says some slot failed: synchronous reads, completions and subscription callbacks alike.
TEST_F(GroupIoTest, AValueThatCannotBecomeTheRequestedTypeFailsItsSlot) {
  std::vector<OPCHANDLE> fits = add({u"PLC1:D:100|NONE"}, true, 1, nullptr, VT_I2);
  std::vector<OPCHANDLE> overflows = add({u"PLC1:D:300|NONE"}, true, 2, nullptr, VT_I2);
  std::vector<OPCHANDLE> not_a_number = add({u"PLC1:D:200$4"}, true, 3, nullptr, VT_R8);
  plant->set_word(kWordRecord, 0, 12);
  set_float(0, 1e6f);
  std::memcpy(plant->area(1, 1), "ABCD", 4);
  OPCHANDLE handles[3] = {fits[0], overflows[0], not_a_number[0]};
  const std::vector<HRESULT> expected = {S_OK, OPC_E_RANGE, OPC_E_BADTYPE};

  auto* sync = as<IOPCSyncIO2>(group, IID_IOPCSyncIO2);
  OPCITEMSTATE* states = nullptr;
  HRESULT* errors = nullptr;
  ASSERT_EQ(sync->Read(OPC_DS_DEVICE, 3, handles, &states, &errors), S_FALSE);
  EXPECT_EQ(std::vector<HRESULT>(errors, errors + 3), expected);
  EXPECT_EQ(states[0].vDataValue.vt, VT_I2);
  for (int i : {1, 2}) {
    EXPECT_EQ(states[i].vDataValue.vt, VT_EMPTY) << i;
    EXPECT_EQ(states[i].wQuality, OPC_QUALITY_BAD) << i;
    EXPECT_EQ(states[i].hClient, static_cast<OPCHANDLE>(i + 1)) << i;
  }
  for (int i = 0; i < 3; ++i) com::VariantClear(&states[i].vDataValue);
  com::CoTaskMemFree(states);
  com::CoTaskMemFree(errors);
  DWORD ages[3] = {};
  VARIANT* values = nullptr;
  WORD* qualities = nullptr;
  FILETIME* stamps = nullptr;
  ASSERT_EQ(sync->ReadMaxAge(3, handles, ages, &values, &qualities, &stamps, &errors), S_FALSE);
  EXPECT_EQ(std::vector<HRESULT>(errors, errors + 3), expected);
  for (int i = 0; i < 3; ++i) com::VariantClear(&values[i]);
  for (void* p : {static_cast<void*>(values), static_cast<void*>(qualities), static_cast<void*>(stamps),
                  static_cast<void*>(errors)})
    com::CoTaskMemFree(p);
  sync->Release();

  ASSERT_EQ(advise(group, &sink), S_OK);
  ASSERT_TRUE(eventually([&] { return sink.changed_items() >= 3; })) << "the first report of every item";
  for (const Callback& c : sink.calls(Callback::kChange)) {
    for (std::size_t i = 0; i < c.clients.size(); ++i) {
      EXPECT_EQ(c.errors[i], expected[c.clients[i] - 1]) << "client " << c.clients[i];
    }
    EXPECT_EQ(c.master_error, S_FALSE);
  }
  auto* async = as<IOPCAsyncIO2>(group, IID_IOPCAsyncIO2);
  DWORD cancel = 0;
  ASSERT_EQ(async->Read(3, handles, 21, &cancel, &errors), S_FALSE);
  EXPECT_EQ(std::vector<HRESULT>(errors, errors + 3), expected);
  com::CoTaskMemFree(errors);
  Callback read = sink.calls(Callback::kRead).back();
  EXPECT_EQ(read.errors, expected);
  EXPECT_EQ(read.master_error, S_FALSE);
  EXPECT_EQ(read.master_quality, S_FALSE);
  async->Release();
  ASSERT_EQ(unadvise(group), S_OK);
}

TEST_F(GroupIoTest, SyncWritesAnswerPerItem) {
  std::vector<OPCHANDLE> h = add({u"PLC1:D:104|NONE", u"PLC1:D:200$4"});
  IOPCItemMgt* other_items = nullptr;
  IOPCGroupStateMgt* other = nullptr;
  ASSERT_EQ(add_group(u"Other", &other), S_OK);
  other_items = query<IOPCItemMgt>(other, IID_IOPCItemMgt);
  std::vector<OPCHANDLE> foreign = add({u"PLC1:D:105|NONE"}, true, 0, other_items);

  auto* sync2 = as<IOPCSyncIO2>(group, IID_IOPCSyncIO2);
  VARIANT values[4];
  for (VARIANT& v : values) com::VariantInit(&v);
  values[0].vt = VT_I4;
  values[0].lVal = 777;
  values[2].vt = VT_ARRAY | VT_R4;  // a text item refuses an array
  values[2].parray = com::SafeArrayCreateVector(VT_R4, 0, 2);
  values[3].vt = VT_I4;
  OPCHANDLE handles[4] = {h[0], h[0], h[1], foreign[0]};
  HRESULT* errors = nullptr;
  ASSERT_EQ(sync2->Write(4, handles, values, &errors), S_FALSE);
  EXPECT_EQ(errors[0], S_OK);
  EXPECT_EQ(errors[1], OPC_E_BADTYPE);
  EXPECT_EQ(errors[2], E_FAIL);
  EXPECT_EQ(errors[3], OPC_E_INVALIDHANDLE) << "a handle of another group";
  com::CoTaskMemFree(errors);
  EXPECT_EQ(plant->word(kWordRecord, 2, 4), 777);
  EXPECT_EQ(plant->word(kWordRecord, 2, 5), 0) << "nothing written through the foreign handle";

  OPCITEMVQT vqt[2] = {};
  vqt[0].vDataValue.vt = VT_R8;
  vqt[0].vDataValue.dblVal = 31;
  ASSERT_EQ(sync2->WriteVQT(2, handles, vqt, &errors), S_FALSE);
  EXPECT_EQ(errors[0], S_OK);
  EXPECT_EQ(errors[1], OPC_E_BADTYPE);
  com::CoTaskMemFree(errors);
  EXPECT_EQ(plant->word(kWordRecord, 2, 4), 31);
  EXPECT_EQ(sync2->Write(1, handles, nullptr, &errors), E_INVALIDARG);
  EXPECT_EQ(sync2->WriteVQT(0, handles, vqt, &errors), E_INVALIDARG);
  com::VariantClear(&values[2]);
  sync2->Release();
  other_items->Release();
  other->Release();
}

// A value held at the edge of its range, or a text cut to the item's length, is written and
// reported as OPC_S_CLAMP: a success that tells the client the PLC has another value than sent.
TEST_F(GroupIoTest, WritesThatHadToChangeTheValueSaySo) {
  std::vector<OPCHANDLE> h = add({u"PLC1:D:104|NONE", u"PLC1:D:200$4", u"PLC1:D:105|NONE"}, true, 1);
  VARIANT values[3];
  for (VARIANT& v : values) com::VariantInit(&v);
  values[0].vt = VT_I4;
  values[0].lVal = -5;
  values[1].vt = VT_BSTR;
  values[1].bstrVal = com::SysAllocString(u"ABCDEFGH");
  values[2].vt = VT_I4;
  values[2].lVal = 9;
  auto* sync = as<IOPCSyncIO>(group, IID_IOPCSyncIO);
  HRESULT* errors = nullptr;
  ASSERT_EQ(sync->Write(3, h.data(), values, &errors), S_OK) << "every write was made";
  EXPECT_EQ(std::vector<HRESULT>(errors, errors + 3), (std::vector<HRESULT>{OPC_S_CLAMP, OPC_S_CLAMP, S_OK}));
  com::CoTaskMemFree(errors);
  EXPECT_EQ(plant->word(kWordRecord, 2, 4), 0);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(plant->area(1, 2)), 4), "ABCD");
  EXPECT_EQ(plant->word(kWordRecord, 2, 5), 9);
  sync->Release();

  auto* sync2 = as<IOPCSyncIO2>(group, IID_IOPCSyncIO2);
  OPCITEMVQT vqt{};
  vqt.vDataValue.vt = VT_R8;
  vqt.vDataValue.dblVal = 1e6;
  ASSERT_EQ(sync2->WriteVQT(1, h.data(), &vqt, &errors), S_OK);
  EXPECT_EQ(errors[0], OPC_S_CLAMP);
  com::CoTaskMemFree(errors);
  EXPECT_EQ(plant->word(kWordRecord, 2, 4), 65535);
  sync2->Release();

  ASSERT_EQ(advise(group, &sink), S_OK);
  auto* async = as<IOPCAsyncIO2>(group, IID_IOPCAsyncIO2);
  DWORD cancel = 0;
  ASSERT_EQ(async->Write(3, h.data(), values, 31, &cancel, &errors), S_FALSE);
  EXPECT_EQ(std::vector<HRESULT>(errors, errors + 3), (std::vector<HRESULT>{OPC_S_CLAMP, OPC_S_CLAMP, S_OK}));
  com::CoTaskMemFree(errors);
  Callback write = sink.calls(Callback::kWrite).back();
  EXPECT_EQ(write.errors, (std::vector<HRESULT>{OPC_S_CLAMP, OPC_S_CLAMP, S_OK}));
  EXPECT_EQ(write.master_error, S_FALSE) << "not every item was written as it came";
  async->Release();
  ASSERT_EQ(unadvise(group), S_OK);
  for (VARIANT& v : values) com::VariantClear(&v);
}

// This server writes values only: a WriteVQT entry that asks for a quality or a timestamp is
// refused whole with OPC_E_NOTSUPPORTED, and its value is not written.
TEST_F(GroupIoTest, QualityOrTimestampInAWriteIsNotSupported) {
  std::vector<OPCHANDLE> h = add({u"PLC1:D:104|NONE", u"PLC1:D:105|NONE", u"PLC1:D:106|NONE"}, true, 1);
  OPCITEMVQT vqt[3] = {};
  for (int i = 0; i < 3; ++i) {
    vqt[i].vDataValue.vt = VT_I4;
    vqt[i].vDataValue.lVal = 40 + i;
  }
  vqt[0].bQualitySpecified = TRUE;
  vqt[0].wQuality = OPC_QUALITY_GOOD;
  vqt[1].bTimeStampSpecified = 2;  // any non-zero BOOL
  vqt[1].ftTimeStamp = {1, 2};
  const std::vector<HRESULT> expected = {OPC_E_NOTSUPPORTED, OPC_E_NOTSUPPORTED, S_OK};
  auto* sync2 = as<IOPCSyncIO2>(group, IID_IOPCSyncIO2);
  HRESULT* errors = nullptr;
  ASSERT_EQ(sync2->WriteVQT(3, h.data(), vqt, &errors), S_FALSE);
  EXPECT_EQ(std::vector<HRESULT>(errors, errors + 3), expected);
  com::CoTaskMemFree(errors);
  EXPECT_EQ(plant->word(kWordRecord, 2, 4), 0) << "nothing written for a quality";
  EXPECT_EQ(plant->word(kWordRecord, 2, 5), 0) << "nothing written for a timestamp";
  EXPECT_EQ(plant->word(kWordRecord, 2, 6), 42);
  EXPECT_EQ(plant->word(kWordRecord, 3, 4), 0) << "and nothing queued";
  sync2->Release();

  ASSERT_EQ(advise(group, &sink), S_OK);
  auto* async = as<IOPCAsyncIO3>(group, IID_IOPCAsyncIO3);
  DWORD cancel = 0;
  ASSERT_EQ(async->WriteVQT(3, h.data(), vqt, 32, &cancel, &errors), S_FALSE);
  EXPECT_EQ(std::vector<HRESULT>(errors, errors + 3), expected);
  com::CoTaskMemFree(errors);
  EXPECT_EQ(sink.calls(Callback::kWrite).back().errors, expected);
  async->Release();
  ASSERT_EQ(unadvise(group), S_OK);
}

TEST_F(GroupIoTest, AsyncRequestsCompleteInsideTheCall) {
  std::vector<OPCHANDLE> h = add({u"PLC1:D:100|NONE", u"PLC1:D:101|NONE"}, true, 10);
  std::vector<OPCHANDLE> idle = add({u"PLC1:D:102|NONE"}, false, 20);
  auto* async = as<IOPCAsyncIO3>(group, IID_IOPCAsyncIO3);
  OPCHANDLE handles[3] = {h[0], h[1], 0xBAD};
  DWORD cancel = 0;
  HRESULT* errors = nullptr;
  EXPECT_EQ(async->Read(3, handles, 5, &cancel, &errors), CONNECT_E_NOCONNECTION);
  EXPECT_EQ(async->Refresh2(OPC_DS_DEVICE, 5, &cancel), CONNECT_E_NOCONNECTION);
  EXPECT_EQ(async->Cancel2(11), CONNECT_E_NOCONNECTION);
  EXPECT_EQ(errors, nullptr);

  ASSERT_EQ(advise(group, &sink), S_OK);
  plant->set_word(kWordRecord, 0, 1);
  plant->set_word(kWordRecord, 1, 2);
  plant->set_word(kWordRecord, 2, 3);
  sink.clear();

  ASSERT_EQ(async->Read(3, handles, 5, &cancel, &errors), S_FALSE);
  EXPECT_EQ(cancel, 11u);
  ASSERT_EQ(sink.count(Callback::kRead), 1u) << "completed before the call returned";
  Callback read = sink.calls(Callback::kRead)[0];
  EXPECT_EQ(read.transaction, 5u);
  EXPECT_EQ(read.group, 77u);
  EXPECT_EQ(read.master_quality, S_FALSE);
  EXPECT_EQ(read.master_error, S_FALSE);
  EXPECT_EQ(read.clients, (std::vector<OPCHANDLE>{10, 11, 0}));
  EXPECT_EQ(read.values[0], 1.0);
  EXPECT_EQ(read.values[1], 2.0);
  EXPECT_EQ(read.qualities[2], 0);
  EXPECT_EQ(read.errors[2], OPC_E_INVALIDHANDLE);
  EXPECT_EQ(errors[2], OPC_E_INVALIDHANDLE);
  com::CoTaskMemFree(errors);

  // Nothing readable: no completion.
  ASSERT_EQ(async->Read(1, &handles[2], 6, &cancel, &errors), S_FALSE);
  EXPECT_EQ(sink.count(Callback::kRead), 1u);
  com::CoTaskMemFree(errors);
  DWORD ages[2] = {};
  ASSERT_EQ(async->ReadMaxAge(2, handles, ages, 7, &cancel, &errors), S_OK);
  EXPECT_EQ(cancel, 11u);
  EXPECT_EQ(sink.calls(Callback::kRead).back().master_quality, S_OK);
  com::CoTaskMemFree(errors);

  // Refresh2 reads every item, the inactive one too.
  ASSERT_EQ(async->Refresh2(OPC_DS_CACHE, 8, &cancel), S_OK);
  EXPECT_EQ(cancel, 88u);
  Callback refresh = with_transaction(8);
  EXPECT_EQ(refresh.transaction, 8u);
  EXPECT_EQ(refresh.clients, (std::vector<OPCHANDLE>{10, 11, 20}));
  EXPECT_EQ(refresh.values[2], 3.0);
  ASSERT_EQ(async->RefreshMaxAge(0, 9, &cancel), S_OK);
  EXPECT_EQ(with_transaction(9).clients.size(), 3u);

  // Writes: cancel id 99, one completion with the per-item results.
  VARIANT values[3];
  for (VARIANT& v : values) com::VariantInit(&v);
  values[0].vt = VT_R4;
  values[0].fltVal = 44;
  ASSERT_EQ(async->Write(3, handles, values, 10, &cancel, &errors), S_FALSE);
  EXPECT_EQ(cancel, 99u);
  Callback write = sink.calls(Callback::kWrite).back();
  EXPECT_EQ(write.transaction, 10u);
  EXPECT_EQ(write.master_error, S_FALSE);
  EXPECT_EQ(write.errors, (std::vector<HRESULT>{S_OK, OPC_E_BADTYPE, OPC_E_INVALIDHANDLE}));
  EXPECT_EQ(write.clients, (std::vector<OPCHANDLE>{10, 11, 0}));
  com::CoTaskMemFree(errors);
  EXPECT_EQ(plant->word(kWordRecord, 2, 0), 44);
  // No write succeeded: no completion.
  std::size_t writes = sink.count(Callback::kWrite);
  ASSERT_EQ(async->Write(1, &handles[1], values + 1, 11, &cancel, &errors), S_FALSE);
  EXPECT_EQ(sink.count(Callback::kWrite), writes);
  com::CoTaskMemFree(errors);
  OPCITEMVQT vqt{};
  vqt.vDataValue.vt = VT_I2;
  vqt.vDataValue.iVal = 45;
  ASSERT_EQ(async->WriteVQT(1, handles, &vqt, 12, &cancel, &errors), S_OK);
  EXPECT_EQ(sink.calls(Callback::kWrite).back().master_error, S_OK);
  com::CoTaskMemFree(errors);

  EXPECT_EQ(async->Cancel2(11), E_FAIL);
  EXPECT_EQ(async->Cancel2(99), E_FAIL);

  // The callback's failure and exception come back to the caller, with nothing to free.
  sink.set_hook([](const Callback&) { return E_ABORT; });
  errors = nullptr;
  EXPECT_EQ(async->Read(2, handles, 13, &cancel, &errors), E_ABORT);
  EXPECT_EQ(errors, nullptr);
  EXPECT_EQ(async->Refresh2(OPC_DS_DEVICE, 13, &cancel), E_ABORT);
  sink.set_hook([](const Callback&) -> HRESULT { throw 42; });
  EXPECT_EQ(async->Read(2, handles, 14, &cancel, &errors), RPC_E_SERVERFAULT);
  EXPECT_EQ(async->Write(1, handles, values, 14, &cancel, &errors), RPC_E_SERVERFAULT);
  EXPECT_EQ(async->Refresh2(OPC_DS_DEVICE, 14, &cancel), RPC_E_SERVERFAULT);
  EXPECT_EQ(errors, nullptr);
  sink.set_hook(nullptr);

  EXPECT_EQ(async->Read(0, handles, 1, &cancel, &errors), E_INVALIDARG);
  EXPECT_EQ(async->Read(1, handles, 1, nullptr, &errors), E_INVALIDARG);
  EXPECT_EQ(async->Refresh2(OPC_DS_DEVICE, 1, nullptr), E_INVALIDARG);
  EXPECT_EQ(async->ReadMaxAge(1, handles, nullptr, 1, &cancel, &errors), E_INVALIDARG);
  async->Release();
  ASSERT_EQ(unadvise(group), S_OK);
}

}  // namespace
}  // namespace hbt::opc::testing
