#include "opc/property_values.h"

#include <cstring>
#include <string>

#include "com/variant.h"
#include "opc/com_util.h"
#include "opc/library.h"

namespace hbt::opc {
namespace {

constexpr std::size_t kDisplaySize = 32;
constexpr char kNoDisplay[] = "*?*";

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

}  // namespace

DATE DeviceSample::timestamp() {
  take();
  // DOS time has two-second steps and no time zone; a stamp outside its years stays 0.
  WORD dos_date = 0, dos_time = 0;
  DOUBLE date = 0.0;
  if (FileTimeToDosDateTime(&stamp_, &dos_date, &dos_time)) DosDateTimeToVariantTime(dos_date, dos_time, &date);
  return date;
}

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

}  // namespace hbt::opc
