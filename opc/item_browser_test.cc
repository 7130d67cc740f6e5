// IOPCBrowse against the standard plant: the devices and their ranges as branches and items,
// continuation points, the element and vendor filters, and the properties of the elements,
// which must be those IOPCItemProperties gives the same item IDs.
#include "opc/item_browser.h"

#include <string>
#include <vector>

#include "com/bstr.h"
#include "com/task_memory.h"
#include "com/variant.h"
#include "opc/test_server.h"

namespace hbt::opc::testing {
namespace {

struct Property {
  DWORD id = 0;
  VARTYPE type = VT_EMPTY;
  std::u16string description;
  std::u16string item_id;
  VARIANT value{};
  HRESULT error = E_FAIL;
};

struct Properties {
  HRESULT error = E_FAIL;
  std::vector<Property> list;
};

struct Element {
  std::u16string name, item_id;
  DWORD flags = 0;
  Properties properties;
};

struct Page {
  HRESULT hr = E_FAIL;
  std::vector<Element> elements;
  std::u16string point;  // empty when there is none
  bool has_point = false;
  BOOL more = 2;
};

// Takes over what the server handed out: copies the fields, frees every block.
Properties take(OPCITEMPROPERTIES& p) {
  Properties out;
  out.error = p.hrErrorID;
  for (DWORD i = 0; i < p.dwNumProperties; ++i) {
    OPCITEMPROPERTY& e = p.pItemProperties[i];
    Property q;
    q.id = e.dwPropertyID;
    q.type = e.vtDataType;
    if (e.szDescription) q.description = e.szDescription;
    if (e.szItemID) q.item_id = e.szItemID;
    q.value = e.vValue;  // the test owns it now
    q.error = e.hrErrorID;
    EXPECT_NE(e.szDescription, nullptr);
    EXPECT_NE(e.szItemID, nullptr);
    com::CoTaskMemFree(e.szDescription);
    com::CoTaskMemFree(e.szItemID);
    out.list.push_back(q);
  }
  com::CoTaskMemFree(p.pItemProperties);
  return out;
}

bool same_value(const VARIANT& a, const VARIANT& b) {
  if (a.vt != b.vt) return false;
  switch (a.vt) {
    case VT_EMPTY: return true;
    case VT_I2: return a.iVal == b.iVal;
    case VT_I4: return a.lVal == b.lVal;
    case VT_R4: return a.fltVal == b.fltVal;
    case VT_R8: return a.dblVal == b.dblVal;
    case VT_DATE: return a.date == b.date;
    case VT_BOOL: return a.boolVal == b.boolVal;
    case VT_BSTR: return com::bstr_view(a.bstrVal) == com::bstr_view(b.bstrVal);
    default: return false;
  }
}

void clear(Properties& p) {
  for (Property& q : p.list) com::VariantClear(&q.value);
}

class ItemBrowserTest : public ServerTest {
 protected:
  IOPCBrowse* browse = nullptr;

  void SetUp() override {
    ServerTest::SetUp();
    browse = query<IOPCBrowse>(server, IID_IOPCBrowse);
    ASSERT_NE(browse, nullptr);
  }
  void TearDown() override {
    for (Page& p : pages_)
      for (Element& e : p.elements) clear(e.properties);
    if (browse) browse->Release();
    ServerTest::TearDown();
  }

  struct Request {
    const char16_t* filter = nullptr;
    const char16_t* vendor = nullptr;
    OPCBROWSEFILTER kind = OPC_BROWSE_FILTER_ALL;
    DWORD max = 0;
    BOOL all_properties = FALSE;
    BOOL values = FALSE;
    std::vector<DWORD> ids;
  };

  // One call; `point` is the continuation point to pass (a copy in task memory, as a client
  // keeps what the server gave it).
  Page call(const char16_t* branch, const Request& r, const std::u16string* point = nullptr) {
    Page page;
    LPWSTR cp = point ? task_wide_copy(std::u16string_view(*point)) : nullptr;
    DWORD count = 99;
    OPCBROWSEELEMENT* elements = nullptr;
    page.hr = browse->Browse(const_cast<LPWSTR>(branch), &cp, r.max, r.kind, const_cast<LPWSTR>(r.filter),
                             const_cast<LPWSTR>(r.vendor), r.all_properties, r.values, static_cast<DWORD>(r.ids.size()),
                             r.ids.empty() ? nullptr : const_cast<DWORD*>(r.ids.data()), &page.more, &count,
                             &elements);
    if (cp) {
      page.point = cp;
      page.has_point = true;
      com::CoTaskMemFree(cp);
    }
    if (FAILED(page.hr)) {
      EXPECT_EQ(count, 0u);
      EXPECT_EQ(elements, nullptr);
      EXPECT_FALSE(page.has_point);
      return page;
    }
    for (DWORD i = 0; i < count; ++i) {
      Element e;
      e.name = elements[i].szName;
      e.item_id = elements[i].szItemID;
      e.flags = elements[i].dwFlagValue;
      e.properties = take(elements[i].ItemProperties);
      com::CoTaskMemFree(elements[i].szName);
      com::CoTaskMemFree(elements[i].szItemID);
      page.elements.push_back(std::move(e));
    }
    com::CoTaskMemFree(elements);
    pages_.push_back(page);
    return page;
  }

