// Item properties through the server object: the lists of each item kind, every value rule
// against the standard plant, LookupItemIDs, and bad input; then random item IDs of the item
// grammar, whose properties must agree with their own announced list.
#include "opc/item_properties.h"

#include <chrono>
#include <cmath>
#include <random>
#include <thread>

#include "com/task_memory.h"
#include "com/variant.h"
#include "opc/property_table.h"
#include "opc/test_server.h"

namespace hbt::opc::testing {
namespace {

struct Available {
  HRESULT hr = E_FAIL;
  std::vector<DWORD> ids;
  std::vector<std::u16string> descriptions;
  std::vector<VARTYPE> types;
};

struct Values {
  HRESULT hr = E_FAIL;
  std::vector<VARIANT> values;
  std::vector<HRESULT> errors;
  Values() = default;
  Values(const Values&) = delete;
  Values(Values&& o) noexcept : hr(o.hr), values(std::move(o.values)), errors(std::move(o.errors)) { o.values.clear(); }
  ~Values() {
    for (VARIANT& v : values) com::VariantClear(&v);
  }
};

std::u16string bstr_text(const VARIANT& v) { return v.vt == VT_BSTR ? std::u16string(com::bstr_view(v.bstrVal)) : u"<not text>"; }

class ItemPropertiesTest : public ServerTest {
 protected:
  IOPCItemProperties* props = nullptr;

  void SetUp() override {
    ServerTest::SetUp();
    props = query<IOPCItemProperties>(server, IID_IOPCItemProperties);
    ASSERT_NE(props, nullptr);
  }
  void TearDown() override {
    if (props) props->Release();
    ServerTest::TearDown();
  }

  Available available(const std::u16string& id) {
    Available a;
    DWORD count = 99;
    DWORD* ids = nullptr;
    LPWSTR* descriptions = nullptr;
    VARTYPE* types = nullptr;
    a.hr = props->QueryAvailableProperties(const_cast<LPWSTR>(id.c_str()), &count, &ids, &descriptions, &types);
    if (FAILED(a.hr)) {
      EXPECT_EQ(count, 0u);
      EXPECT_EQ(ids, nullptr);
      EXPECT_EQ(descriptions, nullptr);
      EXPECT_EQ(types, nullptr);
      return a;
    }
    for (DWORD i = 0; i < count; ++i) {
      a.ids.push_back(ids[i]);
      a.descriptions.emplace_back(descriptions[i]);
      a.types.push_back(types[i]);
      com::CoTaskMemFree(descriptions[i]);
    }
    com::CoTaskMemFree(ids);
    com::CoTaskMemFree(descriptions);
    com::CoTaskMemFree(types);
    return a;
  }

  Values values(const std::u16string& id, std::vector<DWORD> wanted) {
    Values out;
    VARIANT* data = nullptr;
    HRESULT* errors = nullptr;
    out.hr = props->GetItemProperties(const_cast<LPWSTR>(id.c_str()), static_cast<DWORD>(wanted.size()),
                                      wanted.data(), &data, &errors);
    if (FAILED(out.hr)) {
      EXPECT_EQ(data, nullptr);
      EXPECT_EQ(errors, nullptr);
      return out;
    }
    out.values.assign(data, data + wanted.size());
    out.errors.assign(errors, errors + wanted.size());
    com::CoTaskMemFree(data);
    com::CoTaskMemFree(errors);
    return out;
  }

