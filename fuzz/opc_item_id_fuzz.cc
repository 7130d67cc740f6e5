// Item IDs and browse texts as an OPC client sends them, against the standard plant through
// the server's host table. Never a crash. An ID binds as a scratch item only below 64 wide
// characters and when it is more than blanks, and then to a point with an address; a bound
// item's properties are those its kind lists, each in its announced type.
// The browse name filter keeps exactly what its rules say for prefix, suffix and containment
// filters made from the name itself; browse lists pass their filter; an item ID made from a
// browse entry is trimmed, cut before " - ", and starts with the device browsed to.
#include <algorithm>
#include <cctype>
#include <string>

#include "com/task_memory.h"
#include "com/variant.h"
#include "fuzz/fuzz_target.h"
#include "opc/browse_server.h"
#include "opc/item.h"
#include "opc/item_id.h"
#include "opc/item_properties.h"
#include "opc/name_filter.h"
#include "opc/property_table.h"
#include "opc/scratch_item.h"
#include "opc/test_server.h"

namespace hbt::opc {
namespace {

using fuzz::fail;

constexpr const char* kName = "opc_item_id";

struct World {
  testing::Recorded recorded;
  hostlib::testing::Plant plant{hostlib::testing::standard_plant()};
  World() {
    if (!plant.loaded()) fail(kName, "the test image does not load");
    plant.all_good();
    testing::g_host = &plant.host();
    testing::g_recorded = &recorded;
    if (!library_attach(testing::plant_api())) fail(kName, "the server library does not attach");
  }
};

World& world() {
  static World w;
  return w;
}

std::string show(std::u16string_view text) { return narrow(text); }

void item(const std::u16string& id) {
  COPCDrvItem scratch(nullptr);
  const HRESULT bound = bind_scratch(scratch, id.c_str(), 0);
  if (id.size() >= kScratchIdLimit && bound != OPC_E_INVALIDITEMID)
    fail(kName, "an ID of " + std::to_string(id.size()) + " characters was not refused");
  if (SUCCEEDED(bound) && bound != S_OK) fail(kName, "binding succeeded with a code other than S_OK");
  if (SUCCEEDED(bound) && trim(narrow(id)).empty()) fail(kName, "an ID of blanks alone bound");

  CImpIItemProperties props(nullptr);
  LPWSTR text = const_cast<LPWSTR>(id.c_str());
  DWORD count = 0;
  DWORD* ids = nullptr;
  LPWSTR* descriptions = nullptr;
  VARTYPE* types = nullptr;
  const HRESULT listed = props.QueryAvailableProperties(text, &count, &ids, &descriptions, &types);
  if (listed != bound) fail(kName, "properties bind '" + show(id) + "' otherwise than a scratch item");
  if (FAILED(listed)) return;
  if (count != 10 && count != 14) fail(kName, "a list of " + std::to_string(count) + " properties");

  std::vector<DWORD> all;
  for (const ItemProperty& p : kItemProperties) all.push_back(p.id);
  VARIANT* values = nullptr;
  HRESULT* errors = nullptr;
  if (props.GetItemProperties(text, static_cast<DWORD>(all.size()), all.data(), &values, &errors) != S_OK)
    fail(kName, "the properties of a bound item '" + show(id) + "' did not all come");
  for (std::size_t i = 0; i < all.size(); ++i) {
    const VARTYPE want = kItemProperties[i].type;  // the type QueryAvailableProperties announces
    if (errors[i] != S_OK || (want != VT_VARIANT && values[i].vt != want))
      fail(kName, "property " + std::to_string(all[i]) + " of '" + show(id) + "' has type " +
                      std::to_string(values[i].vt));
    if (all[i] == 5003 && values[i].vt == VT_BSTR && narrow(wide_view(values[i].bstrVal)) == "--UNDEFINED--")
      fail(kName, "'" + show(id) + "' bound to a point without an address");
    if (values[i].vt == VT_BSTR && com::SysStringLen(values[i].bstrVal) > 128)
      fail(kName, "property " + std::to_string(all[i]) + " is a text of " +
                      std::to_string(com::SysStringLen(values[i].bstrVal)) + " characters");
    com::VariantClear(&values[i]);
  }
  for (DWORD i = 0; i < count; ++i) com::CoTaskMemFree(descriptions[i]);
  com::CoTaskMemFree(ids);
  com::CoTaskMemFree(descriptions);
  com::CoTaskMemFree(types);
  com::CoTaskMemFree(values);
  com::CoTaskMemFree(errors);
}

void filter(const std::string& name, const std::string& f) {
  const bool passes = name_passes_filter(name, f);
  if (!f.empty() && f.find('*') == std::string::npos && passes != (name == f))
    fail(kName, "filter '" + f + "' without a star is not equality for '" + name + "'");
  if (!f.empty() && f.front() != '*' && f.back() != '*' && f.find('*') != std::string::npos && !passes)
    fail(kName, "filter '" + f + "' with stars only inside refused '" + name + "'");
  const auto stars = static_cast<std::size_t>(std::count(f.begin(), f.end(), '*'));
  const bool at_an_end = !f.empty() && (f.front() == '*' || f.back() == '*');
  if (passes && at_an_end && f != "*" && name.size() < f.size() - stars)
    fail(kName, "'" + name + "' is shorter than filter '" + f + "' without its stars, yet kept");
  if (name.find('*') != std::string::npos) return;
  // Filters made from the name: itself, its prefixes, suffixes and middles with stars.
  for (const std::string& own : {name, name + "*", "*" + name, "*" + name + "*"})
    if (!name_passes_filter(name, own)) fail(kName, "'" + name + "' refused by '" + own + "'");
  if (!name.empty()) {
    const std::string longer = name + name.back();
    for (const std::string& own : {longer, longer + "*", "*" + longer, "*" + longer + "*"})
      if (name_passes_filter(name, own)) fail(kName, "'" + name + "' kept by the longer '" + own + "'");
  }
}

bool spaced(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

void browse(const std::u16string& device, const std::u16string& entry) {
  CImpIOPCBrowseServer b(nullptr);
  const bool inside = b.ChangeBrowsePosition(OPC_BROWSE_DOWN, device.c_str()) == S_OK;
  const std::string device_text = narrow(device);
  if (inside != (!device.empty() && library().host.find_dev(device_text.c_str()) != 0))
    fail(kName, "browsing down to '" + device_text + "' disagrees with the host library");

  IEnumString* e = nullptr;
  const HRESULT listed = b.BrowseOPCItemIDs(inside ? OPC_LEAF : OPC_BRANCH, entry.c_str(), VT_EMPTY, 0, &e);
  if (FAILED(listed) || !e) fail(kName, "a browse list failed");
  LPOLESTR got = nullptr;
  ULONG n = 0;
  const std::string f = narrow(entry);
  while (e->Next(1, &got, &n) == S_OK) {
    const std::string name = narrow(wide_view(got));
    com::CoTaskMemFree(got);
    if (!name_passes_filter(name, f)) fail(kName, "'" + name + "' listed although filter '" + f + "' refuses it");
  }
  e->Release();

  LPWSTR id = nullptr;
  if (b.GetItemID(const_cast<LPWSTR>(entry.c_str()), &id) != S_OK) fail(kName, "GetItemID failed");
  const std::string result = narrow(wide_view(id));
  com::CoTaskMemFree(id);
  if (!result.empty() && (spaced(result.front()) || spaced(result.back())))
    fail(kName, "item ID '" + result + "' is not trimmed");
  if (result.find(" - ") != std::string::npos) fail(kName, "item ID '" + result + "' keeps a range");
  if (inside && result.compare(0, device_text.size(), device_text) != 0)
    fail(kName, "item ID '" + result + "' does not start with the device '" + device_text + "'");
}

void run(std::span<const std::uint8_t> data) {
  if (data.empty()) return;
  world();
  const std::uint8_t mode = data[0];
  std::u16string units;
  if (mode & 0x80) {
    for (std::size_t i = 1; i + 1 < data.size(); i += 2) units.push_back(static_cast<char16_t>(data[i] | data[i + 1] << 8));
  } else {
    for (std::size_t i = 1; i < data.size(); ++i) units.push_back(data[i]);
  }
  units = units.substr(0, units.find(u'\0'));
  const std::size_t cut = units.find(u'\n');
  const std::u16string first = units.substr(0, cut);
  const std::u16string second = cut == std::u16string::npos ? u"" : units.substr(cut + 1);
  switch (mode % 3) {
    case 0:
      item(units);
      break;
    case 1:
      filter(narrow(first), narrow(second));
      break;
    default:
      browse(first, second);
      break;
  }
}

// Item IDs of the server's tests, filters of the browse tests, and range texts.
std::vector<fuzz::Bytes> seeds() {
  std::vector<fuzz::Bytes> out;
  auto add = [&](std::uint8_t mode, std::string_view text) {
    fuzz::Bytes b = {mode};
    b.insert(b.end(), text.begin(), text.end());
    out.push_back(b);
  };
  for (std::string_view id : {"PLC1:D:100", "PLC1:D:100|LIN,0,100,,degC", "PLC1:D:100|NONE,-5.25,5,,millibar",
                              "PLC1:D:100$20", "PLC1:D:100$127,ignored", "PLC1:D:100[10]", "PLC1:M:10|NONE,Stopped,Running!",
                              "PLC1:X:1F", "PLC1:EX:2:310", "PLC2:D:0;SQRT", "PLC3:R:9", " plc1:w:2a ", "PLC9:D:0",
                              "    ", " \t|S,0,100", "PLC1:Q:10"})
    add(0, id);
  for (std::string_view f : {"PLC1\nPL*", "PLC1\n*1", "PLC1\nP*1", "PLC1\n**", "PLC1\na*b*c", "D:0 - D:99\n*-*",
                             "PLC1\n***", "PL\nPLC*", "P\nP*C*", "1\n*X*1"})
    add(1, f);
  for (std::string_view b : {"PLC1\n", "PLC1\nD:100 - D:109", "PLC2\nD:*", "\nPL*", "NONE\n*2", "plc3\n  R:0 - R:9  "})
    add(2, b);
  fuzz::Bytes wide = {0x80};
  for (char c : std::string_view("PLC1:D:100|LIN")) {
    wide.push_back(static_cast<std::uint8_t>(c));
    wide.push_back(0);
  }
  wide.push_back(0x3D);  // an unpaired surrogate
  wide.push_back(0xD8);
  out.push_back(wide);
  return out;
}

}  // namespace
}  // namespace hbt::opc

HBT_FUZZ_TARGET(opc_item_id, hbt::opc::run, hbt::opc::seeds)
