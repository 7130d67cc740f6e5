#include "opc/item_browser.h"

#include <cctype>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "com/task_memory.h"
#include "opc/address_space.h"
#include "opc/com_util.h"
#include "opc/item.h"
#include "opc/item_id.h"
#include "opc/item_property_sets.h"
#include "opc/library.h"
#include "opc/like_pattern.h"
#include "opc/scratch_item.h"

namespace hbt::opc {
namespace {

struct Element {
  std::u16string name;
  std::u16string item_id;
  DWORD flags = 0;
};

bool is_branch(const Element& e) { return (e.flags & OPC_BROWSE_ISITEM) == 0; }

bool same_ignoring_case(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (std::toupper(static_cast<unsigned char>(a[i])) != std::toupper(static_cast<unsigned char>(b[i]))) return false;
  return true;
}

// The configured name of a device the host library knows by `name`, or nothing.
std::optional<std::string> device_named(const std::string& name) {
  const HostApi& host = library().host;
  if (name.empty() || !host.find_dev || host.find_dev(name.c_str()) == 0) return std::nullopt;
  std::vector<std::string> devices;
  if (SUCCEEDED(list_devices(&devices))) {
    for (const std::string& d : devices)
      if (d == name) return d;
    for (const std::string& d : devices)
      if (same_ignoring_case(d, name)) return d;
  }
  return name;
}

// The item ID of a range text: its first register, as GetItemID of the older interface gives it.
std::string range_item_id(const std::string& device, const std::string& range) {
  std::string id = device + ":" + range;
  std::size_t cut = id.find(" - ");
  if (cut != std::string::npos) id.resize(cut);
  return trim(id);
}

// The children of a branch: the devices at the root, the ranges below a device. An item has
// none; anything else is not in the address space.
HRESULT children(const std::string& branch, std::vector<Element>* out) {
  if (branch.empty()) {
    std::vector<std::string> devices;
    if (HRESULT hr = list_devices(&devices); FAILED(hr)) return hr;
    for (const std::string& d : devices) {
      std::vector<std::string> ranges;
      if (HRESULT hr = list_ranges(d, &ranges); FAILED(hr)) return hr;
      out->push_back({wide(d), wide(d), ranges.empty() ? 0u : static_cast<DWORD>(OPC_BROWSE_HASCHILDREN)});
    }
    return S_OK;
  }
  if (auto device = device_named(branch)) {
    std::vector<std::string> ranges;
    if (HRESULT hr = list_ranges(*device, &ranges); FAILED(hr)) return hr;
    for (const std::string& r : ranges) out->push_back({wide(r), wide(range_item_id(*device, r)), OPC_BROWSE_ISITEM});
    return S_OK;
  }
  COPCDrvItem item(nullptr);
  const std::u16string id = wide(branch);
  return SUCCEEDED(bind_scratch(item, id.c_str(), 0)) ? S_OK : OPC_E_UNKNOWNITEMID;
}

// A pattern, or none for a null or empty filter; false for a filter that is no pattern.
bool filter_of(LPCWSTR text, std::optional<LikePattern>* out) {
  out->reset();
  if (!text || text[0] == 0) return true;
  *out = LikePattern::parse(wide_view(text));
  return out->has_value();
}

// --- Continuation points --------------------------------------------------------------------
// A continuation point is where the next call starts in the filtered list, with a fingerprint
// of the request and of the list it was made for: a point from another request, or one made
// before the address space changed, is refused instead of continuing somewhere else.

constexpr std::string_view kPointPrefix = "HBT3:";

class Fingerprint {
 public:
  void add(std::u16string_view text) {
    for (char16_t c : text) mix(c);
    mix(0xFFFF);  // a separator no text holds
  }
  void add(DWORD n) { mix(static_cast<std::uint64_t>(n)); }
  std::uint64_t value() const { return hash_; }

