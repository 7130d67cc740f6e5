#include "opc/browse_server.h"

#include <new>
#include <vector>

#include "opc/address_space.h"
#include "opc/com_util.h"
#include "opc/enumerators.h"
#include "opc/item_id.h"
#include "opc/library.h"
#include "opc/name_filter.h"

namespace hbt::opc {
namespace {

bool type_filter_known(VARTYPE vt) {
  switch (vt) {
    case VT_EMPTY:
    case VT_I2:
    case VT_I4:
    case VT_R4:
    case VT_BSTR:
    case VT_BOOL:
      return true;
    default:
      return false;
  }
}

}  // namespace

HRESULT CImpIOPCBrowseServer::QueryOrganization(OPCNAMESPACETYPE* pNameSpaceType) {
  if (!pNameSpaceType) return E_INVALIDARG;
  *pNameSpaceType = OPC_NS_HIERARCHIAL;
  return S_OK;
}

HRESULT CImpIOPCBrowseServer::ChangeBrowsePosition(OPCBROWSEDIRECTION dwBrowseDirection, LPCWSTR szString) {
  if (!szString) return E_INVALIDARG;
  const bool empty = szString[0] == 0;
  std::lock_guard lock(mutex_);
  switch (dwBrowseDirection) {
    case OPC_BROWSE_UP:
      if (!empty) return E_INVALIDARG;
      if (level_ == 0) return E_FAIL;
      level_ = 0;
      device_.clear();
      return S_OK;
    case OPC_BROWSE_TO:
      if (empty) {
        level_ = 0;
        device_.clear();
        return S_OK;
      }
      [[fallthrough]];
    case OPC_BROWSE_DOWN: {
      // There is nothing below a device.
      if (empty || level_ != 0) return E_INVALIDARG;
      std::string name = narrow(wide_view(szString));
      const HostApi& host = library().host;
      if (!host.find_dev || host.find_dev(name.c_str()) == 0) return E_INVALIDARG;
      device_ = std::move(name);
      level_ = 1;
      return S_OK;
    }
    default:
      return E_INVALIDARG;
  }
}

HRESULT CImpIOPCBrowseServer::hand_out(std::vector<std::u16string> names, LPENUMSTRING* out) {
  const bool any = !names.empty();
  IEnumString* e = new_string_enumerator(owner_, std::move(names));
  if (!e) return E_OUTOFMEMORY;
  HRESULT hr = e->QueryInterface(IID_IEnumString, reinterpret_cast<void**>(out));
  e->Release();
  if (FAILED(hr)) return E_FAIL;
  (*out)->Reset();
  return any ? S_OK : S_FALSE;
}

HRESULT CImpIOPCBrowseServer::BrowseOPCItemIDs(OPCBROWSETYPE dwBrowseFilterType, LPCWSTR szFilterCriteria,
                                               VARTYPE vtDataTypeFilter, DWORD, LPENUMSTRING* ppIEnumString) {
  if (!ppIEnumString) return E_INVALIDARG;
  *ppIEnumString = nullptr;
  std::vector<std::u16string> names;
  try {
    if (!type_filter_known(vtDataTypeFilter)) return hand_out({}, ppIEnumString);
    std::int32_t level;
    std::string device;
    {
      std::lock_guard lock(mutex_);
      level = level_;
      device = device_;
    }
    const std::string filter = narrow(wide_view(szFilterCriteria));
    std::vector<std::string> found;
    switch (dwBrowseFilterType) {
      case OPC_BRANCH:
        if (level == 0) {
          if (HRESULT hr = list_devices(&found); FAILED(hr)) return hr;
        }
        break;
      case OPC_LEAF:
        if (level != 0) {
          if (HRESULT hr = list_ranges(device, &found); FAILED(hr)) return hr;
        }
        break;
      case OPC_FLAT: {
        const HostApi& host = library().host;
        if (!host.num_pollblocks || host.num_pollblocks() == 0) return E_FAIL;
        if (level != 0) {
          if (HRESULT hr = list_ranges(device, &found); FAILED(hr)) return hr;
        } else {
          std::vector<std::string> devices;
          if (HRESULT hr = list_devices(&devices); FAILED(hr)) return hr;
          for (const std::string& d : devices) {
            std::vector<std::string> ranges;
            if (HRESULT hr = list_ranges(d, &ranges); FAILED(hr)) return hr;
            for (const std::string& r : ranges) found.push_back(d + ":" + r);
          }
        }
        for (const std::string& f : found) names.push_back(wide(f));
        return hand_out(std::move(names), ppIEnumString);
      }
      default:
        return E_INVALIDARG;
    }
    for (const std::string& f : found)
      if (name_passes_filter(f, filter)) names.push_back(wide(f));
    return hand_out(std::move(names), ppIEnumString);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT CImpIOPCBrowseServer::GetItemID(LPWSTR szItemDataID, LPWSTR* szItemID) {
  if (!szItemDataID || !szItemID) return E_INVALIDARG;
  *szItemID = nullptr;
  try {
    std::string id = narrow(wide_view(szItemDataID));
    {
      std::lock_guard lock(mutex_);
      if (level_ != 0) id = id.empty() ? device_ : device_ + ":" + id;
    }
    // A range text names its first register; the flat list's entries carry their device.
    std::size_t cut = id.find(" - ");
    if (cut != std::string::npos) id.resize(cut);
    *szItemID = task_wide_copy(std::string_view(trim(id)));
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return *szItemID ? S_OK : E_OUTOFMEMORY;
}

HRESULT CImpIOPCBrowseServer::BrowseAccessPaths(LPCWSTR, LPENUMSTRING* ppIEnumString) {
  if (ppIEnumString) *ppIEnumString = nullptr;
  return E_NOTIMPL;
}

}  // namespace hbt::opc
