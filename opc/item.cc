#include "opc/item.h"

#include <cstdio>
#include <cstring>

#include "com/variant.h"
#include "opc/com_util.h"
#include "opc/group.h"
#include "opc/item_id.h"
#include "opc/library.h"
#include "opc/reporting.h"
#include "opc/settings.h"

namespace hbt::opc {
namespace {

constexpr std::uint16_t kOutOfServiceBits = 0x3C;  // bits 2 to 5 of the quality
constexpr std::size_t kMaxTextLength = 128;
constexpr std::size_t kLabelChars = 7;
constexpr std::size_t kUnitChars = 4;

void copy_cut(char* out, std::size_t chars, const std::string& text) {
  std::size_t n = std::min(chars, text.size());
  std::memcpy(out, text.data(), n);
  out[n] = 0;
}

}  // namespace

COPCDrvItem::COPCDrvItem(COPCDrvGroup* group) : group_(group) {
  com::VariantInit(&value_);
  com::VariantInit(&reported_value_);
}

COPCDrvItem::~COPCDrvItem() {
  com::VariantClear(&value_);
  com::VariantClear(&reported_value_);
}

HRESULT COPCDrvItem::fail(const std::string& message, HRESULT code) {
  if (group_ && !message.empty()) send_message(kColourError, message);
  quality_ = OPC_QUALITY_CONFIG_ERROR;
  return code;
}

bool COPCDrvItem::type_acceptable(VARTYPE vt) {
  VARIANT empty, converted;
  com::VariantInit(&empty);
  com::VariantInit(&converted);
  HRESULT hr = com::VariantChangeType(&converted, &empty, 0, vt);
  com::VariantClear(&converted);
  return SUCCEEDED(hr);
}

HRESULT COPCDrvItem::set_requested_type(VARTYPE vt) {
  if (!type_acceptable(vt)) return OPC_E_BADTYPE;
  std::lock_guard lock(mutex_);
  requested_type_ = vt;
  return S_OK;
}

HRESULT COPCDrvItem::bind(const OPCITEMDEF& def, OPCHANDLE server_handle, OPCITEMRESULT* result) {
  std::memset(result, 0, sizeof *result);
  if (!def.szItemID) return fail("OPC: Item id passed as NULL", OPC_E_INVALIDITEMID);
  // Trimmed first: an ID of blanks alone would reach the host library as an empty address,
  // which binds to a point with no address that reads nothing.
  const std::string text = trim(narrow(wide_view(def.szItemID)));
  if (text.empty()) return fail("OPC: Empty Item ID passed", OPC_E_INVALIDITEMID);

  const HostApi& host = library().host;
  const Settings& s = settings();
  std::unique_lock lock(mutex_);
  com::VariantClear(&value_);
  cache_valid_ = false;
  canonical_type_ = VT_EMPTY;
  quality_ = 0;

  if (!type_acceptable(def.vtRequestedDataType)) {
    lock.unlock();
    return fail("OPC DLL: Invalid requested datatype (" + std::to_string(def.vtRequestedDataType) + ")",
                OPC_E_BADTYPE);
  }
  requested_type_ = def.vtRequestedDataType;
  format_.kind = hostlib::kKindAutomatic;
  element_count_ = 1;
  canonical_type_ = VT_R4;

  ItemId id = parse_item_id(text);
  std::string address = upper(id.address);
  host_status_ = 0;
  if (!host.paddr || host.paddr(&host_status_, &block_, &format_, address.c_str()) != 0 || host_status_ != 0) {
    lock.unlock();
    return fail("", OPC_E_INVALIDITEMID);
  }
  if (id.text_item) format_.kind = hostlib::kKindText;
  switch (format_.kind) {
    case hostlib::kKindDigital: canonical_type_ = VT_BOOL; break;
    case hostlib::kKindText: canonical_type_ = VT_BSTR; break;
    default: canonical_type_ = VT_R4; break;
  }

  if (format_.kind == hostlib::kKindText) {
    std::string length_text = id.options.substr(0, id.options.find(','));
    long length = id.has_options ? leading_integer(length_text) : 0;
    if (!id.has_options || length == 0) {
      if (id.has_options) {
        NioStatus ignored = 0;
        if (host.psig) host.psig(&ignored, &block_, &format_, length_text.c_str());
      }
      length = s.string_length;
    }
    if (length < 0 || static_cast<unsigned long>(length) >= kMaxTextLength) return OPC_E_INVALIDITEMID;
    element_count_ = static_cast<std::uint16_t>(length);
    value_.vt = VT_BSTR;
    value_.bstrVal = com::SysAllocString(u"");
  } else {
    OptionFields f;
    if (id.has_options) f = split_option_fields(id.options);
    if (f.signal_conditioning.empty()) f.signal_conditioning = s.signal_conditioning;
    bool digital_defaults = !id.has_options && format_.kind == hostlib::kKindDigital;
    if (f.low.empty()) f.low = digital_defaults ? "OFF" : s.lo_egu;
    if (f.high.empty()) f.high = digital_defaults ? "ON" : s.hi_egu;
    if (f.hardware_options.empty()) f.hardware_options = s.hardware_options;
    element_count_ = id.array_size >= 1 && id.array_size <= 0xFFFF ? static_cast<std::uint16_t>(id.array_size) : 1;

    if (format_.kind == hostlib::kKindAnalog) {
      format_.egu_low = static_cast<float>(leading_number(f.low));
      format_.egu_span = static_cast<float>(leading_number(f.high)) - format_.egu_low;
      std::size_t dot = f.low.find('.');
      format_.decimals = dot == std::string::npos ? 0 : static_cast<std::int8_t>(std::min<std::size_t>(f.low.size() - dot - 1, 127));
      percent_deadband_ = group_ ? group_->percent_deadband() : 0.0f;
      absolute_deadband_ = percent_deadband_ * format_.egu_span / 100.0f;
      copy_cut(units_, kUnitChars, f.units);
      std::string sig = upper(f.signal_conditioning);
      NioStatus st = 0;
      if (!host.psig || host.psig(&st, &block_, &format_, sig.c_str()) != 0 || st != 0) {
        lock.unlock();
        return fail("OPC: Invalid signal conditioning passed to nio_psig() (" + sig + ")", OPC_E_INVALIDITEMID);
      }
    } else if (format_.kind == hostlib::kKindDigital) {
      copy_cut(open_label_, kLabelChars, f.low);
      copy_cut(close_label_, kLabelChars, f.high);
    }
    if (!f.hardware_options.empty()) {
      NioStatus st = 0;
      if (!host.popt || host.popt(&st, &block_, &format_, f.hardware_options.c_str()) != 0 || st != 0) {
        lock.unlock();
        return fail("OPC DLL: Invalid hardware options passed to nio_popt() (" + f.hardware_options + ")",
                    OPC_E_INVALIDITEMID);
      }
    }
  }

  server_handle_ = server_handle;
  client_handle_ = def.hClient;
  lock.unlock();
  set_active(def.bActive != 0);
  lock.lock();
  // The first read fills the cache; the quality stays the one activation gave.
  std::uint16_t activation_quality = quality_;
  read_device_locked();
  quality_ = activation_quality;
  if (active_) pending_ = kPendingData | kPendingDataTime;

  result->hServer = server_handle;
  result->vtCanonicalDataType = canonical_type_ & VT_TYPEMASK;
  result->dwAccessRights = OPC_READABLE | OPC_WRITEABLE;
  return S_OK;
}

void COPCDrvItem::set_active(bool active) {
  if (!group_) return;
  std::lock_guard lock(mutex_);
  active_ = active;
  if (active) {
    pending_ = kPendingData | kPendingDataTime;
    if (settings().auto_start == 1) quality_ &= static_cast<std::uint16_t>(~kOutOfServiceBits);
  } else {
    pending_ = 0;
    quality_ = OPC_QUALITY_OUT_OF_SERVICE;
  }
}

void COPCDrvItem::set_deadband(float percent, bool explicit_value) {
  std::lock_guard lock(mutex_);
  percent_deadband_ = percent;
  deadband_explicit_ = explicit_value;
  absolute_deadband_ = percent * format_.egu_span / 100.0f;
}

void COPCDrvItem::clone_from(const COPCDrvItem& source, OPCHANDLE server_handle, float percent_deadband) {
  std::scoped_lock lock(mutex_, source.mutex_);
  client_handle_ = source.client_handle_;
  requested_type_ = source.requested_type_;
  canonical_type_ = source.canonical_type_;
  element_count_ = source.element_count_;
  pending_ = source.pending_;
  active_ = source.active_;
  format_ = source.format_;
  std::memcpy(units_, source.units_, sizeof units_);
  std::memcpy(open_label_, source.open_label_, sizeof open_label_);
  std::memcpy(close_label_, source.close_label_, sizeof close_label_);
  address_ = source.address_;
  driver_area_ = source.driver_area_;
  quality_ = source.quality_;
  server_handle_ = server_handle;
  percent_deadband_ = percent_deadband;
  absolute_deadband_ = percent_deadband * format_.egu_span / 100.0f;
}

OPCITEMATTRIBUTES COPCDrvItem::attributes() const {
  std::lock_guard lock(mutex_);
  OPCITEMATTRIBUTES a{};
  a.bActive = active_;
  a.hClient = client_handle_;
  a.hServer = server_handle_;
  a.dwAccessRights = OPC_READABLE | OPC_WRITEABLE;
  a.vtRequestedDataType = requested_type_;
  a.vtCanonicalDataType = canonical_type_;
  a.dwEUType = OPC_NOENUM;
  com::VariantInit(&a.vEUInfo);
  return a;
}

std::string COPCDrvItem::open_label() const {
  std::lock_guard lock(mutex_);
  return open_label_;
}

std::string COPCDrvItem::close_label() const {
  std::lock_guard lock(mutex_);
  return close_label_;
}

}  // namespace hbt::opc
