// The value I/O of an item: device reads through nio_readEx into the cache, the cached value
// converted to the client's requested type, and writes through nio_sendEx / nio_sendVQT.
#include <cstdio>
#include <cstring>
#include <new>
#include <string>

#include "com/bstr.h"
#include "com/variant.h"
#include "opc/item.h"
#include "opc/library.h"

namespace hbt::opc {
namespace {

// Good (0xC0) and uncertain (0x40) qualities carry a usable value; bad (0x00) does not.
bool usable(std::uint16_t quality) { return (quality & OPC_QUALITY_MASK) >= OPC_QUALITY_UNCERTAIN; }

// The scalar value of a cache as a double; false for arrays, empty and unconvertible values.
bool scalar_number(const VARIANT& v, double* out) {
  if (v.vt & VT_ARRAY || v.vt == VT_EMPTY) return false;
  VARIANT d;
  com::VariantInit(&d);
  if (FAILED(com::VariantChangeType(&d, &v, 0, VT_R8))) return false;
  *out = d.dblVal;
  return true;
}

void set_text(VARIANT* out, const std::string& text) {
  BSTR b = com::bstr_from_utf8(text);
  if (!b) return;  // out of memory: the value stays empty
  out->vt = VT_BSTR;
  out->bstrVal = b;
}

}  // namespace

bool COPCDrvItem::host_read_locked(VARIANT* value, FILETIME* stamp) {
  const HostApi& host = library().host;
  if (!host.readEx) return false;
  std::uint16_t quality = quality_;
  *stamp = timestamp_;
  NioStatus status = 0;
  host.readEx(&status, &block_, &format_, stamp, &quality, element_count_, value);
  // The host's own quality decides whether the value is worth keeping, as at binding; the
  // client is told the poller stands still through the quality alone.
  bool keep = status == 0 && usable(quality);
  if (library().alive.load() == 0) quality = OPC_QUALITY_OUT_OF_SERVICE;
  quality_ = quality;
  host_status_ = status;
  return keep;
}

void COPCDrvItem::read_device_locked() {
  if (!library().host.readEx) return;
  VARIANT v;
  com::VariantInit(&v);
  FILETIME stamp{};
  bool keep = host_read_locked(&v, &stamp);
  timestamp_ = stamp;
  if (keep) {
    // The host library allocated the value; the cache takes it over.
    com::VariantClear(&value_);
    value_ = v;
    cache_valid_ = true;
    canonical_type_ = v.vt;
  } else {
    // A failed read leaves the last good value in the cache.
    com::VariantClear(&v);
  }
}

void COPCDrvItem::deliver_locked(const VARIANT& from, VARIANT* out) const {
  com::VariantClear(out);
  if (requested_type_ == VT_EMPTY) {
    if (FAILED(com::VariantCopy(out, &from))) com::VariantClear(out);
    return;
  }
  if (requested_type_ == VT_BSTR && format_.kind != hostlib::kKindText) {
    double number = 0;
    if (format_.kind == hostlib::kKindAnalog && scalar_number(from, &number)) {
      int decimals = format_.decimals;
      int n = std::snprintf(nullptr, 0, "%0.*f %s", decimals, number, units_);
      if (n < 0) return;
      std::string text(static_cast<std::size_t>(n), '\0');
      std::snprintf(text.data(), text.size() + 1, "%0.*f %s", decimals, number, units_);
      set_text(out, text);
      return;
    }
    if (format_.kind == hostlib::kKindDigital && scalar_number(from, &number)) {
      set_text(out, number == 0 ? open_label_ : close_label_);
      return;
    }
  }
  // Any other type, text items, and arrays: the standard conversion; a failure leaves the
  // destination empty while the read itself still counts as done.
  if (FAILED(com::VariantChangeType(out, &from, 0, requested_type_))) com::VariantClear(out);
}

void COPCDrvItem::read_device() {
  std::lock_guard lock(mutex_);
  read_device_locked();
}

HRESULT COPCDrvItem::read(ReadSource source, VARIANT* value, std::uint16_t* quality, FILETIME* timestamp) {
  std::lock_guard lock(mutex_);
  if (source == ReadSource::kReported) {
    deliver_locked(reported_value_, value);
    *quality = reported_quality_;
    *timestamp = reported_timestamp_;
    return S_OK;
  }
  if (source == ReadSource::kDevice) read_device_locked();
  deliver_locked(value_, value);
  *quality = quality_;
  *timestamp = timestamp_;
  return source == ReadSource::kCache && !active_ ? OPC_S_INACTIVEITEM : S_OK;
}

ItemRead COPCDrvItem::read(ReadSource source) {
  ItemRead r{};
  com::VariantInit(&r.value);
  r.result = read(source, &r.value, &r.quality, &r.timestamp);
  return r;
}

HRESULT COPCDrvItem::write(const VARIANT& value) {
  if (value.vt == VT_EMPTY) return OPC_E_BADTYPE;
  const HostApi& host = library().host;
  if (!host.sendEx) return E_FAIL;
  // The host library takes a non-const VARIANT but only reads it.
  VARIANT copy = value;
  std::lock_guard lock(mutex_);
  NioStatus status = 0;
  host.sendEx(&status, &block_, &format_, nullptr, element_count_, &copy);
  host_status_ = status;
  return status == 0 ? S_OK : E_FAIL;
}

HRESULT COPCDrvItem::write_vqt(const OPCITEMVQT& vqt) {
  if (vqt.vDataValue.vt == VT_EMPTY) return OPC_E_BADTYPE;
  const HostApi& host = library().host;
  if (!host.sendVQT) return E_FAIL;
  OPCITEMVQT copy = vqt;
  std::lock_guard lock(mutex_);
  NioStatus status = 0;
  host.sendVQT(&status, &block_, &format_, element_count_, &copy);
  host_status_ = status;
  return status == 0 ? S_OK : E_FAIL;
}

std::uint16_t COPCDrvItem::pending() const {
  std::lock_guard lock(mutex_);
  return pending_;
}

void COPCDrvItem::set_pending(std::uint16_t bits) {
  std::lock_guard lock(mutex_);
  pending_ = static_cast<std::uint16_t>(pending_ | bits);
}

void COPCDrvItem::clear_pending(std::uint16_t bits) {
  std::lock_guard lock(mutex_);
  pending_ = static_cast<std::uint16_t>(pending_ & ~bits);
}

NioStatus COPCDrvItem::host_status() const {
  std::lock_guard lock(mutex_);
  return host_status_;
}

FILETIME COPCDrvItem::timestamp() const {
  std::lock_guard lock(mutex_);
  return timestamp_;
}

std::unique_ptr<COPCDrvItem> COPCDrvItem::scratch(LPCWSTR item_id, VARTYPE requested, HRESULT* result) {
  std::unique_ptr<COPCDrvItem> item(new (std::nothrow) COPCDrvItem(nullptr));
  if (!item) {
    *result = E_OUTOFMEMORY;
    return nullptr;
  }
  OPCITEMDEF def{};
  def.szItemID = const_cast<LPWSTR>(item_id);
  def.vtRequestedDataType = requested;
  OPCITEMRESULT bound{};
  *result = item->bind(def, 0, &bound);
  if (FAILED(*result)) return nullptr;
  return item;
}

}  // namespace hbt::opc