  // Every element of a branch, following continuation points; the number of calls made.
  std::vector<Element> walk(const char16_t* branch, const Request& r, int* calls = nullptr) {
    std::vector<Element> out;
    std::u16string point;
    int n = 0;
    for (;;) {
      Page p = call(branch, r, n == 0 ? nullptr : &point);
      ++n;
      EXPECT_EQ(p.hr, S_OK);
      EXPECT_EQ(p.more, FALSE) << "the server hands out continuation points instead";
      if (FAILED(p.hr)) break;
      out.insert(out.end(), p.elements.begin(), p.elements.end());
      if (!p.has_point || n > 100) break;
      point = p.point;
    }
    if (calls) *calls = n;
    return out;
  }

  static std::vector<std::u16string> ids_of(const std::vector<Element>& elements) {
    std::vector<std::u16string> out;
    for (const Element& e : elements) out.push_back(e.item_id);
    return out;
  }

  std::vector<Page> pages_;  // what the tests took, cleared at the end
};

const std::vector<std::u16string> kPlc1Ranges = {
    u"D:100 - D:109", u"D:200 - D:209", u"D:300 - D:309",       u"D:400 - D:409", u"X:0 - X:1F",   u"D:500 - D:503",
    u"D:100 - D:119", u"EX:2:300 - EX:2:349", u"W:10 - W:2F", u"M:0 - M:15",   u"D:600 - D:609", u"D:700 - D:709"};
const std::vector<std::u16string> kPlc1Items = {
    u"PLC1:D:100", u"PLC1:D:200", u"PLC1:D:300", u"PLC1:D:400", u"PLC1:X:0",   u"PLC1:D:500",
    u"PLC1:D:100", u"PLC1:EX:2:300", u"PLC1:W:10", u"PLC1:M:0", u"PLC1:D:600", u"PLC1:D:700"};

TEST_F(ItemBrowserTest, TheRootHoldsTheDevicesAsBranches) {
  for (const char16_t* root : {u"", static_cast<const char16_t*>(nullptr), u"  "}) {
    Page p = call(root, {});
    ASSERT_EQ(p.hr, S_OK);
    EXPECT_FALSE(p.has_point);
    ASSERT_EQ(p.elements.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
      const std::u16string name = u"PLC" + std::u16string(1, static_cast<char16_t>(u'1' + i));
      EXPECT_EQ(p.elements[i].name, name);
      EXPECT_EQ(p.elements[i].item_id, name);
      EXPECT_EQ(p.elements[i].flags, static_cast<DWORD>(OPC_BROWSE_HASCHILDREN));
      EXPECT_EQ(p.elements[i].properties.list.size(), 0u);
      EXPECT_EQ(p.elements[i].properties.error, S_OK);
    }
  }
  Request items;
  items.kind = OPC_BROWSE_FILTER_ITEMS;
  EXPECT_EQ(call(u"", items).elements.size(), 0u) << "a device is no item";
  Request branches;
  branches.kind = OPC_BROWSE_FILTER_BRANCHES;
  EXPECT_EQ(call(u"", branches).elements.size(), 3u);
}

TEST_F(ItemBrowserTest, ADeviceHoldsItsRangesAsItemsNamedByTheirFirstRegister) {
  for (const char16_t* device : {u"PLC1", u"plc1", u" PLC1 "}) {
    std::vector<Element> all = walk(device, {});
    ASSERT_EQ(all.size(), kPlc1Ranges.size()) << narrow(device);
    EXPECT_EQ(ids_of(all), kPlc1Items) << "the configured name, whatever the case asked";
    for (std::size_t i = 0; i < all.size(); ++i) {
      EXPECT_EQ(all[i].name, kPlc1Ranges[i]);
      EXPECT_EQ(all[i].flags, static_cast<DWORD>(OPC_BROWSE_ISITEM));
    }
  }
  Request branches;
  branches.kind = OPC_BROWSE_FILTER_BRANCHES;
  EXPECT_TRUE(call(u"PLC1", branches).elements.empty());
  Request items;
  items.kind = OPC_BROWSE_FILTER_ITEMS;
  EXPECT_EQ(call(u"PLC2", items).elements.size(), 1u);
  EXPECT_EQ(call(u"PLC3", items).elements[0].item_id, u"PLC3:R:0");

  // An item has no children; what is neither device nor item is not in the address space.
  Page leaf = call(u"PLC1:D:105", {});
  EXPECT_EQ(leaf.hr, S_OK);
  EXPECT_TRUE(leaf.elements.empty());
  for (const char16_t* unknown : {u"PLC9", u"PLC1:Q:0", u"PLC1:D:100|BOGUS", u"D:100 - D:109"})
    EXPECT_EQ(call(unknown, {}).hr, OPC_E_UNKNOWNITEMID) << narrow(unknown);
}

TEST_F(ItemBrowserTest, ContinuationPointsWalkTheWholeListOnce) {
  for (DWORD max : {1u, 5u, 11u, 12u, 13u, 0u}) {
    Request r;
    r.max = max;
    int calls = 0;
    EXPECT_EQ(ids_of(walk(u"PLC1", r, &calls)), kPlc1Items) << max;
    const int expected = max == 0 ? 1 : static_cast<int>((kPlc1Items.size() + max - 1) / max);
    EXPECT_EQ(calls, expected) << max;
  }
  Request five;
  five.max = 5;
  Page first = call(u"PLC1", five);
  ASSERT_TRUE(first.has_point);
  // A point belongs to the request it came from: another branch, filter or kind refuses it.
  Request other = five;
  other.filter = u"D*";
  EXPECT_EQ(call(u"PLC1", other, &first.point).hr, OPC_E_INVALIDCONTINUATIONPOINT);
  other = five;
  other.kind = OPC_BROWSE_FILTER_ITEMS;
  EXPECT_EQ(call(u"PLC1", other, &first.point).hr, OPC_E_INVALIDCONTINUATIONPOINT);
  EXPECT_EQ(call(u"PLC2", five, &first.point).hr, OPC_E_INVALIDCONTINUATIONPOINT);
  // Forged or damaged points.
  std::u16string far = first.point;
  far.replace(far.find(u':') + 1, 1, u"50");
  for (const std::u16string& bad :
       {far, first.point + u"0", first.point.substr(1), std::u16string(u"5"), std::u16string(300, u'x')})
    EXPECT_EQ(call(u"PLC1", five, &bad).hr, OPC_E_INVALIDCONTINUATIONPOINT) << narrow(bad);
  // The same point twice continues twice from the same place.
  Page again = call(u"PLC1", five, &first.point);
  Page twice = call(u"PLC1", five, &first.point);
  ASSERT_EQ(again.hr, S_OK);
  EXPECT_EQ(ids_of(again.elements), ids_of(twice.elements));
  EXPECT_EQ(again.elements[0].item_id, kPlc1Items[5]);
}

TEST_F(ItemBrowserTest, ElementNameAndVendorFilters) {
  Request r;
  r.filter = u"D:1*";
  EXPECT_EQ(ids_of(walk(u"PLC1", r)), (std::vector<std::u16string>{u"PLC1:D:100", u"PLC1:D:100"}));
  r.filter = u"[MX]:*";
  EXPECT_EQ(ids_of(walk(u"PLC1", r)), (std::vector<std::u16string>{u"PLC1:X:0", u"PLC1:M:0"}));
  r.filter = nullptr;
  r.vendor = u"*:D:[34]00";
  EXPECT_EQ(ids_of(walk(u"PLC1", r)), (std::vector<std::u16string>{u"PLC1:D:300", u"PLC1:D:400"}));
  r.filter = u"*09";
  r.vendor = u"PLC1:D:#00";
  r.max = 1;
  EXPECT_EQ(ids_of(walk(u"PLC1", r)),
            (std::vector<std::u16string>{u"PLC1:D:100", u"PLC1:D:200", u"PLC1:D:300", u"PLC1:D:400", u"PLC1:D:600",
                                         u"PLC1:D:700"}));
  Request root;
  root.filter = u"PLC[!2]";
  EXPECT_EQ(ids_of(walk(u"", root)), (std::vector<std::u16string>{u"PLC1", u"PLC3"}));
  root.filter = u"";
  EXPECT_EQ(walk(u"", root).size(), 3u) << "an empty filter is none";
  for (const char16_t* bad : {u"[", u"PLC[1", u"[z-a]"}) {
    Request b;
    b.filter = bad;
    EXPECT_EQ(call(u"", b).hr, OPC_E_INVALIDFILTER);
    b.filter = nullptr;
    b.vendor = bad;
    EXPECT_EQ(call(u"PLC1", b).hr, OPC_E_INVALIDFILTER);
  }
}

TEST_F(ItemBrowserTest, ElementsCarryTheSamePropertiesAsIOPCItemProperties) {
  WatchdogTicker poller(*plant);
  ASSERT_TRUE(eventually([&] { return library().alive.load() != 0; }));
  plant->set_word(0, 0, 4321);  // D100
  auto* props = query<IOPCItemProperties>(server, IID_IOPCItemProperties);
  Request r;
  r.all_properties = TRUE;
  r.values = TRUE;
  r.max = 4;
  std::vector<Element> all = walk(u"PLC1", r);
  ASSERT_EQ(all.size(), kPlc1Items.size());
  for (Element& e : all) {
    SCOPED_TRACE(narrow(e.item_id));
    EXPECT_EQ(e.properties.error, S_OK);
    DWORD count = 0;
    DWORD* ids = nullptr;
    LPWSTR* descriptions = nullptr;
    VARTYPE* types = nullptr;
    ASSERT_EQ(props->QueryAvailableProperties(const_cast<LPWSTR>(e.item_id.c_str()), &count, &ids, &descriptions,
                                              &types),
              S_OK);
    ASSERT_EQ(e.properties.list.size(), count);
    VARIANT* values = nullptr;
    HRESULT* errors = nullptr;
    ASSERT_EQ(props->GetItemProperties(const_cast<LPWSTR>(e.item_id.c_str()), count, ids, &values, &errors), S_OK);
    for (DWORD i = 0; i < count; ++i) {
      const Property& q = e.properties.list[i];
      EXPECT_EQ(q.id, ids[i]);
      EXPECT_EQ(q.type, types[i]);
      EXPECT_EQ(q.description, std::u16string(descriptions[i]));
      EXPECT_EQ(q.error, S_OK);
      EXPECT_TRUE(q.item_id.empty());
      // Every value but the time of the read is the same.
      if (q.id != OPC_PROPERTY_TIMESTAMP) {
        EXPECT_TRUE(same_value(q.value, values[i])) << q.id << ": " << q.value.vt << " and " << values[i].vt;
      }
      com::CoTaskMemFree(descriptions[i]);
      com::VariantClear(&values[i]);
    }
    for (void* block : {static_cast<void*>(ids), static_cast<void*>(descriptions), static_cast<void*>(types),
                        static_cast<void*>(values), static_cast<void*>(errors)})
      com::CoTaskMemFree(block);
  }
  EXPECT_EQ(all[0].properties.list[1].value.fltVal, 4321.0f);
  props->Release();

  // Some properties by number, in the order asked; one the items do not have.
  Request some;
  some.ids = {5003, 1, 7777};
  Page p = call(u"PLC1", some);
  EXPECT_EQ(p.hr, S_FALSE) << "an identifier failed in every element";
  ASSERT_EQ(p.elements[0].properties.list.size(), 3u);
  EXPECT_EQ(p.elements[0].properties.error, S_FALSE);
  EXPECT_EQ(p.elements[0].properties.list[0].id, 5003u);
  EXPECT_EQ(p.elements[0].properties.list[0].value.vt, VT_EMPTY) << "no values unless asked";
  EXPECT_EQ(p.elements[0].properties.list[1].type, VT_I2);
  EXPECT_EQ(p.elements[0].properties.list[2].error, OPC_E_INVALID_PID);
  // Branches have no properties at all.
  Request at_root;
  at_root.all_properties = TRUE;
  Page root = call(u"", at_root);
  EXPECT_EQ(root.hr, S_OK);
  EXPECT_TRUE(root.elements[0].properties.list.empty());
}

TEST_F(ItemBrowserTest, GetPropertiesOfItemsBranchesAndIdsThatDoNotBind) {
  LPWSTR ids[] = {const_cast<LPWSTR>(u"PLC1:D:200$8"), const_cast<LPWSTR>(u"PLC9:D:0"), nullptr,
                  const_cast<LPWSTR>(u"PLC2"), const_cast<LPWSTR>(u"PLC1:M:3")};
  OPCITEMPROPERTIES* results = nullptr;
  ASSERT_EQ(browse->GetProperties(5, ids, TRUE, 0, nullptr, &results), S_FALSE);
  std::vector<Properties> got;
  for (int i = 0; i < 5; ++i) got.push_back(take(results[i]));
  com::CoTaskMemFree(results);
  EXPECT_EQ(got[0].error, S_OK);
  EXPECT_EQ(got[0].list.size(), 10u) << "a text item";
  EXPECT_EQ(got[0].list[7].id, 5002u);
  EXPECT_EQ(got[0].list[7].value.lVal, 8);
  EXPECT_EQ(got[1].error, OPC_E_INVALIDITEMID);
  EXPECT_TRUE(got[1].list.empty());
  EXPECT_EQ(got[2].error, OPC_E_INVALIDITEMID);
  EXPECT_EQ(got[3].error, S_OK) << "a device is a branch, with no properties";
  EXPECT_TRUE(got[3].list.empty());
  EXPECT_EQ(got[4].list.size(), 10u) << "a digital item";
  EXPECT_EQ(got[4].list[0].value.iVal, VT_BOOL);
  for (Properties& p : got) clear(p);

  DWORD wanted[] = {2, 106};
  ASSERT_EQ(browse->GetProperties(1, &ids[4], FALSE, 2, wanted, &results), S_OK);
  Properties two = take(results[0]);
  com::CoTaskMemFree(results);
  ASSERT_EQ(two.list.size(), 2u);
  EXPECT_EQ(two.list[0].type, VT_VARIANT);
  EXPECT_EQ(two.list[0].value.vt, VT_EMPTY);
  EXPECT_EQ(two.list[1].description, u"Contact Close Label");
  clear(two);

  EXPECT_EQ(browse->GetProperties(1, ids, TRUE, 0, nullptr, nullptr), E_INVALIDARG);
  EXPECT_EQ(browse->GetProperties(0, ids, TRUE, 0, nullptr, &results), E_INVALIDARG);
  EXPECT_EQ(browse->GetProperties(1, nullptr, TRUE, 0, nullptr, &results), E_INVALIDARG);
  EXPECT_EQ(browse->GetProperties(1, ids, TRUE, 2, nullptr, &results), E_INVALIDARG);
  EXPECT_EQ(results, nullptr);
}

TEST_F(ItemBrowserTest, BadArgumentsAreRefusedWithTheOutputsCleared) {
  LPWSTR point = nullptr;
  BOOL more = TRUE;
  DWORD count = 5;
  OPCBROWSEELEMENT* elements = nullptr;
  auto browse_with = [&](OPCBROWSEFILTER kind, LPWSTR* cp, BOOL* m, DWORD* n, OPCBROWSEELEMENT** e, DWORD ids = 0) {
    return browse->Browse(const_cast<LPWSTR>(u""), cp, 0, kind, nullptr, nullptr, FALSE, FALSE, ids, nullptr, m, n, e);
  };
  EXPECT_EQ(browse_with(OPC_BROWSE_FILTER_ALL, nullptr, &more, &count, &elements), E_INVALIDARG);
  EXPECT_EQ(browse_with(OPC_BROWSE_FILTER_ALL, &point, nullptr, &count, &elements), E_INVALIDARG);
  EXPECT_EQ(browse_with(OPC_BROWSE_FILTER_ALL, &point, &more, nullptr, &elements), E_INVALIDARG);
  EXPECT_EQ(browse_with(OPC_BROWSE_FILTER_ALL, &point, &more, &count, nullptr), E_INVALIDARG);
  EXPECT_EQ(browse_with(static_cast<OPCBROWSEFILTER>(4), &point, &more, &count, &elements), E_INVALIDARG);
  EXPECT_EQ(browse_with(static_cast<OPCBROWSEFILTER>(0), &point, &more, &count, &elements), E_INVALIDARG);
  EXPECT_EQ(browse_with(OPC_BROWSE_FILTER_ALL, &point, &more, &count, &elements, 3), E_INVALIDARG)
      << "property identifiers counted but not given";
  EXPECT_EQ(more, FALSE);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(elements, nullptr);
  // A continuation point handed in is the server's to free, also when the call fails.
  point = task_wide_copy(std::u16string_view(u"HBT3:1:0000000000000000"));
  EXPECT_EQ(browse_with(static_cast<OPCBROWSEFILTER>(9), &point, &more, &count, &elements), E_INVALIDARG);
  EXPECT_EQ(point, nullptr);
}

}  // namespace
}  // namespace hbt::opc::testing
