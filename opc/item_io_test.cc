// An item's value I/O: device and cache reads, the value converted to the requested type
// (texts with decimals, units and contact labels), the quality while the poller stands still,
// and writes through the host library.
#include "opc/item.h"

#include <bit>
#include <cmath>
#include <cstdlib>
#include <random>
#include <string>

#include "com/bstr.h"
#include "com/safearray.h"
#include "com/task_memory.h"
#include "com/variant.h"
#include "opc/group.h"
#include "opc/test_server.h"
#include "testsupport/by_value.h"

namespace hbt::opc::testing {
namespace {

using testsupport::by_value;

using namespace std::chrono_literals;

constexpr int kFloatRecord = 2;    // PLC1 D300..D309, float
constexpr int kRelayRecord = 9;    // PLC1 M0..M15, digital
constexpr int kWordRecord = 0;     // PLC1 D100..D109, unsigned

class ItemIoTest : public ServerTest {
 protected:
  IOPCGroupStateMgt* group = nullptr;
  IOPCItemMgt* items = nullptr;

  void SetUp() override {
    ServerTest::SetUp();
    ASSERT_EQ(add_group(u"G", &group), S_OK);
    items = query<IOPCItemMgt>(group, IID_IOPCItemMgt);
  }
  void TearDown() override {
    if (items) items->Release();
    if (group) group->Release();
    ServerTest::TearDown();
  }

  COPCDrvItem* add(const std::u16string& id, VARTYPE requested = VT_EMPTY, bool active = true) {
    OPCITEMDEF def{};
    def.szItemID = const_cast<LPWSTR>(id.c_str());
    def.bActive = active;
    def.vtRequestedDataType = requested;
    OPCITEMRESULT* results = nullptr;
    HRESULT* errors = nullptr;
    EXPECT_EQ(items->AddItems(1, &def, &results, &errors), S_OK) << narrow(id);
    OPCHANDLE h = results ? results[0].hServer : 0;
    com::CoTaskMemFree(results);
    com::CoTaskMemFree(errors);
    IUnknown* u = query<IUnknown>(group, IID_IUnknown);
    u->Release();
    return static_cast<COPCDrvGroup*>(u)->find_item_for_test(h);
  }

  void set_float(int register_pair, float f) {
    plant->set_long(kFloatRecord, register_pair, std::bit_cast<std::uint32_t>(f));
  }

