#include "opc/item_property_sets.h"

#include <cstring>
#include <memory>
#include <vector>

#include "com/task_memory.h"
#include "com/variant.h"
#include "opc/com_util.h"
#include "opc/item.h"
#include "opc/property_table.h"
#include "opc/property_values.h"
#include "opc/scratch_item.h"

namespace hbt::opc {
namespace {

// One entry of the answer: a property of the table the item lists, or an identifier the item
// does not have (null).
using Wanted = std::vector<std::pair<DWORD, const ItemProperty*>>;

Wanted wanted_properties(const PropertyRequest& request, const std::vector<const ItemProperty*>& listed) {
  Wanted out;
  if (request.all) {
    for (const ItemProperty* p : listed) out.emplace_back(p->id, p);
    return out;
  }
  for (DWORD i = 0; i < request.count; ++i) {
    const ItemProperty* found = nullptr;
    for (const ItemProperty* p : listed)
      if (p->id == request.ids[i]) found = p;
    out.emplace_back(request.ids[i], found);
  }
  return out;
}

// Fills the entries of `wanted`; `item` is null for a branch.
HRESULT fill(COPCDrvItem* item, const Wanted& wanted, bool with_values, OPCITEMPROPERTIES* out) {
  out->hrErrorID = S_OK;
  if (wanted.empty()) return S_OK;
  auto* entries = task_array<OPCITEMPROPERTY>(wanted.size());
  if (!entries) return E_OUTOFMEMORY;
  out->pItemProperties = entries;
  out->dwNumProperties = static_cast<DWORD>(wanted.size());
  std::unique_ptr<DeviceSample> sample;
  if (item && with_values) sample = std::make_unique<DeviceSample>(*item);
  for (std::size_t i = 0; i < wanted.size(); ++i) {
    OPCITEMPROPERTY& e = entries[i];
    com::VariantInit(&e.vValue);
    e.dwPropertyID = wanted[i].first;
    const ItemProperty* p = wanted[i].second;
    // A property is no item of its own here: its item ID is empty.
    e.szItemID = task_wide_copy(std::u16string_view());
    e.szDescription = task_wide_copy(std::u16string_view(p ? p->description : u""));
    if (!e.szItemID || !e.szDescription) return E_OUTOFMEMORY;
    if (!p) {
      e.hrErrorID = OPC_E_INVALID_PID;
      out->hrErrorID = S_FALSE;
      continue;
    }
    e.vtDataType = p->type;
    e.hrErrorID = S_OK;
    if (sample) {
      e.hrErrorID = property_value(*item, *sample, p->id, &e.vValue);
      if (e.hrErrorID == E_OUTOFMEMORY) return E_OUTOFMEMORY;
      if (FAILED(e.hrErrorID)) {
        com::VariantClear(&e.vValue);
        out->hrErrorID = S_FALSE;
      }
    }
  }
  return S_OK;
}

}  // namespace

void clear_item_properties(OPCITEMPROPERTIES* p) {
  for (DWORD i = 0; p->pItemProperties && i < p->dwNumProperties; ++i) {
    OPCITEMPROPERTY& e = p->pItemProperties[i];
    com::CoTaskMemFree(e.szItemID);
    com::CoTaskMemFree(e.szDescription);
    com::VariantClear(&e.vValue);
  }
  com::CoTaskMemFree(p->pItemProperties);
  std::memset(p, 0, sizeof *p);
}

HRESULT fill_item_properties(LPCWSTR item_id, const PropertyRequest& request, OPCITEMPROPERTIES* out) {
  COPCDrvItem item(nullptr);
  if (HRESULT bound = bind_scratch(item, item_id, 0); FAILED(bound)) {
    out->hrErrorID = bound;
    return S_OK;
  }
  HRESULT hr = E_OUTOFMEMORY;
  try {
    hr = fill(&item, wanted_properties(request, properties_for_kind(item.format().kind)), request.with_values, out);
  } catch (const std::bad_alloc&) {
  }
  if (FAILED(hr)) clear_item_properties(out);
  return hr;
}

HRESULT fill_branch_properties(const PropertyRequest& request, OPCITEMPROPERTIES* out) {
  HRESULT hr = E_OUTOFMEMORY;
  try {
    hr = fill(nullptr, wanted_properties(request, {}), false, out);
  } catch (const std::bad_alloc&) {
  }
  if (FAILED(hr)) clear_item_properties(out);
  return hr;
}

}  // namespace hbt::opc
