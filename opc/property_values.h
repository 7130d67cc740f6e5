// The values of the item properties, read from a bound item: shared by IOPCItemProperties and
// the DA 3.0 browse interface, so that both give one item the same values.
#pragma once

#include <cstdint>

#include "com/variant.h"
#include "opc/com_base.h"
#include "opc/item.h"

namespace hbt::opc {

// Properties 2, 3 and 4 share one device read of the item per call.
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
  DATE timestamp();

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

// The value of property `id` of `item` into `*out` (VT_EMPTY on entry): S_OK, OPC_E_INVALID_PID
// for an identifier the server does not have, or E_OUTOFMEMORY.
HRESULT property_value(COPCDrvItem& item, DeviceSample& sample, DWORD id, VARIANT* out);

}  // namespace hbt::opc
