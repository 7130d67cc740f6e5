// IOPCItemIO on the server object: reads from the device and writes by item ID, with IDs
// that do not bind answered in their own slots.
#include "opc/direct_item_io.h"

#include <chrono>
#include <thread>

#include "com/safearray.h"
#include "com/task_memory.h"
#include "com/variant.h"
#include "opc/test_server.h"
#include "testsupport/by_value.h"

namespace hbt::opc::testing {
namespace {

using testsupport::by_value;

constexpr int kWordRecord = 0;  // PLC1 D100..D109, unsigned
constexpr int kPlc2Record = 12;  // PLC2 D0..D99, unsigned

struct ReadOut {
  HRESULT hr = E_FAIL;
  std::vector<VARIANT> values;
  std::vector<WORD> qualities;
  std::vector<FILETIME> stamps;
  std::vector<HRESULT> errors;
  ~ReadOut() {
    for (VARIANT& v : values) com::VariantClear(&v);
  }
};

bool is_zero(const FILETIME& ft) { return ft.dwLowDateTime == 0 && ft.dwHighDateTime == 0; }

class DirectItemIoTest : public ServerTest {
 protected:
  IOPCItemIO* io = nullptr;

  void SetUp() override {
    ServerTest::SetUp();
    io = query<IOPCItemIO>(server, IID_IOPCItemIO);
    ASSERT_NE(io, nullptr);
  }
  void TearDown() override {
    if (io) io->Release();
    ServerTest::TearDown();
  }
  bool poller_seen_alive() {
    for (int i = 0; i < 1000 && library().alive.load() == 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return library().alive.load() != 0;
  }

  void read(const std::vector<LPCWSTR>& ids, ReadOut* out) {
    VARIANT* values = nullptr;
    WORD* qualities = nullptr;
    FILETIME* stamps = nullptr;
    HRESULT* errors = nullptr;
    std::vector<DWORD> ages(ids.size(), 0);
    out->hr = io->Read(static_cast<DWORD>(ids.size()), const_cast<LPCWSTR*>(ids.data()), ages.data(), &values,
                       &qualities, &stamps, &errors);
    if (FAILED(out->hr)) return;
    out->values.assign(values, values + ids.size());
    out->qualities.assign(qualities, qualities + ids.size());
    out->stamps.assign(stamps, stamps + ids.size());
    out->errors.assign(errors, errors + ids.size());
    for (void* block : {static_cast<void*>(values), static_cast<void*>(qualities), static_cast<void*>(stamps),
                        static_cast<void*>(errors)})
      com::CoTaskMemFree(block);
  }

  std::vector<HRESULT> write(const std::vector<LPCWSTR>& ids, std::vector<OPCITEMVQT>& vqts, HRESULT* hr) {
    HRESULT* errors = nullptr;
    *hr = io->WriteVQT(static_cast<DWORD>(ids.size()), const_cast<LPCWSTR*>(ids.data()), vqts.data(), &errors);
    std::vector<HRESULT> out;
    if (errors) out.assign(errors, errors + ids.size());
    com::CoTaskMemFree(errors);
    return out;
  }
};

TEST_F(DirectItemIoTest, ReadsEachIdFromTheDeviceAndSlotsTheIdsThatDoNotBind) {
  WatchdogTicker poller(*plant);
  ASSERT_TRUE(poller_seen_alive());
  plant->set_word(kWordRecord, 2, 777);
  plant->set_word(kPlc2Record, 50, 31000);
  const std::u16string too_long = u"PLC1:D:100|" + std::u16string(60, u' ');
  ReadOut r;
  read({u"PLC1:D:102|NONE,0,1000", u"PLC9:D:0", nullptr, u"PLC2:D:50|NONE,0,65535", too_long.c_str(), u"",
        u"PLC1:D:200$6", u"PLC1:X:0"},
       &r);
  ASSERT_EQ(r.hr, S_OK);  // binding failures show only in their slots
  ASSERT_EQ(r.values[0].vt, VT_R4);
  EXPECT_EQ(r.values[0].fltVal, 777.0f);
  EXPECT_EQ(r.qualities[0], OPC_QUALITY_GOOD);
  EXPECT_FALSE(is_zero(r.stamps[0]));
  EXPECT_EQ(r.errors[0], S_OK);
  EXPECT_EQ(r.values[3].fltVal, 31000.0f);
  EXPECT_EQ(r.values[6].vt, VT_BSTR);
  EXPECT_EQ(r.values[7].vt, VT_BOOL);
  for (int bad : {1, 2, 4, 5}) {
    EXPECT_EQ(r.errors[bad], OPC_E_INVALIDITEMID) << bad;
    EXPECT_EQ(r.qualities[bad], OPC_QUALITY_CONFIG_ERROR) << bad;
    EXPECT_TRUE(is_zero(r.stamps[bad])) << bad;
    EXPECT_EQ(r.values[bad].vt, VT_EMPTY) << bad;
  }
  // Scratch items say nothing.
  EXPECT_TRUE(recorded.messages.empty());
}

// Whatever makes an ID fail to bind, its slot carries the configuration-error quality: a text
// length the host library cannot hold and an array size past its element index as well.
TEST_F(DirectItemIoTest, EveryIdThatDoesNotBindReadsWithTheConfigurationErrorQuality) {
  ReadOut r;
  read({u"PLC1:D:400$200", u"PLC1:D:200$128", u"PLC1:D:100[70000]", u"PLC9:D:0", u"PLC1:D:100|BOGUS",
        u"PLC1:D:200$127"},
       &r);
  ASSERT_EQ(r.hr, S_OK);
  for (int bad = 0; bad < 5; ++bad) {
    EXPECT_EQ(r.errors[bad], OPC_E_INVALIDITEMID) << bad;
    EXPECT_EQ(r.qualities[bad], OPC_QUALITY_CONFIG_ERROR) << bad;
    EXPECT_EQ(r.values[bad].vt, VT_EMPTY) << bad;
  }
  EXPECT_EQ(r.errors[5], S_OK);
  EXPECT_EQ(r.values[5].vt, VT_BSTR);
}

TEST_F(DirectItemIoTest, ReadsWhileThePollerStandsStillAreOutOfService) {
  ReadOut r;
  read({u"PLC1:D:100"}, &r);
  ASSERT_EQ(r.hr, S_OK);
  EXPECT_EQ(r.qualities[0], OPC_QUALITY_OUT_OF_SERVICE);
  EXPECT_EQ(r.errors[0], S_OK);
}

TEST_F(DirectItemIoTest, WritesQueueThroughTheHostLibrary) {
  std::vector<OPCITEMVQT> vqts(4);
  vqts[0].vDataValue.vt = VT_I4;
  vqts[0].vDataValue.lVal = 4321;
  vqts[1].vDataValue.vt = VT_R8;  // an ID that does not bind
  vqts[1].vDataValue.dblVal = 1;
  vqts[2].vDataValue.vt = VT_R8;
  vqts[2].vDataValue.dblVal = 17;
  HRESULT hr;
  auto errors = write({u"PLC1:D:104|NONE", u"PLC9:D:1", u"PLC1:D:105|NONE", nullptr}, vqts, &hr);
  EXPECT_EQ(hr, S_OK);
  EXPECT_EQ(errors, (std::vector<HRESULT>{S_OK, OPC_E_INVALIDITEMID, S_OK, OPC_E_INVALIDITEMID}));
  EXPECT_EQ(plant->word(kWordRecord, 2, 4), 4321);
  EXPECT_EQ(plant->word(kWordRecord, 2, 5), 17);
  EXPECT_NE(by_value(plant->control(kWordRecord)->write_request_count), 0);

  // An empty value, and one the host library refuses, fail in their slots and make S_FALSE.
  std::vector<OPCITEMVQT> bad(3);
  bad[1].vDataValue.vt = VT_I2;
  bad[1].vDataValue.iVal = 5;
  SAFEARRAY* array = com::SafeArrayCreateVector(VT_R4, 0, 3);
  bad[2].vDataValue.vt = VT_ARRAY | VT_R4;
  bad[2].vDataValue.parray = array;
  errors = write({u"PLC1:D:104", u"PLC1:D:106|NONE", u"PLC1:D:200$4"}, bad, &hr);
  EXPECT_EQ(hr, S_FALSE);
  EXPECT_EQ(errors, (std::vector<HRESULT>{OPC_E_BADTYPE, S_OK, E_FAIL}));
  EXPECT_EQ(plant->word(kWordRecord, 2, 6), 5);
  com::VariantClear(&bad[2].vDataValue);
}

TEST_F(DirectItemIoTest, WritesSayWhenTheValueWasClampedAndRefuseQualitiesAndTimestamps) {
  std::vector<OPCITEMVQT> vqts(4);
  for (auto& v : vqts) {
    v.vDataValue.vt = VT_I4;
    v.vDataValue.lVal = 12;
  }
  vqts[0].vDataValue.lVal = -1;
  vqts[2].bQualitySpecified = TRUE;
  vqts[3].bTimeStampSpecified = TRUE;
  HRESULT hr = E_FAIL;
  auto errors = write({u"PLC2:D:10|NONE", u"PLC2:D:11|NONE", u"PLC2:D:12|NONE", u"PLC2:D:13|NONE"}, vqts, &hr);
  EXPECT_EQ(hr, S_FALSE);
  EXPECT_EQ(errors, (std::vector<HRESULT>{OPC_S_CLAMP, S_OK, OPC_E_NOTSUPPORTED, OPC_E_NOTSUPPORTED}));
  EXPECT_EQ(plant->word(kPlc2Record, 2, 11), 12);
  EXPECT_EQ(plant->word(kPlc2Record, 3, 12), 0);
  EXPECT_EQ(plant->word(kPlc2Record, 3, 13), 0);
}

// An ID of blanks names no point: read and write answer it as an ID that does not bind,
// with the configuration-error quality, and leave the image alone.
TEST_F(DirectItemIoTest, IdsOfBlanksDoNotBind) {
  WatchdogTicker poller(*plant);
  ASSERT_TRUE(poller_seen_alive());
  const std::vector<LPCWSTR> ids = {u"    ", u"\t \t ", u"  |S,0,100", u" $20", u"PLC1:D:103"};
  ReadOut r;
  read(ids, &r);
  ASSERT_EQ(r.hr, S_OK);
  for (std::size_t i = 0; i + 1 < ids.size(); ++i) {
    EXPECT_EQ(r.errors[i], OPC_E_INVALIDITEMID) << i;
    EXPECT_EQ(r.qualities[i], OPC_QUALITY_CONFIG_ERROR) << i;
    EXPECT_EQ(r.values[i].vt, VT_EMPTY) << i;
    EXPECT_TRUE(is_zero(r.stamps[i])) << i;
  }
  EXPECT_EQ(r.errors.back(), S_OK);

  std::vector<OPCITEMVQT> vqts(ids.size());
  for (OPCITEMVQT& v : vqts) {
    v.vDataValue.vt = VT_I4;
    v.vDataValue.lVal = 99;
  }
  HRESULT hr;
  auto errors = write(ids, vqts, &hr);
  EXPECT_EQ(hr, S_OK) << "binding failures show only in their slots";
  EXPECT_EQ(errors, (std::vector<HRESULT>{OPC_E_INVALIDITEMID, OPC_E_INVALIDITEMID, OPC_E_INVALIDITEMID,
                                          OPC_E_INVALIDITEMID, S_OK}));
  EXPECT_EQ(plant->word(kWordRecord, 2, 3), 99) << "the real ID writes";
  EXPECT_TRUE(recorded.messages.empty()) << "scratch items say nothing";
}

TEST_F(DirectItemIoTest, BadArgumentsAreRefusedWithOutputsCleared) {
  LPCWSTR ids[] = {u"PLC1:D:100"};
  DWORD age = 0;
  VARIANT* values = reinterpret_cast<VARIANT*>(1);
  WORD* qualities = reinterpret_cast<WORD*>(1);
  FILETIME* stamps = reinterpret_cast<FILETIME*>(1);
  HRESULT* errors = reinterpret_cast<HRESULT*>(1);
  EXPECT_EQ(io->Read(0, ids, &age, &values, &qualities, &stamps, &errors), E_INVALIDARG);
  EXPECT_EQ(values, nullptr);
  EXPECT_EQ(qualities, nullptr);
  EXPECT_EQ(stamps, nullptr);
  EXPECT_EQ(errors, nullptr);
  EXPECT_EQ(io->Read(1, nullptr, &age, &values, &qualities, &stamps, &errors), E_INVALIDARG);
  EXPECT_EQ(io->Read(1, ids, &age, nullptr, &qualities, &stamps, &errors), E_INVALIDARG);
  EXPECT_EQ(io->Read(1, ids, &age, &values, nullptr, &stamps, &errors), E_INVALIDARG);
  EXPECT_EQ(io->Read(1, ids, &age, &values, &qualities, nullptr, &errors), E_INVALIDARG);
  EXPECT_EQ(io->Read(1, ids, &age, &values, &qualities, &stamps, nullptr), E_INVALIDARG);
  // The ages are not used: none at all is accepted.
  ASSERT_EQ(io->Read(1, ids, nullptr, &values, &qualities, &stamps, &errors), S_OK);
  com::VariantClear(&values[0]);
  for (void* block : {static_cast<void*>(values), static_cast<void*>(qualities), static_cast<void*>(stamps),
                      static_cast<void*>(errors)})
    com::CoTaskMemFree(block);

  OPCITEMVQT vqt{};
  errors = reinterpret_cast<HRESULT*>(1);
  EXPECT_EQ(io->WriteVQT(0, ids, &vqt, &errors), E_INVALIDARG);
  EXPECT_EQ(errors, nullptr);
  EXPECT_EQ(io->WriteVQT(1, ids, &vqt, nullptr), E_INVALIDARG);
  EXPECT_EQ(io->WriteVQT(1, nullptr, &vqt, &errors), E_INVALIDARG);
  EXPECT_EQ(io->WriteVQT(1, ids, nullptr, &errors), E_INVALIDARG);
  EXPECT_EQ(by_value(plant->control(kWordRecord)->write_request_count), 0);
}

}  // namespace
}  // namespace hbt::opc::testing
