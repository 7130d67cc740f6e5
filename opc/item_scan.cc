// The change scan of an item: one device read per update pass and the comparison with what
// the subscription last reported that decides whether the item goes into the group's change
// list.
#include <cmath>
#include <cstring>

#include "com/bstr.h"
#include "com/safearray.h"
#include "com/variant.h"
#include "opc/item.h"
#include "opc/library.h"

namespace hbt::opc {
namespace {

bool as_float(const VARIANT& v, float* out) {
  if (v.vt == VT_R4) {
    *out = v.fltVal;
    return true;
  }
  VARIANT f;
  com::VariantInit(&f);
  if (FAILED(com::VariantChangeType(&f, &v, 0, VT_R4))) return false;
  *out = f.fltVal;
  return true;
}

bool float_moved(float before, float now, float percent, float absolute) {
  if (percent == 0.0f) return before != now;
  return std::fabs(now - before) >= std::fabs(absolute);
}

// Elements of a one-dimensional array, or 0 for anything else.
ULONG elements(const SAFEARRAY* a) {
  return a && a->cDims == 1 ? a->rgsabound[0].cElements : 0;
}

bool arrays_differ(VARTYPE vt, const SAFEARRAY* before, const SAFEARRAY* now, ULONG count, float percent,
                   float absolute) {
  ULONG n = elements(now);
  if (n != elements(before)) return true;
  if (count < n) n = count;
  if (n == 0) return false;
  if ((vt & VT_TYPEMASK) == VT_R4) {
    const auto* a = static_cast<const float*>(before->pvData);
    const auto* b = static_cast<const float*>(now->pvData);
    for (ULONG i = 0; i < n; ++i)
      if (float_moved(a[i], b[i], percent, absolute)) return true;
    return false;
  }
  if ((vt & VT_TYPEMASK) == VT_BOOL) {
    const auto* a = static_cast<const VARIANT_BOOL*>(before->pvData);
    const auto* b = static_cast<const VARIANT_BOOL*>(now->pvData);
    for (ULONG i = 0; i < n; ++i)
      if ((a[i] != 0) != (b[i] != 0)) return true;
    return false;
  }
  if ((vt & VT_TYPEMASK) == VT_BSTR || before->cbElements != now->cbElements) return true;
  return std::memcmp(before->pvData, now->pvData, static_cast<std::size_t>(n) * now->cbElements) != 0;
}

}  // namespace

bool COPCDrvItem::scan_for_change(std::uint16_t prime_bits) {
  std::lock_guard lock(mutex_);
  if (!active_) return false;
  pending_ = static_cast<std::uint16_t>(pending_ | prime_bits);
  if (!library().host.readEx) return false;

  VARIANT v;
  com::VariantInit(&v);
  FILETIME stamp{};
  const bool usable_value = host_read_locked(&v, &stamp);

  // The comparison is with the last report, not with the cache: a client's read between two
  // passes puts the new value and quality into the cache, and the subscriber would never hear
  // of them.
  const VARIANT& before = reported_value_;
  bool changed = !reported_ || pending_ != 0 || quality_ != reported_quality_ || host_status_ != reported_status_;
  // A failed read has no value to compare: only its quality and status can report it, and the
  // report keeps the last good value.
  if (usable_value && !changed) {
    if (v.vt != before.vt) {
      changed = true;
    } else if (v.vt & VT_ARRAY) {
      changed = arrays_differ(v.vt, before.parray, v.parray, element_count_, percent_deadband_, absolute_deadband_);
    } else if (v.vt == VT_BSTR) {
      changed = com::bstr_view(v.bstrVal) != com::bstr_view(before.bstrVal);
    } else if (v.vt == VT_BOOL) {
      changed = (v.boolVal != 0) != (before.boolVal != 0);
    } else {
      float was = 0, now = 0;
      // Values that do not convert to a float compare unchanged; quality still counts.
      if (as_float(before, &was) && as_float(v, &now))
        changed = float_moved(was, now, percent_deadband_, absolute_deadband_);
    }
  }
  if (changed) {
    reported_quality_ = quality_;
    if (usable_value) {
      com::VariantClear(&reported_value_);
      if (FAILED(com::VariantCopy(&reported_value_, &v))) {
        com::VariantClear(&reported_value_);  // out of memory: reported without a value, as bad
        reported_quality_ = OPC_QUALITY_BAD;
      }
      com::VariantClear(&value_);
      value_ = v;  // taken over by the cache
      com::VariantInit(&v);
      cache_valid_ = true;
      canonical_type_ = value_.vt;
    }
    reported_status_ = host_status_;
    reported_timestamp_ = stamp;
    reported_ = true;
    timestamp_ = stamp;
    pending_ = kPendingBoth;
  }
  com::VariantClear(&v);
  return changed;
}

}  // namespace hbt::opc