  // Until a poll cycle has seen the poller's watchdog move, reads have quality 0x1C.
  bool poller_seen_alive() {
    for (int i = 0; i < 1000 && library().alive.load() == 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return library().alive.load() != 0;
  }

  // Every property of the table, whatever the item's kind.
  static std::vector<DWORD> every_id() {
    std::vector<DWORD> ids;
    for (const ItemProperty& p : kItemProperties) ids.push_back(p.id);
    return ids;
  }
};

TEST_F(ItemPropertiesTest, EachKindListsItsPropertiesInTableOrder) {
  Available analog = available(u"PLC1:D:100");
  ASSERT_EQ(analog.hr, S_OK);
  EXPECT_EQ(analog.ids, (std::vector<DWORD>{1, 2, 3, 4, 5, 6, 100, 102, 103, 5000, 5001, 5003, 5004, 5005}));
  EXPECT_EQ(analog.descriptions,
            (std::vector<std::u16string>{u"Item Canonical Data Type", u"Item Value", u"Item Quality", u"Item TimeStamp",
                                         u"Item Access Rights", u"Server Scan Rate", u"EU Units", u"High EGU",
                                         u"Lo EGU", u"Signal Conditioning", u"Hardware Options", u"IO Address",
                                         u"Decimal places", u"Num Items"}));
  EXPECT_EQ(analog.types, (std::vector<VARTYPE>{VT_I2, VT_VARIANT, VT_I2, VT_DATE, VT_I4, VT_R4, VT_BSTR, VT_R8, VT_R8,
                                                VT_BSTR, VT_BSTR, VT_BSTR, VT_I4, VT_I4}));

  Available digital = available(u"PLC1:X:0");
  ASSERT_EQ(digital.hr, S_OK);
  EXPECT_EQ(digital.ids, (std::vector<DWORD>{1, 2, 3, 4, 5, 6, 106, 107, 5003, 5005}));
  EXPECT_EQ(digital.descriptions[6], u"Contact Close Label");
  EXPECT_EQ(digital.descriptions[7], u"Contact Open Label");

  Available text = available(u"PLC1:D:200$20");
  ASSERT_EQ(text.hr, S_OK);
  EXPECT_EQ(text.ids, (std::vector<DWORD>{1, 2, 3, 4, 5, 6, 5001, 5002, 5003, 5005}));
  EXPECT_EQ(text.descriptions[7], u"String length");
  EXPECT_EQ(text.types[7], VT_I4);
}

TEST_F(ItemPropertiesTest, AnalogValues) {
  WatchdogTicker poller(*plant);
  ASSERT_TRUE(poller_seen_alive());
  plant->set_word(0, 0, 500);  // D100, Unsigned
  Values v = values(u"PLC1:D:100|NONE,0,1000,,degC", every_id());
  ASSERT_EQ(v.hr, S_OK);
  for (HRESULT e : v.errors) EXPECT_EQ(e, S_OK);
  auto at = [&](DWORD id) -> const VARIANT& {
    for (std::size_t i = 0; i < std::size(kItemProperties); ++i)
      if (kItemProperties[i].id == id) return v.values[i];
    return v.values[0];
  };
  EXPECT_EQ(at(1).vt, VT_I2) << "the type QueryAvailableProperties announces";
  EXPECT_EQ(at(1).iVal, VT_R4);
  ASSERT_EQ(at(2).vt, VT_R4);
  EXPECT_EQ(at(2).fltVal, 500.0f);
  EXPECT_EQ(at(3).vt, VT_I2);
  EXPECT_EQ(at(3).iVal, OPC_QUALITY_GOOD);
  EXPECT_EQ(at(4).vt, VT_DATE);
  EXPECT_EQ(at(5).vt, VT_I4);
  EXPECT_EQ(at(5).lVal, 3);
  EXPECT_EQ(at(6).vt, VT_R4);
  EXPECT_EQ(at(6).fltVal, 0.0f);
  EXPECT_EQ(bstr_text(at(100)), u"degC");
  EXPECT_EQ(at(102).vt, VT_R8);
  EXPECT_EQ(at(102).dblVal, 1000.0);
  EXPECT_EQ(at(103).dblVal, 0.0);
  EXPECT_EQ(bstr_text(at(106)), u"");  // not a digital item: no labels
  EXPECT_EQ(bstr_text(at(5000)), u"NONE");
  EXPECT_EQ(bstr_text(at(5003)), u"PLC1:D:100");
  EXPECT_EQ(at(5004).lVal, 0);
  EXPECT_EQ(at(5002).lVal, 1);
  EXPECT_EQ(at(5005).lVal, 1);

  Values offset = values(u"PLC1:D:100|NONE,-5.25,5", {102, 103, 5004, 5000});
  ASSERT_EQ(offset.hr, S_OK);
  EXPECT_EQ(offset.values[0].dblVal, 5.0);
  EXPECT_EQ(offset.values[1].dblVal, -5.25);
  EXPECT_EQ(offset.values[2].lVal, 2);
  EXPECT_EQ(bstr_text(offset.values[3]), u"NONE");

  // An array reports its canonical type as AddItems does, its count, and the whole array.
  Values array = values(u"PLC1:D:100[10]", {1, 5005, 2});
  ASSERT_EQ(array.hr, S_OK);
  EXPECT_EQ(array.values[0].vt, VT_I2);
  EXPECT_EQ(array.values[0].iVal, VT_ARRAY | VT_R4);
  EXPECT_EQ(array.values[1].lVal, 10);
  EXPECT_EQ(array.values[2].vt, VT_ARRAY | VT_R4);
}

TEST_F(ItemPropertiesTest, QualityWhileThePollerStandsStill) {
  plant->set_word(12, 7, 1234);  // PLC2 D7
  Values v = values(u"PLC2:D:7|NONE,0,65535", {3, 2});
  ASSERT_EQ(v.hr, S_OK);
  EXPECT_EQ(v.values[0].iVal, OPC_QUALITY_OUT_OF_SERVICE);
  // The image's value is still the one given.
  ASSERT_EQ(v.values[1].vt, VT_R4);
  EXPECT_NEAR(v.values[1].fltVal, 1234.0f, 0.01);
}

TEST_F(ItemPropertiesTest, DigitalAndTextValues) {
  Values d = values(u"PLC1:M:10|NONE,Stopped,Running!", {102, 103, 106, 107, 1, 7, 5003, 5005});
  EXPECT_EQ(d.hr, S_FALSE);  // identifier 7 is not a property
  EXPECT_EQ(d.values[0].dblVal, 1.0);
  EXPECT_EQ(d.values[1].dblVal, 0.0);
  EXPECT_EQ(bstr_text(d.values[2]), u"Running");
  EXPECT_EQ(bstr_text(d.values[3]), u"Stopped");
  EXPECT_EQ(d.values[4].iVal, VT_BOOL);
  EXPECT_EQ(d.errors[5], OPC_E_INVALID_PID);
  EXPECT_EQ(d.values[5].vt, VT_EMPTY);
  EXPECT_EQ(bstr_text(d.values[6]), u"PLC1:M:10");
  EXPECT_EQ(d.values[7].lVal, 1);
  for (std::size_t i = 0; i < d.errors.size(); ++i)
    if (i != 5) {
      EXPECT_EQ(d.errors[i], S_OK) << i;
    }

  Values plain = values(u"PLC1:X:0", {106, 107, 102});
  EXPECT_EQ(plain.hr, S_OK);
  EXPECT_EQ(bstr_text(plain.values[0]), u"ON");
  EXPECT_EQ(bstr_text(plain.values[1]), u"OFF");
  EXPECT_EQ(plain.values[2].dblVal, 1.0);

  Values t = values(u"PLC1:D:200$20", {1, 5002, 5005, 5001, 2, 102, 103});
  ASSERT_EQ(t.hr, S_OK);
  EXPECT_EQ(t.values[0].iVal, VT_BSTR);
  EXPECT_EQ(t.values[1].lVal, 20);
  EXPECT_EQ(t.values[2].lVal, 20);
  EXPECT_EQ(bstr_text(t.values[3]), u"NA");
  EXPECT_EQ(t.values[4].vt, VT_BSTR);
  EXPECT_EQ(t.values[5].dblVal, 1.0);
  EXPECT_EQ(t.values[6].dblVal, 0.0);
}

TEST_F(ItemPropertiesTest, TimestampIsTheReadsInTwoSecondSteps) {
  // The host library's own timestamp of the record, for comparison.
  auto point = plant->point("PLC2:D:0", hostlib::kKindAnalog);
  FILETIME stamp{};
  std::uint16_t quality = 0;
  NioStatus status = 0;
  VARIANT raw;
  com::VariantInit(&raw);
  plant->host().nio_readEx(&status, &point->block, &point->format, &stamp, &quality, 1, &raw);
  com::VariantClear(&raw);
  ASSERT_EQ(status, 0);
  WORD dos_date = 0, dos_time = 0;
  DOUBLE expected = 0;
  ASSERT_TRUE(FileTimeToDosDateTime(&stamp, &dos_date, &dos_time));
  ASSERT_TRUE(DosDateTimeToVariantTime(dos_date, dos_time, &expected));

  Values v = values(u"PLC2:D:0", {4});
  ASSERT_EQ(v.hr, S_OK);
  ASSERT_EQ(v.values[0].vt, VT_DATE);
  EXPECT_EQ(v.values[0].date, expected);
  // Whole two-second steps, no time zone: the same day and second as the stamp, rounded down.
  const double seconds = std::round((v.values[0].date - std::floor(v.values[0].date)) * 86400.0);
  EXPECT_EQ(std::fmod(seconds, 2.0), 0.0);
  const std::int64_t stamp_seconds =
      static_cast<std::int64_t>((static_cast<std::uint64_t>(stamp.dwHighDateTime) << 32 | stamp.dwLowDateTime) / 10000000);
  EXPECT_EQ(static_cast<std::int64_t>(seconds), (stamp_seconds % 86400) / 2 * 2);
}

TEST_F(ItemPropertiesTest, FailingDisplayExportsShowAsUnknown) {
  HostApi& host = library().host;
  host.daddr = [](NioStatus* s, NioBlock*, NioFormat*, char*, std::uint16_t) { return *s = 1; };
  host.dsig = [](NioStatus* s, NioBlock*, NioFormat*, char*, std::uint16_t) { return *s = 2; };
  host.dopt = nullptr;
  Values v = values(u"PLC1:D:100", {5000, 5001, 5003});
  ASSERT_EQ(v.hr, S_OK);
  for (const VARIANT& x : v.values) EXPECT_EQ(bstr_text(x), u"*?*");
  // A host that fills the whole buffer without a terminator still gives at most 32 characters.
  host.daddr = [](NioStatus* s, NioBlock*, NioFormat*, char* out, std::uint16_t n) {
    std::memset(out, 'A', n);
    return *s = 0;
  };
  Values full = values(u"PLC1:D:100", {5003});
  EXPECT_EQ(bstr_text(full.values[0]), std::u16string(32, u'A'));
}

TEST_F(ItemPropertiesTest, BindingFailuresAndBadArguments) {
  DWORD id = 1;
  for (const char16_t* bad : {u"PLC9:D:0", u"", u"PLC1:D:100$200", u"PLC1:D:99999", u"PLC1:D:100|BOGUS", u"    ",
                              u" \t\r\n ", u"  |S,0,100", u"\t$20"}) {
    EXPECT_EQ(available(bad).hr, OPC_E_INVALIDITEMID) << narrow(bad);
    EXPECT_EQ(values(bad, {1}).hr, OPC_E_INVALIDITEMID) << narrow(bad);
  }
  // 63 wide characters bind; 64 count as no ID at all.
  const std::u16string base = u"PLC1:D:100|";
  EXPECT_EQ(available(base + std::u16string(63 - base.size(), u' ')).hr, S_OK);
  EXPECT_EQ(available(base + std::u16string(64 - base.size(), u' ')).hr, OPC_E_INVALIDITEMID);
  EXPECT_EQ(values(base + std::u16string(500, u'x'), {1}).hr, OPC_E_INVALIDITEMID);
  // Scratch items say nothing.
  EXPECT_TRUE(recorded.messages.empty());

  DWORD count = 5;
  DWORD* ids = reinterpret_cast<DWORD*>(1);
  LPWSTR* descriptions = reinterpret_cast<LPWSTR*>(1);
  VARTYPE* types = reinterpret_cast<VARTYPE*>(1);
  EXPECT_EQ(props->QueryAvailableProperties(nullptr, &count, &ids, &descriptions, &types), E_INVALIDARG);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(ids, nullptr);
  EXPECT_EQ(descriptions, nullptr);
  EXPECT_EQ(types, nullptr);
  LPWSTR good = const_cast<LPWSTR>(u"PLC1:D:100");
  EXPECT_EQ(props->QueryAvailableProperties(good, nullptr, &ids, &descriptions, &types), E_INVALIDARG);
  EXPECT_EQ(props->QueryAvailableProperties(good, &count, nullptr, &descriptions, &types), E_INVALIDARG);
  EXPECT_EQ(props->QueryAvailableProperties(good, &count, &ids, nullptr, &types), E_INVALIDARG);
  EXPECT_EQ(props->QueryAvailableProperties(good, &count, &ids, &descriptions, nullptr), E_INVALIDARG);

  VARIANT* data = reinterpret_cast<VARIANT*>(1);
  HRESULT* errors = reinterpret_cast<HRESULT*>(1);
  EXPECT_EQ(props->GetItemProperties(good, 0, &id, &data, &errors), E_INVALIDARG);
  EXPECT_EQ(data, nullptr);
  EXPECT_EQ(errors, nullptr);
  EXPECT_EQ(props->GetItemProperties(nullptr, 1, &id, &data, &errors), E_INVALIDARG);
  EXPECT_EQ(props->GetItemProperties(good, 1, nullptr, &data, &errors), E_INVALIDARG);
  EXPECT_EQ(props->GetItemProperties(good, 1, &id, nullptr, &errors), E_INVALIDARG);
  EXPECT_EQ(props->GetItemProperties(good, 1, &id, &data, nullptr), E_INVALIDARG);
}

TEST_F(ItemPropertiesTest, LookupItemIdsAnswersNoItemIdWithoutBinding) {
  DWORD ids[] = {1, 7, 5003, 0xFFFFFFFF};
  LPWSTR* names = nullptr;
  HRESULT* errors = nullptr;
  for (const char16_t* item : {u"PLC1:D:100", u"PLC9:nothing", u""}) {
    ASSERT_EQ(props->LookupItemIDs(const_cast<LPWSTR>(item), 4, ids, &names, &errors), S_OK);
    for (int i = 0; i < 4; ++i) {
      EXPECT_EQ(std::u16string(names[i]), u"No ITEMID");
      EXPECT_EQ(errors[i], S_OK);
      com::CoTaskMemFree(names[i]);
    }
    com::CoTaskMemFree(names);
    com::CoTaskMemFree(errors);
  }
  names = reinterpret_cast<LPWSTR*>(1);
  errors = reinterpret_cast<HRESULT*>(1);
  LPWSTR good = const_cast<LPWSTR>(u"PLC1:D:100");
  EXPECT_EQ(props->LookupItemIDs(good, 0, ids, &names, &errors), E_INVALIDARG);
  EXPECT_EQ(names, nullptr);
  EXPECT_EQ(errors, nullptr);
  EXPECT_EQ(props->LookupItemIDs(nullptr, 1, ids, &names, &errors), E_INVALIDARG);
  EXPECT_EQ(props->LookupItemIDs(good, 1, nullptr, &names, &errors), E_INVALIDARG);
  EXPECT_EQ(props->LookupItemIDs(good, 1, ids, nullptr, &errors), E_INVALIDARG);
  EXPECT_EQ(props->LookupItemIDs(good, 1, ids, &names, nullptr), E_INVALIDARG);
}

// Random item IDs of the grammar: the two methods bind alike, and an item's values have the
// types its list announces (identifier 2 in whatever type the value has).
TEST_F(ItemPropertiesTest, RandomItemsAgreeWithTheirOwnLists) {
  std::mt19937 random(4242);
  const char* devices[] = {"PLC1", "PLC2", "PLC3", "plc1", "PLC4", ""};
  const char* registers[] = {"D:100", "D:205", "D:300", "D:401", "X:1F", "D:500", "D:119", "EX:2:310", "W:2A",
                             "M:3",   "D:0",   "R:9",   "D:99",  "D:1000", "M:1",  "D:103.4", "X:20"};
  const char* options[] = {"", "|", "|LIN", "|LIN,0,100,,degC", "|SQRT,-1.5,3", "$", "$12", "$127", "$128",
                           ";NONE,Off,On", "|NONE,Open,Closed!", "[4]", "[0]", "|LIN,,,,kPa", "|BOGUS", "$0"};
  int bound = 0;
  for (int run = 0; run < 300; ++run) {
    std::string text = std::string(devices[random() % std::size(devices)]) + ":" +
                       registers[random() % std::size(registers)] + options[random() % std::size(options)];
    if (random() % 8 == 0) text = " " + text + " ";
    const std::u16string id = wide(text);
    SCOPED_TRACE(text);
    Available a = available(id);
    Values v = values(id, every_id());
    ASSERT_EQ(SUCCEEDED(a.hr), SUCCEEDED(v.hr));
    if (FAILED(a.hr)) {
      EXPECT_EQ(a.hr, v.hr);
      continue;
    }
    ++bound;
    ASSERT_TRUE(a.ids.size() == 10 || a.ids.size() == 14);
    for (std::size_t i = 0; i < std::size(kItemProperties); ++i) {
      EXPECT_EQ(v.errors[i], S_OK) << kItemProperties[i].id;
      const VARTYPE want = kItemProperties[i].type;
      if (want != VT_VARIANT) {
        EXPECT_EQ(v.values[i].vt, want) << kItemProperties[i].id;
      }
    }
    const auto value_of = [&](DWORD pid) -> const VARIANT& {
      for (std::size_t i = 0; i < std::size(kItemProperties); ++i)
        if (kItemProperties[i].id == pid) return v.values[i];
      return v.values[0];
    };
    EXPECT_EQ(value_of(5002).lVal, value_of(5005).lVal);
    EXPECT_GE(value_of(5005).lVal, 1);
    // The value's type is the canonical type.
    const VARIANT& value = value_of(2);
    if (value.vt != VT_EMPTY) {
      EXPECT_EQ(value.vt, static_cast<VARTYPE>(value_of(1).iVal));
    }
    // A text item's list has the string length; an analog one the engineering range.
    const bool has_length = std::find(a.ids.begin(), a.ids.end(), 5002u) != a.ids.end();
    const bool has_range = std::find(a.ids.begin(), a.ids.end(), 102u) != a.ids.end();
    EXPECT_EQ(has_length, value_of(1).iVal == VT_BSTR);
    if (!has_range) {
      EXPECT_EQ(value_of(102).dblVal, 1.0);
    }
  }
  EXPECT_GT(bound, 50);
  EXPECT_TRUE(recorded.messages.empty());
}

}  // namespace
}  // namespace hbt::opc::testing
