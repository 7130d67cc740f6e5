#include "opc/item_properties.h"

#include <cstring>
#include <string>

#include "com/variant.h"
#include "opc/com_util.h"
#include "opc/item.h"
#include "opc/library.h"
#include "opc/property_table.h"
#include "opc/property_values.h"
#include "opc/scratch_item.h"

namespace hbt::opc {
namespace {

constexpr char16_t kNoItemId[] = u"No ITEMID";

}  // namespace

HRESULT CImpIItemProperties::QueryAvailableProperties(LPWSTR szItemID, DWORD* pdwCount, DWORD** ppPropertyIDs,
                                                      LPWSTR** ppDescriptions, VARTYPE** ppvtDataTypes) {
  if (pdwCount) *pdwCount = 0;
  if (ppPropertyIDs) *ppPropertyIDs = nullptr;
  if (ppDescriptions) *ppDescriptions = nullptr;
  if (ppvtDataTypes) *ppvtDataTypes = nullptr;
  if (!szItemID || !pdwCount || !ppPropertyIDs || !ppDescriptions || !ppvtDataTypes) return E_INVALIDARG;

  COPCDrvItem item(nullptr);
  if (HRESULT hr = bind_scratch(item, szItemID, 0); FAILED(hr)) return hr;
  std::vector<const ItemProperty*> list;
  try {
    list = properties_for_kind(item.format().kind);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  auto* ids = task_array<DWORD>(list.size());
  auto* descriptions = task_array<LPWSTR>(list.size());
  auto* types = task_array<VARTYPE>(list.size());
  std::size_t copied = 0;
  if (ids && descriptions && types) {
    for (; copied < list.size(); ++copied) {
      descriptions[copied] = task_wide_copy(std::u16string_view(list[copied]->description));
      if (!descriptions[copied]) break;
      ids[copied] = list[copied]->id;
      types[copied] = list[copied]->type;
    }
  }
  if (copied < list.size()) {
    for (std::size_t i = 0; i < copied; ++i) com::CoTaskMemFree(descriptions[i]);
    com::CoTaskMemFree(ids);
    com::CoTaskMemFree(descriptions);
    com::CoTaskMemFree(types);
    return E_OUTOFMEMORY;
  }
  *pdwCount = static_cast<DWORD>(list.size());
  *ppPropertyIDs = ids;
  *ppDescriptions = descriptions;
  *ppvtDataTypes = types;
  return S_OK;
}

HRESULT CImpIItemProperties::GetItemProperties(LPWSTR szItemID, DWORD dwCount, DWORD* pdwPropertyIDs,
                                               VARIANT** ppvData, HRESULT** ppErrors) {
  if (ppvData) *ppvData = nullptr;
  if (ppErrors) *ppErrors = nullptr;
  if (!szItemID || dwCount == 0 || !pdwPropertyIDs || !ppvData || !ppErrors) return E_INVALIDARG;

  COPCDrvItem item(nullptr);
  if (HRESULT hr = bind_scratch(item, szItemID, 0); FAILED(hr)) return hr;
  auto* values = task_array<VARIANT>(dwCount);
  auto* errors = task_array<HRESULT>(dwCount);
  if (!values || !errors) {
    com::CoTaskMemFree(values);
    com::CoTaskMemFree(errors);
    return E_OUTOFMEMORY;
  }
  DeviceSample sample(item);
  bool any_failed = false;
  for (DWORD i = 0; i < dwCount; ++i) {
    com::VariantInit(&values[i]);
    errors[i] = property_value(item, sample, pdwPropertyIDs[i], &values[i]);
    if (FAILED(errors[i])) {
      com::VariantClear(&values[i]);
      any_failed = true;
    }
  }
  *ppvData = values;
  *ppErrors = errors;
  return any_failed ? S_FALSE : S_OK;
}

HRESULT CImpIItemProperties::LookupItemIDs(LPWSTR szItemID, DWORD dwCount, DWORD* pdwPropertyIDs,
                                           LPWSTR** ppszNewItemIDs, HRESULT** ppErrors) {
  if (ppszNewItemIDs) *ppszNewItemIDs = nullptr;
  if (ppErrors) *ppErrors = nullptr;
  if (!szItemID || dwCount == 0 || !pdwPropertyIDs || !ppszNewItemIDs || !ppErrors) return E_INVALIDARG;
  auto* ids = task_array<LPWSTR>(dwCount);
  auto* errors = task_array<HRESULT>(dwCount);
  DWORD made = 0;
  if (ids && errors) {
    for (; made < dwCount; ++made) {
      ids[made] = task_wide_copy(std::u16string_view(kNoItemId));
      if (!ids[made]) break;
      errors[made] = S_OK;
    }
  }
  if (made < dwCount) {
    for (DWORD i = 0; i < made; ++i) com::CoTaskMemFree(ids[i]);
    com::CoTaskMemFree(ids);
    com::CoTaskMemFree(errors);
    return E_OUTOFMEMORY;
  }
  *ppszNewItemIDs = ids;
  *ppErrors = errors;
  return S_OK;
}

}  // namespace hbt::opc