 private:
  void mix(std::uint64_t v) {
    hash_ ^= v;
    hash_ *= 0x100000001B3ull;  // FNV-1a
  }
  std::uint64_t hash_ = 0xCBF29CE484222325ull;
};

std::u16string point_text(std::size_t offset, std::uint64_t fingerprint) {
  char text[64];
  std::snprintf(text, sizeof text, "%s%zu:%016llx", kPointPrefix.data(), offset,
                static_cast<unsigned long long>(fingerprint));
  return wide(text);
}

// The offset a continuation point names, when it was made for this fingerprint.
std::optional<std::size_t> point_offset(const std::u16string& point, std::uint64_t fingerprint) {
  const std::string text = narrow(point);
  if (text.compare(0, kPointPrefix.size(), kPointPrefix) != 0) return std::nullopt;
  const char* at = text.data() + kPointPrefix.size();
  const char* end = text.data() + text.size();
  std::size_t offset = 0;
  auto [after_offset, error] = std::from_chars(at, end, offset);
  if (error != std::errc() || after_offset == at || after_offset == end || *after_offset != ':') return std::nullopt;
  std::uint64_t seen = 0;
  auto [after_hash, hash_error] = std::from_chars(after_offset + 1, end, seen, 16);
  if (hash_error != std::errc() || after_hash != end || end - (after_offset + 1) != 16) return std::nullopt;
  if (seen != fingerprint) return std::nullopt;
  return offset;
}

void free_elements(OPCBROWSEELEMENT* elements, std::size_t count) {
  for (std::size_t i = 0; elements && i < count; ++i) {
    com::CoTaskMemFree(elements[i].szName);
    com::CoTaskMemFree(elements[i].szItemID);
    clear_item_properties(&elements[i].ItemProperties);
  }
  com::CoTaskMemFree(elements);
}

}  // namespace

HRESULT CImpIOPCBrowse::GetProperties(DWORD dwItemCount, LPWSTR* pszItemIDs, BOOL bReturnPropertyValues,
                                      DWORD dwPropertyCount, DWORD* pdwPropertyIDs,
                                      OPCITEMPROPERTIES** ppItemProperties) {
  if (!ppItemProperties) return E_INVALIDARG;
  *ppItemProperties = nullptr;
  if (dwItemCount == 0 || !pszItemIDs || (dwPropertyCount != 0 && !pdwPropertyIDs)) return E_INVALIDARG;
  PropertyRequest request{dwPropertyCount == 0, pdwPropertyIDs, dwPropertyCount, bReturnPropertyValues != 0};
  auto* results = task_array<OPCITEMPROPERTIES>(dwItemCount);
  if (!results) return E_OUTOFMEMORY;
  HRESULT hr = S_OK;
  try {
    for (DWORD i = 0; i < dwItemCount; ++i) {
      const LPCWSTR id = pszItemIDs[i];
      HRESULT filled = id && device_named(narrow(wide_view(id))) ? fill_branch_properties(request, &results[i])
                                                                 : fill_item_properties(id, request, &results[i]);
      if (FAILED(filled)) {
        for (DWORD k = 0; k < dwItemCount; ++k) clear_item_properties(&results[k]);
        com::CoTaskMemFree(results);
        return filled;
      }
      if (results[i].hrErrorID != S_OK) hr = S_FALSE;
    }
  } catch (const std::bad_alloc&) {
    for (DWORD k = 0; k < dwItemCount; ++k) clear_item_properties(&results[k]);
    com::CoTaskMemFree(results);
    return E_OUTOFMEMORY;
  }
  *ppItemProperties = results;
  return hr;
}

HRESULT CImpIOPCBrowse::Browse(LPWSTR szItemID, LPWSTR* pszContinuationPoint, DWORD dwMaxElementsReturned,
                               OPCBROWSEFILTER dwBrowseFilter, LPWSTR szElementNameFilter, LPWSTR szVendorFilter,
                               BOOL bReturnAllProperties, BOOL bReturnPropertyValues, DWORD dwPropertyCount,
                               DWORD* pdwPropertyIDs, BOOL* pbMoreElements, DWORD* pdwCount,
                               OPCBROWSEELEMENT** ppBrowseElements) {
  if (!pszContinuationPoint || !pbMoreElements || !pdwCount || !ppBrowseElements) return E_INVALIDARG;
  *pbMoreElements = FALSE;
  *pdwCount = 0;
  *ppBrowseElements = nullptr;
  // The point the client passed is the server's to free; a new one, if any, replaces it.
  const std::u16string point_in(wide_view(*pszContinuationPoint));
  com::CoTaskMemFree(*pszContinuationPoint);
  *pszContinuationPoint = nullptr;
  if (dwBrowseFilter != OPC_BROWSE_FILTER_ALL && dwBrowseFilter != OPC_BROWSE_FILTER_BRANCHES &&
      dwBrowseFilter != OPC_BROWSE_FILTER_ITEMS)
    return E_INVALIDARG;
  if (!bReturnAllProperties && dwPropertyCount != 0 && !pdwPropertyIDs) return E_INVALIDARG;

  try {
    std::optional<LikePattern> name_filter, vendor_filter;
    if (!filter_of(szElementNameFilter, &name_filter) || !filter_of(szVendorFilter, &vendor_filter))
      return OPC_E_INVALIDFILTER;
    const std::string branch = trim(narrow(wide_view(szItemID)));
    std::vector<Element> all;
    if (HRESULT hr = children(branch, &all); FAILED(hr)) return hr;

    Fingerprint fingerprint;
    fingerprint.add(wide(branch));
    fingerprint.add(static_cast<DWORD>(dwBrowseFilter));
    fingerprint.add(wide_view(szElementNameFilter));
    fingerprint.add(wide_view(szVendorFilter));
    std::vector<Element> list;
    for (Element& e : all) {
      if (dwBrowseFilter == OPC_BROWSE_FILTER_BRANCHES && !is_branch(e)) continue;
      if (dwBrowseFilter == OPC_BROWSE_FILTER_ITEMS && is_branch(e)) continue;
      if (name_filter && !name_filter->matches(e.name)) continue;
      if (vendor_filter && !vendor_filter->matches(e.item_id)) continue;
      fingerprint.add(e.item_id);
      list.push_back(std::move(e));
    }

    std::size_t start = 0;
    if (!point_in.empty()) {
      auto offset = point_offset(point_in, fingerprint.value());
      if (!offset || *offset >= list.size()) return OPC_E_INVALIDCONTINUATIONPOINT;
      start = *offset;
    }
    const std::size_t rest = list.size() - start;
    const std::size_t n = dwMaxElementsReturned == 0 ? rest : std::min<std::size_t>(rest, dwMaxElementsReturned);

    PropertyRequest request{bReturnAllProperties != 0, pdwPropertyIDs, dwPropertyCount, bReturnPropertyValues != 0};
    const bool with_properties = bReturnAllProperties || dwPropertyCount != 0;
    OPCBROWSEELEMENT* elements = n == 0 ? nullptr : task_array<OPCBROWSEELEMENT>(n);
    if (n != 0 && !elements) return E_OUTOFMEMORY;
    HRESULT result = S_OK;
    for (std::size_t i = 0; i < n; ++i) {
      const Element& e = list[start + i];
      OPCBROWSEELEMENT& out = elements[i];
      out.szName = task_wide_copy(std::u16string_view(e.name));
      out.szItemID = task_wide_copy(std::u16string_view(e.item_id));
      out.dwFlagValue = e.flags;
      HRESULT filled = S_OK;
      if (with_properties)
        filled = is_branch(e) ? fill_branch_properties(request, &out.ItemProperties)
                              : fill_item_properties(e.item_id.c_str(), request, &out.ItemProperties);
      if (!out.szName || !out.szItemID || FAILED(filled)) {
        free_elements(elements, n);
        return E_OUTOFMEMORY;
      }
      if (out.ItemProperties.hrErrorID != S_OK) result = S_FALSE;
    }
    if (start + n < list.size()) {
      *pszContinuationPoint = task_wide_copy(std::u16string_view(point_text(start + n, fingerprint.value())));
      if (!*pszContinuationPoint) {
        free_elements(elements, n);
        return E_OUTOFMEMORY;
      }
    }
    *pdwCount = static_cast<DWORD>(n);
    *ppBrowseElements = elements;
    return result;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

}  // namespace hbt::opc
