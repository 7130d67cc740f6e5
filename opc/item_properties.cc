#include "opc/item_properties.h"

#include <cstring>
#include <string>

#include "com/variant.h"
#include "opc/com_util.h"
#include "opc/item.h"
#include "opc/library.h"
#include "opc/property_table.h"
#include "opc/scratch_item.h"

namespace hbt::opc {
namespace {

constexpr std::size_t kDisplaySize = 32;
constexpr char kNoDisplay[] = "*?*";
constexpr char16_t kNoItemId[] = u"No ITEMID";

void set_text(VARIANT* out, std::string_view text) {
  out->bstrVal = com::bstr_from_utf8(text);
  if (out->bstrVal) out->vt = VT_BSTR;
}

using DisplayCall = NioStatus (*)(NioStatus*, NioBlock*, NioFormat*, char*, std::uint16_t);

// The text of one of the host library's display exports, or "*?*" when it fails.
std::string display_text(COPCDrvItem& item, DisplayCall call) {
  if (!call) return kNoDisplay;
  char buffer[kDisplaySize] = {};
  NioStatus status = 0;
  item.with_host_records([&](NioBlock* block, NioFormat* format) {
    call(&status, block, format, buffer, static_cast<std::uint16_t>(kDisplaySize));
  });
  if (status != 0) return kNoDisplay;
  return std::string(buffer, strnlen(buffer, kDisplaySize));
}

// nio_dopt takes its size as a signed count.
NioStatus dopt_call(NioStatus* status, NioBlock* block, NioFormat* format, char* out, std::uint16_t size) {
  return library().host.dopt(status, block, format, out, static_cast<std::int16_t>(size));
}

// Properties 2, 3 and 4 share one device read per call.
class DeviceSample {
 public:
  explicit DeviceSample(COPCDrvItem& item) : item_(item) { com::VariantInit(&value_); }
  ~DeviceSample() { com::VariantClear(&value_); }
  DeviceSample(const DeviceSample&) = delete;
  DeviceSample& operator=(const DeviceSample&) = delete;

  HRESULT value(VARIANT* out) {
    take();
    return com::VariantCopy(out, &value_);
  }
  std::uint16_t quality() {
    take();
    return quality_;
  }
  DATE timestamp() {
    take();
    // DOS time has two-second steps and no time zone; a stamp outside its years stays 0.
    WORD dos_date = 0, dos_time = 0;
    DOUBLE date = 0.0;
    if (FileTimeToDosDateTime(&stamp_, &dos_date, &dos_time)) DosDateTimeToVariantTime(dos_date, dos_time, &date);
    return date;
  }

 private:
  void take() {
    if (taken_) return;
    taken_ = true;
    item_.read(ReadSource::kDevice, &value_, &quality_, &stamp_);
  }

  COPCDrvItem& item_;
  bool taken_ = false;
  VARIANT value_;
  std::uint16_t quality_ = 0;
  FILETIME stamp_{};
};

HRESULT property_value(COPCDrvItem& item, DeviceSample& sample, DWORD id, VARIANT* out) {
  const HostApi& host = library().host;
  const bool analog = item.format().kind != hostlib::kKindDigital && item.format().kind != hostlib::kKindText;
  switch (id) {
    case 1:
      // The type QueryAvailableProperties announces; the canonical type as AddItems gives it.
      out->vt = VT_I2;
      out->iVal = static_cast<SHORT>(item.canonical_type() & ~VT_BYREF);
      return S_OK;
    case 2:
      return sample.value(out);
    case 3:
      out->vt = VT_I2;
      out->iVal = static_cast<SHORT>(sample.quality());
      return S_OK;
    case 4:
      out->vt = VT_DATE;
      out->date = sample.timestamp();
      return S_OK;
    case 5:
      out->vt = VT_I4;
      out->lVal = OPC_READABLE | OPC_WRITEABLE;
      return S_OK;
    case 6:
      // A scratch item belongs to no group, so it has no update rate.
      out->vt = VT_R4;
      out->fltVal = 0.0f;
      return S_OK;
    case 100:
      set_text(out, item.units());
      break;
    case 102:
      out->vt = VT_R8;
      out->dblVal = analog ? static_cast<double>(item.egu_low()) + static_cast<double>(item.egu_span()) : 1.0;
      return S_OK;
    case 103:
      out->vt = VT_R8;
      out->dblVal = analog ? static_cast<double>(item.egu_low()) : 0.0;
      return S_OK;
    case 106:
      set_text(out, item.close_label());
      break;
    case 107:
      set_text(out, item.open_label());
      break;
    case 5000:
      set_text(out, display_text(item, host.dsig));
      break;
    case 5001:
      set_text(out, display_text(item, host.dopt ? dopt_call : nullptr));
      break;
    case 5003:
      set_text(out, display_text(item, host.daddr));
      break;
    case 5002:
    case 5005:
      out->vt = VT_I4;
      out->lVal = item.element_count();
      return S_OK;
    case 5004:
      out->vt = VT_I4;
      out->lVal = item.format().decimals;
      return S_OK;
    default:
      return OPC_E_INVALID_PID;
  }
  return out->vt == VT_BSTR ? S_OK : E_OUTOFMEMORY;
}

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