  // A device read, its value as text (empty when not a string).
  std::string text_of(COPCDrvItem* item, ReadSource source = ReadSource::kDevice) {
    ItemRead r = item->read(source);
    std::string out = r.value.vt == VT_BSTR ? com::utf8_from_utf16(com::bstr_view(r.value.bstrVal)) : "";
    com::VariantClear(&r.value);
    return out;
  }
  void wait_alive(std::int32_t wanted) {
    ASSERT_TRUE(eventually([&] { return library().alive.load() == wanted; }));
  }
};

TEST_F(ItemIoTest, AnalogTextHasTheItemsDecimalsAndUnits) {
  WatchdogTicker poller(*plant);
  wait_alive(1);
  COPCDrvItem* bar = add(u"PLC1:D:300|NONE,0.00,100,,bar", VT_BSTR);
  set_float(0, 3.14159f);
  EXPECT_EQ(text_of(bar), "3.14 bar");
  COPCDrvItem* temp = add(u"PLC1:D:300|NONE,0.0,100,,degC", VT_BSTR);
  set_float(0, 12.5f);
  EXPECT_EQ(text_of(temp), "12.5 degC");
  COPCDrvItem* whole = add(u"PLC1:D:300|NONE,0,100,,kilopascal", VT_BSTR);
  set_float(0, -7.6f);
  EXPECT_EQ(text_of(whole), "-8 kilo") << "no decimals; units cut to four characters";

  // Over random values and decimals the text reads back as the value, rounded to the
  // item's decimals, followed by one space and the units.
  std::mt19937 random(7);
  std::uniform_real_distribution<float> values(-50000.0f, 50000.0f);
  const char* units[] = {"", "m3", "degC", "A"};
  for (int decimals = 0; decimals <= 6; ++decimals) {
    std::string unit = units[decimals % 4];
    std::string low = decimals == 0 ? "0" : "0." + std::string(static_cast<std::size_t>(decimals), '0');
    std::string id = "PLC1:D:302|NONE," + low + ",100,," + unit;
    COPCDrvItem* item = add(com::utf16_from_utf8(id), VT_BSTR);
    for (int i = 0; i < 50; ++i) {
      float v = values(random);
      set_float(1, v);
      std::string text = text_of(item);
      ASSERT_GE(text.size(), unit.size() + 2) << id;
      EXPECT_EQ(text.substr(text.size() - unit.size() - 1), " " + unit) << text;
      std::string number = text.substr(0, text.size() - unit.size() - 1);
      std::size_t dot = number.find('.');
      EXPECT_EQ(dot == std::string::npos ? 0 : number.size() - dot - 1, static_cast<std::size_t>(decimals)) << text;
      EXPECT_LE(std::fabs(std::strtod(number.c_str(), nullptr) - v), 0.5 * std::pow(10.0, -decimals) + 1e-9)
          << text << " for " << v;
    }
  }
}

TEST_F(ItemIoTest, DigitalTextIsTheContactLabel) {
  WatchdogTicker poller(*plant);
  wait_alive(1);
  COPCDrvItem* pump = add(u"PLC1:M:10|NONE,Stopped,Running!", VT_BSTR);
  COPCDrvItem* plain = add(u"PLC1:M:10", VT_BSTR);
  COPCDrvItem* number = add(u"PLC1:M:10", VT_I4);
  for (int round = 0; round < 4; ++round) {
    bool on = round % 2 == 1;
    plant->set_word(kRelayRecord, 0, on ? 1u << 10 : 0u);
    EXPECT_EQ(text_of(pump), on ? "Running" : "Stopped") << "labels keep seven characters";
    EXPECT_EQ(text_of(plain), on ? "ON" : "OFF");
    ItemRead r = number->read(ReadSource::kDevice);
    EXPECT_EQ(r.value.vt, VT_I4);
    EXPECT_EQ(r.value.lVal, on ? -1 : 0) << "VARIANT_TRUE converted";
    com::VariantClear(&r.value);
  }
}

// Other requested types go through the standard conversion. A value that cannot become the
// type fails its read with the reason (out of range, or no such value), an empty value and a
// bad quality, never as a success with nothing in it.
TEST_F(ItemIoTest, OtherTypesConvertOrSayWhyNot) {
  WatchdogTicker poller(*plant);
  wait_alive(1);
  plant->set_word(kWordRecord, 0, 1234);
  COPCDrvItem* raw = add(u"PLC1:D:100|NONE");
  ItemRead r = raw->read(ReadSource::kDevice);
  EXPECT_EQ(r.result, S_OK);
  EXPECT_EQ(r.quality, OPC_QUALITY_GOOD);
  EXPECT_EQ(r.value.vt, VT_R4) << "VT_EMPTY requested: the canonical value itself";
  EXPECT_EQ(r.value.fltVal, 1234.0f);
  com::VariantClear(&r.value);

  COPCDrvItem* as_int = add(u"PLC1:D:100|NONE", VT_I2);
  r = as_int->read(ReadSource::kDevice);
  EXPECT_EQ(r.result, S_OK);
  EXPECT_EQ(r.value.vt, VT_I2);
  EXPECT_EQ(r.value.iVal, 1234);
  com::VariantClear(&r.value);

  // 70000 does not fit a VT_I2, nor -250 a VT_UI1.
  set_float(0, 70000.0f);
  set_float(1, -250.0f);
  COPCDrvItem* too_big = add(u"PLC1:D:300|NONE", VT_I2);
  COPCDrvItem* negative = add(u"PLC1:D:302|NONE", VT_UI1);
  for (COPCDrvItem* item : {too_big, negative}) {
    for (ReadSource source : {ReadSource::kDevice, ReadSource::kCache}) {
      r = item->read(source);
      EXPECT_EQ(r.result, OPC_E_RANGE);
      EXPECT_EQ(r.quality, OPC_QUALITY_BAD);
      EXPECT_EQ(r.value.vt, VT_EMPTY);
      com::VariantClear(&r.value);
    }
  }
  set_float(0, 250.0f);
  r = too_big->read(ReadSource::kDevice);
  EXPECT_EQ(r.result, S_OK) << "the same item reads again once its value fits";
  EXPECT_EQ(r.quality, OPC_QUALITY_GOOD);
  EXPECT_EQ(r.value.iVal, 250);

  // A text item read as text is the text; as a number it converts when it holds one.
  std::memcpy(plant->area(1, 1), "AB12", 4);
  COPCDrvItem* text = add(u"PLC1:D:200$4", VT_BSTR);
  EXPECT_EQ(text_of(text), "AB12");
  COPCDrvItem* text_number = add(u"PLC1:D:200$4", VT_R8);
  r = text_number->read(ReadSource::kDevice);
  EXPECT_EQ(r.result, OPC_E_BADTYPE);
  EXPECT_EQ(r.quality, OPC_QUALITY_BAD);
  EXPECT_EQ(r.value.vt, VT_EMPTY);
  com::VariantClear(&r.value);
  std::memcpy(plant->area(1, 1), "12.5", 4);
  r = text_number->read(ReadSource::kDevice);
  EXPECT_EQ(r.result, S_OK);
  EXPECT_EQ(r.value.vt, VT_R8);
  EXPECT_EQ(r.value.dblVal, 12.5);
}

TEST_F(ItemIoTest, CacheReadsOfInactiveItemsSaySo) {
  WatchdogTicker poller(*plant);
  wait_alive(1);
  COPCDrvItem* active = add(u"PLC1:D:100|NONE");
  COPCDrvItem* inactive = add(u"PLC1:D:100|NONE", VT_EMPTY, false);
  plant->set_word(kWordRecord, 0, 300);
  for (COPCDrvItem* item : {active, inactive}) {
    ItemRead r = item->read(ReadSource::kDevice);
    EXPECT_EQ(r.result, S_OK) << "a device read always succeeds per item";
    com::VariantClear(&r.value);
  }
  plant->set_word(kWordRecord, 0, 400);
  ItemRead a = active->read(ReadSource::kCache);
  ItemRead b = inactive->read(ReadSource::kCache);
  EXPECT_EQ(a.result, S_OK);
  EXPECT_EQ(b.result, OPC_S_INACTIVEITEM);
  EXPECT_EQ(a.value.vt, VT_R4);
  EXPECT_EQ(b.value.vt, VT_R4);
  EXPECT_EQ(a.value.fltVal, b.value.fltVal) << "both hold the value of their last device read";
  EXPECT_EQ(a.value.fltVal, 300.0f);
  com::VariantClear(&a.value);
  com::VariantClear(&b.value);
}

TEST_F(ItemIoTest, QualityIsOutOfServiceWhileTheWatchdogStandsStill) {
  wait_alive(0);
  plant->set_word(kWordRecord, 0, 100);
  COPCDrvItem* word = add(u"PLC1:D:100");
  COPCDrvItem* text = add(u"PLC1:D:200$4");
  COPCDrvItem* relay = add(u"PLC1:M:10");
  for (COPCDrvItem* item : {word, text, relay}) {
    for (ReadSource source : {ReadSource::kDevice, ReadSource::kCache}) {
      ItemRead r = item->read(source);
      EXPECT_EQ(r.quality, OPC_QUALITY_OUT_OF_SERVICE);
      com::VariantClear(&r.value);
    }
  }
  {
    WatchdogTicker poller(*plant);
    wait_alive(1);
    ItemRead r = word->read(ReadSource::kDevice);
    EXPECT_EQ(r.quality, OPC_QUALITY_GOOD);
    com::VariantClear(&r.value);
  }
  wait_alive(0);
  ItemRead r = word->read(ReadSource::kDevice);
  EXPECT_EQ(r.quality, OPC_QUALITY_OUT_OF_SERVICE);
  EXPECT_EQ(r.value.vt, VT_R4) << "the cache still holds the value read while the poller ran";
  com::VariantClear(&r.value);
}

TEST_F(ItemIoTest, AFailedReadKeepsTheLastGoodValue) {
  WatchdogTicker poller(*plant);
  wait_alive(1);
  plant->record(kWordRecord)->status = image::kStatusCommFailure;
  COPCDrvItem* item = add(u"PLC1:D:100|NONE");
  std::mt19937 random(11);
  float last_good = -1;
  // Random good and failed polls: the cache always holds the value of the last good one,
  // the quality always the last read's.
  for (int i = 0; i < 200; ++i) {
    bool good = random() % 3 != 0;
    std::uint16_t raw = static_cast<std::uint16_t>(random());
    plant->set_word(kWordRecord, 0, raw);
    plant->record(kWordRecord)->status = good ? image::kStatusGood : image::kStatusCommFailure;
    item->read_device();
    if (good) last_good = raw;
    ItemRead r = item->read(ReadSource::kCache);
    if (last_good < 0) {
      EXPECT_FALSE(item->cache_valid());
    } else {
      EXPECT_TRUE(item->cache_valid());
      EXPECT_EQ(r.value.vt, VT_R4);
      EXPECT_EQ(r.value.fltVal, last_good);
    }
    EXPECT_EQ(r.quality == OPC_QUALITY_GOOD, good) << std::hex << r.quality;
    com::VariantClear(&r.value);
  }
}

TEST_F(ItemIoTest, WritesGoThroughTheHostLibrary) {
  COPCDrvItem* raw = add(u"PLC1:D:104|NONE");
  VARIANT v;
  com::VariantInit(&v);
  EXPECT_EQ(raw->write(v), OPC_E_BADTYPE);
  EXPECT_EQ(by_value(plant->control(kWordRecord)->write_request_count), 0) << "no host call for VT_EMPTY";
  OPCITEMVQT vqt{};
  EXPECT_EQ(raw->write_vqt(vqt), OPC_E_BADTYPE);
  EXPECT_EQ(by_value(plant->control(kWordRecord)->write_request_count), 0);

  v.vt = VT_I4;
  v.lVal = 4321;
  EXPECT_EQ(raw->write(v), S_OK);
  EXPECT_EQ(plant->word(kWordRecord, 2, 4), 4321);
  EXPECT_NE(by_value(plant->control(kWordRecord)->write_request_count), 0);
  vqt.vDataValue.vt = VT_R8;
  vqt.vDataValue.dblVal = 17;
  EXPECT_EQ(raw->write_vqt(vqt), S_OK);
  EXPECT_EQ(plant->word(kWordRecord, 2, 4), 17);

  // A value the host library refuses: a nonzero status becomes E_FAIL.
  SAFEARRAY* array = com::SafeArrayCreateVector(VT_R4, 0, 3);
  VARIANT arr;
  com::VariantInit(&arr);
  arr.vt = VT_ARRAY | VT_R4;
  arr.parray = array;
  COPCDrvItem* text = add(u"PLC1:D:200$4");
  EXPECT_EQ(text->write(arr), E_FAIL);
  EXPECT_NE(text->host_status(), 0);
  vqt.vDataValue = arr;
  EXPECT_EQ(text->write_vqt(vqt), E_FAIL);
  com::VariantClear(&arr);
}

TEST_F(ItemIoTest, ScratchItemsReadAndWriteByItemId) {
  WatchdogTicker poller(*plant);
  wait_alive(1);
  HRESULT hr = E_FAIL;
  auto item = COPCDrvItem::scratch(u"PLC1:D:105|NONE", VT_I4, &hr);
  ASSERT_EQ(hr, S_OK);
  ASSERT_NE(item, nullptr);
  plant->set_word(kWordRecord, 5, 77);
  ItemRead r = item->read(ReadSource::kDevice);
  EXPECT_EQ(r.result, S_OK);
  EXPECT_EQ(r.quality, OPC_QUALITY_GOOD);
  EXPECT_EQ(r.value.vt, VT_I4);
  EXPECT_EQ(r.value.lVal, 77);
  com::VariantClear(&r.value);
  EXPECT_FALSE(item->active());

  int messages = static_cast<int>(recorded.messages.size());
  EXPECT_EQ(COPCDrvItem::scratch(u"PLC9:D:1", VT_EMPTY, &hr), nullptr);
  EXPECT_EQ(hr, OPC_E_INVALIDITEMID);
  EXPECT_EQ(COPCDrvItem::scratch(nullptr, VT_EMPTY, &hr), nullptr);
  EXPECT_EQ(hr, OPC_E_INVALIDITEMID);
  EXPECT_EQ(COPCDrvItem::scratch(u"PLC1:D:100", VT_UNKNOWN, &hr), nullptr);
  EXPECT_EQ(hr, OPC_E_BADTYPE);
  std::lock_guard lock(recorded.mutex);
  EXPECT_EQ(static_cast<int>(recorded.messages.size()), messages) << "scratch items bind silently";
}

}  // namespace
}  // namespace hbt::opc::testing
